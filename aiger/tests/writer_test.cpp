// The AIGER writer: exact bytes of both forms, the renumbering of the binary form, the
// sinks and their failures, and the refusal of inconsistent graphs in binary form.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "aiger/tests/aiger_io_support.hpp"

namespace ZEFI {
namespace {

using namespace io_test;

// Every store of these tests lives on a counting manager that must get every block back.
class WriterTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (AigStore* s : stores_) s->destroy();
    EXPECT_TRUE(memory_.faults.empty()) << memory_.faults.front();
    EXPECT_TRUE(memory_.live.empty()) << memory_.live.size() << " blocks never released";
  }
  AigStore* fresh() {
    stores_.push_back(memory_.createStore());
    return stores_.back();
  }

  CountingMemory memory_;
  std::vector<AigStore*> stores_;
};

// Inputs 2 and 4, gate 6 = 4 AND 2, output 6.
AigStore* smallGraph(AigStore* s) {
  s->addInput(2, nullptr);
  s->addInput(4, nullptr);
  s->addAnd(6, 4, 2);
  s->addOutput(6, nullptr);
  return s;
}

TEST_F(WriterTest, EmptyStoreIsTheHeaderLineAloneInBothForms) {
  AigStore* s = fresh();
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 0 0 0 0 0\n");
  EXPECT_EQ(writeWithCallback(s, 0), "aig 0 0 0 0 0\n");
  EXPECT_EQ(writeWithCallback(s, 0).size(), 14u);
}

TEST_F(WriterTest, AsciiInputWithComplementedOutput) {
  AigStore* s = fresh();
  s->addInput(2, nullptr);
  s->addOutput(3, nullptr);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 1 1 0 1 0\n2\n3\n");
}

TEST_F(WriterTest, AsciiFormWritesEverySectionAsStored) {
  AigStore* s = fresh();
  s->addInput(8, nullptr);
  s->addLatch(4, 13, nullptr);
  s->addOutput(13, nullptr);
  s->addOutput(0, nullptr);
  s->addAnd(12, 4, 9);  // operands ascending, gate above an unused variable: kept as is
  s->addInput(2, nullptr);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 6 2 1 2 1\n8\n2\n4 13\n13\n0\n12 4 9\n");
}

TEST_F(WriterTest, BinarySmallGraphWithNameAndComment) {
  AigStore* s = smallGraph(fresh());
  EXPECT_EQ(writeWithCallback(s, 0), "aig 3 2 0 1 1\n6\n" + bytes({0x02, 0x02}));
  AigStore* t = fresh();
  t->addInput(2, "a");
  t->addInput(4, nullptr);
  t->addAnd(6, 4, 2);
  t->addOutput(6, nullptr);
  t->addComment("hello");
  EXPECT_EQ(writeWithCallback(t, 0),
            "aig 3 2 0 1 1\n6\n" + bytes({0x02, 0x02}) + "i0 a\nc\nhello\n");
}

// A binary-ready store with `inputs` inputs and one gate over the given operands, so that
// the gate's first delta is lhs - rhs0 with lhs = 2 * (inputs + 1).
AigStore* wideGate(AigStore* s, std::uint32_t inputs, AigLiteral rhs0, AigLiteral rhs1) {
  for (std::uint32_t k = 0; k < inputs; ++k) s->addInput(2 * (k + 1), nullptr);
  const AigLiteral lhs = 2 * (inputs + 1);
  s->addAnd(lhs, rhs0, rhs1);
  s->addOutput(lhs, nullptr);
  return s;
}

struct DeltaCase {
  std::uint32_t inputs;
  AigLiteral rhs0;
  AigLiteral rhs1;
  std::string gateBytes;
};

TEST_F(WriterTest, DeltaCodesInGateRecords) {
  const std::vector<DeltaCase> cases = {
      {63, 1, 0, bytes({0x7F, 0x01})},           // 127 and 1
      {63, 0, 0, bytes({0x80, 0x01, 0x00})},     // 128 and 0
      {127, 1, 0, bytes({0xFF, 0x01, 0x01})},    // 255 and 1
      {149, 0, 0, bytes({0xAC, 0x02, 0x00})},    // 300 and 0
      {149, 300, 2, bytes({0x00, 0xAA, 0x02})},  // 0 (a self-referencing lhs is refused)
  };
  for (const DeltaCase& c : cases) {
    AigStore* s = wideGate(fresh(), c.inputs, c.rhs0, c.rhs1);
    const std::string m = std::to_string(c.inputs + 1);
    const std::string lhs = std::to_string(2 * (c.inputs + 1));
    const std::string expected =
        "aig " + m + " " + std::to_string(c.inputs) + " 0 1 1\n" + lhs + "\n" + c.gateBytes;
    int result = -1;
    const std::string written = writeWithCallback(s, 0, &result);
    if (c.rhs0 == 2 * (c.inputs + 1)) {
      EXPECT_EQ(result, 0);  // gate uses itself: a cycle, refused before any byte
      EXPECT_EQ(written, "");
      continue;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(written, expected) << "inputs " << c.inputs;
    // The byte 0xFF must not look like a refusal to the string sink.
    EXPECT_EQ(writeWithString(s, 0), expected);
    EXPECT_EQ(writeWithFile(s, 0), expected);
  }
}

TEST(DeltaCode, EncodesLeastSignificantGroupFirst) {
  const std::vector<std::pair<std::uint32_t, std::string>> cases = {
      {0, bytes({0x00})},
      {2, bytes({0x02})},
      {127, bytes({0x7F})},
      {128, bytes({0x80, 0x01})},
      {255, bytes({0xFF, 0x01})},
      {300, bytes({0xAC, 0x02})},
      {16383, bytes({0xFF, 0x7F})},
      {16384, bytes({0x80, 0x80, 0x01})},
      {(1u << 28) - 1, bytes({0xFF, 0xFF, 0xFF, 0x7F})},
      {1u << 28, bytes({0x80, 0x80, 0x80, 0x80, 0x01})},
      {4294967295u, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
  };
  for (const auto& [value, expected] : cases) {
    unsigned char out[5] = {};
    const unsigned length = encodeDelta(value, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), expected) << value;
    std::uint32_t decoded = 0;
    EXPECT_EQ(decodeDelta(out, length, &decoded), length) << value;
    EXPECT_EQ(decoded, value);
  }
}

TEST(DeltaCode, DecodeOfEncodeIsIdentityOnSampledValues) {
  std::vector<std::uint32_t> values;
  for (std::uint32_t v = 0; v < (1u << 16); ++v) values.push_back(v);
  for (unsigned bit = 0; bit < 32; ++bit) {
    const std::uint32_t p = 1u << bit;
    values.insert(values.end(), {p - 1, p, p + 1, ~p});
  }
  std::mt19937 rng(20061016);
  for (int k = 0; k < 1000000; ++k) values.push_back(static_cast<std::uint32_t>(rng()));
  for (std::uint32_t value : values) {
    unsigned char out[5];
    const unsigned length = encodeDelta(value, out);
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, 5u);
    std::uint32_t decoded = ~value;
    ASSERT_EQ(decodeDelta(out, length, &decoded), length) << value;
    ASSERT_EQ(decoded, value);
    // A code cut short is not a code.
    ASSERT_EQ(decodeDelta(out, length - 1, &decoded), 0u) << value;
  }
}

TEST(DeltaCode, DecodeRefusesCodesThatDoNotFitThirtyTwoBits) {
  std::uint32_t value = 0;
  const unsigned char sixBytes[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
  EXPECT_EQ(decodeDelta(sixBytes, 6, &value), 0u);
  const unsigned char wideFifth[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x10};
  EXPECT_EQ(decodeDelta(wideFifth, 5, &value), 0u);
  const unsigned char empty[] = {0};
  EXPECT_EQ(decodeDelta(empty, 0, &value), 0u);
  // A non-minimal code still names its value; only what follows the last byte is ignored.
  const unsigned char padded[] = {0x81, 0x00, 0x55};
  EXPECT_EQ(decodeDelta(padded, 3, &value), 2u);
  EXPECT_EQ(value, 1u);
}

TEST_F(WriterTest, SymbolTableUsesArrayPositionsAndKindOrder) {
  AigStore* s = fresh();
  s->addOutput(0, "out zero");
  s->addInput(2, nullptr);
  s->addInput(4, "second");
  s->addLatch(6, 2, "latch");
  s->addOutput(1, nullptr);
  s->addOutput(7, "last ");
  EXPECT_EQ(writeWithCallback(s, ascii),
            "aag 3 2 1 3 0\n2\n4\n6 2\n0\n1\n7\n"
            "i1 second\nl0 latch\no0 out zero\no2 last \n");
}

TEST_F(WriterTest, CommentSectionOnlyWhenCommentsExist) {
  AigStore* s = fresh();
  s->addInput(2, "x");
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 1 1 0 0 0\n2\ni0 x\n");
  s->addComment("");
  s->addComment("second line");
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 1 1 0 0 0\n2\ni0 x\nc\n\nsecond line\n");
  EXPECT_EQ(writeWithCallback(s, ascii | stripped), "aag 1 1 0 0 0\n2\n");
  EXPECT_EQ(writeWithCallback(s, stripped), "aig 1 1 0 0 0\n");
  // Bits other than ascii and stripped change nothing.
  EXPECT_EQ(writeWithCallback(s, ascii | stripped | 4 | 0x100), "aag 1 1 0 0 0\n2\n");
}

TEST_F(WriterTest, AsciiWriteLeavesTheStoreUnchanged) {
  AigStore* s = fresh();
  buildRandomGraph(s, 7, RandomGraphOptions{});
  const std::string before = describe(s);
  writeWithCallback(s, ascii);
  EXPECT_EQ(describe(s), before);
}

// Operand order: gate 16 over variables 7 and 3 (both gates); the cone of 3 comes first.
TEST_F(WriterTest, RenumberingNumbersTheSmallerOperandVariableFirst) {
  AigStore* s = fresh();
  s->addInput(2, nullptr);
  s->addInput(4, nullptr);
  s->addAnd(14, 2, 4);   // variable 7
  s->addAnd(6, 2, 5);    // variable 3
  s->addAnd(16, 14, 6);  // variable 8
  s->addOutput(16, nullptr);
  EXPECT_EQ(writeWithCallback(s, 0),
            "aig 5 2 0 1 3\n10\n" + bytes({0x01, 0x03, 0x04, 0x02, 0x02, 0x02}));
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 5 2 0 1 3\n2\n4\n10\n6 5 2\n8 4 2\n10 8 6\n");
  EXPECT_EQ(s->isReencoded(), 1);
}

// Latch next states are roots before outputs, whatever the order of the gates.
TEST_F(WriterTest, RenumberingVisitsLatchRootsBeforeOutputRoots) {
  AigStore* s = fresh();
  s->addInput(2, nullptr);
  s->addLatch(4, 8, nullptr);
  s->addAnd(6, 4, 2);  // output's cone, stored first
  s->addAnd(8, 2, 3);  // latch's cone
  s->addOutput(6, nullptr);
  EXPECT_EQ(writeWithCallback(s, ascii | stripped), "aag 4 1 1 1 2\n2\n4 8\n6\n6 4 2\n8 2 3\n");
  EXPECT_EQ(writeWithCallback(s, 0), "aig 4 1 1 1 2\n6\n8\n" + bytes({0x03, 0x01, 0x04, 0x02}));
}

// Two roots share a cone: the shared gate is numbered once, during the first root; a gate
// no root reaches is dropped in binary form and M shrinks; the ASCII form keeps it.
TEST_F(WriterTest, SharedConesNumberedOnceAndUnreachableGatesDropped) {
  AigStore* s = fresh();
  s->addInput(2, nullptr);
  s->addLatch(4, 12, nullptr);
  s->addAnd(10, 2, 4);   // variable 5, shared
  s->addAnd(12, 10, 3);  // variable 6, the latch's next state
  s->addAnd(18, 2, 2);   // variable 9, reached by nothing
  s->addOutput(11, nullptr);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 9 1 1 1 3\n2\n4 12\n11\n10 2 4\n12 10 3\n18 2 2\n");
  EXPECT_EQ(writeWithCallback(s, 0), "aig 4 1 1 1 2\n8\n7\n" + bytes({0x02, 0x02, 0x02, 0x03}));
  EXPECT_EQ(s->maxVar, 4u);
  EXPECT_EQ(s->andCount, 2u);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 4 1 1 1 2\n2\n4 8\n7\n6 4 2\n8 6 3\n");
  // The table follows the new numbering: lookups find the renumbered records.
  ASSERT_NE(s->findAnd(8), nullptr);
  EXPECT_EQ(s->findAnd(8)->rhs0, 6u);
  EXPECT_NE(s->findLatch(4), nullptr);
  EXPECT_NE(s->findInput(2), nullptr);
  EXPECT_EQ(s->findAnd(18), nullptr);
  EXPECT_EQ(s->check(), nullptr);
}

TEST_F(WriterTest, ConstantAndNegatedRootsKeepTheirValueAndSign) {
  AigStore* s = fresh();
  s->addLatch(4, 1, "first");
  s->addLatch(2, 0, "second");
  s->addOutput(5, nullptr);  // not latch 0, becomes 3
  s->addOutput(3, nullptr);  // not latch 1, becomes 5
  EXPECT_EQ(s->isReencoded(), 0);
  EXPECT_EQ(writeWithCallback(s, 0), "aig 2 0 2 2 0\n1\n0\n3\n5\nl0 first\nl1 second\n");
  EXPECT_EQ(s->latches[0].literal, 2u);
  EXPECT_EQ(s->latches[1].literal, 4u);
}

TEST_F(WriterTest, LargerDeclaredMaximumIsRenumberedAway) {
  AigStore* s = fresh();
  s->reserve(10, 1, 0, 1, 0);
  s->addInput(2, nullptr);
  s->addOutput(3, nullptr);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 10 1 0 1 0\n2\n3\n");
  EXPECT_EQ(s->isReencoded(), 0);
  EXPECT_EQ(writeWithCallback(s, 0), "aig 1 1 0 1 0\n3\n");
}

TEST_F(WriterTest, HugeVariableIndicesRenumberWithoutHugeTables) {
  AigStore* s = fresh();
  s->addInput(4294967294u, "top");  // variable 2^31 - 1
  s->addInput(2000000000u, nullptr);
  s->addAnd(4000000000u, 4294967295u, 2000000000u);
  s->addOutput(4000000001u, nullptr);
  const std::size_t before = memory_.events.size();
  EXPECT_EQ(writeWithCallback(s, 0), "aig 3 2 0 1 1\n7\n" + bytes({0x02, 0x01}) + "i0 top\n");
  // The code table must stay near the size of the graph, far below 2^31 entries.
  EXPECT_LT(memory_.allocatedSince(before), std::size_t{64} << 20);
}

TEST_F(WriterTest, LargestDeclaredMaximumFromAFileIsRenumbered) {
  AigStore* s = fresh();
  StringGet get{"aag 4294967295 1 0 1 1\n4294967294\n4294967293\n4294967292 4294967295 1\n"};
  ASSERT_EQ(s->read(&get, StringGet::get), nullptr);
  EXPECT_EQ(s->maxVar, 4294967295u);
  EXPECT_EQ(writeWithCallback(s, ascii),
            "aag 4294967295 1 0 1 1\n4294967294\n4294967293\n4294967292 4294967295 1\n");
  const std::size_t before = memory_.events.size();
  EXPECT_EQ(writeWithCallback(s, 0), "aig 2 1 0 1 1\n5\n" + bytes({0x01, 0x02}));
  EXPECT_LT(memory_.allocatedSince(before), std::size_t{64} << 20);
}

TEST_F(WriterTest, AscendingOperandsFailTheReadyTestUntilReencoded) {
  AigStore* s = fresh();
  s->addInput(2, nullptr);
  s->addInput(4, nullptr);
  s->addAnd(6, 2, 4);
  s->addOutput(6, nullptr);
  EXPECT_EQ(s->isReencoded(), 0);
  s->reencode();
  EXPECT_EQ(s->isReencoded(), 1);
  EXPECT_EQ(s->ands[0].rhs0, 4u);
  EXPECT_EQ(s->ands[0].rhs1, 2u);
  // A ready store is left alone: the same bytes twice.
  const std::string first = writeWithCallback(s, 0);
  const std::string again = writeWithCallback(s, 0);
  EXPECT_EQ(first, again);
}

TEST_F(WriterTest, WriteToStringCapacityMustHoldTheTerminator) {
  AigStore* s = smallGraph(fresh());
  s->addComment("x");
  const std::string text = writeWithCallback(s, 0);
  const auto length = static_cast<std::int32_t>(text.size());
  for (std::int32_t capacity = -1; capacity <= length + 1; ++capacity) {
    std::vector<char> buffer(text.size() + 8, '#');
    const int result = s->writeToString(0, buffer.data(), capacity);
    if (capacity <= length) {
      EXPECT_EQ(result, 0) << capacity;
      const std::size_t kept = static_cast<std::size_t>(std::max(capacity, 0));
      EXPECT_EQ(std::string(buffer.data(), kept), text.substr(0, kept));
      EXPECT_EQ(buffer[kept], '#') << "wrote past the capacity " << capacity;
    } else {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(std::string(buffer.data(), text.size()), text);
      EXPECT_EQ(buffer[text.size()], '\0');
    }
  }
}

// A refused byte ends the write: no later put, result 0, the prefix stays with the sink.
TEST_F(WriterTest, RefusedByteEndsTheWriteAtOnce) {
  for (const AigWriteMode mode : {AigWriteMode{ascii}, AigWriteMode{0}}) {
    AigStore* s = fresh();
    buildRandomGraph(s, 11, RandomGraphOptions{});
    const std::string text = writeWithCallback(s, mode);
    for (std::size_t limit = 0; limit < text.size(); ++limit) {
      StringPut sink;
      sink.limit = limit;
      EXPECT_EQ(s->write(mode, &sink, StringPut::put), 0);
      EXPECT_EQ(sink.calls, limit + 1) << "mode " << mode << " limit " << limit;
      EXPECT_EQ(sink.text, text.substr(0, limit));
    }
  }
}

TEST_F(WriterTest, CallbackStreamAndStringPathsWriteTheSameBytes) {
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    for (const AigWriteMode mode : {AigWriteMode{ascii}, AigWriteMode{ascii | stripped},
                                    AigWriteMode{0}, AigWriteMode{stripped}}) {
      RandomGraphOptions options;
      options.ands = 20 + seed * 37;
      AigStore* a = fresh();
      AigStore* b = fresh();
      AigStore* c = fresh();
      buildRandomGraph(a, seed, options);
      buildRandomGraph(b, seed, options);
      buildRandomGraph(c, seed, options);
      int ra = 0, rb = 0, rc = 0;
      const std::string viaCallback = writeWithCallback(a, mode, &ra);
      EXPECT_EQ(ra, 1);
      EXPECT_EQ(writeWithFile(b, mode, &rb), viaCallback) << seed;
      EXPECT_EQ(writeWithString(c, mode, &rc), viaCallback) << seed;
      EXPECT_EQ(rb, 1);
      EXPECT_EQ(rc, 1);
    }
  }
}

TEST_F(WriterTest, LargeOutputThroughTheStreamBufferBoundaries) {
  RandomGraphOptions options;
  options.inputs = 200;
  options.latches = 100;
  options.outputs = 20000;
  options.ands = 60000;
  for (const AigWriteMode mode : {AigWriteMode{ascii}, AigWriteMode{0}}) {
    AigStore* a = fresh();
    AigStore* b = fresh();
    buildRandomGraph(a, 99, options);
    buildRandomGraph(b, 99, options);
    const std::string expected = writeWithCallback(a, mode);
    ASSERT_GT(expected.size(), 65536u + 4096u) << mode;
    EXPECT_EQ(writeWithFile(b, mode), expected) << mode;
  }
}

struct BadStore {
  const char* what;
  void (*build)(AigStore*);
  const char* message;
};

const BadStore kBadStores[] = {
    {"undefined AND operand",
     [](AigStore* s) {
       s->addInput(2, nullptr);
       s->addAnd(4, 2, 6);
       s->addOutput(4, nullptr);
     },
     "literal 6 in AND 4 undefined"},
    {"undefined output",
     [](AigStore* s) {
       s->addInput(2, nullptr);
       s->addOutput(7, nullptr);
     },
     "output 6 undefined"},
    {"undefined latch next state",
     [](AigStore* s) {
       s->addLatch(2, 9, nullptr);
       s->addOutput(2, nullptr);
     },
     "next state function 9 of latch 2 undefined"},
    {"self loop",
     [](AigStore* s) {
       s->addAnd(4, 4, 4);
       s->addOutput(4, nullptr);
     },
     "cyclic definition for and gate 2"},
    {"two-gate cycle",
     [](AigStore* s) {
       s->addInput(2, nullptr);
       s->addAnd(4, 6, 2);
       s->addAnd(6, 4, 2);
       s->addOutput(5, nullptr);
     },
     "cyclic definition for and gate 2"},
    {"self loop in binary-ready numbering",
     [](AigStore* s) {
       s->addInput(2, nullptr);
       s->addAnd(4, 4, 2);
       s->addOutput(4, nullptr);
     },
     "cyclic definition for and gate 2"},
    {"next state above a lowered maximum",
     [](AigStore* s) {
       s->addLatch(2, 9, nullptr);
       s->reserve(1, 0, 1, 0, 0);  // binary-ready numbering, next state beyond M
     },
     "next state function 9 of latch 2 undefined"},
    {"operand of a variable that is only an output",
     [](AigStore* s) {
       s->addInput(2, nullptr);
       s->addOutput(8, nullptr);
       s->addAnd(6, 8, 2);
       s->addOutput(6, nullptr);
     },
     "output 8 undefined"},
};

TEST_F(WriterTest, BinaryWriteOfInconsistentStoreSendsNothingAndChangesNothing) {
  for (const BadStore& bad : kBadStores) {
    AigStore* s = fresh();
    bad.build(s);
    const std::string before = describe(s);
    StringPut sink;
    EXPECT_EQ(s->write(0, &sink, StringPut::put), 0) << bad.what;
    EXPECT_EQ(sink.calls, 0u) << bad.what;
    EXPECT_EQ(describe(s), before) << bad.what;
    ASSERT_NE(s->errorText(), nullptr) << bad.what;
    EXPECT_STREQ(s->errorText(), bad.message);
    // The other destinations refuse the same way.
    std::vector<char> buffer(64, '#');
    EXPECT_EQ(s->writeToString(0, buffer.data(), 64), 0);
    EXPECT_EQ(buffer[0], '#');
    int result = -1;
    EXPECT_EQ(writeWithFile(s, stripped, &result), "");
    EXPECT_EQ(result, 0);
    TempDir dir;
    const std::string path = dir.file("bad.aig");
    EXPECT_EQ(s->writeToPath(path.c_str()), 0);
    EXPECT_FALSE(fileExists(path)) << bad.what;
    // The ASCII form shows the store as it is.
    EXPECT_EQ(writeWithCallback(s, ascii, &result).substr(0, 4), "aag ");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(describe(s), before);
  }
}

TEST_F(WriterTest, RenumberingAnInconsistentStoreStaysInBounds) {
  // Called directly, the renumbering has no check to protect it; it must still terminate
  // and touch nothing outside the store (the sanitizer build watches).
  for (const BadStore& bad : kBadStores) {
    AigStore* s = fresh();
    bad.build(s);
    const std::uint32_t gates = s->andCount;
    s->reencode();
    EXPECT_LE(s->andCount, gates) << bad.what;
    writeWithCallback(s, ascii);
  }
}

TEST_F(WriterTest, StoreWithAnErrorTextIsNotWrittenInBinaryForm) {
  AigStore* s = fresh();
  StringGet get{"aag 1 1 0 0 0\n3\n"};
  ASSERT_NE(s->read(&get, StringGet::get), nullptr);
  int result = -1;
  EXPECT_EQ(writeWithCallback(s, 0, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(s->errorText(), "line 2: literal 3 is not a valid input");
}

TEST_F(WriterTest, StripSymbolsAndCommentsCountsWhatItRemoves) {
  AigStore* s = fresh();
  s->addInput(2, "a");
  s->addInput(4, "b");
  s->addInput(6, "c");
  s->addInput(8, nullptr);
  s->addComment("one");
  s->addComment("two");
  EXPECT_EQ(s->stripSymbolsAndComments(), 5u);
  EXPECT_EQ(s->stripSymbolsAndComments(), 0u);
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 4 4 0 0 0\n2\n4\n6\n8\n");
  s->addComment("later");
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 4 4 0 0 0\n2\n4\n6\n8\nc\nlater\n");
}

TEST_F(WriterTest, RenumberedGraphComputesTheSameFunctions) {
  for (std::uint32_t seed = 100; seed < 160; ++seed) {
    AigStore* original = fresh();
    AigStore* renumbered = fresh();
    RandomGraphOptions options;
    options.ands = 10 + (seed % 7) * 50;
    buildRandomGraph(original, seed, options);
    buildRandomGraph(renumbered, seed, options);
    renumbered->reencode();
    ASSERT_EQ(renumbered->isReencoded(), 1) << seed;
    ASSERT_EQ(renumbered->check(), nullptr);
    std::mt19937_64 rng(seed);
    std::vector<std::uint64_t> inputs(options.inputs), latches(options.latches);
    for (auto& w : inputs) w = rng();
    for (auto& w : latches) w = rng();
    EXPECT_EQ(simulate(original, inputs, latches), simulate(renumbered, inputs, latches)) << seed;
  }
}

TEST_F(WriterTest, DeepChainIsRenumberedWithoutRecursion) {
  AigStore* s = fresh();
  const std::uint32_t depth = 400000;
  s->addInput(2, nullptr);
  s->addInput(4, nullptr);
  // Gate k uses gate k + 1, stored from the top down: the deepest cone possible.
  for (std::uint32_t k = 0; k < depth; ++k) {
    const AigLiteral lhs = 2 * (3 + k);
    const AigLiteral below = k + 1 < depth ? lhs + 2 : 4;
    s->addAnd(lhs, 2, below ^ (k & 1));
  }
  s->addOutput(6, nullptr);
  int result = 0;
  const std::string text = writeWithCallback(s, 0, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(s->andCount, depth);
  EXPECT_EQ(s->isReencoded(), 1);
  EXPECT_EQ(s->outputs[0].literal, 2 * (depth + 2));
}

}  // namespace
}  // namespace ZEFI
