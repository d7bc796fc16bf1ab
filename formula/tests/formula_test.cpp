// The Formula operations the negation pipeline never calls, on prefixes read from QDIMACS
// text; clauses are written as their signed literals, "1 -2".
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "formula/formula.hpp"
#include "formula/qdimacs_input.hpp"
#include "formula/qdimacs_writer.hpp"

namespace ZEFI {
namespace {

std::vector<Literal> literalsOf(const std::string& text) {
  std::vector<Literal> literals;
  std::istringstream in(text);
  for (long v; in >> v;)
    literals.push_back(makeLiteral(static_cast<std::uint32_t>(v < 0 ? -v : v), v < 0));
  return literals;
}

std::string textOf(std::span<const Literal> literals) {
  std::string text;
  for (const Literal l : literals) text += (text.empty() ? "" : " ") + literalToString(l);
  return text;
}

Formula formulaOf(const char* qdimacs) {
  Formula formula;
  std::istringstream in(qdimacs);
  EXPECT_TRUE(formula.readQdimacs(in)) << formula.error;
  return formula;
}

// Short clauses are scanned, long ones (over 16 literals) hashed: both must agree.
TEST(Clause, TautologyAndMembershipShortAndLong) {
  std::string longClause;
  for (int v = 1; v <= 20; ++v) longClause += std::to_string(v) + " ";
  const struct {
    std::string clause;
    bool tautology;
  } cases[] = {{"", false},
               {"1", false},
               {"1 -1", true},
               {"-2 3 2", true},
               {"1 2 3 -4", false},
               {longClause, false},
               {longClause + "-20", true},
               {"-7 " + longClause, true}};
  for (const auto& c : cases) {
    const Clause clause(std::span<const Literal>(literalsOf(c.clause)));
    EXPECT_EQ(isTautology(clause), c.tautology) << c.clause;
    for (const Literal l : clause) EXPECT_TRUE(clauseContains(clause, l)) << c.clause;
    EXPECT_FALSE(clauseContains(clause, makeLiteral(99, false))) << c.clause;
  }
}

// Innermost universals go, one after the other, until an existential, a free variable or an
// outer universal stops them; a tie in position goes to the literal met first.
TEST(Formula, ReduceUniversalDropsTrailingUniversals) {
  const struct {
    const char* prefix;
    const char* clause;
    const char* reduced;
  } cases[] = {
      {"p cnf 2 0\ne 1 0\na 2 0\n", "1 2", "1"},
      {"p cnf 2 0\na 2 0\ne 1 0\n", "1 2", "1 2"},
      {"p cnf 2 0\ne 1 0\na 2 0\n", "2", ""},
      {"p cnf 2 0\ne 1 0\na 2 0\n", "-2 1 2", "1"},
      {"p cnf 5 0\na 1 0\ne 2 0\na 3 0\na 4 0\na 5 0\n", "5 1 3 2 4", "1 2"},
      {"p cnf 3 1\ne 1 0\na 2 0\n3 0\n", "3 2 1", "3 1"},
      {"p cnf 3 1\n3 0\n", "3 7", "3 7"},
      {"p cnf 2 0\ne 1 0\ne 2 0\na 1 0\n", "2 1", "2 1"},
      {"p cnf 2 0\ne 1 0\ne 2 0\na 1 0\n", "1 2", "2"},
  };
  for (const auto& c : cases) {
    Clause clause(std::span<const Literal>(literalsOf(c.clause)));
    formulaOf(c.prefix).reduceUniversal(clause);
    EXPECT_EQ(textOf(clause.literals()), c.reduced) << c.prefix << "clause " << c.clause;
  }
  // A variable without a prefix position is free, whatever its quantifier says: it stops.
  Formula formula = formulaOf("p cnf 2 0\na 1 0\n");
  formula.quantifierOf[2] = Quantification{Forall, 2};
  Clause clause(std::span<const Literal>(literalsOf("1 2")));
  formula.reduceUniversal(clause);
  EXPECT_EQ(textOf(clause.literals()), "2");
}

// The resolvent keeps the first clause's order, drops repeats, is reduced and appended;
// clauses that do not clash on the variable change nothing.
TEST(Formula, ResolveAppendsTheReducedResolvent) {
  const struct {
    const char* formula;
    std::size_t first, second;
    std::uint32_t variable;
    const char* resolvent;  // null: none
  } cases[] = {
      {"p cnf 3 2\ne 1 2 3 0\n1 2 0\n-1 3 0\n", 0, 1, 1, "2 3"},
      {"p cnf 4 2\ne 1 2 0\na 3 0\ne 4 0\n3 -1 2 0\n2 4 1 -3 0\n", 0, 1, 1, "3 2 4 -3"},
      {"p cnf 3 2\ne 1 2 0\na 3 0\n3 -1 0\n2 1 0\n", 1, 0, 1, "2"},
      {"p cnf 3 2\ne 1 2 3 0\n1 2 0\n-1 3 0\n", 0, 1, 2, nullptr},
      {"p cnf 3 2\ne 1 2 3 0\n1 2 0\n-1 3 0\n", 0, 0, 1, nullptr},
      {"p cnf 3 2\ne 1 2 3 0\n1 2 0\n-1 3 0\n", 0, 2, 1, nullptr},
  };
  for (const auto& c : cases) {
    Formula formula = formulaOf(c.formula);
    EXPECT_EQ(formula.resolve(c.first, c.second, c.variable), c.resolvent != nullptr) << c.formula;
    ASSERT_EQ(formula.clauses.size(), c.resolvent ? 3u : 2u) << c.formula;
    if (c.resolvent) {
      EXPECT_EQ(textOf(formula.clauses[2]), c.resolvent) << c.formula;
    }
  }
}

// Each clause becomes its cube and back, in order, literals complemented, a repeat that the
// complement makes kept once, also for a clause long enough to be deduplicated by hashing;
// a formula may take its own matrix as the cubes.
TEST(Formula, ComplementedClausesAndBack) {
  std::string longClause, longCube;
  for (int v = 1; v <= 50; ++v) {
    longClause += std::to_string(v % 2 ? v : -v) + " ";
    longCube += std::to_string(v % 2 ? -v : v) + (v < 50 ? " " : "");
  }
  Formula formula;
  for (const std::string& clause :
       {std::string("1 -2"), std::string(), longClause + "1", std::string("3 3 -3")}) {
    formula.appendClause(std::span<const Literal>(literalsOf(clause)));
  }
  CubeArray cubes;
  cubes.append({makeLiteral(5, false)});  // replaced, not appended to
  EXPECT_TRUE(formula.complementedClauses(cubes));
  const std::vector<std::string> expected = {"-1 2", "", longCube, "-3 3"};
  ASSERT_EQ(cubes.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(textOf(cubes[i]), expected[i]);
  EXPECT_TRUE(formula.setComplementedClauses(formula.clauses));
  EXPECT_TRUE(formula.clauses == cubes);
  EXPECT_TRUE(formula.setComplementedClauses(cubes));
  EXPECT_EQ(textOf(formula.clauses[0]), "1 -2");
  EXPECT_EQ(textOf(formula.clauses[3]), "3 -3");
}

// The text forms: literals apart by ", ", an empty clause as its brackets alone.
TEST(Formula, ClausesAsText) {
  Formula formula;
  for (const char* clause : {"1 -2 3", "", "-40"})
    formula.appendClause(std::span<const Literal>(literalsOf(clause)));
  std::ostringstream round, square;
  printClauses(formula.clauses, round);
  printClausesBracketed(formula.clauses, square);
  EXPECT_EQ(round.str(), "[3](1, -2, 3)()(-40)");
  EXPECT_EQ(square.str(), "[3][1, -2, 3][][-40]");
}

// An array consumed front to back hands back the memory under the clauses before a point;
// the clauses from that point on read as they were, also where the point falls inside a
// page or right after one (arrays large enough to be mappings of their own).
TEST(ClauseArray, ClausesAfterTheDiscardedOnesStayIntact) {
  constexpr std::size_t kClauses = 400000;  // 4.8 MB of literals, 3.2 MB of clause ends
  const auto literal = [](std::size_t clause, std::size_t k) {
    return makeLiteral(static_cast<std::uint32_t>(1 + (clause * 3 + k) % 1000), clause % 2 != 0);
  };
  for (const std::size_t point : {std::size_t{1}, std::size_t{512}, std::size_t{65536},
                                  std::size_t{65537}, std::size_t{300001}, kClauses}) {
    ClauseArray array;
    for (std::size_t clause = 0; clause < kClauses; ++clause) {
      for (std::size_t k = 0; k < 1 + clause % 3; ++k) array.pushLiteral(literal(clause, k));
      array.closeClause();
    }
    array.discardBefore(point);
    ASSERT_EQ(array.size(), kClauses);
    for (std::size_t clause = point; clause < kClauses; ++clause) {
      const std::span<const Literal> read = array[clause];
      ASSERT_EQ(read.size(), 1 + clause % 3) << point << " " << clause;
      for (std::size_t k = 0; k < read.size(); ++k)
        ASSERT_EQ(read[k], literal(clause, k)) << point << " " << clause;
    }
  }
}

// A library's own input, handing out a byte at a time and telling its size: tokens cut at
// every byte read as whole ones, and the formula is the one a stream gives, whose state
// tells whether the reader ran into the end of the text.
TEST(Formula, ReadFromAnInputOfItsOwn) {
  struct Bytes final : QdimacsInput {
    std::string text;
    std::size_t at = 0;
    std::size_t read(char* destination, std::size_t) override {
      if (at == text.size()) return 0;
      *destination = text[at++];
      return 1;
    }
    std::int64_t sizeLeft() const override { return static_cast<std::int64_t>(text.size() - at); }
  };
  const char* const text = "c x\np cnf 40 3\na 12 0\ne 3 0\n-12 3 12345 -3 3 0\n40 0\n7 0\n";
  Bytes bytes;
  bytes.text = text;
  Formula byByte;
  ASSERT_TRUE(byByte.readQdimacs(bytes)) << byByte.error;
  Formula byStream;
  std::istringstream in(text);
  ASSERT_TRUE(byStream.readQdimacs(in)) << byStream.error;
  EXPECT_TRUE(in.eof());
  for (const Formula* formula : {&byByte, &byStream}) {
    ASSERT_EQ(formula->clauses.size(), 3u);
    EXPECT_EQ(textOf(formula->clauses[0]), "-12 3 12345 -3");
    EXPECT_EQ(formula->maxVar, 12345u);
    EXPECT_EQ(formula->prefix.size(), 5u);  // 12, 3, then the free 12345, 40 and 7
    const std::uint32_t* position = formula->positionOf.find(40);  // free: position 0
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(*position, 0u);
  }
  std::istringstream early("q cnf 1 1\n1 0\n");
  Formula stopped;
  EXPECT_FALSE(stopped.readQdimacs(early));
  EXPECT_FALSE(early.eof());
}

}  // namespace
}  // namespace ZEFI
