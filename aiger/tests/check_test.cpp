#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "aiger/tests/store_test_support.hpp"

namespace ZEFI {
namespace {

using Access = AigStoreTestAccess;

// One graph, described as the calls that build it, and the check's verdict.
struct CheckCase {
  const char* label;
  std::function<void(AigStore&)> build;
  const char* expected;  // null: the graph passes
};

const CheckCase kCases[] = {
    {"empty store", [](AigStore&) {}, nullptr},
    {"inputs only",
     [](AigStore& s) {
       s.addInput(2, "a");
       s.addInput(4, nullptr);
     },
     nullptr},
    {"latch next states constant, own literal, negated other latch",
     [](AigStore& s) {
       s.addLatch(2, 0, nullptr);
       s.addLatch(4, 1, nullptr);
       s.addLatch(6, 6, nullptr);
       s.addLatch(8, 3, nullptr);
     },
     nullptr},
    {"latch fed by a variable that is only an output",
     [](AigStore& s) {
       s.addOutput(6, "o");
       s.addLatch(2, 7, nullptr);
     },
     "next state function 7 of latch 2 undefined"},
    {"output of an undefined variable prints its literal with the sign cleared",
     [](AigStore& s) { s.addOutput(7, nullptr); }, "output 6 undefined"},
    {"constant outputs always pass",
     [](AigStore& s) {
       s.addOutput(0, nullptr);
       s.addOutput(1, nullptr);
     },
     nullptr},
    {"the first undefined output is named",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addOutput(3, nullptr);
       s.addOutput(9, nullptr);
       s.addOutput(11, nullptr);
     },
     "output 8 undefined"},
    {"undefined rhs1 after a defined negated rhs0",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addAnd(4, 3, 9);
     },
     "literal 9 in AND 4 undefined"},
    {"rhs0 is tested before rhs1",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addAnd(4, 13, 9);
     },
     "literal 13 in AND 4 undefined"},
    {"a gate operand that is only an output is undefined",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addOutput(6, nullptr);
       s.addAnd(4, 2, 6);
       s.addOutput(4, nullptr);
     },
     "output 6 undefined"},
    {"undefined output reported before an undefined operand of an earlier gate",
     [](AigStore& s) {
       s.addAnd(4, 2, 2);
       s.addOutput(12, nullptr);
     },
     "output 12 undefined"},
    {"undefined next state reported before undefined output and operand",
     [](AigStore& s) {
       s.addAnd(4, 2, 2);
       s.addOutput(12, nullptr);
       s.addLatch(20, 31, nullptr);
     },
     "next state function 31 of latch 20 undefined"},
    {"self-loop names the variable, not the literal", [](AigStore& s) { s.addAnd(4, 4, 4); },
     "cyclic definition for and gate 2"},
    {"two gates feeding each other",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addAnd(4, 6, 2);
       s.addAnd(6, 4, 2);
     },
     "cyclic definition for and gate 2"},
    {"rhs1 is explored first, so the loop at variable 5 is found before the one at 3",
     [](AigStore& s) {
       s.addAnd(4, 6, 10);
       s.addAnd(6, 6, 6);
       s.addAnd(10, 10, 10);
     },
     "cyclic definition for and gate 5"},
    {"without the gate over both loops, ascending starts find variable 3",
     [](AigStore& s) {
       s.addAnd(6, 6, 6);
       s.addAnd(10, 10, 10);
     },
     "cyclic definition for and gate 3"},
    {"starts run in variable order, not in order of addition",
     [](AigStore& s) {
       s.addAnd(10, 10, 10);
       s.addAnd(6, 6, 6);
     },
     "cyclic definition for and gate 3"},
    {"the gate named is the first of the cycle entered on the path",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addAnd(4, 6, 2);
       s.addAnd(6, 8, 2);
       s.addAnd(8, 7, 3);
     },
     "cyclic definition for and gate 3"},
    {"a shared cone (diamond) is not a cycle",
     [](AigStore& s) {
       s.addInput(2, nullptr);
       s.addInput(4, nullptr);
       s.addAnd(6, 2, 4);
       s.addAnd(8, 6, 3);
       s.addAnd(10, 7, 5);
       s.addAnd(12, 8, 11);
       s.addAnd(14, 12, 6);
       s.addOutput(15, nullptr);
     },
     nullptr},
    {"gates over latches and constants",
     [](AigStore& s) {
       s.addLatch(2, 7, nullptr);
       s.addAnd(6, 2, 1);
       s.addAnd(4, 0, 6);
     },
     nullptr},
};

TEST(AigCheck, ReportsTheFirstProblemInTheFixedOrder) {
  for (const CheckCase& c : kCases) {
    SCOPED_TRACE(c.label);
    CountingMemory memory;
    AigStore* store = memory.createStore();
    c.build(*store);
    const char* result = store->check();
    if (c.expected == nullptr) {
      EXPECT_EQ(result, nullptr) << result;
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_STREQ(result, c.expected);
      EXPECT_EQ(store->errorText(), result);
    }
    // A second call returns the same verdict (the same text) without allocating.
    const std::size_t events = memory.events.size();
    EXPECT_EQ(store->check(), result);
    if (result != nullptr) {
      EXPECT_EQ(memory.events.size(), events);
    }
    store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
    EXPECT_TRUE(memory.live.empty());
  }
}

TEST(AigCheck, AfterASuccessfulSearchEveryGateIsMarkedAndNoneIsOnTheStack) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addInput(2, nullptr);
  store->addAnd(8, 2, 3);
  store->addAnd(6, 8, 9);
  store->addAnd(4, 6, 2);
  store->addAnd(10, 0, 1);
  ASSERT_EQ(store->check(), nullptr);
  for (std::uint32_t v = 1; v <= store->maxVar; ++v) {
    const AigVariable* entry = Access::entry(*store, v);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->mark, entry->isAnd) << "variable " << v;
    EXPECT_FALSE(entry->onStack) << "variable " << v;
  }
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
}

TEST(AigCheck, SearchWithoutGatesHandsBackANeverAllocatedStack) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addInput(2, nullptr);
  store->addOutput(3, nullptr);
  const std::size_t firstEvent = memory.events.size();
  ASSERT_EQ(store->check(), nullptr);
  ASSERT_EQ(memory.events.size() - firstEvent, 1u);
  EXPECT_FALSE(memory.events[firstEvent].isAllocation);
  EXPECT_EQ(memory.events[firstEvent].bytes, 0u);
  store->destroy();
}

TEST(AigCheck, SearchStackGrowsByDoublingAndIsHandedBackWithItsCapacity) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addInput(2, nullptr);
  // A chain of 100 gates: the stack needs about 200 entries.
  for (AigLiteral lhs = 4; lhs < 204; lhs += 2) store->addAnd(lhs, lhs + 2 < 204 ? lhs + 2 : 2, 3);
  const std::size_t firstEvent = memory.events.size();
  ASSERT_EQ(store->check(), nullptr);
  std::vector<std::size_t> allocated;
  for (std::size_t i = firstEvent; i < memory.events.size(); ++i) {
    if (memory.events[i].isAllocation) allocated.push_back(memory.events[i].bytes);
  }
  ASSERT_FALSE(allocated.empty());
  for (std::size_t i = 0; i < allocated.size(); ++i) EXPECT_EQ(allocated[i], (4u << i));
  // The last event releases the final stack with capacity * 4 bytes.
  EXPECT_FALSE(memory.events.back().isAllocation);
  EXPECT_EQ(memory.events.back().bytes, allocated.back());
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
  EXPECT_TRUE(memory.live.empty());
}

TEST(AigCheck, ACycleLeavesEveryBlockAccountedFor) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addInput(2, "i");
  for (AigLiteral lhs = 4; lhs < 400; lhs += 2) store->addAnd(lhs, lhs + 2, 2);
  store->addAnd(400, 4, 3);  // closes a cycle through every gate
  store->addOutput(4, "o");
  store->addComment("loop");
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 2");
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
  EXPECT_TRUE(memory.live.empty());
}

// A chain as deep as the number of gates: recursion would overflow the call stack.
TEST(AigCheck, DeepChainOfAMillionGatesIsCheckedWithoutRecursion) {
  constexpr std::uint32_t kGates = 1000000;
  AigStore* store = AigStore::createDefault();
  store->reserve(kGates + 1, 1, 0, 1, kGates);
  // Gate at variable v uses the gate at v + 1; the last uses the input. The search starts at
  // variable 1, the top of the chain, so its path holds every gate.
  const AigLiteral input = 2 * (kGates + 1);
  for (std::uint32_t v = 1; v <= kGates; ++v) {
    store->addAnd(2 * v, v == kGates ? input : 2 * (v + 1), input + 1);
  }
  store->addInput(input, nullptr);
  store->addOutput(2, nullptr);
  EXPECT_EQ(store->check(), nullptr);
  store->destroy();

  // The same chain closed into a loop at the bottom names the top gate.
  store = AigStore::createDefault();
  for (std::uint32_t v = 1; v <= kGates; ++v) {
    store->addAnd(2 * v, v == kGates ? 2 : 2 * (v + 1), 0);
  }
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 1");
  store->destroy();
}

TEST(AigCheck, GatesAtHugeVariableIndicesAreSearchedWithoutWalkingEveryIndex) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addInput(2, nullptr);
  store->addAnd(0xFFFFFFFEu, 0x80000000u, 3);
  store->addAnd(0x80000000u, 0xFFFFFFFFu, 2);  // the two gates form a cycle
  store->addAnd(0x40000000u, 0xFFFFFFFEu, 2);  // leads into the cycle
  EXPECT_STREQ(store->check(), "cyclic definition for and gate 2147483647");
  EXPECT_LT(memory.peakBytes, std::size_t{8} << 20);
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
}

TEST(AigCheck, CycleMessageUsesTheNumberShapeOfErrorFormatting) {
  CountingMemory memory;
  AigStore* store = memory.createStore();
  store->addAnd(4, 4, 4);
  const std::size_t firstEvent = memory.events.size();
  ASSERT_NE(store->check(), nullptr);
  const std::size_t scratch = std::string("cyclic definition for and gate %u").size() + 17;
  bool sawScratch = false;
  for (std::size_t i = firstEvent; i < memory.events.size(); ++i) {
    if (memory.events[i].isAllocation && memory.events[i].bytes == scratch) sawScratch = true;
  }
  EXPECT_TRUE(sawScratch);
  store->destroy();
  EXPECT_TRUE(memory.faults.empty()) << memory.faults.front();
}

}  // namespace
}  // namespace ZEFI
