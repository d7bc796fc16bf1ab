// The gates and clauses must mean what the definitions say: under every assignment of the
// inputs, the graph computes each output as its definition does, and the clauses hold for
// exactly the gate values the graph computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "negation/encode.hpp"
#include "negation/tests/test_support.hpp"

namespace ZEFI {
namespace {

using testing::newStore;
using testing::StdoutCapture;

enum class Reading { Disjunctive, Conjunctive, Undefined };

struct Definition {
  std::uint32_t variable = 0;
  Reading reading = Reading::Undefined;
  std::vector<std::vector<Literal>> sets;
};

bool valueOf(const std::vector<char>& values, Literal literal) {
  return (values[variableOf(literal)] != 0) != isNegated(literal);
}

bool truthOf(const Definition& definition, const std::vector<char>& values) {
  const bool disjunctive = definition.reading == Reading::Disjunctive;
  // A cube holds when all its literals do; a clause when one does.
  for (const auto& set : definition.sets) {
    bool holds = disjunctive;
    for (const Literal literal : set) {
      if (valueOf(values, literal) != disjunctive) {
        holds = !disjunctive;
        break;
      }
    }
    if (holds == disjunctive) return disjunctive;
  }
  return !disjunctive;
}

bool clausesHold(const ClauseArray& clauses, const std::vector<char>& values) {
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    const auto clause = clauses[i];
    if (std::none_of(clause.begin(), clause.end(),
                     [&](Literal literal) { return valueOf(values, literal); })) {
      return false;
    }
  }
  return true;
}

void evaluateGates(const AigStore& store, std::vector<char>& values) {
  for (std::uint32_t i = 0; i < store.andCount; ++i) {
    const AigAnd& gate = store.ands[i];
    values[variableOf(gate.lhs)] = valueOf(values, gate.rhs0) && valueOf(values, gate.rhs1);
  }
}

ClauseArray clausesOfGates(const AigStore& store) {
  ClauseArray clauses;
  for (std::uint32_t i = 0; i < store.andCount; ++i) {
    const GateClauses gate = gateClauses(store.ands[i]);
    for (unsigned k = 0; k < gate.count; ++k) clauses.append(gate[k]);
  }
  return clauses;
}

TEST(EncodeSemantics, RandomDefinitionsAreComputedAndPinnedDownByTheClauses) {
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto below = [&](std::uint32_t bound) {
      return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(random);
    };
    const std::uint32_t inputCount = 1 + below(6);
    const std::uint32_t outputCount = 1 + below(3);
    const std::uint32_t firstFresh = inputCount + outputCount + 1 + below(4);

    std::vector<std::uint32_t> inputs;
    for (std::uint32_t v = 1; v <= inputCount; ++v) inputs.push_back(v);
    std::vector<Definition> definitions;
    std::vector<std::uint32_t> outputs;
    ClauseIndex index;
    for (std::uint32_t k = 0; k < outputCount; ++k) {
      Definition definition;
      definition.variable = inputCount + 1 + k;
      const std::uint32_t kind = below(7);
      definition.reading = kind < 3   ? Reading::Disjunctive
                           : kind < 6 ? Reading::Conjunctive
                                      : Reading::Undefined;
      ClauseArray sets;
      const std::uint32_t setCount = below(5);
      for (std::uint32_t s = 0; s < setCount; ++s) {
        std::vector<Literal> set;
        const std::uint32_t width = below(5);
        // Repeated literals and complementary pairs are allowed on purpose.
        for (std::uint32_t w = 0; w < width; ++w) {
          set.push_back(makeLiteral(1 + below(inputCount), below(2) == 1));
        }
        sets.append(set);
        definition.sets.push_back(set);
      }
      if (definition.reading == Reading::Disjunctive) index.defineDnf(definition.variable, sets);
      if (definition.reading == Reading::Conjunctive) index.defineCnf(definition.variable, sets);
      outputs.push_back(definition.variable);
      definitions.push_back(definition);
    }

    const auto store = newStore();
    const std::uint32_t next = buildDefinitionGraph(index, inputs, outputs, firstFresh, *store);
    ASSERT_EQ(store->check(), nullptr);
    Formula formula;
    {
      const StdoutCapture capture;
      encodeDefinitions(index, inputs, outputs, firstFresh, formula);
      EXPECT_EQ(capture.text(), "");
    }
    ASSERT_EQ(formula.clauses, clausesOfGates(*store));
    std::uint32_t maxVar = 0;
    for (std::size_t i = 0; i < formula.clauses.size(); ++i) {
      for (const Literal literal : formula.clauses[i]) {
        maxVar = std::max(maxVar, variableOf(literal));
        ASSERT_LT(variableOf(literal), std::max(next, firstFresh));
        for (const Definition& definition : definitions) {
          if (definition.reading == Reading::Undefined) {
            ASSERT_NE(variableOf(literal), definition.variable);
          }
        }
      }
    }
    EXPECT_EQ(formula.maxVar, maxVar);

    std::vector<char> values(std::max(next, firstFresh) + 1, 0);
    for (std::uint32_t assignment = 0; assignment < (1u << inputCount); ++assignment) {
      std::fill(values.begin(), values.end(), 0);
      for (std::uint32_t v = 1; v <= inputCount; ++v) values[v] = (assignment >> (v - 1)) & 1u;
      for (const Definition& definition : definitions) {
        if (definition.reading == Reading::Undefined) values[definition.variable] = below(2);
      }
      evaluateGates(*store, values);
      for (const Definition& definition : definitions) {
        if (definition.reading == Reading::Undefined) continue;
        ASSERT_EQ(values[definition.variable] != 0, truthOf(definition, values))
            << "output " << definition.variable << " under assignment " << assignment;
      }
      ASSERT_TRUE(clausesHold(formula.clauses, values)) << "assignment " << assignment;
      // Each gate is fixed by its clauses: the opposite value breaks one. A gate over two
      // true operands has no clause and is the one exception.
      for (std::uint32_t i = 0; i < store->andCount; ++i) {
        const AigAnd& gate = store->ands[i];
        if (gate.rhs0 == 1 && gate.rhs1 == 1) continue;
        char& value = values[variableOf(gate.lhs)];
        value = !value;
        EXPECT_FALSE(clausesHold(formula.clauses, values))
            << "gate " << gate.lhs << " under assignment " << assignment;
        value = !value;
      }
    }
  }
}

// Real matrices: the negation variable must be the complement of the matrix.
class CorpusNegation : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusNegation, NegationVariableIsTheComplementOfTheMatrix) {
  const std::filesystem::path path =
      std::filesystem::path(ZEFI_CORPUS_DIR) / "qdimacs" / GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus file missing: " << path;
  std::ifstream in(path);
  Formula input;
  ASSERT_TRUE(input.readQdimacs(in)) << input.error;

  const std::uint32_t n = input.maxVar + 1;
  CubeArray cubes;
  input.complementedClauses(cubes);
  ClauseIndex index;
  index.defineDnf(n, std::move(cubes));
  const std::vector<std::uint32_t> inputs = input.quantifierOf.sortedKeys();
  const std::vector<std::uint32_t> outputs{n};

  const auto store = newStore();
  const std::uint32_t next = buildDefinitionGraph(index, inputs, outputs, n + 1, *store);
  Formula output;
  {
    const StdoutCapture capture;
    encodeDefinitions(index, inputs, outputs, n + 1, output);
    EXPECT_EQ(capture.text(), "");
  }
  const std::size_t k = input.clauses.size();
  const std::size_t literals = input.clauses.literalCount();
  EXPECT_EQ(store->andCount, literals + k + 1);
  EXPECT_EQ(next, n + 1 + literals + k);
  EXPECT_EQ(output.maxVar, k == 0 ? n : n + literals + k);
  EXPECT_LE(output.clauses.size(), 3 * std::size_t{store->andCount});

  std::mt19937 random(7);
  std::vector<char> values(next + 1, 0);
  for (int round = 0; round < 64; ++round) {
    std::fill(values.begin(), values.end(), 0);
    for (const std::uint32_t v : inputs) values[v] = static_cast<char>(random() & 1u);
    const bool matrix = clausesHold(input.clauses, values);
    evaluateGates(*store, values);
    ASSERT_EQ(values[n] != 0, !matrix) << "round " << round;
    ASSERT_TRUE(clausesHold(output.clauses, values)) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusNegation,
                         ::testing::Values("true.qdimacs", "false.qdimacs", "example.qdimacs",
                                           "empty_clause.qdimacs", "lights.qdimacs",
                                           "ldom8.qdimacs", "16966_UNSAT.qdimacs",
                                           "k_ph_n-16.qdimacs"));

}  // namespace
}  // namespace ZEFI
