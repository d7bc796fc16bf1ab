// The streamed negation against the negation built as a complete formula, and the
// derivation of the output name.
#include <gtest/gtest.h>
#include <vector>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>

#include "app/invert.hpp"
#include "app/tests/random_qdimacs.hpp"
#include "formula/formula.hpp"

namespace ZEFI {
namespace {

Formula readText(const std::string& text) {
  Formula formula;
  std::istringstream in(text);
  EXPECT_TRUE(formula.readQdimacs(in)) << formula.error << "\n" << text;
  return formula;
}

std::string streamed(const std::string& text) {
  Formula formula = readText(text);
  std::ostringstream out;
  EXPECT_TRUE(writeNegation(formula, out));
  return out.str();
}

TEST(ZefiOutputName, CutsAtTheLastDotAnywhereInTheName) {
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"f.qdimacs", "f.inverted.qdimacs"}, {"dir/f.qdimacs", "dir/f.inverted.qdimacs"},
      {"f", "f.inverted.qdimacs"},         {"f.a.b", "f.a.inverted.qdimacs"},
      {"dir.d/f", "dir.inverted.qdimacs"}, {"./f", ".inverted.qdimacs"},
      {"f.", "f.inverted.qdimacs"},        {".f", ".inverted.qdimacs"},
      {"", ".inverted.qdimacs"},
  };
  for (const auto& c : cases) EXPECT_EQ(outputNameFor(c.input), c.output) << c.input;
}

TEST(StreamedNegation, WorkedExampleGivesTheTwentyEightLines) {
  const std::string expected =
      "p cnf 9 18\ne 1 0\na 2 0\ne 3 0\ne 4 0\ne 5 0\ne 6 0\ne 7 0\ne 8 0\ne 9 0\n"
      "-4 -1 0\n4 1 0\n-5 4 0\n-5 -2 0\n5 -4 2 0\n-6 -5 0\n6 5 0\n-7 1 0\n7 -1 0\n"
      "-8 7 0\n-8 2 0\n8 -7 -2 0\n-9 6 0\n-9 -8 0\n9 -6 8 0\n-3 -9 0\n3 9 0\n3 0\n";
  const std::string input = "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n";
  EXPECT_EQ(streamed(input), expected);
  EXPECT_EQ(negationThroughFormula(readText(input)), expected);
}

TEST(StreamedNegation, EqualsTheBuiltFormulaOnEdgeFormulas) {
  const char* inputs[] = {
      "p cnf 0 0\n",                     // nothing at all
      "p cnf 0 1\n0\n",                  // one empty clause
      "p cnf 5 0\n",                     // variables but no clause
      "p cnf 3 0\ne 1 2 0\na 3 0\n",     // prefix only
      "p cnf 2 3\n0\n0\n1 0\n",          // several empty clauses before a literal
      "p cnf 1 1\ne 1 0\na 1 0\n1 0\n",  // a variable quantified twice
      "p cnf 2 1\n1 -1 2 0\n",           // a tautology over free variables
      "p cnf 9 1\na 3 0\n-7 3 0\n",      // sparse variables, header above them
      "p cnf 3 2\ne 1 0\ne 2 0\ne 0\na 3 0\n1 2 3 0\n-3 0\n",
  };
  for (const char* input : inputs) {
    EXPECT_EQ(streamed(input), negationThroughFormula(readText(input))) << input;
  }
}

TEST(StreamedNegation, EqualsTheBuiltFormulaOnRandomFormulas) {
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    const std::string input = testing::randomQdimacs(seed);
    ASSERT_EQ(streamed(input), negationThroughFormula(readText(input))) << "seed " << seed << "\n"
                                                                        << input;
  }
}

// The same texts with every variable spread far apart over the literal range: the graph then
// numbers its inputs densely, and every literal must come back under its own number.
std::string spreadVariables(const std::string& text) {
  const auto spread = [](const std::string& token) {
    const bool negative = token[0] == '-';
    const std::uint64_t value = std::stoull(negative ? token.substr(1) : token);
    if (value == 0) return token;
    return (negative ? "-" : "") + std::to_string(value * 97000003 + 11);
  };
  std::istringstream lines(text);
  std::ostringstream out;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream tokens(line);
    std::string token;
    std::vector<std::string> words;
    while (tokens >> token) words.push_back(token);
    if (!words.empty() && words[0] == "c") {
      out << line << "\n";
      continue;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
      const bool keyword =
          words[i] == "p" || words[i] == "cnf" || words[i] == "e" || words[i] == "a";
      const bool clauseCount = i == 3 && words[0] == "p";
      out << (i > 0 ? " " : "") << (keyword || clauseCount ? words[i] : spread(words[i]));
    }
    out << "\n";
  }
  return out.str();
}

TEST(StreamedNegation, EqualsTheBuiltFormulaOnFormulasWithScatteredVariables) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    const std::string input = spreadVariables(testing::randomQdimacs(seed));
    ASSERT_EQ(streamed(input), negationThroughFormula(readText(input))) << "seed " << seed << "\n"
                                                                        << input;
  }
}

TEST(StreamedNegation, EqualsTheBuiltFormulaOnRealInstances) {
  const std::filesystem::path corpus = std::filesystem::path(ZEFI_CORPUS_DIR) / "qdimacs";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".qdimacs" || entry.file_size() > 400000) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(streamed(text.str()), negationThroughFormula(readText(text.str()))) << entry.path();
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

// A stream that takes nothing, as a file on a full disk would.
class RefusingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(StreamedNegation, ReportsAStreamThatTakesNothing) {
  Formula formula = readText("p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n");
  RefusingBuffer refusing;
  std::ostream out(&refusing);
  EXPECT_FALSE(writeNegation(formula, out));
}

TEST(StreamedNegation, RefusesANegationThatNeedsAVariableBeyondTheLiteralRange) {
  // n = 2147483641 and one gate variable per literal and per clause: 2147483648 is needed.
  Formula tooLarge = readText("p cnf 2147483640 1\n1 2 3 4 5 6 0\n");
  std::ostringstream out;
  try {
    writeNegation(tooLarge, out);
    FAIL() << "no exception";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.message, "QBF File: Number of variables is bogus.");
  }
  EXPECT_EQ(out.str(), "");

  // One variable less fits exactly: the last gate variable is 2147483647.
  Formula largest = readText("p cnf 2147483639 1\n1 2 3 4 5 6 0\n");
  ASSERT_TRUE(writeNegation(largest, out));
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "p cnf 2147483647 22");
}

}  // namespace
}  // namespace ZEFI
