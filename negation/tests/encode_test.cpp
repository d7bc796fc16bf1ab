#include "negation/encode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "negation/tests/test_support.hpp"

namespace ZEFI {
namespace {

using testing::Gate;
using testing::gatesOf;
using testing::literalsOf;
using testing::newStore;
using testing::setOf;
using testing::SignedClauses;
using testing::signedClauses;
using testing::StdoutCapture;

struct Encoded {
  std::vector<Gate> gates;
  std::uint32_t nextVariable = 0;
  std::vector<AigLiteral> inputs;
  std::vector<AigLiteral> outputs;
  SignedClauses clauses;
  std::uint32_t maxVar = 0;
  std::string printed;
  bool printedFlushed = false;
};

// Runs both entry points on the same definitions.
Encoded encode(const ClauseIndex& index, std::vector<std::uint32_t> inputs,
               std::vector<std::uint32_t> outputs, std::uint32_t firstFresh) {
  Encoded result;
  const auto store = newStore();
  result.nextVariable = buildDefinitionGraph(index, inputs, outputs, firstFresh, *store);
  result.gates = gatesOf(*store);
  result.inputs = literalsOf(store->inputs, store->inputCount);
  result.outputs = literalsOf(store->outputs, store->outputCount);

  Formula formula;
  {
    const StdoutCapture capture;
    encodeDefinitions(index, inputs, outputs, firstFresh, formula);
    result.printed = capture.text();
    result.printedFlushed = capture.flushed();
  }
  result.clauses = signedClauses(formula.clauses);
  result.maxVar = formula.maxVar;
  return result;
}

TEST(BuildDefinitionGraph, DisjunctiveExampleMakesCubeChainsThenCombiningGates) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{2}, {4, 3}}));
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_EQ(e.gates,
            (std::vector<Gate>{
                {12, 1, 2}, {14, 1, 13}, {16, 1, 4}, {18, 16, 3}, {20, 14, 19}, {10, 21, 21}}));
  EXPECT_EQ(e.nextVariable, 11u);
  EXPECT_EQ(e.inputs, (std::vector<AigLiteral>{2, 4}));
  EXPECT_EQ(e.outputs, (std::vector<AigLiteral>{10}));
  EXPECT_EQ(e.clauses, (SignedClauses{{-6, 1},
                                      {6, -1},
                                      {-7, -6},
                                      {7, 6},
                                      {-8, 2},
                                      {8, -2},
                                      {-9, 8},
                                      {-9, -1},
                                      {9, -8, 1},
                                      {-10, 7},
                                      {-10, -9},
                                      {10, -7, 9},
                                      {-5, -10},
                                      {5, 10}}));
  EXPECT_EQ(e.maxVar, 10u);
  EXPECT_EQ(e.printed, "");
}

TEST(BuildDefinitionGraph, ConjunctiveExampleChainsOverComplementedLiterals) {
  ClauseIndex index;
  index.defineCnf(5, setOf({{2, 4}}));
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{12, 1, 3}, {14, 12, 5}, {16, 1, 15}, {10, 16, 16}}));
  EXPECT_EQ(e.nextVariable, 9u);
  EXPECT_EQ(
      e.clauses,
      (SignedClauses{
          {-6, -1}, {6, 1}, {-7, 6}, {-7, -2}, {7, -6, 2}, {-8, -7}, {8, 7}, {-5, 8}, {5, -8}}));
  EXPECT_EQ(e.maxVar, 8u);
  EXPECT_EQ(e.printed, "");
}

TEST(EncodeDefinitions, NegatedMatrixOfTheSmallPipelineExample) {
  // Matrix (1 or 2) and (-1 or -2); n = 3 stands for its negation.
  ClauseIndex index;
  index.defineDnf(3, setOf({{3, 5}, {2, 4}}));
  const Encoded e = encode(index, {1, 2}, {3}, 4);
  EXPECT_EQ(
      e.gates,
      (std::vector<Gate>{
          {8, 1, 3}, {10, 8, 5}, {12, 1, 11}, {14, 1, 2}, {16, 14, 4}, {18, 12, 17}, {6, 19, 19}}));
  EXPECT_EQ(e.nextVariable, 10u);
  EXPECT_EQ(e.clauses, (SignedClauses{{-4, -1},
                                      {4, 1},
                                      {-5, 4},
                                      {-5, -2},
                                      {5, -4, 2},
                                      {-6, -5},
                                      {6, 5},
                                      {-7, 1},
                                      {7, -1},
                                      {-8, 7},
                                      {-8, 2},
                                      {8, -7, -2},
                                      {-9, 6},
                                      {-9, -8},
                                      {9, -6, 8},
                                      {-3, -9},
                                      {3, 9}}));
  EXPECT_EQ(e.maxVar, 9u);
  EXPECT_EQ(e.printed, "");
}

TEST(EncodeDefinitions, DisjunctionOfNoCubeIsFalse) {
  ClauseIndex index;
  index.defineDnf(4, CubeArray{});
  const Encoded e = encode(index, {1, 2, 3}, {4}, 5);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{8, 0, 0}}));
  EXPECT_EQ(e.nextVariable, 5u);
  EXPECT_EQ(e.clauses, (SignedClauses{{-4}}));
  EXPECT_EQ(e.maxVar, 4u);
}

TEST(EncodeDefinitions, EmptyFirstCubeMakesTheOutputTrue) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{}, {2}}));
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{12, 1, 0}, {14, 1, 2}, {16, 12, 15}, {10, 17, 17}}));
  EXPECT_EQ(
      e.clauses,
      (SignedClauses{{-6}, {-7, 1}, {7, -1}, {-8, 6}, {-8, -7}, {8, -6, 7}, {-5, -8}, {5, 8}}));
  EXPECT_EQ(e.maxVar, 8u);
}

TEST(EncodeDefinitions, ConjunctionOfNoClauseYieldsNoClauseAtAll) {
  ClauseIndex index;
  index.defineCnf(5, ClauseArray{});
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{10, 1, 1}}));
  EXPECT_EQ(e.nextVariable, 6u);
  EXPECT_TRUE(e.clauses.empty());
  EXPECT_EQ(e.maxVar, 0u);
}

TEST(EncodeDefinitions, EmptyClauseOfAConjunctionIsFalse) {
  ClauseIndex index;
  index.defineCnf(5, setOf({{}}));
  const Encoded e = encode(index, {1}, {5}, 6);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{12, 1, 0}, {10, 12, 12}}));
  EXPECT_EQ(e.clauses, (SignedClauses{{-6}, {-5, 6}, {5, -6}}));
  EXPECT_EQ(e.maxVar, 6u);
}

TEST(EncodeDefinitions, UndefinedOutputBecomesAFreeInputWithoutClauses) {
  const ClauseIndex index;
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_TRUE(e.gates.empty());
  EXPECT_EQ(e.inputs, (std::vector<AigLiteral>{2, 4, 10}));
  EXPECT_EQ(e.outputs, (std::vector<AigLiteral>{10}));
  EXPECT_EQ(e.nextVariable, 6u);
  EXPECT_TRUE(e.clauses.empty());
  EXPECT_EQ(e.maxVar, 0u);
  EXPECT_EQ(e.printed, "");
}

TEST(EncodeDefinitions, CounterRunsOnFromOneOutputToTheNext) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{2}}));
  index.defineCnf(7, setOf({{4}}));
  const Encoded e = encode(index, {1, 2}, {5, 6, 7}, 10);
  EXPECT_EQ(e.gates,
            (std::vector<Gate>{
                {20, 1, 2}, {22, 1, 21}, {10, 23, 23}, {24, 1, 5}, {26, 1, 25}, {14, 26, 26}}));
  EXPECT_EQ(e.nextVariable, 14u);
  EXPECT_EQ(e.inputs, (std::vector<AigLiteral>{2, 4, 12}));
  EXPECT_EQ(e.outputs, (std::vector<AigLiteral>{10, 12, 14}));
  EXPECT_EQ(e.maxVar, 13u);
  EXPECT_EQ(e.printed, "");
}

TEST(EncodeDefinitions, ConjunctiveReadingIsLookedUpFirst) {
  // The index keeps one reading per variable, but its maps are open to callers.
  ClauseIndex index;
  index.cnfDefinitions[5] = setOf({{2}});
  index.dnfDefinitions[5] = setOf({{2}});
  const Encoded e = encode(index, {1}, {5}, 6);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{12, 1, 3}, {14, 1, 13}, {10, 14, 14}}));
}

TEST(EncodeDefinitions, DuplicateLiteralInACubeGetsAGateEach) {
  ClauseIndex index;
  index.defineDnf(3, setOf({{2, 2}}));
  const Encoded e = encode(index, {1}, {3}, 4);
  EXPECT_EQ(e.gates, (std::vector<Gate>{{8, 1, 2}, {10, 8, 2}, {12, 1, 11}, {6, 13, 13}}));
}

TEST(EncodeDefinitions, ReplacesClausesAndMaxVarButNotThePrefix) {
  ClauseIndex index;
  index.defineDnf(3, setOf({{2}}));
  Formula output;
  output.appendClause(std::vector<Literal>{2, 4, 7});
  output.maxVar = 40;
  output.prefix.push_back({Exists, 1});
  output.quantifierOf[1] = {Exists, 1};
  output.positionOf[1] = 1;
  encodeDefinitions(index, {1}, {3}, 4, output);
  EXPECT_EQ(signedClauses(output.clauses),
            (SignedClauses{{-4, 1}, {4, -1}, {-5, -4}, {5, 4}, {-3, -5}, {3, 5}}));
  EXPECT_EQ(output.maxVar, 5u);
  EXPECT_EQ(output.prefix, (std::vector<Quantification>{{Exists, 1}}));
  EXPECT_EQ(output.quantifierOf.size(), 1u);
  EXPECT_EQ(output.positionOf.size(), 1u);
  EXPECT_EQ(*output.positionOf.find(1), 1u);

  encodeDefinitions(ClauseIndex{}, {1}, {3}, 4, output);
  EXPECT_TRUE(output.clauses.empty());
  EXPECT_EQ(output.maxVar, 0u);
}

TEST(EncodeDefinitions, UndefinedOperandIsReportedAndStillEncoded) {
  // Literal 8 names variable 4, which is neither an input nor a gate.
  ClauseIndex index;
  index.defineDnf(5, setOf({{8}}));
  const Encoded e = encode(index, {1, 2}, {5}, 6);
  EXPECT_EQ(e.printed, "AIGER ERROR: literal 8 in AND 12 undefined\n");
  EXPECT_TRUE(e.printedFlushed);
  EXPECT_EQ(e.clauses, (SignedClauses{{-6, 4}, {6, -4}, {-7, -6}, {7, 6}, {-5, -7}, {5, 7}}));
  EXPECT_EQ(e.maxVar, 7u);
}

TEST(EncodeDefinitions, SelfReferenceIsReportedAsACycleAndStillEncoded) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{10}}));
  const Encoded e = encode(index, {1}, {5}, 6);
  EXPECT_EQ(e.printed, "AIGER ERROR: cyclic definition for and gate 5\n");
  EXPECT_EQ(e.clauses, (SignedClauses{{-6, 5}, {6, -5}, {-7, -6}, {7, 6}, {-5, -7}, {5, 7}}));
}

TEST(EncodeDefinitions, OnlyTheFirstProblemIsReported) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{8}, {14}}));
  const Encoded e = encode(index, {1}, {5}, 6);
  EXPECT_EQ(e.printed, "AIGER ERROR: literal 8 in AND 12 undefined\n");
}

struct GateCase {
  Gate gate;
  SignedClauses clauses;
};

class GateClausesTable : public ::testing::TestWithParam<GateCase> {};

TEST_P(GateClausesTable, FoldsConstantsAndDropsRepeatedLiterals) {
  const GateCase& c = GetParam();
  const GateClauses clauses = gateClauses(AigAnd{c.gate[0], c.gate[1], c.gate[2]});
  EXPECT_EQ(signedClauses(clauses), c.clauses);
  EXPECT_LE(clauses.count, 3u);
}

// The summary that sizes a header must agree with the clauses that are then written.
// The lines written straight from the gate are the lines of its clauses.
TEST_P(GateClausesTable, WrittenLinesAreTheLinesOfTheClauses) {
  const GateCase& c = GetParam();
  const AigAnd gate{c.gate[0], c.gate[1], c.gate[2]};
  std::ostringstream direct;
  std::ostringstream handedIn;
  std::ostringstream built;
  {
    QdimacsWriter straight(direct);
    writeGateClauses(gate, straight);
    ASSERT_TRUE(straight.finish());
    // Digits handed in for the gate's own variable and its first operand's are used as is.
    const QdimacsWriter::Digits own = QdimacsWriter::digitsOf(variableOf(gate.lhs));
    const QdimacsWriter::Digits operand = QdimacsWriter::digitsOf(variableOf(gate.rhs0));
    QdimacsWriter given(handedIn);
    writeGateClauses(gate, given, {variableOf(gate.lhs), &own}, {variableOf(gate.rhs0), &operand});
    ASSERT_TRUE(given.finish());
    QdimacsWriter viaClauses(built);
    const GateClauses clauses = gateClauses(gate);
    for (unsigned k = 0; k < clauses.count; ++k) viaClauses.clause(clauses[k]);
    ASSERT_TRUE(viaClauses.finish());
  }
  EXPECT_EQ(direct.str(), built.str());
  EXPECT_EQ(handedIn.str(), built.str());
}

TEST_P(GateClausesTable, SummaryCountsTheClausesAndTheirLargestVariable) {
  const GateCase& c = GetParam();
  const AigAnd gate{c.gate[0], c.gate[1], c.gate[2]};
  const GateClauses clauses = gateClauses(gate);
  std::uint32_t largest = 0;
  for (unsigned k = 0; k < clauses.count; ++k) {
    for (const Literal literal : clauses[k]) largest = std::max(largest, variableOf(literal));
  }
  const GateClauseSummary summary = gateClauseSummary(gate);
  EXPECT_EQ(summary.count, clauses.count);
  EXPECT_EQ(summary.largestVariable, largest);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GateClausesTable,
    ::testing::Values(
        // A false operand makes the gate false.
        GateCase{{10, 0, 6}, {{-5}}}, GateCase{{10, 6, 0}, {{-5}}}, GateCase{{10, 0, 0}, {{-5}}},
        GateCase{{10, 1, 0}, {{-5}}}, GateCase{{10, 0, 1}, {{-5}}},
        // Two true operands: nothing to say.
        GateCase{{10, 1, 1}, {}},
        // One true operand: the gate equals the other.
        GateCase{{10, 1, 6}, {{-5, 3}, {5, -3}}}, GateCase{{10, 6, 1}, {{-5, 3}, {5, -3}}},
        GateCase{{10, 1, 7}, {{-5, -3}, {5, 3}}},
        // Equal operands, as in every output gate: two clauses, never three.
        GateCase{{10, 7, 7}, {{-5, -3}, {5, 3}}}, GateCase{{10, 6, 6}, {{-5, 3}, {5, -3}}},
        // A literal and its complement: three clauses, the last a tautology kept as is.
        GateCase{{10, 6, 7}, {{-5, 3}, {-5, -3}, {5, -3, 3}}},
        GateCase{{10, 6, 9}, {{-5, 3}, {-5, -4}, {5, -3, 4}}},
        // An operand equal to the gate's own complement is not repeated in a clause.
        GateCase{{10, 11, 4}, {{-5}, {-5, 2}, {5, -2}}},
        GateCase{{10, 4, 10}, {{-5, 2}, {-5, 5}, {5, -2, -5}}},
        // Only the variable of the defined literal counts.
        GateCase{{11, 6, 9}, {{-5, 3}, {-5, -4}, {5, -3, 4}}}));

TEST(EncodeDefinitions, LargeDefinitionIsEncodedInLinearSize) {
  constexpr std::uint32_t kInputs = 1000;
  constexpr std::uint32_t kCubes = 200000;
  constexpr std::uint32_t kWidth = 4;
  CubeArray cubes;
  cubes.reserve(kCubes, std::size_t{kCubes} * kWidth);
  for (std::uint32_t i = 0; i < kCubes; ++i) {
    for (std::uint32_t k = 0; k < kWidth; ++k) {
      cubes.pushLiteral(makeLiteral(1 + (i * 7 + k * 13) % kInputs, (i + k) % 2 == 1));
    }
    cubes.closeClause();
  }
  ClauseIndex index;
  const std::uint32_t n = kInputs + 1;
  index.defineDnf(n, std::move(cubes));
  std::vector<std::uint32_t> inputs;
  for (std::uint32_t v = 1; v <= kInputs; ++v) inputs.push_back(v);

  Formula output;
  const StdoutCapture capture;
  encodeDefinitions(index, inputs, {n}, n + 1, output);
  EXPECT_EQ(capture.text(), "");
  // Per cube: 2 + 3 * (width - 1) chain clauses and one combining gate of 3 clauses (2 for
  // the first); 2 for the output gate.
  const std::size_t expected =
      std::size_t{kCubes} * (2 + 3 * (kWidth - 1)) + 3 * std::size_t{kCubes} - 1 + 2;
  EXPECT_EQ(output.clauses.size(), expected);
  EXPECT_EQ(output.maxVar, n + kCubes * (kWidth + 1));
  const auto last = output.clauses[output.clauses.size() - 1];
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[0], makeLiteral(n, false));
  EXPECT_EQ(last[1], makeLiteral(n + kCubes * (kWidth + 1), false));
}

}  // namespace
}  // namespace ZEFI
