#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formula/formula.hpp"
#include "test_streams.hpp"

namespace ZEFI {
namespace {

using Clauses = std::vector<std::vector<std::int64_t>>;

std::string prefixText(const Formula& f) {
  std::string text;
  for (const Quantification& q : f.prefix) {
    if (!text.empty()) text += ' ';
    text += q.kind == Exists ? 'e' : q.kind == Forall ? 'a' : '?';
    text += std::to_string(q.variable);
  }
  return text;
}

Clauses clausesOf(const Formula& f) {
  Clauses out;
  for (auto clause : f.clauses) {
    out.emplace_back();
    for (Literal l : clause) {
      const std::int64_t v = variableOf(l);
      out.back().push_back(isNegated(l) ? -v : v);
    }
  }
  return out;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ReadCase {
  const char* name;
  std::string input;
  std::string error;  // empty when the read must succeed
  std::uint32_t maxVar = 0;
  std::string prefix;
  Clauses clauses;
};

const std::string kNotP = "QBF File does not start with a p line.";
const std::string kNoCnf = "QBF File does not have a cnf argument.";
const std::string kVars = "QBF File: Number of variables is bogus.";
const std::string kCount = "QBF File: Number of clauses is bogus.";
const std::string kQuant = "QBF File: Invalid quantification sequence.";
const std::string kClause = "QBF File: Bogus clause.";

std::vector<ReadCase> readCases() {
  const std::string zeros(10000, '0');
  return {
      {"basic", "p cnf 3 2\ne 1 2 0\na 3 0\n1 -3 0\n2 3 0\n", "", 3, "e1 e2 a3", {{1, -3}, {2, 3}}},
      {"comments skipped", "c hello\nc\nc  p cnf 9 9\np cnf 1 1\n1 0\n", "", 1, "e1", {{1}}},
      {"comment with blanks before c", "  \t c x y\np cnf 0 0\n", "", 0, "", {}},
      {"cx is no comment", "cx\np cnf 1 1\n", kNotP, 0, "", {}},
      {"empty input", "", kNotP, 0, "", {}},
      {"only whitespace", " \n\t\r\n", kNotP, 0, "", {}},
      {"comment at end without newline", "c hello", kNotP, 0, "", {}},
      {"lone c", "c", kNotP, 0, "", {}},
      {"uppercase P", "P cnf 1 1\n", kNotP, 0, "", {}},
      {"p glued to cnf", "pcnf 1 1\n", kNotP, 0, "", {}},
      {"clause first", "1 0\n", kNotP, 0, "", {}},
      {"only p", "p", kNoCnf, 0, "", {}},
      {"p then other", "p dnf 1 1", kNoCnf, 0, "", {}},
      {"cnf longer", "p cnff 1 1", kNoCnf, 0, "", {}},
      {"p cnf alone", "p cnf", "", 0, "", {}},
      {"p cnf 0 0", "p cnf 0 0\n", "", 0, "", {}},
      {"non-numeric counts", "p cnf x y\n", "", 0, "", {}},
      {"variables too large", "p cnf 99999999999 1\n", kVars, 0, "", {}},
      {"variables at 2^32", "p cnf 4294967296 0\n", kVars, 0, "", {}},
      {"variables 2^32-1", "p cnf 4294967295 0\n", kVars, 0, "", {}},
      {"variables -1 wraps", "p cnf -1 0\n", kVars, 0, "", {}},
      {"variables above literal range", "p cnf 2147483648 0\n", kVars, 0, "", {}},
      {"largest variable count", "p cnf 2147483647 0\n", "", 2147483647, "", {}},
      {"-4294967295 wraps to 1", "p cnf -4294967295 0\n", "", 1, "", {}},
      {"clauses too large", "p cnf 3 99999999999\n", kCount, 0, "", {}},
      {"clauses at 2^32", "p cnf 3 4294967296\n", kCount, 0, "", {}},
      {"clauses 2^32-1", "p cnf 3 4294967295\n1 0\n", "", 3, "e1", {{1}}},
      {"clauses -1 wraps", "p cnf 3 -1\n", "", 3, "", {}},
      {"huge announcement", "p cnf 2000000000 4000000000\n", "", 2000000000, "", {}},
      {"quantified too large", "p cnf 1 1\ne 1 99999999999 0\n", kQuant, 0, "", {}},
      {"quantified above literal range", "p cnf 1 1\ne 2147483648 0\n", kQuant, 0, "", {}},
      {"quantified negative wraps high", "p cnf 1 1\na -1 0\n", kQuant, 0, "", {}},
      {"largest quantified", "p cnf 1 0\ne 2147483647 0\n", "", 2147483647, "e2147483647", {}},
      {"quantified -4294967295 is 1", "p cnf 1 0\ne -4294967295 0\n", "", 1, "e1", {}},
      {"two exists lines", "p cnf 2 0\ne 1 0\ne 2 0\n", "", 2, "e1 e2", {}},
      {"empty quantifier line", "p cnf 2 0\ne 0\na 0\n", "", 2, "", {}},
      {"a ends a line", "p cnf 2 1\ne 1 a 2 0\n", "", 2, "e1 e2", {{2}}},
      {"quantifier line cut by end", "p cnf 2 0\ne 1 2", kQuant, 0, "", {}},
      {"quantifier keyword at end", "p cnf 2 0\ne 1 0\na", kQuant, 0, "", {}},
      {"quantified raises maxVar", "p cnf 1 0\na 7 0\n", "", 7, "a7", {}},
      {"literal beyond signed range", "p cnf 1 1\n3000000000 0\n", kClause, 0, "", {}},
      {"literal 2^31", "p cnf 1 1\n2147483648 0\n", kClause, 0, "", {}},
      {"literal -2^31", "p cnf 1 1\n-2147483648 0\n", kClause, 0, "", {}},
      {"literal -99999999999", "p cnf 1 1\n-99999999999 0\n", kClause, 0, "", {}},
      {"largest literals",
       "p cnf 1 1\n-2147483647 2147483647 0\n",
       "",
       2147483647,
       "e2147483647",
       {{-2147483647, 2147483647}}},
      {"repeated literal", "p cnf 1 1\n1 1 -1 0\n", "", 1, "e1", {{1, -1}}},
      {"lone zero", "p cnf 0 1\n0\n", "", 0, "", {{}}},
      {"last clause without zero", "p cnf 2 1\n1 0 1 2", kClause, 0, "", {}},
      {"last clause without zero, newline", "p cnf 2 1\n1 2\n", kClause, 0, "", {}},
      {"literal above header", "p cnf 2 1\n1 5 0\n", "", 5, "e1 e5", {{1, 5}}},
      {"c in the matrix", "p cnf 4 3\nc note 4 0\n", "", 4, "e4", {{}, {}, {4}}},
      {"one line", "p cnf 1 1 1 0", "", 1, "e1", {{1}}},
      {"c ends the prefix",
       "p cnf 2 1\nc note\ne 1 2 0\n1 2 0\n",
       "",
       2,
       "e1 e2",
       {{}, {}, {}, {1, 2}, {1, 2}}},
      {"plus sign", "p cnf +2 1\ne +1 0\n+2 0\n", "", 2, "e1 e2", {{2}}},
      {"trailing junk ignored", "p cnf 2x 1\n12abc 0\n", "", 12, "e12", {{12}}},
      {"hex is zero", "p cnf 1 2\n1 0x10 1 0\n", "", 1, "e1", {{1}, {1}}},
      {"signs without digits", "p cnf 1 1\n1 - 1 + --5 0\n", "", 1, "e1", {{1}, {1}, {}, {}}},
      {"digits stop at sign", "p cnf 1 1\n5-3 0\n", "", 5, "e5", {{5}}},
      {"minus zero", "p cnf 1 1\n1 -0\n", "", 1, "e1", {{1}}},
      {"leading zeros",
       "p cnf " + zeros + "3 1\ne " + zeros + "1 0\n-" + zeros + "2 0\n",
       "",
       3,
       "e1 e2",
       {{-2}}},
      {"leading zeros then too large",
       "p cnf 1 1\n" + zeros + "99999999999 0\n",
       kClause,
       0,
       "",
       {}},
      {"quantified twice", "p cnf 1 0\ne 1 0\na 1 0\n", "", 1, "e1 a1", {}},
      {"crlf lines", "p cnf 1 1\r\ne 1 0\r\n1 0\r\n", "", 1, "e1", {{1}}},
      {"vertical tab and form feed", "p\vcnf\f1 1\n1\v0", "", 1, "e1", {{1}}},
      {"nul is no blank", std::string("p cnf 1 1\n1\0 0\n", 14), "", 1, "e1", {{1}}},
      {"high byte is no blank", "p cnf 1 1\n1 \xa0 2 0\n", "", 2, "e1 e2", {{1}, {2}}},
      {"e and a in the matrix", "p cnf 1 1\n1 0\n1 e 2 a 0\n", "", 2, "e1 e2", {{1}, {1}, {2}, {}}},
      {"free variables in first-occurrence order",
       "p cnf 9 2\na 5 0\n9 5 -3 0\n3 7 0\n",
       "",
       9,
       "a5 e9 e3 e7",
       {{9, 5, -3}, {3, 7}}},
  };
}

enum class Feed { String, OneByte, RandomPieces };

void readThrough(Feed feed, const std::string& text, Formula& f, bool& ok) {
  if (feed == Feed::String) {
    std::istringstream in(text);
    ok = f.readQdimacs(in);
    return;
  }
  testing::TricklingBuffer buffer(text, feed == Feed::OneByte ? 1 : 7, feed == Feed::RandomPieces);
  std::istream in(&buffer);
  ok = f.readQdimacs(in);
}

TEST(QdimacsReaderTest, TableOfInputs) {
  for (const ReadCase& tc : readCases()) {
    for (Feed feed : {Feed::String, Feed::OneByte, Feed::RandomPieces}) {
      SCOPED_TRACE(std::string(tc.name) + " / feed " + std::to_string(static_cast<int>(feed)));
      Formula f;
      bool ok = false;
      readThrough(feed, tc.input, f, ok);
      if (!tc.error.empty()) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(f.error, tc.error);
        continue;
      }
      ASSERT_TRUE(ok) << f.error;
      EXPECT_EQ(f.error, "");
      EXPECT_EQ(f.maxVar, tc.maxVar);
      EXPECT_EQ(prefixText(f), tc.prefix);
      EXPECT_EQ(clausesOf(f), tc.clauses);
    }
  }
}

TEST(QdimacsReaderTest, PositionsAndQuantifierMap) {
  Formula f;
  std::istringstream in("p cnf 4 1\ne 1 2 0\na 3 0\n3 -4 0\n");
  ASSERT_TRUE(f.readQdimacs(in));
  EXPECT_EQ(prefixText(f), "e1 e2 a3 e4");
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> positions = {
      {1, 1}, {2, 2}, {3, 3}, {4, 0}};
  for (auto [v, p] : positions) {
    ASSERT_NE(f.positionOf.find(v), nullptr) << v;
    EXPECT_EQ(*f.positionOf.find(v), p) << v;
  }
  EXPECT_EQ(f.quantifierOf.sortedKeys(), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(*f.quantifierOf.find(3), (Quantification{Forall, 3}));
  EXPECT_EQ(*f.quantifierOf.find(4), (Quantification{Exists, 4}));

  // Quantified again: the later kind wins, and the position is the count at that moment.
  Formula g;
  std::istringstream in2("p cnf 2 0\ne 1 0\ne 2 0\na 1 0\n");
  ASSERT_TRUE(g.readQdimacs(in2));
  EXPECT_EQ(prefixText(g), "e1 e2 a1");
  EXPECT_EQ(*g.quantifierOf.find(1), (Quantification{Forall, 1}));
  EXPECT_EQ(*g.positionOf.find(1), 2u);
  EXPECT_EQ(*g.positionOf.find(2), 2u);

  Formula h;
  std::istringstream in3("p cnf 1 0\ne 1 0\na 1 0\n");
  ASSERT_TRUE(h.readQdimacs(in3));
  EXPECT_EQ(*h.positionOf.find(1), 1u);
  EXPECT_EQ(*h.quantifierOf.find(1), (Quantification{Forall, 1}));
}

TEST(QdimacsReaderTest, FailedStreamIsNotOpen) {
  Formula f;
  std::ifstream missing("/nonexistent/dir/none.qdimacs");
  EXPECT_FALSE(f.readQdimacs(missing));
  EXPECT_EQ(f.error, "QBF File not open.");

  Formula g;
  std::istringstream in("p cnf 1 0\n");
  in.setstate(std::ios::failbit);
  EXPECT_FALSE(g.readQdimacs(in));
  EXPECT_EQ(g.error, "QBF File not open.");
}

TEST(QdimacsReaderTest, LongClausesDropRepeatsKeepingFirstOccurrences) {
  for (int n : {15, 16, 17, 18, 100, 5000}) {
    std::string text = "p cnf 1 1\n";
    std::vector<std::int64_t> expected;
    for (int round = 0; round < 3; ++round) {
      for (int v = 1; v <= n; ++v) {
        const std::int64_t lit = v % 3 == 0 ? -v : v;
        text += std::to_string(lit) + " ";
        if (round == 0) expected.push_back(lit);
        if (round == 1 && v % 7 == 0) {
          text += std::to_string(-lit) + " ";  // the complement is a new literal
          expected.push_back(-lit);
        }
      }
    }
    text += "0\n1 1 0\n";
    Formula f;
    std::istringstream in(text);
    ASSERT_TRUE(f.readQdimacs(in)) << n;
    EXPECT_EQ(clausesOf(f), (Clauses{expected, {1}})) << n;
  }
}

TEST(QdimacsReaderTest, MillionLiteralClauseIsFast) {
  std::string text = "p cnf 1000000 1\n";
  for (int v = 1000000; v >= 1; --v) text += std::to_string(v) + ' ';
  for (int v = 1; v <= 1000000; v += 2) text += std::to_string(v) + ' ';
  text += "0\n";
  [[maybe_unused]] const auto start = std::chrono::steady_clock::now();
  Formula f;
  std::istringstream in(text);
  ASSERT_TRUE(f.readQdimacs(in));
#if !defined(__SANITIZE_THREAD__)       // several times slower there
  EXPECT_LT(secondsSince(start), 3.0);  // well under a second in an optimised build
#endif
  ASSERT_EQ(f.clauses.size(), 1u);
  EXPECT_EQ(f.clauses[0].size(), 1000000u);
  EXPECT_EQ(f.prefix.size(), 1000000u);
  EXPECT_EQ(f.prefix.front().variable, 1000000u);
}

TEST(QdimacsReaderTest, ClauseCountIsOnlyAHint) {
  const auto path = std::filesystem::temp_directory_path() / "zefi_formula_hint.qdimacs";
  {
    std::ofstream out(path);
    out << "p cnf 2000000000 4000000000\n1 0\n";
  }
  const auto start = std::chrono::steady_clock::now();
  Formula fromFile;
  std::ifstream in(path);
  ASSERT_TRUE(fromFile.readQdimacs(in));
  EXPECT_EQ(fromFile.clauses.size(), 1u);
  EXPECT_LE(fromFile.clauses.clauseCapacity(), 64u);  // room by the file's size, not the count
  std::filesystem::remove(path);

  // A pipe cannot tell its size: the reservation stays modest.
  testing::TricklingBuffer pipe("p cnf 5 4294967295\n1 0\n", 1000);
  std::istream piped(&pipe);
  Formula fromPipe;
  ASSERT_TRUE(fromPipe.readQdimacs(piped));
  EXPECT_LE(fromPipe.clauses.clauseCapacity(), std::size_t{1} << 16);
  EXPECT_LT(secondsSince(start), 1.0);
}

TEST(QdimacsReaderTest, HugeCommentLineBeforeHeaderIsSkipped) {
  testing::GeneratedBuffer buffer("c ", 'x', std::size_t{100} << 20, "\np cnf 1 1\n1 0\n");
  std::istream in(&buffer);
  Formula f;
  ASSERT_TRUE(f.readQdimacs(in));
  EXPECT_EQ(clausesOf(f), (Clauses{{1}}));
}

TEST(QdimacsReaderTest, VeryLongTokens) {
  // A literal of a million leading zeros, split over every block boundary of a trickle.
  const std::string text =
      "p cnf 1 1\n-" + std::string(1000000, '0') + "1 0\n" + std::string(3000000, 'z') + " 1 0";
  testing::TricklingBuffer buffer(text, 4096, true);
  std::istream in(&buffer);
  Formula f;
  ASSERT_TRUE(f.readQdimacs(in));
  EXPECT_EQ(clausesOf(f), (Clauses{{-1}, {}, {1}}));
}

// Clause tokens of every form, read from one large block (where short numbers take a quick
// way) and byte by byte (where every token takes the general one): the same formula, the
// same verdict. The tokens stand at every distance from the end of the input.
TEST(QdimacsReaderTest, ShortNumbersReadLikeEveryOtherToken) {
  std::vector<std::string> tokens = {"1",          "-1",         "7",
                                     "-0",         "0000000003", "-000000004",
                                     "123456789",  "-123456789", "1234567890",
                                     "-999999999", "2147483647", "-2147483647",
                                     "+5",         "5x",         "-",
                                     "--5",        "5-",         "x",
                                     "12e3",       "000000000",  "-00000000000000000012",
                                     "42",         "-42"};
  const std::vector<std::string> separators = {" ", "\t", "\r\n", "\n", "\v", "\f", "  \t "};
  std::mt19937 random(5);
  // Numbers of every length from one to ten digits, with and without a sign, and with a
  // non-digit right after them.
  for (int length = 1; length <= 10; ++length) {
    for (int k = 0; k < 6; ++k) {
      // Ten digits from 1 on stay below the largest variable, 2147483647.
      std::string number(1, length == 10 ? '1' : static_cast<char>('1' + random() % 9));
      while (static_cast<int>(number.size()) < length)
        number += static_cast<char>('0' + random() % 10);
      tokens.push_back(number);
      tokens.push_back("-" + number);
      tokens.push_back(number + (k % 2 ? "a" : "-"));
    }
  }
  std::string text = "p cnf 5 0\ne 1 2 0\n";
  for (int i = 0; i < 20000; ++i) {
    text += tokens[random() % tokens.size()];
    text += separators[random() % separators.size()];
    if (random() % 4 == 0) text += "0 ";
  }
  for (const std::string& last : tokens) {
    for (const std::size_t padding : {0, 1, 5, 10, 11, 12, 13, 20}) {
      const std::string input = text + std::string(padding, ' ') + last + " 0\n";
      SCOPED_TRACE("last token " + last + " after " + std::to_string(padding) + " blanks");
      Formula quick;
      Formula general;
      bool quickOk = false;
      bool generalOk = false;
      readThrough(Feed::String, input, quick, quickOk);
      readThrough(Feed::OneByte, input, general, generalOk);
      ASSERT_TRUE(quickOk) << quick.error;
      ASSERT_TRUE(generalOk) << general.error;
      EXPECT_EQ(quick.maxVar, general.maxVar);
      EXPECT_EQ(prefixText(quick), prefixText(general));
      ASSERT_EQ(clausesOf(quick), clausesOf(general));
    }
  }
  // A number that does not fit a literal is refused on either way.
  for (const char* bad : {"2147483648", "-2147483648", "4294967296", "99999999999"}) {
    for (const Feed feed : {Feed::String, Feed::OneByte}) {
      Formula f;
      bool ok = true;
      readThrough(feed, text + bad + " 1 2 3 4 5 6 7 8 9 0\n", f, ok);
      EXPECT_FALSE(ok) << bad;
      EXPECT_EQ(f.error, kClause) << bad;
    }
  }
}

TEST(QdimacsReaderTest, StreamEndsAtEndOfInput) {
  Formula f;
  std::istringstream in("p cnf 1 1\n1 0\n");
  ASSERT_TRUE(f.readQdimacs(in));
  EXPECT_TRUE(in.eof());
}

// Every real instance must be accepted; the counts are cross-checked against a naive count
// of terminating zeros.
TEST(QdimacsReaderTest, CorpusFilesReadWithoutError) {
  const std::filesystem::path dir = std::filesystem::path(ZEFI_CORPUS_DIR) / "qdimacs";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto& path = entry.path();
    std::string text;
    if (path.extension() == ".qdimacs") {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream all;
      all << in.rdbuf();
      text = all.str();
    } else if (path.extension() == ".gz") {
      const std::string command = "gunzip -c '" + path.string() + "'";
      FILE* pipe = popen(command.c_str(), "r");
      if (pipe == nullptr) continue;
      char chunk[4096];
      std::size_t got;
      while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
      if (pclose(pipe) != 0) continue;  // no gunzip here: nothing to check
    } else {
      continue;
    }
    SCOPED_TRACE(path.filename().string());
    Formula f;
    std::ifstream in(path);
    std::istringstream fromText(text);
    ASSERT_TRUE(f.readQdimacs(fromText)) << f.error;
    if (path.extension() == ".qdimacs") {
      Formula g;
      ASSERT_TRUE(g.readQdimacs(in)) << g.error;
      EXPECT_EQ(g.clauses, f.clauses);
      EXPECT_EQ(g.prefix, f.prefix);
    }
    // Clause lines of the corpus never hold a literal twice, so the literal count is the
    // number of non-zero numeric tokens after the header and prefix.
    EXPECT_GE(f.maxVar, 0u);
    for (auto clause : f.clauses) {
      for (Literal l : clause) {
        ASSERT_LE(variableOf(l), f.maxVar);
        ASSERT_NE(f.quantifierOf.find(variableOf(l)), nullptr);
      }
    }
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace ZEFI
