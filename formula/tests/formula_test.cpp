#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <vector>

#include "formula/formula.hpp"

namespace ZEFI {
namespace {

using Signed = std::vector<std::int64_t>;

Literal lit(std::int64_t value) {
  return makeLiteral(static_cast<std::uint32_t>(value < 0 ? -value : value), value < 0);
}

std::vector<Literal> lits(const Signed& values) {
  std::vector<Literal> out;
  for (std::int64_t v : values) out.push_back(lit(v));
  return out;
}

Signed signedOf(std::span<const Literal> clause) {
  Signed out;
  for (Literal l : clause) {
    const std::int64_t v = variableOf(l);
    out.push_back(isNegated(l) ? -v : v);
  }
  return out;
}

std::vector<Signed> signedOf(const ClauseArray& clauses) {
  std::vector<Signed> out;
  for (auto c : clauses) out.push_back(signedOf(c));
  return out;
}

Formula readText(const char* text) {
  Formula f;
  std::istringstream in(text);
  EXPECT_TRUE(f.readQdimacs(in)) << f.error;
  return f;
}

TEST(FormulaTest, ComplementedClauses) {
  Formula f;
  CubeArray cubes;
  cubes.append(lits({5}));  // replaced, not appended to
  EXPECT_TRUE(f.complementedClauses(cubes));
  EXPECT_TRUE(cubes.empty());

  f.appendClause(lits({1, -2}));
  f.appendClause(lits({}));
  EXPECT_TRUE(f.complementedClauses(cubes));
  EXPECT_EQ(signedOf(cubes), (std::vector<Signed>{{-1, 2}, {}}));

  Formula g;
  g.appendClause(lits({9}));
  EXPECT_TRUE(g.setComplementedClauses(cubes));
  EXPECT_EQ(signedOf(g.clauses), (std::vector<Signed>{{1, -2}, {}}));

  // Long clauses keep order through the hashed path; repeats in a hand-made array collapse.
  Signed longClause;
  for (int v = 1; v <= 50; ++v) longClause.push_back(v % 2 ? v : -v);
  Signed withRepeats = longClause;
  withRepeats.push_back(1);
  Formula h;
  h.appendClause(lits(withRepeats));
  h.appendClause(lits({3, 3, -3}));
  EXPECT_TRUE(h.complementedClauses(cubes));
  Signed expected;
  for (auto v : longClause) expected.push_back(-v);
  EXPECT_EQ(signedOf(cubes), (std::vector<Signed>{expected, {-3, 3}}));
  EXPECT_TRUE(h.setComplementedClauses(h.clauses));  // its own matrix as the cubes
  EXPECT_EQ(signedOf(h.clauses), (std::vector<Signed>{expected, {-3, 3}}));
}

// Complementing in place gives what complementedClauses gives, for random arrays with
// repeated literals, empty clauses, and clauses on both sides of the length where repeats
// are found by hashing instead of a scan.
TEST(FormulaTest, ComplementEachInPlaceEqualsComplementedClauses) {
  std::mt19937 random(3);
  for (int round = 0; round < 50; ++round) {
    Formula f;
    const int clauseCount = static_cast<int>(random() % 40);
    for (int c = 0; c < clauseCount; ++c) {
      const std::uint32_t length = random() % 4 == 0 ? 10 + random() % 30 : random() % 5;
      const std::uint32_t variables = 1 + random() % 20;
      Signed clause;
      for (std::uint32_t k = 0; k < length; ++k) {
        const auto v = static_cast<std::int64_t>(1 + random() % variables);
        clause.push_back(random() % 2 ? v : -v);
      }
      f.appendClause(lits(clause));
    }
    CubeArray expected;
    EXPECT_TRUE(f.complementedClauses(expected));
    std::vector<Signed> reference;  // complement, keep first occurrences
    for (auto clause : f.clauses) {
      Signed cube;
      for (const std::int64_t v : signedOf(clause)) {
        if (std::find(cube.begin(), cube.end(), -v) == cube.end()) cube.push_back(-v);
      }
      reference.push_back(cube);
    }
    ASSERT_EQ(signedOf(expected), reference);
    ClauseArray inPlace = f.clauses;
    inPlace.complementEach();
    EXPECT_EQ(signedOf(inPlace), reference);
    EXPECT_EQ(inPlace.literalCount(), expected.literalCount());
    inPlace.append(lits({4, -4}));  // still a well-formed array to append to
    EXPECT_EQ(signedOf(inPlace[inPlace.size() - 1]), (Signed{4, -4}));
  }
}

struct ReduceCase {
  const char* name;
  const char* qdimacs;  // prefix source; the matrix is ignored
  Signed clause;
  Signed reduced;
};

TEST(FormulaTest, ReduceUniversal) {
  const std::vector<ReduceCase> cases = {
      {"inner universal goes", "p cnf 2 0\ne 1 0\na 2 0\n", {1, 2}, {1}},
      {"outer universal stays", "p cnf 2 0\na 2 0\ne 1 0\n", {1, 2}, {1, 2}},
      {"universal alone empties", "p cnf 2 0\ne 1 0\na 2 0\n", {2}, {}},
      {"both polarities go", "p cnf 2 0\ne 1 0\na 2 0\n", {-2, 1, 2}, {1}},
      {"chain of universals",
       "p cnf 5 0\na 1 0\ne 2 0\na 3 0\na 4 0\na 5 0\n",
       {5, 1, 3, 2, 4},
       {1, 2}},
      {"free variables block nothing", "p cnf 3 1\ne 1 0\na 2 0\n3 0\n", {3, 2, 1}, {3, 1}},
      {"only free and unknown", "p cnf 3 1\n3 0\n", {3, 7}, {3, 7}},
      {"empty clause", "p cnf 1 0\na 1 0\n", {}, {}},
      // Variables 1 and 2 share position 2 after 1 is quantified again: the tie goes to the
      // literal met first, so the existential 2 stops the reduction before 1.
      {"tie to the earlier literal", "p cnf 2 0\ne 1 0\ne 2 0\na 1 0\n", {2, 1}, {2, 1}},
      {"tie, universal first", "p cnf 2 0\ne 1 0\ne 2 0\na 1 0\n", {1, 2}, {2}},
  };
  for (const ReduceCase& tc : cases) {
    const Formula f = readText(tc.qdimacs);
    Clause c(std::span<const Literal>(lits(tc.clause)));
    f.reduceUniversal(c);
    EXPECT_EQ(signedOf(c.literals()), tc.reduced) << tc.name;
  }
}

TEST(FormulaTest, ReduceUniversalLongClause) {
  std::string text = "p cnf 200 0\n";
  for (int v = 1; v <= 200; ++v) text += (v <= 100 ? "e " : "a ") + std::to_string(v) + " 0\n";
  const Formula f = readText(text.c_str());
  Signed clause, reduced;
  for (int v = 200; v >= 1; --v) {
    clause.push_back(v % 2 ? v : -v);
    if (v <= 100) reduced.push_back(v % 2 ? v : -v);
  }
  Clause c(std::span<const Literal>(lits(clause)));
  f.reduceUniversal(c);
  EXPECT_EQ(signedOf(c.literals()), reduced);
}

TEST(FormulaTest, Resolve) {
  Formula f = readText("p cnf 3 2\ne 1 2 3 0\n1 2 0\n-1 3 0\n");
  EXPECT_TRUE(f.resolve(0, 1, 1));
  EXPECT_EQ(signedOf(f.clauses), (std::vector<Signed>{{1, 2}, {-1, 3}, {2, 3}}));

  // No clash: nothing changes, the last clause included.
  EXPECT_FALSE(f.resolve(0, 1, 2));
  EXPECT_FALSE(f.resolve(0, 0, 1));  // same polarity
  EXPECT_FALSE(f.resolve(0, 1, 9));  // absent from both
  EXPECT_FALSE(f.resolve(0, 3, 1));  // index out of range
  EXPECT_FALSE(f.resolve(7, 0, 1));
  EXPECT_EQ(f.clauses.size(), 3u);
  EXPECT_EQ(signedOf(f.clauses[2]), (Signed{2, 3}));

  // The resolvent keeps the first clause's order, drops repeats, and is reduced.
  Formula g = readText("p cnf 4 2\ne 1 2 0\na 3 0\ne 4 0\n3 -1 2 0\n2 4 1 -3 0\n");
  EXPECT_TRUE(g.resolve(0, 1, 1));
  EXPECT_EQ(signedOf(g.clauses[2]), (Signed{3, 2, 4, -3}));
  Formula h = readText("p cnf 3 2\ne 1 2 0\na 3 0\n3 -1 0\n2 1 0\n");
  EXPECT_TRUE(h.resolve(1, 0, 1));
  EXPECT_EQ(signedOf(h.clauses[2]), (Signed{2}));
}

TEST(FormulaTest, ReserveClausesIsOnlyAHint) {
  Formula f;
  f.reserveClauses(4000000000ull);
  f.reserveClauses(~std::uint64_t{0});
  EXPECT_LE(f.clauses.clauseCapacity(), std::size_t{1} << 22);
  EXPECT_TRUE(f.clauses.empty());
}

}  // namespace
}  // namespace ZEFI
