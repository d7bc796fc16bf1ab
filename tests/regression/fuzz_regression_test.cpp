// Every input kept from fuzzing, replayed through the fuzz targets' checks: the seed corpora
// under fuzz/corpus/ and the reproducers of past faults under tests/regression/inputs/, one
// directory per target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/invert.hpp"
#include "formula/formula.hpp"
#include "fuzz/fuzz_checks.hpp"

namespace ZEFI::fuzz {
namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  Check check;
};

const Target kTargets[] = {
    {"qdimacs_negation", checkQdimacsNegation},
    {"aiger_round_trip", checkAigerRoundTrip},
    {"delta_code", checkDeltaCodes},
};

std::string run(Check check, const std::string& bytes) {
  return check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replays every file of root/<target>/ and returns how many there were.
int replayDirectory(const std::filesystem::path& root) {
  int files = 0;
  for (const Target& target : kTargets) {
    const std::filesystem::path dir = root / target.name;
    if (!std::filesystem::is_directory(dir)) continue;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      EXPECT_EQ(run(target.check, fileBytes(path)), "") << path;
      ++files;
    }
  }
  return files;
}

TEST(FuzzRegressionTest, EverySeedOfTheFuzzCorporaPassesItsTargetsChecks) {
  EXPECT_GT(replayDirectory(std::filesystem::path(ZEFI_SOURCE_DIR) / "fuzz" / "corpus"), 30);
}

TEST(FuzzRegressionTest, EveryKeptReproducerPassesItsTargetsChecks) {
  replayDirectory(std::filesystem::path(ZEFI_SOURCE_DIR) / "tests" / "regression" / "inputs");
}

// Found by fuzz_qdimacs_negation. 2147483647 is the largest variable a literal holds, and the
// reader accepts it on a quantifier line and in a clause; the writer then prints it as the
// variable count, which the reader must accept in turn.
TEST(FuzzRegressionTest, FormulaHoldingTheLargestVariableReadsBackAfterWriting) {
  Formula formula;
  std::istringstream in("p cnf 1 0\ne 2147483647 0\n");
  ASSERT_TRUE(formula.readQdimacs(in)) << formula.error;
  ASSERT_EQ(formula.maxVar, 2147483647u);
  std::ostringstream text;
  formula.writeQdimacs(text);
  ASSERT_EQ(text.str(), "p cnf 2147483647 0\ne 2147483647 0\n");

  Formula again;
  std::istringstream back(text.str());
  EXPECT_TRUE(again.readQdimacs(back)) << again.error;
  EXPECT_EQ(again.maxVar, 2147483647u);
  EXPECT_EQ(again.prefix, formula.prefix);
}

// Found by fuzz_qdimacs_negation. The pipeline accepts an input whose last gate variable is
// exactly 2147483647; the negation it writes must be readable QDIMACS for the same reader.
TEST(FuzzRegressionTest, NegationWhoseLastVariableIsTheLargestReadsBack) {
  Formula input;
  std::istringstream in("p cnf 2147483646 0\n");
  ASSERT_TRUE(input.readQdimacs(in)) << input.error;
  std::ostringstream out;
  ASSERT_TRUE(writeNegation(input, out));
  ASSERT_EQ(out.str(), "p cnf 2147483647 2\ne 2147483647 0\n-2147483647 0\n2147483647 0\n");

  Formula negation;
  std::istringstream back(out.str());
  EXPECT_TRUE(negation.readQdimacs(back)) << negation.error;
  EXPECT_EQ(negation.maxVar, 2147483647u);
  EXPECT_EQ(negation.clauses.size(), 2u);
}

}  // namespace
}  // namespace ZEFI::fuzz
