// Every input kept from fuzzing, replayed through the fuzz targets' checks: the seed corpora
// under fuzz/corpus/ and the reproducers of past faults under tests/regression/inputs/, one
// directory per target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace ZEFI::fuzz
