// The fuzz targets' checks in every ordinary build (sanitized ones included): every kept
// input of fuzz/corpus/<target>/ and tests/regression/inputs/<target>/, each of them with
// bytes spoiled, and seeded random inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "fuzz/checks.hpp"

namespace ZEFI::fuzz {
namespace {

using Check = std::string (*)(std::string_view);
const std::pair<const char*, Check> kTargets[] = {
    {"qdimacs_negation", checkQdimacsNegation},
    {"aiger_round_trip", checkAigerRoundTrip},
    {"delta_code", checkDeltaCodes},
    {"compressed_qdimacs", checkCompressedQdimacs},
};

TEST(FuzzReplay, KeptInputsAndSpoiledCopiesPassTheirChecks) {
  std::mt19937 rng(7);
  int files = 0;
  for (const char* root : {"fuzz/corpus", "tests/regression/inputs"}) {
    for (const auto& [name, check] : kTargets) {
      const std::filesystem::path dir = std::filesystem::path(ZEFI_SOURCE_DIR) / root / name;
      if (!std::filesystem::is_directory(dir)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(check(bytes), "") << entry.path();
        ++files;
        for (int k = 0; k < 50 && !bytes.empty(); ++k) {
          std::string spoiled = bytes;
          spoiled[rng() % spoiled.size()] =
              static_cast<char>("0123456789 \n-aceilop\x80\xff"[rng() % 22]);
          if (rng() % 4 == 0) spoiled.resize(rng() % spoiled.size());
          EXPECT_EQ(check(spoiled), "") << entry.path() << " spoiled: " << spoiled;
        }
      }
    }
  }
  EXPECT_GT(files, 40);
}

// Small formulas of every shape: alternations, free variables, repeated and complementary
// literals, empty clauses, variables quantified twice.
TEST(FuzzReplay, RandomSmallQdimacsFormulas) {
  std::mt19937 rng(1);
  for (int round = 0; round < 3000; ++round) {
    const unsigned variables = 1 + rng() % 9;
    std::string text =
        "p cnf " + std::to_string(variables) + " " + std::to_string(rng() % 9) + "\n";
    for (unsigned v = 1; v <= variables; ++v) {
      if (rng() % 4 != 0) text += (rng() % 2 ? "a " : "e ") + std::to_string(v) + " 0\n";
    }
    for (unsigned clauses = rng() % 9; clauses > 0; --clauses) {
      for (unsigned size = rng() % 5; size > 0; --size) {
        text += (rng() % 2 ? "-" : "") + std::to_string(1 + rng() % variables) + " ";
      }
      text += "0\n";
    }
    ASSERT_EQ(checkQdimacsNegation(text), "") << text;
    // The same text compressed in each format, and raw bytes behind each magic number.
    const std::string twoBytes = {static_cast<char>(rng()), static_cast<char>(round % 4)};
    ASSERT_EQ(checkCompressedQdimacs(twoBytes + text), "") << round << ": " << text;
  }
}

// Random bytes: as AIGER files they mostly fail early, as recipes they build graphs.
TEST(FuzzReplay, RandomBytesAsAigerRecipesAndDeltaCodes) {
  std::mt19937 rng(2);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(rng() % 200, '\0');
    for (char& byte : bytes) byte = static_cast<char>(rng());
    ASSERT_EQ(checkAigerRoundTrip(bytes), "") << round;
    ASSERT_EQ(checkDeltaCodes(bytes.substr(0, 1 + rng() % 8)), "") << round;
  }
}

}  // namespace
}  // namespace ZEFI::fuzz
