// zefi's negation of a formula large enough for many pieces of text (prefix, fresh variables
// and gates alike), formed on two threads and joined in order, is byte for byte the
// negation built the long way.
#include "app/invert.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/pipeline.hpp"
#include "app/pipeline_testing.hpp"
#include "fuzz/checks.hpp"
#include "negation/forms.hpp"
#include "negation/negation_graph.hpp"

namespace ZEFI {
namespace {

TEST(InvertFile, PiecesJoinedInOrderAreTheNegation) {
  // 70,000 variables quantified one by one (two pieces of prefix), 40,000 clauses of up to
  // five literals with repeats and complements (several pieces of fresh variables, dozens
  // of gates' pieces).
  constexpr std::uint32_t kVariables = 70000;
  std::mt19937 rng(7);
  std::string text = "p cnf " + std::to_string(kVariables) + " 40000\n";
  for (std::uint32_t v = 1; v <= kVariables; ++v) {
    text += (v * 3 / kVariables % 2 == 0 ? "a " : "e ") + std::to_string(v) + " 0\n";
  }
  for (int clause = 0; clause < 40000; ++clause) {
    const std::uint32_t base = 1 + rng() % kVariables;
    for (unsigned size = rng() % 6; size > 0; --size) {
      const std::uint32_t v = rng() % 4 == 0 ? base : 1 + rng() % kVariables;
      text += (rng() % 2 ? "-" : "") + std::to_string(v) + " ";
    }
    text += "0\n";
  }
  char directory[] = "/tmp/zefi-invert-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/f.qdimacs";
  std::ofstream(path, std::ios::binary) << text;

  Formula input;
  std::istringstream in(text);
  ASSERT_TRUE(input.readQdimacs(in));
  const std::string expected = fuzz::negationThroughFormula(input);
  EXPECT_GT(expected.size(), 3 * (std::size_t{1} << 20));
  // As a large input on two cores runs it, and (the helper forming text on any runner) as
  // the tests make it run.
  const PipelineThresholds usual = pipelineThresholds();
  for (const PipelineThresholds thresholds : {usual, PipelineThresholds{true}}) {
    setPipelineThresholds(thresholds);
    Formula viaFile;
    ASSERT_TRUE(invertFile(viaFile, path));
    std::ifstream written(std::string(directory) + "/f.inverted.qdimacs", std::ios::binary);
    const std::string negation{std::istreambuf_iterator<char>(written), {}};
    EXPECT_TRUE(negation == expected) << negation.size() << " bytes against " << expected.size();
  }
  setPipelineThresholds(usual);
  std::remove(path.c_str());
  std::remove((std::string(directory) + "/f.inverted.qdimacs").c_str());
  rmdir(directory);
}

// Variables are formed as digits in words and counted up in place: every place where the
// number of digits grows (9 to 10 up to 10^9, and the largest tens), in the fresh variables'
// lines and in gates over the largest input variables, against the negation built the long way.
TEST(WriteNegation, VariablesAcrossEveryNumberOfDigits) {
  for (const std::uint32_t maxVar :
       {5u, 95u, 995u, 9995u, 99995u, 999995u, 9999995u, 99999995u, 999999995u, 2147483600u}) {
    const std::string m = std::to_string(maxVar);
    const std::string text = "p cnf " + m + " 3\ne 1 " + m + " 0\na 2 0\n1 -2 " + m + " 0\n-" + m +
                             " 2 0\n" + std::to_string(maxVar - 1) + " -1 0\n";
    Formula expectedInput;
    Formula input;
    std::istringstream first(text);
    std::istringstream second(text);
    ASSERT_TRUE(expectedInput.readQdimacs(first) && input.readQdimacs(second)) << text;
    std::ostringstream negation;
    ASSERT_TRUE(writeNegation(input, negation));
    EXPECT_EQ(negation.str(), fuzz::negationThroughFormula(expectedInput)) << text;
  }
}

// A formula put together by a library caller may repeat a literal in a clause (the reader
// never does): each cube holds it once, as the long way's cubes do, short clause or long,
// and the circuit form's gate holds it once, as for the clause without the repeat.
TEST(WriteNegation, ALiteralRepeatedInAClauseCountsOnce) {
  const std::string text = "p cnf 40 1\ne 1 2 3 0\na 4 0\n1 -2 0\n";
  std::vector<Literal> longClause;
  for (std::uint32_t v = 1; v <= 40; ++v) longClause.push_back(makeLiteral(v, v % 3 == 0));
  longClause.push_back(makeLiteral(7, false));
  for (const std::vector<Literal>& repeating :
       {std::vector<Literal>{makeLiteral(3, true), makeLiteral(4, false), makeLiteral(3, true)},
        longClause}) {
    Formula expectedInput;
    std::istringstream in(text);
    ASSERT_TRUE(expectedInput.readQdimacs(in));
    Formula once = expectedInput;
    expectedInput.clauses.append(repeating);
    Formula input = expectedInput;
    std::ostringstream negation;
    ASSERT_TRUE(writeNegation(input, negation));
    EXPECT_EQ(negation.str(), fuzz::negationThroughFormula(expectedInput));
    once.clauses.append(std::span<const Literal>(repeating).first(repeating.size() - 1));
    once.clauses.append({makeLiteral(5, false)});
    expectedInput.clauses.append({makeLiteral(5, false)});
    EXPECT_EQ(fuzz::formText(expectedInput, makeQcirNegation),
              fuzz::formText(once, makeQcirNegation));
  }
}

// Writes form to a new file of a directory of its own, the helper forming pieces (on any
// runner) or not: the message it failed with, "" when none, marked when the file was kept.
std::string failureOf(OutputForm& form, bool helped) {
  char directory[] = "/tmp/zefi-form-XXXXXX";
  if (mkdtemp(directory) == nullptr) return "no directory";
  const std::string name = std::string(directory) + "/out";
  const PipelineThresholds usual = pipelineThresholds();
  setPipelineThresholds({helped});
  std::string failure;
  try {
    OutputFile file(name);
    writeForm(form, file, std::cerr);
  } catch (const Exception& error) {
    failure = error.message;
  } catch (const std::runtime_error& error) {
    failure = error.what();
  }
  setPipelineThresholds(usual);
  if (unlink(name.c_str()) == 0) failure += " (the output was kept)";
  rmdir(directory);
  return failure;
}

// A piece that outgrows the bound its form promised is an internal error, on whichever
// thread formed it: no byte past the block is written, and the output is not kept.
TEST(WriteForm, APieceOutgrowingItsBlockIsAnInternalError) {
  struct Outgrowing final : OutputForm {
    bool bounded() const override { return true; }
    std::size_t pieceCount() const override { return 4; }
    void writePiece(std::size_t piece, QdimacsWriter& writer) const override {
      for (std::size_t line = 0; line < (piece == 2 ? 120000u : 10u); ++line) writer.header(1, 1);
    }
  };
  for (const bool helped : {false, true}) {
    Outgrowing form;
    EXPECT_EQ(failureOf(form, helped), "Internal error: a piece of the output outgrew its block.");
  }
}

// A build that fails, of a bounded form while the helper forming pieces follows it, or of a
// streamed one: the helper wakes, the exception reaches the caller, no piece that needed
// more of the build is formed, and no output is kept.
TEST(WriteForm, AFailingBuildStopsItsHelpers) {
  struct Failing final : OutputForm {
    explicit Failing(bool streamed) : streamed(streamed) {}
    const bool streamed;
    mutable std::atomic<int> formedTooEarly{0};
    bool bounded() const override { return !streamed; }
    std::size_t pieceCount() const override { return 8; }
    std::uint32_t progressNeededBy(std::size_t piece) const override { return piece < 2 ? 0 : 99; }
    void build(BuildProgress* progress) override {
      if (progress != nullptr) progress->publish(1);
      throw std::runtime_error("build failed");
    }
    void writePiece(std::size_t piece, QdimacsWriter& writer) const override {
      if (piece >= 2 || streamed) ++formedTooEarly;
      writer.header(1, 1);
    }
  };
  for (const bool streamed : {false, true}) {
    Failing form(streamed);
    EXPECT_EQ(failureOf(form, true), "build failed");
    EXPECT_EQ(form.formedTooEarly, 0) << streamed;
  }
}

}  // namespace
}  // namespace ZEFI
