// zefi against depqbf on seeded random closed QBFs: the negation must flip every answer.
//
// Each instance quantifies each variable once in alternating blocks (one to six blocks,
// either quantifier outermost), may leave some variables free, and has clauses of random
// widths and signs, including empty clauses, repeated and complementary literals, and
// empty matrices. ZEFI_SEMANTIC_SEED and ZEFI_SEMANTIC_COUNT replay or widen a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tests/semantic/semantic_support.hpp"

namespace ZEFI::semantic {
namespace {

namespace fs = std::filesystem;

constexpr int kSolverTimeoutSeconds = 30;

// splitmix64: the same sequence on every platform, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in 0 .. bound - 1 (bias is irrelevant at these sizes).
  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }
  bool chance(std::uint32_t inverse) { return below(inverse) == 0; }

 private:
  std::uint64_t state_;
};

Qdimacs randomQbf(std::uint64_t seed) {
  Random random(seed);
  Qdimacs qbf;
  // Mostly tiny instances, one in eight of medium size for longer gate chains.
  const std::uint32_t variables = random.chance(8) ? 9 + random.below(8) : random.below(9);

  // Quantification order differs from numbering so that order preservation is visible.
  std::vector<std::uint32_t> order;
  for (std::uint32_t v = 1; v <= variables; ++v) order.push_back(v);
  for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[random.below(i)]);

  std::uint32_t freeCount = 0;
  if (variables > 0 && random.chance(4)) freeCount = 1 + random.below(std::min(3U, variables));
  const std::vector<std::uint32_t> freeVars(order.end() - freeCount, order.end());
  order.resize(order.size() - freeCount);

  if (!order.empty()) {
    const std::uint32_t blocks =
        1 + random.below(std::min<std::uint32_t>(6, static_cast<std::uint32_t>(order.size())));
    // Block boundaries: blocks - 1 distinct cut points among the gaps between variables.
    std::vector<bool> cut(order.size(), false);
    for (std::uint32_t made = 1; made < blocks;) {
      const std::uint32_t gap = 1 + random.below(static_cast<std::uint32_t>(order.size()) - 1);
      if (!cut[gap]) {
        cut[gap] = true;
        ++made;
      }
    }
    char kind = random.chance(2) ? 'e' : 'a';
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (cut[i]) kind = kind == 'e' ? 'a' : 'e';
      qbf.prefix.emplace_back(kind, order[i]);
    }
  }

  std::uint32_t clauses = 0;
  if (!random.chance(12)) clauses = 1 + random.below(2 * variables + 2);
  for (std::uint32_t c = 0; c < clauses; ++c) {
    std::vector<std::int32_t> clause;
    const std::uint32_t width = variables == 0 || random.chance(40) ? 0 : 1 + random.below(4);
    for (std::uint32_t i = 0; i < width; ++i) {
      const auto variable = static_cast<std::int32_t>(1 + random.below(variables));
      clause.push_back(random.chance(2) ? -variable : variable);
    }
    qbf.clauses.push_back(std::move(clause));
  }
  // A free variable must occur in the matrix to be free at all.
  for (std::uint32_t variable : freeVars) {
    if (qbf.clauses.empty() || random.chance(3)) qbf.clauses.emplace_back();
    auto& clause = qbf.clauses[random.below(static_cast<std::uint32_t>(qbf.clauses.size()))];
    const auto literal = static_cast<std::int32_t>(variable);
    clause.insert(clause.begin() + random.below(static_cast<std::uint32_t>(clause.size()) + 1),
                  random.chance(2) ? -literal : literal);
  }

  // Sometimes the header announces variables that never occur.
  qbf.headerVariables = variables + (random.chance(5) ? random.below(3) : 0);
  qbf.headerClauses = static_cast<std::uint32_t>(qbf.clauses.size());
  return qbf;
}

std::uint64_t environmentNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtoull(text, nullptr, 0);
}

// The generator must produce what the test claims to cover.
TEST(RandomQbfGenerator, CoversBlocksFreeVariablesEmptyClausesAndEmptyMatrices) {
  int withFree = 0, emptyClause = 0, emptyMatrix = 0, oneBlock = 0, manyBlocks = 0, forallFirst = 0,
      existsFirst = 0;
  for (std::uint64_t seed = 0; seed < 400; ++seed) {
    const Qdimacs qbf = randomQbf(seed);
    std::vector<std::uint32_t> quantified;
    for (const auto& [kind, variable] : qbf.prefix) quantified.push_back(variable);
    std::sort(quantified.begin(), quantified.end());
    ASSERT_TRUE(std::adjacent_find(quantified.begin(), quantified.end()) == quantified.end())
        << "seed " << seed << " quantifies a variable twice";
    if (!qbf.freeVariables().empty()) ++withFree;
    if (qbf.clauses.empty()) ++emptyMatrix;
    if (std::any_of(qbf.clauses.begin(), qbf.clauses.end(), [](auto& c) { return c.empty(); })) {
      ++emptyClause;
    }
    if (!qbf.prefix.empty()) {
      (qbf.prefix.front().first == 'a' ? forallFirst : existsFirst)++;
      int blocks = 1;
      for (std::size_t i = 1; i < qbf.prefix.size(); ++i) {
        if (qbf.prefix[i].first != qbf.prefix[i - 1].first) ++blocks;
      }
      (blocks == 1 ? oneBlock : manyBlocks)++;
    }
  }
  EXPECT_GE(withFree, 40);
  EXPECT_GE(emptyClause, 10);
  EXPECT_GE(emptyMatrix, 10);
  EXPECT_GE(oneBlock, 40);
  EXPECT_GE(manyBlocks, 100);
  EXPECT_GE(forallFirst, 100);
  EXPECT_GE(existsFirst, 100);
}

class RandomNegation : public DepqbfTest {};

TEST_F(RandomNegation, EveryAnswerFlipsAndDepqbfAcceptsTheOutputAsWritten) {
  const std::uint64_t firstSeed = environmentNumber("ZEFI_SEMANTIC_SEED", 20261206);
  const std::uint64_t count = environmentNumber("ZEFI_SEMANTIC_COUNT", 400);
  ScratchDirectory scratch;
  int trueInputs = 0;
  int falseInputs = 0;
  double zefiSeconds = 0;
  double solverSeconds = 0;

  for (std::uint64_t seed = firstSeed; seed < firstSeed + count; ++seed) {
    const Qdimacs input = randomQbf(seed);
    // Half the inputs join each block on one line as most files do, half give each
    // variable its own line as zefi itself writes.
    const std::string inputText = input.toText(seed % 2 == 0);
    const fs::path inputFile = scratch.path() / "random.qdimacs";
    const fs::path closedFile = scratch.path() / "random-closed.txt";
    const fs::path outputFile = scratch.path() / "random.inverted.qdimacs";
    const fs::path zefiLog = scratch.path() / "zefi.log";
    fs::remove(outputFile);
    writeFile(inputFile, inputText);
    const std::string context = "seed " + std::to_string(seed) +
                                " (replay: ZEFI_SEMANTIC_SEED=" + std::to_string(seed) +
                                " ZEFI_SEMANTIC_COUNT=1)\ninput:\n" + inputText;

    const RunResult zefi = runProgram({ZEFI_BINARY, inputFile.string()}, zefiLog, zefiLog);
    zefiSeconds += zefi.seconds;
    ASSERT_TRUE(zefi.exited && zefi.status == 0) << "zefi: " << zefi.describe() << "\n" << context;
    ASSERT_EQ(readFile(zefiLog), "") << context;
    ASSERT_TRUE(fs::exists(outputFile)) << context;
    const std::string outputText = readFile(outputFile);
    const std::string withOutput = context + "output:\n" + outputText;

    Qdimacs output;
    const auto formError = parseNormalForm(outputText, output);
    ASSERT_FALSE(formError) << *formError << "\n" << withOutput;
    const auto shapeError = checkNegationShape(input, output);
    ASSERT_FALSE(shapeError) << *shapeError << "\n" << withOutput;

    // depqbf reads free variables as outermost existential; give it zefi's reading.
    writeFile(closedFile, closeFreeVariables(input).toText());
    const SolverRun before = solve(depqbf(), closedFile, kSolverTimeoutSeconds, scratch.path());
    ASSERT_TRUE(before.answer == Answer::True || before.answer == Answer::False)
        << "depqbf on the input: " << before.run.describe() << "\n"
        << before.output << "\n"
        << context;
    const SolverRun after = solve(depqbf(), outputFile, kSolverTimeoutSeconds, scratch.path());
    ASSERT_TRUE(after.answer == Answer::True || after.answer == Answer::False)
        << "depqbf did not accept zefi's output as written: " << after.run.describe() << "\n"
        << after.output << "\n"
        << withOutput;
    ASSERT_TRUE(before.answer != after.answer)
        << "the negation did not flip the answer: both " << answerName(before.answer) << "\n"
        << withOutput;
    (before.answer == Answer::True ? trueInputs : falseInputs)++;
    solverSeconds += before.run.seconds + after.run.seconds;
  }
  // A generator that drifted to only true or only false instances would test half the claim.
  if (count >= 100) {
    EXPECT_GE(trueInputs, static_cast<int>(count / 5));
    EXPECT_GE(falseInputs, static_cast<int>(count / 5));
  }
  std::cout << "[ info ] " << count << " instances from seed " << firstSeed << ": " << trueInputs
            << " true, " << falseInputs << " false before negation; " << zefiSeconds
            << " s in zefi, " << solverSeconds << " s in depqbf\n";
}

}  // namespace
}  // namespace ZEFI::semantic
