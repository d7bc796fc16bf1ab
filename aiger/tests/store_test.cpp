#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "aiger/tests/store_test_support.hpp"

namespace ZEFI {
namespace {

using Access = AigStoreTestAccess;

// A store over a counting manager that, on destruction, requires every block to have come
// back with its exact byte count.
class CountedStore : public ::testing::Test {
 protected:
  void TearDown() override {
    if (store != nullptr) store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
    EXPECT_TRUE(memory.live.empty()) << memory.live.size() << " blocks never released";
    EXPECT_EQ(memory.liveBytes, 0u);
  }

  CountingMemory memory;
  AigStore* store = memory.createStore();
};

TEST_F(CountedStore, FreshStoreIsEmptyAndPassesTheCheck) {
  EXPECT_EQ(store->maxVar, 0u);
  EXPECT_EQ(store->inputCount, 0u);
  EXPECT_EQ(store->latchCount, 0u);
  EXPECT_EQ(store->outputCount, 0u);
  EXPECT_EQ(store->andCount, 0u);
  ASSERT_NE(store->comments, nullptr);
  EXPECT_EQ(store->comments[0], nullptr);
  EXPECT_EQ(Access::commentSlots(*store), 1u);
  EXPECT_EQ(Access::commentCapacity(*store), 1u);
  EXPECT_EQ(store->errorText(), nullptr);
  EXPECT_EQ(store->check(), nullptr);
}

TEST(AigStoreMemory, CreateAndDestroyOfAnEmptyStoreHandBackNeverAllocatedArraysAsNull) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  // The store record, then the comment terminator's first growth (old block null, 0 bytes).
  ASSERT_EQ(memory.events.size(), 3u);
  EXPECT_TRUE(memory.events[0].isAllocation);
  EXPECT_EQ(memory.events[0].bytes, sizeof(AigStore));
  EXPECT_TRUE(memory.events[1].isAllocation);
  EXPECT_EQ(memory.events[1].bytes, sizeof(char*));
  EXPECT_FALSE(memory.events[2].isAllocation);
  EXPECT_EQ(memory.events[2].bytes, 0u);

  const std::size_t before = memory.nullReleases;
  store->destroy();
  // inputs, latches, outputs, ands and the variable directory were never allocated.
  EXPECT_EQ(memory.nullReleases - before, 5u);
  EXPECT_TRUE(memory.faults.empty());
  EXPECT_TRUE(memory.live.empty());
}

TEST_F(CountedStore, NamedInputIsFoundThroughEitherSignAndKeepsItsOwnCopyOfTheName) {
  char name[] = "x";
  store->addInput(10, name);
  EXPECT_EQ(store->maxVar, 5u);
  EXPECT_EQ(store->inputCount, 1u);
  // One page of the table covers variables 0..4095.
  EXPECT_EQ(Access::variableCapacity(*store), AigStore::kVariablesPerPage);
  const AigVariable* entry = Access::entry(*store, 5);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->isInput);
  EXPECT_FALSE(entry->isLatch);
  EXPECT_FALSE(entry->isAnd);
  EXPECT_EQ(entry->index, 0u);
  EXPECT_EQ(store->findInput(11), &store->inputs[0]);
  EXPECT_EQ(store->findInput(10), &store->inputs[0]);
  EXPECT_EQ(store->findLatch(10), nullptr);
  EXPECT_EQ(store->findAnd(10), nullptr);
  const char* found = store->symbolName(10);
  ASSERT_NE(found, nullptr);
  EXPECT_NE(found, name);
  name[0] = 'y';
  EXPECT_STREQ(store->symbolName(11), "x");
  EXPECT_EQ(store->inputs[0].literal, 10u);
  EXPECT_EQ(store->inputs[0].next, 0u);
}

TEST_F(CountedStore, EmptyAndNullNamesAreStoredAsNullForInputsLatchesAndOutputs) {
  struct Case {
    const char* name;
  };
  const Case cases[] = {{""}, {nullptr}};
  AigLiteral literal = 2;
  for (const Case& c : cases) {
    store->addInput(literal, c.name);
    store->addLatch(literal + 2, 0, c.name);
    store->addOutput(literal, c.name);
    literal += 4;
  }
  for (std::uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(store->inputs[i].name, nullptr);
    EXPECT_EQ(store->latches[i].name, nullptr);
    EXPECT_EQ(store->outputs[i].name, nullptr);
  }
  // Only the store record, the arrays and the table pages were allocated: no name blocks.
  for (const auto& [block, bytes] : memory.live) EXPECT_NE(bytes, 1u);
}

TEST_F(CountedStore, OutputRaisesMaxVarButDefinesNothing) {
  store->addOutput(7, "o");
  EXPECT_EQ(store->maxVar, 3u);
  EXPECT_FALSE(Access::isDefined(*store, 6));
  EXPECT_FALSE(Access::isDefined(*store, 7));
  EXPECT_EQ(store->symbolName(6), nullptr);
  EXPECT_STREQ(store->outputs[0].name, "o");
  EXPECT_STREQ(store->check(), "output 6 undefined");
}

TEST_F(CountedStore, LatchNextStateRaisesMaxVarWithoutDefiningIt) {
  store->addLatch(2, 9, "l");
  EXPECT_EQ(store->maxVar, 4u);
  EXPECT_TRUE(Access::isDefined(*store, 2));
  EXPECT_TRUE(Access::isDefined(*store, 3));
  EXPECT_FALSE(Access::isDefined(*store, 8));
  EXPECT_FALSE(Access::isDefined(*store, 9));
  EXPECT_EQ(store->findLatch(3), &store->latches[0]);
  EXPECT_EQ(store->latches[0].next, 9u);
  EXPECT_STREQ(store->symbolName(2), "l");
}

TEST_F(CountedStore, GateOverTwoConstantsIsValidAndConstantsAreAlwaysDefined) {
  store->addAnd(6, 0, 0);
  EXPECT_EQ(store->maxVar, 3u);
  EXPECT_TRUE(Access::isDefined(*store, 0));
  EXPECT_TRUE(Access::isDefined(*store, 1));
  const AigAnd* gate = store->findAnd(7);
  ASSERT_NE(gate, nullptr);
  EXPECT_EQ(gate, &store->ands[0]);
  EXPECT_EQ(gate->lhs, 6u);
  EXPECT_EQ(store->check(), nullptr);
}

TEST_F(CountedStore, LookupsOfVariablesOutsideTheTableOrInUntouchedPagesFindNothing) {
  // Nothing touched yet: no table at all.
  EXPECT_EQ(store->findInput(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(store->symbolName(4), nullptr);
  EXPECT_FALSE(Access::isDefined(*store, 4));
  EXPECT_TRUE(Access::isDefined(*store, 1));

  store->addInput(2, "a");
  store->addInput(2 * 20000, "b");  // third page of the directory after doubling
  EXPECT_EQ(Access::pagesAllocated(*store), 2u);
  EXPECT_EQ(Access::entry(*store, 2 * AigStore::kVariablesPerPage), nullptr);
  EXPECT_EQ(store->findInput(2 * 2 * AigStore::kVariablesPerPage), nullptr);
  EXPECT_EQ(store->findInput(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(store->findLatch(0xFFFFFFFEu), nullptr);
  EXPECT_EQ(store->findAnd(0xFFFFFFFEu), nullptr);
  EXPECT_STREQ(store->symbolName(40001), "b");
}

// Appending the 1st, 2nd, 3rd and 5th record grows the array to 1, 2, 4 and 8; the 4th does
// not grow it. Checked for each of the four record arrays.
TEST(AigStoreGrowth, RecordArraysDoubleFromOne) {
  struct Kind {
    const char* name;
    std::function<void(AigStore&, AigLiteral)> add;
    std::function<std::uint32_t(const AigStore&)> capacity;
    std::size_t recordBytes;
  };
  const Kind kinds[] = {
      {"inputs", [](AigStore& s, AigLiteral l) { s.addInput(l, nullptr); }, Access::inputCapacity,
       sizeof(AigSymbol)},
      {"latches", [](AigStore& s, AigLiteral l) { s.addLatch(l, 0, nullptr); },
       Access::latchCapacity, sizeof(AigSymbol)},
      {"outputs", [](AigStore& s, AigLiteral l) { s.addOutput(l, nullptr); },
       Access::outputCapacity, sizeof(AigSymbol)},
      {"ands", [](AigStore& s, AigLiteral l) { s.addAnd(l, 0, 1); }, Access::andCapacity,
       sizeof(AigAnd)},
  };
  const std::uint32_t expected[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    CountingMemory memory;
    AigStore* store = memory.createStore();
    for (std::uint32_t i = 0; i < 9; ++i) {
      kind.add(*store, 2 * (i + 1));
      EXPECT_EQ(kind.capacity(*store), expected[i]) << "after record " << i + 1;
    }
    // Every growth handed back the old block with its exact size (checked by the manager),
    // and the slots above the count are zero.
    store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
    EXPECT_TRUE(memory.live.empty());
    bool sawBlock[5] = {};
    for (const auto& event : memory.events) {
      for (unsigned k = 0; k < 5; ++k) {
        if (event.isAllocation && event.bytes == (std::size_t{1} << k) * kind.recordBytes)
          sawBlock[k] = true;
      }
    }
    for (unsigned k = 0; k < 5; ++k) EXPECT_TRUE(sawBlock[k]) << (1u << k) << " records";
  }
}

TEST_F(CountedStore, GrowthZeroFillsTheSlotsAboveTheCount) {
  for (AigLiteral l = 2; l <= 10; l += 2) store->addInput(l, "n");
  ASSERT_EQ(Access::inputCapacity(*store), 8u);
  for (std::uint32_t i = store->inputCount; i < 8; ++i) {
    EXPECT_EQ(store->inputs[i].literal, 0u);
    EXPECT_EQ(store->inputs[i].next, 0u);
    EXPECT_EQ(store->inputs[i].name, nullptr);
  }
}

TEST_F(CountedStore, CommentsKeepOrderAndTheirTerminatorAndCanBeAddedAfterRelease) {
  store->addComment("first");
  store->addComment("second");
  EXPECT_STREQ(store->comments[0], "first");
  EXPECT_STREQ(store->comments[1], "second");
  EXPECT_EQ(store->comments[2], nullptr);
  EXPECT_EQ(Access::commentSlots(*store), 3u);
  EXPECT_EQ(Access::commentCapacity(*store), 4u);

  EXPECT_EQ(Access::releaseComments(*store), 2u);
  EXPECT_EQ(store->comments[0], nullptr);
  EXPECT_EQ(Access::commentSlots(*store), 1u);
  EXPECT_EQ(Access::releaseComments(*store), 0u);

  store->addComment("third");
  EXPECT_STREQ(store->comments[0], "third");
  EXPECT_EQ(store->comments[1], nullptr);
  EXPECT_EQ(Access::commentSlots(*store), 2u);
}

TEST_F(CountedStore, EmptyCommentIsKeptAsAnEmptyTextOfOneByte) {
  store->addComment("before");
  const std::size_t firstEvent = memory.events.size();
  store->addComment("");
  // The empty text is a block of exactly one byte, allocated before the array grows.
  ASSERT_GT(memory.events.size(), firstEvent);
  EXPECT_TRUE(memory.events[firstEvent].isAllocation);
  EXPECT_EQ(memory.events[firstEvent].bytes, 1u);
  store->addComment(nullptr);  // taken as empty too: the list must not end early
  store->addComment("after");
  ASSERT_NE(store->comments[1], nullptr);
  EXPECT_STREQ(store->comments[1], "");
  ASSERT_NE(store->comments[2], nullptr);
  EXPECT_STREQ(store->comments[2], "");
  EXPECT_STREQ(store->comments[3], "after");
  EXPECT_EQ(store->comments[4], nullptr);
  EXPECT_EQ(Access::releaseComments(*store), 4u);
}

TEST_F(CountedStore, ReleaseNamesHandsBackAndClearsEveryName) {
  store->addInput(2, "a");
  store->addInput(4, nullptr);
  store->addInput(6, "ccc");
  Access::releaseInputNames(*store);
  for (std::uint32_t i = 0; i < store->inputCount; ++i) EXPECT_EQ(store->inputs[i].name, nullptr);
  EXPECT_EQ(store->symbolName(2), nullptr);
}

TEST_F(CountedStore, CopyTextGivesNullForEmptyTextAndAnExactCopyOtherwise) {
  EXPECT_EQ(Access::copyText(*store, nullptr), nullptr);
  EXPECT_EQ(Access::copyText(*store, ""), nullptr);
  const std::size_t firstEvent = memory.events.size();
  char* copy = Access::copyText(*store, "abc");
  ASSERT_EQ(memory.events.size() - firstEvent, 1u);
  EXPECT_EQ(memory.events[firstEvent].bytes, 4u);
  EXPECT_STREQ(copy, "abc");
  Access::releaseText(*store, copy);
}

TEST_F(CountedStore, ReserveSizesEveryArrayExactlyAndLaterAddsDoNotReallocate) {
  store->addInput(2, "kept");
  store->reserve(9000, 3, 2, 1, 5);
  EXPECT_EQ(store->maxVar, 9000u);
  EXPECT_EQ(Access::inputCapacity(*store), 3u);
  EXPECT_EQ(Access::latchCapacity(*store), 2u);
  EXPECT_EQ(Access::outputCapacity(*store), 1u);
  EXPECT_EQ(Access::andCapacity(*store), 5u);
  // Variables 0..9000 need three pages of directory; only the first page exists yet.
  EXPECT_EQ(Access::directoryLength(*store), 3u);
  EXPECT_GT(Access::variableCapacity(*store), store->maxVar);
  EXPECT_EQ(Access::pagesAllocated(*store), 1u);
  // The record added before survives the replacement.
  EXPECT_EQ(store->inputs[0].literal, 2u);
  EXPECT_STREQ(store->symbolName(2), "kept");
  EXPECT_EQ(store->inputs[1].name, nullptr);

  const std::size_t firstEvent = memory.events.size();
  store->addInput(4, nullptr);
  store->addInput(6, nullptr);
  store->addLatch(8, 2, nullptr);
  store->addLatch(10, 3, nullptr);
  store->addOutput(12, nullptr);
  for (AigLiteral l = 12; l < 22; l += 2) store->addAnd(l, 2, 4);
  EXPECT_EQ(memory.events.size(), firstEvent) << "adds within the reserved room reallocated";
  EXPECT_EQ(store->check(), nullptr);
}

TEST_F(CountedStore, ReserveNeverShrinksAndSetsMaxVarAsGiven) {
  for (AigLiteral l = 2; l <= 10; l += 2) store->addInput(l, nullptr);
  EXPECT_EQ(Access::inputCapacity(*store), 8u);
  store->reserve(2, 1, 0, 0, 0);
  EXPECT_EQ(store->maxVar, 2u);
  EXPECT_EQ(Access::inputCapacity(*store), 8u);
  EXPECT_EQ(store->inputCount, 5u);
}

TEST_F(CountedStore, ReserveOfTheLargestVariableCountDoesNotWrap) {
  store->reserve(0xFFFFFFFFu, 0, 0, 0, 0);
  EXPECT_EQ(Access::variableCapacity(*store), std::uint64_t{1} << 32);
  EXPECT_EQ(Access::pagesAllocated(*store), 0u);
  store->addAnd(0xFFFFFFFEu, 0xFFFFFFFFu, 1);
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 2147483647");
}

// A few variables with huge indices: the table must cost a directory and a few pages, not
// gigabytes, and lookups must still work.
TEST_F(CountedStore, VariablesNearTheLargestIndexCostLittleMemory) {
  const AigLiteral top = 0xFFFFFFFEu;  // variable 2^31 - 1
  store->addInput(2, "low");
  store->addInput(top, "high");
  store->addLatch(top - 2, top, "latch");
  store->addAnd(top - 4, top - 1, 3);
  store->addOutput(top - 4, "out");
  store->addComment("c");
  EXPECT_EQ(store->maxVar, 0x7FFFFFFFu);
  EXPECT_LT(memory.peakBytes, std::size_t{8} << 20);
  EXPECT_LT(memory.allocatedSince(0), std::size_t{8} << 20);
  EXPECT_EQ(Access::pagesAllocated(*store), 2u);
  EXPECT_STREQ(store->symbolName(top + 1), "high");
  EXPECT_STREQ(store->symbolName(top - 1), "latch");
  EXPECT_EQ(store->findAnd(top - 3), &store->ands[0]);
  EXPECT_EQ(store->findInput(0x80000000u), nullptr);
  EXPECT_FALSE(Access::isDefined(*store, 0x40000000u));
  EXPECT_EQ(store->check(), nullptr);
}

// Variables scattered over the whole range, one in each stretch of the table: each costs a
// stretch of the table, not a page, and every one is found again.
TEST_F(CountedStore, ScatteredVariablesCostAStretchEachNotAPage) {
  constexpr std::uint32_t kCount = 20000;
  std::vector<AigLiteral> literals;
  for (std::uint32_t k = 1; k <= kCount; ++k) literals.push_back(2 * (k * 104729u + 7));
  for (const AigLiteral literal : literals) store->addInput(literal, nullptr);
  const std::size_t directory = Access::directoryLength(*store) * sizeof(AigVariable*);
  const std::size_t records = Access::inputCapacity(*store) * sizeof(AigSymbol);
  // A stretch is 64 entries and a header of 8 bytes each, 520 bytes; a page is 32 KiB.
  EXPECT_LE(memory.liveBytes, directory + records + kCount * 520 + 4096);
  for (std::uint32_t k = 0; k < kCount; ++k) {
    ASSERT_EQ(store->findInput(literals[k] + 1), &store->inputs[k]) << k;
    EXPECT_EQ(store->findInput(literals[k] + 2), nullptr) << "the next variable is unused";
    EXPECT_EQ(store->findInput(literals[k] + 200), nullptr) << "another stretch of the page";
  }
  EXPECT_EQ(store->check(), nullptr);
}

// A page that starts as one stretch grows to its full size when a second stretch of it is
// used; what the first stretch held is still there, at every position of the page.
TEST_F(CountedStore, AStretchGrowsIntoAPageKeepingItsEntries) {
  const std::uint32_t base = 5 * AigStore::kVariablesPerPage;
  for (std::uint32_t v = base + 64; v < base + 128; ++v) store->addInput(2 * v, nullptr);
  EXPECT_EQ(Access::pagesAllocated(*store), 1u);
  const std::size_t beforeGrowth = memory.liveBytes;
  store->addAnd(2 * (base + 4095), 2 * (base + 64), 2 * (base + 127) + 1);
  store->addAnd(2 * (base + 1), 2 * (base + 4095), 2 * (base + 100));
  EXPECT_GE(memory.liveBytes,
            beforeGrowth + AigStore::kVariablesPerPage * sizeof(AigVariable) - 520);
  for (std::uint32_t v = base + 64; v < base + 128; ++v) {
    ASSERT_EQ(store->findInput(2 * v), &store->inputs[v - base - 64]) << v;
  }
  EXPECT_EQ(store->findAnd(2 * (base + 4095)), &store->ands[0]);
  EXPECT_EQ(store->findAnd(2 * (base + 1)), &store->ands[1]);
  EXPECT_EQ(store->findInput(2 * (base + 2)), nullptr);
  EXPECT_EQ(store->check(), nullptr);
}

// The check walks stretches as it walks pages: a cycle among gates in scattered stretches
// is found and named as in a dense table (the first gate of it in variable order).
TEST_F(CountedStore, CycleAmongScatteredGatesIsFound) {
  const AigLiteral a = 2 * 1000003u;
  const AigLiteral b = 2 * 50000017u;
  const AigLiteral c = 2 * 900000011u;
  store->addInput(2, nullptr);
  store->addAnd(c, a, 2);
  store->addAnd(a, b, 2);
  store->addAnd(b, c + 1, 3);
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 1000003");
}

TEST(AigStoreErrors, EachShapeFormatsThroughAScratchBlockOfTheDocumentedSize) {
  struct Case {
    const char* label;
    std::function<const char*(AigStore&)> set;
    std::size_t scratchBytes;
    const char* expected;
  };
  const Case cases[] = {
      {"text", [](AigStore& s) { return Access::setError(s, "can not read '%s'", "f.aag"); },
       std::strlen("can not read '%s'") + 5 + 1, "can not read 'f.aag'"},
      {"number",
       [](AigStore& s) { return Access::setError(s, "output %u undefined", 4294967294u); },
       std::strlen("output %u undefined") + 17, "output 4294967294 undefined"},
      {"two numbers",
       [](AigStore& s) {
         return Access::setError(s, "literal %u in AND %u undefined", 4294967295u, 4294967294u);
       },
       std::strlen("literal %u in AND %u undefined") + 33,
       "literal 4294967295 in AND 4294967294 undefined"},
      {"number, text, number",
       [](AigStore& s) {
         return Access::setError(s, "line %u: %s symbol table entry position %u too large", 12,
                                 "output", 4000000000u);
       },
       std::strlen("line %u: %s symbol table entry position %u too large") + 6 + 33,
       "line 12: output symbol table entry position 4000000000 too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CountingMemory memory;
    AigStore* store = memory.createStore();
    const std::size_t firstEvent = memory.events.size();
    const char* text = c.set(*store);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, c.expected);
    EXPECT_EQ(store->errorText(), text);
    // Scratch allocated, kept text allocated with its exact length, scratch handed back.
    ASSERT_EQ(memory.events.size() - firstEvent, 3u);
    EXPECT_TRUE(memory.events[firstEvent].isAllocation);
    EXPECT_EQ(memory.events[firstEvent].bytes, c.scratchBytes);
    EXPECT_TRUE(memory.events[firstEvent + 1].isAllocation);
    EXPECT_EQ(memory.events[firstEvent + 1].bytes, std::strlen(c.expected) + 1);
    EXPECT_FALSE(memory.events[firstEvent + 2].isAllocation);
    EXPECT_EQ(memory.events[firstEvent + 2].bytes, c.scratchBytes);
    // The first error stays; check returns it at once.
    EXPECT_EQ(Access::setError(*store, "output %u undefined", 2u), text);
    EXPECT_EQ(store->check(), text);
    store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
    EXPECT_TRUE(memory.live.empty());
  }
}

TEST(AigStoreMemory, EveryBlockComesBackWithItsSizeAfterAFullWorkload) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->reserve(40, 3, 1, 2, 2);
  store->addInput(2, "a");
  store->addInput(4, "");
  store->addInput(6, "input with spaces");
  store->addLatch(8, 11, "l");
  // A chain of gates whose last one feeds on a self-looping gate.
  for (AigLiteral l = 10; l < 80; l += 2) store->addAnd(l, l - 2, l + 3);
  store->addAnd(80, 80, 2);
  store->addOutput(79, "o");
  store->addOutput(1, nullptr);
  for (int i = 0; i < 20; ++i) store->addComment(i % 3 == 0 ? "" : "comment");
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 40");
  EXPECT_EQ(Access::releaseComments(*store), 20u);
  store->addComment("again");
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
  EXPECT_TRUE(memory.live.empty());
  EXPECT_EQ(memory.allocations, memory.releases);
}

// Runs in a death-test child: asks the default manager for more than the address space
// allows, with standard output going to a file that the parent reads afterwards.
void exhaustDefaultManager(const char* outputPath) {
  if (std::freopen(outputPath, "w", stdout) == nullptr) std::_Exit(1);
  const rlimit limit{std::size_t{1} << 30, std::size_t{1} << 30};
  setrlimit(RLIMIT_AS, &limit);
  AigStore* store = AigStore::createDefault();
  store->reserve(1, 0x7FFFFFFFu, 0, 0, 0);  // 32 GiB of input records
  store->destroy();
}

TEST(AigStoreMemory, DefaultManagerPrintsOutOfMemoryAndExitsWith30) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator aborts instead of returning null";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = ::testing::TempDir() + "aiger_store_oom_stdout.txt";
  EXPECT_EXIT(exhaustDefaultManager(path.c_str()), ::testing::ExitedWithCode(30), "");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char buffer[256] = {};
  const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  std::remove(path.c_str());
  EXPECT_EQ(std::string(buffer, length), "Error: Out of memory.\n");
}

TEST(AigStoreDefault, DefaultStoreWorksAndReportsTheVersion) {
  EXPECT_STREQ(AigStore::version(), "20061016");
  AigStore* store = AigStore::createDefault();
  store->addInput(2, "a");
  store->addAnd(4, 3, 2);
  store->addOutput(5, "o");
  store->addComment("");
  EXPECT_EQ(store->check(), nullptr);
  store->destroy();
}

}  // namespace
}  // namespace ZEFI
