// The clause section read in two parts at once gives what one reader gives, wherever the
// cut falls: inside a token, a clause, the clause left open by the first part, before a
// bogus token, near the end; free variables keep the order of their first occurrence, and
// the stream is left at its end exactly when a reader alone leaves it there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <istream>
#include <random>
#include <sstream>
#include <string>

#include "formula/decompress.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"

namespace ZEFI {
namespace {

struct Read {
  bool ok;
  Formula formula;
  bool split = false;  // the helper was asked for a thread
  bool atEnd = false;  // the stream was left at its end
};

Read readFile(const std::string& path, bool twoParts) {
  Read result{false, Formula()};
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  {
    InputBuffer buffer(fd);
    std::istream in(&buffer);
    const Formula::ThreadStarter helper = [&result](std::function<void()> work) {
      result.split = true;
      return std::thread(std::move(work));
    };
    result.ok = result.formula.readQdimacs(in, twoParts ? helper : Formula::ThreadStarter(), 0);
    result.atEnd = in.eof();
  }
  ::close(fd);
  return result;
}

// A variable of 1..30, or now and then one of a few on either side of a multiple of 32 and
// 64 (some of them quantified).
std::string randomVariable(std::mt19937& rng) {
  static const unsigned kWide[] = {31, 32, 63, 64, 65, 95, 96, 100, 127, 128};
  return std::to_string(rng() % 5 == 0 ? kWide[rng() % 10] : 1 + rng() % 30);
}

// Random clause text: literals of randomVariable with repeats and complements, zeros, and now
// and then a long token (leading zeros), a token that is no literal, or a comment line.
std::string randomClauses(std::mt19937& rng, int tokens, bool hostile) {
  std::string text;
  for (int i = 0; i < tokens; ++i) {
    const unsigned pick = rng() % 100;
    if (pick < 20) {
      text += "0";
    } else if (hostile && pick < 22) {
      text += std::string(3000, '0') + randomVariable(rng);
    } else if (hostile && pick == 22) {
      text += rng() % 2 ? "4294967296" : "2147483648";
    } else if (hostile && pick == 23) {
      text += "c x 5";
    } else {
      text += (rng() % 2 ? "-" : "") + randomVariable(rng);
    }
    text += rng() % 4 == 0 ? "\n" : " ";
  }
  return text;
}

TEST(SplitRead, SameFormulaWhereverTheCutFalls) {
  char path[] = "/tmp/zefi-split-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::mt19937 rng(11);
  int splits = 0;
  for (int round = 0; round < 120; ++round) {
    const bool hostile = round % 3 == 0;
    // Variables 1..10 and a few above 31 quantified, the others free.
    std::string head = "p cnf 12 40\ne 1 2 3 0\na 4 5 6 7 32 0\ne 8 9 10 63 96 100 0\n1 ";
    const std::string before = randomClauses(rng, 30, false);
    // Every fourth round a bogus token ends right at the cut: the first part meets it as
    // its last, at the end of its own input but not of the file's.
    const bool bogusAtCut = round % 4 == 3;
    const std::string middle = randomClauses(rng, 20, hostile) + (bogusAtCut ? "4294967296 " : "") +
                               randomClauses(rng, 20, hostile);
    std::string end = randomClauses(rng, 20, hostile);
    if (round % 4 != 1) end += " 0\n";  // else the last clause may stay open
    // The cut is half way from the token after the prefix to the end: padding puts it at a
    // chosen byte of the middle text (past the first part's first block).
    const std::size_t here = head.size();
    const std::size_t firstPad = (std::size_t{3} << 19) + rng() % 4096;
    const std::size_t middleAt = here + firstPad + before.size();
    const std::size_t cut =
        middleAt + (bogusAtCut ? middle.find("4294967296") + 5 : rng() % middle.size());
    const std::size_t total = here + 2 * (cut - here);
    const std::size_t secondPad = total - middleAt - middle.size() - end.size();
    std::string text = head + std::string(firstPad, ' ') + before + middle +
                       std::string(secondPad - 1, ' ') + "\n" + end;
    std::ofstream(path, std::ios::binary) << text;

    const Read alone = readFile(path, false);
    const Read parts = readFile(path, true);
    splits += parts.split ? 1 : 0;
    const std::string where =
        "round " + std::to_string(round) + ", cut at \"" + text.substr(cut - 20, 40) + "\"";
    ASSERT_EQ(parts.ok, alone.ok) << where;
    EXPECT_EQ(parts.formula.error, alone.formula.error) << where;
    EXPECT_EQ(parts.atEnd, alone.atEnd) << where;  // the read stopped at the same place
    if (!alone.ok) continue;
    EXPECT_TRUE(parts.formula.clauses == alone.formula.clauses) << where;
    EXPECT_EQ(parts.formula.maxVar, alone.formula.maxVar) << where;
    EXPECT_TRUE(parts.formula.prefix == alone.formula.prefix) << where;
  }
  // Every round cut the clause section (the cut never fell into a token too long to skip).
  EXPECT_EQ(splits, 120);
  std::remove(path);
}

// The cut placed exactly, half way from the end of the token after the prefix to the end of
// the file: the text before it, the text after it (then blanks to the end), and what both
// reads must give.
TEST(SplitRead, EdgesOfTheCut) {
  const struct {
    std::string before, after;
    const char* error;
    const char* clauses;  // as printClauses writes them
  } rows[] = {
      {"-2 0\n3 -1", "2 4 0\n5 0\n", "", "[3](1, -2)(3, -12, 4)(5)"},
      {"2 0" + std::string(5000, ' '), std::string(5000, ' ') + "3 0\n", "", "[2](1, 2)(3)"},
      {"2 0\n3 ", "4 0\n4294967296 0\n", "QBF File: Bogus clause.", ""},
      {"2 0\n3", " 4", "QBF File: Bogus clause.", ""},
  };
  char path[] = "/tmp/zefi-split-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (const auto& row : rows) {
    const std::string head = "p cnf 5 3\ne 1 2 3 0\n1 ";
    const std::string first = head + std::string(std::size_t{3} << 19, ' ') + row.before;
    std::ofstream(path, std::ios::binary)
        << first << row.after
        << std::string(first.size() - head.size() + 1 - row.after.size(), ' ');
    const Read alone = readFile(path, false);
    const Read parts = readFile(path, true);
    EXPECT_TRUE(parts.split) << row.before;
    for (const Read* read : {&alone, &parts}) {
      EXPECT_EQ(read->formula.error, row.error) << row.before;
      std::ostringstream clauses;
      if (read->ok) printClauses(read->formula.clauses, clauses);
      EXPECT_EQ(clauses.str(), row.clauses) << row.before;
      EXPECT_TRUE(read->formula.prefix == alone.formula.prefix) << row.before;
    }
    EXPECT_EQ(parts.atEnd, alone.atEnd) << row.before;
  }
  std::remove(path);
}

}  // namespace
}  // namespace ZEFI
