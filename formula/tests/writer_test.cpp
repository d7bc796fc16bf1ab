#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "formula/formula.hpp"
#include "test_streams.hpp"

namespace ZEFI {
namespace {

Literal lit(std::int64_t value) {
  return makeLiteral(static_cast<std::uint32_t>(value < 0 ? -value : value), value < 0);
}

std::vector<Literal> lits(std::initializer_list<std::int64_t> values) {
  std::vector<Literal> out;
  for (std::int64_t v : values) out.push_back(lit(v));
  return out;
}

std::string written(const Formula& f) {
  std::ostringstream out;
  f.writeQdimacs(out);
  return out.str();
}

TEST(QdimacsWriterTest, NormalFormExample) {
  Formula f;
  f.maxVar = 4;
  f.prefix = {{Forall, 1}, {Exists, 2}, {Exists, 4}};
  f.appendClause(lits({1, -2}));
  f.appendClause(lits({}));
  f.appendClause(lits({4}));
  EXPECT_EQ(written(f), "p cnf 4 3\na 1 0\ne 2 0\ne 4 0\n1 -2 0\n0\n4 0\n");
}

struct WriteCase {
  const char* name;
  std::uint32_t maxVar;
  std::vector<Quantification> prefix;
  std::vector<std::vector<Literal>> clauses;
  std::string text;
};

TEST(QdimacsWriterTest, TableOfFormulas) {
  const std::vector<WriteCase> cases = {
      {"empty", 5, {}, {}, "p cnf 5 0\n"},
      {"all zero", 0, {}, {}, "p cnf 0 0\n"},
      {"empty clause", 0, {}, {{}}, "p cnf 0 1\n0\n"},
      {"signs", 7, {}, {lits({-7, 7})}, "p cnf 7 1\n-7 7 0\n"},
      {"consecutive exists stay apart",
       3,
       {{Exists, 2}, {Exists, 3}},
       {},
       "p cnf 3 0\ne 2 0\ne 3 0\n"},
      {"twice quantified", 1, {{Exists, 1}, {Forall, 1}}, {}, "p cnf 1 0\ne 1 0\na 1 0\n"},
      {"kind none skipped",
       2,
       {{None, 1}, {static_cast<QuantifierKind>(7), 2}, {Forall, 2}},
       {},
       "p cnf 2 0\na 2 0\n"},
      {"extremes",
       4294967295u,
       {{Exists, 2147483647}},
       {{0xFFFFFFFFu, 2, 0, 1}},
       "p cnf 4294967295 1\ne 2147483647 0\n-2147483647 1 0 -0 0\n"},
      {"digit lengths",
       1000000000,
       {},
       {lits({9, 10, -99, 100, 999, -1000, 9999, 10000, 99999, 100000, 999999, 1000000, 9999999,
              10000000, 99999999, 100000000, 999999999, 1000000000})},
       "p cnf 1000000000 1\n9 10 -99 100 999 -1000 9999 10000 99999 100000 999999 1000000 "
       "9999999 10000000 99999999 100000000 999999999 1000000000 0\n"},
  };
  for (const WriteCase& tc : cases) {
    Formula f;
    f.maxVar = tc.maxVar;
    f.prefix = tc.prefix;
    for (const auto& c : tc.clauses) f.appendClause(c);
    EXPECT_EQ(written(f), tc.text) << tc.name;
  }
}

// The piecewise writer must give the same bytes as the whole-formula writer, across many
// buffer drains, and take a 64-bit clause count.
TEST(QdimacsWriterTest, PiecewiseWriterMatchesAndSpansBuffers) {
  std::mt19937 rng(99);
  Formula f;
  f.maxVar = 3000000;
  for (std::uint32_t v = 1; v <= 50000; ++v) f.prefix.push_back({v % 3 ? Exists : Forall, v});
  std::vector<Literal> clause;
  for (int i = 0; i < 200000; ++i) {
    clause.clear();
    const int size = static_cast<int>(rng() % 12);
    for (int k = 0; k < size; ++k) clause.push_back(rng() % 6000000 + 2);
    f.appendClause(clause);
  }
  // One clause longer than the whole buffer.
  clause.clear();
  for (std::uint32_t v = 1; v <= 400000; ++v) clause.push_back(makeLiteral(v + 1000000, v & 1));
  f.appendClause(clause);

  const std::string whole = written(f);
  EXPECT_GT(whole.size(), std::size_t{4} << 20);

  // A reference rendering with the standard library.
  std::ostringstream reference;
  reference << "p cnf " << f.maxVar << ' ' << f.clauses.size() << '\n';
  for (const auto& q : f.prefix)
    reference << (q.kind == Exists ? "e " : "a ") << q.variable << " 0\n";
  for (auto c : f.clauses) {
    for (Literal l : c) reference << (isNegated(l) ? "-" : "") << variableOf(l) << ' ';
    reference << "0\n";
  }
  EXPECT_TRUE(whole == reference.str());

  std::ostringstream piecewise;
  {
    QdimacsWriter writer(piecewise);
    writer.header(f.maxVar, f.clauses.size());
    for (const auto& q : f.prefix) writer.quantifier(q.kind, q.variable);
    for (auto c : f.clauses) writer.clause(c);
    EXPECT_TRUE(writer.finish());
  }
  EXPECT_TRUE(piecewise.str() == whole);

  std::ostringstream big;
  QdimacsWriter writer(big);
  writer.header(18446744073709551615ull, 4294967296ull);
  writer.quantifier(None, 3);
  writer.quantifier(Forall, 3);
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(big.str(), "p cnf 18446744073709551615 4294967296\na 3 0\n");
}

TEST(QdimacsWriterTest, DestructorHandsOverWhatIsBuffered) {
  std::ostringstream out;
  {
    QdimacsWriter writer(out);
    writer.header(1, 1);
    writer.clause(lits({-1}));
  }
  EXPECT_EQ(out.str(), "p cnf 1 1\n-1 0\n");
}

TEST(QdimacsWriterTest, FinishReportsStreamsThatDidNotTakeEverything) {
  testing::LimitedSink full(10);
  std::ostream out(&full);
  QdimacsWriter writer(out);
  writer.header(123, 456);
  writer.clause(lits({1, 2, 3}));
  EXPECT_FALSE(writer.finish());
  EXPECT_TRUE(out.bad());

  std::ofstream closed;  // never opened
  QdimacsWriter intoClosed(closed);
  intoClosed.header(1, 0);
  EXPECT_FALSE(intoClosed.finish());

  // writeQdimacs into a failed stream loses the text quietly.
  Formula f;
  f.maxVar = 2;
  std::ofstream nowhere("/nonexistent/dir/out.qdimacs");
  f.writeQdimacs(nowhere);
  EXPECT_TRUE(nowhere.fail());
}

// A clause given as formed digits is written exactly as the same clause given as literals,
// also across the end of the buffer and at the extremes of the variable range.
TEST(QdimacsWriterTest, ClauseOfFormedDigitsWritesTheSameBytesAsLiterals) {
  std::mt19937 random(7);
  std::ostringstream formed;
  std::ostringstream plain;
  {
    QdimacsWriter byDigits(formed);
    QdimacsWriter byLiterals(plain);
    for (int line = 0; line < 300000; ++line) {
      const unsigned count = random() % 4;
      Literal literals[3];
      QdimacsWriter::Digits digits[3];
      const QdimacsWriter::Digits* pointers[3];
      bool negated[3];
      for (unsigned i = 0; i < count; ++i) {
        const std::uint32_t choice = random() % 4;
        const std::uint32_t variable = choice == 0   ? 2147483647u
                                       : choice == 1 ? 1u + random() % 9
                                                     : 1u + random() % 2147483647u;
        literals[i] = makeLiteral(variable, random() % 2 == 1);
        digits[i] = QdimacsWriter::digitsOf(variable);
        pointers[i] = &digits[i];
        negated[i] = isNegated(literals[i]);
      }
      byDigits.clause(pointers, negated, count);
      byLiterals.clause(std::span<const Literal>(literals, count));
    }
    ASSERT_TRUE(byDigits.finish());
    ASSERT_TRUE(byLiterals.finish());
  }
  EXPECT_GT(plain.str().size(), std::size_t{2} << 20);  // several buffers' worth
  EXPECT_EQ(formed.str(), plain.str());
}

// Counting the digits up gives the lines that forming them anew gives, across every change
// of length and up to the largest value.
TEST(QdimacsWriterTest, QuantifierRangeWritesTheSameLinesAsOneByOne) {
  const struct {
    std::uint32_t first;
    std::uint32_t last;
  } ranges[] = {{1, 1},
                {5, 3},
                {1, 1200},
                {99990, 100010},
                {999999990, 1000000010},
                {4294967290u, 4294967295u},
                {0, 12}};
  for (const QuantifierKind kind : {Exists, Forall, None}) {
    for (const auto& range : ranges) {
      std::ostringstream counted;
      std::ostringstream formed;
      {
        QdimacsWriter byRange(counted);
        QdimacsWriter oneByOne(formed);
        byRange.quantifiers(kind, range.first, range.last);
        for (std::uint64_t v = range.first; v <= range.last; ++v) {
          oneByOne.quantifier(kind, static_cast<std::uint32_t>(v));
        }
        ASSERT_TRUE(byRange.finish());
        ASSERT_TRUE(oneByOne.finish());
      }
      EXPECT_EQ(counted.str(), formed.str()) << range.first << ".." << range.last;
    }
  }
}

TEST(TextRenderersTest, ExactForms) {
  EXPECT_EQ(clauseToString(lits({1, -2, 3})), "(1, -2, 3)");
  EXPECT_EQ(clauseToString(lits({})), "()");
  EXPECT_EQ(clauseToString(lits({-2147483647})), "(-2147483647)");
  EXPECT_EQ(clauseToBracketString(lits({1, -2, 3})), "[1, -2, 3]");
  EXPECT_EQ(clauseToBracketString(lits({})), "[]");
  EXPECT_EQ(literalToString(lit(-7)), "-7");
  EXPECT_EQ(literalToString(lit(7)), "7");

  ClauseArray clauses;
  clauses.append(lits({1, -2}));
  clauses.append(lits({3}));
  std::ostringstream parens, brackets, none;
  printClauses(clauses, parens);
  printClausesBracketed(clauses, brackets);
  printClauses(ClauseArray(), none);
  EXPECT_EQ(parens.str(), "[2](1, -2)(3)");
  EXPECT_EQ(brackets.str(), "[2][1, -2][3]");
  EXPECT_EQ(none.str(), "[0]");
}

// Random QDIMACS text, with repeated literals, free variables, repeated quantification and
// comments, read once; writing that formula and reading it back must give it unchanged,
// and writing again the same bytes.
TEST(QdimacsRoundTripTest, SeededRandomFormulas) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    const std::uint32_t vars = 1 + rng() % (seed < 30 ? 10 : 3000);
    std::ostringstream text;
    text << "c seed " << seed << "\np cnf " << vars / 2 << ' ' << rng() % 100 << '\n';
    const int lines = static_cast<int>(rng() % 6);
    for (int i = 0; i < lines; ++i) {
      text << (rng() % 2 ? "e" : "a");
      const int n = static_cast<int>(rng() % 5);
      for (int k = 0; k < n; ++k) text << ' ' << 1 + rng() % vars;
      text << " 0\n";
    }
    const int clauses = static_cast<int>(rng() % 200);
    for (int i = 0; i < clauses; ++i) {
      const int n = static_cast<int>(rng() % (rng() % 10 == 0 ? 60 : 6));
      for (int k = 0; k < n; ++k) {
        const std::uint32_t v = 1 + rng() % vars;
        text << (rng() % 2 ? "-" : "") << v << (rng() % 4 ? " " : "\n");
      }
      text << "0\n";
    }
    SCOPED_TRACE("seed " + std::to_string(seed));
    Formula first;
    std::istringstream in(text.str());
    ASSERT_TRUE(first.readQdimacs(in)) << first.error;

    const std::string once = written(first);
    Formula second;
    std::istringstream back(once);
    ASSERT_TRUE(second.readQdimacs(back)) << second.error;
    EXPECT_EQ(second.maxVar, first.maxVar);
    EXPECT_EQ(second.prefix, first.prefix);
    EXPECT_EQ(second.clauses, first.clauses);
    EXPECT_EQ(written(second), once);
    // The free variables of the first reading are quantified in the second.
    for (std::uint32_t v : first.quantifierOf.sortedKeys()) {
      ASSERT_NE(second.positionOf.find(v), nullptr);
      EXPECT_GT(*second.positionOf.find(v), 0u);
    }
  }
}

// Whatever the reader accepts, the writer's text must be accepted again: the largest
// variable a literal can hold ends up as the written variable count.
TEST(QdimacsRoundTripTest, LargestVariableReadsBack) {
  for (const char* text :
       {"p cnf 1 0\ne 2147483647 0\n", "p cnf 1 1\n-2147483647 0\n", "p cnf 2147483647 0\n"}) {
    Formula first;
    std::istringstream in(text);
    ASSERT_TRUE(first.readQdimacs(in)) << first.error;
    Formula second;
    std::istringstream back(written(first));
    ASSERT_TRUE(second.readQdimacs(back)) << text << ": " << second.error;
    EXPECT_EQ(second.maxVar, 2147483647u);
    EXPECT_EQ(second.prefix, first.prefix);
    EXPECT_EQ(second.clauses, first.clauses);
  }
}

// A sink that keeps every block it takes and hands out a fresh one, then spoils the block it
// took: a writer that went on using a block after handing it over would show in the text.
class SwappingSink final : public BlockSink {
 public:
  explicit SwappingSink(std::size_t blockSize) : blockSize_(blockSize) {}
  std::size_t blockSize() const override { return blockSize_; }
  char* exchange(char* full, std::size_t used) override {
    if (full != nullptr) {
      EXPECT_EQ(full, blocks_.back().data()) << "only the block handed out last comes back";
      EXPECT_LE(used, blockSize_);
      text.append(full, used);
      std::fill(blocks_.back().begin(), blocks_.back().end(), '#');
    }
    blocks_.emplace_back(blockSize_, '?');
    ++exchanges;
    return blocks_.back().data();
  }
  bool finish() override {
    ++finishes;
    return true;
  }

  std::string text;
  int exchanges = 0;
  int finishes = 0;

 private:
  std::size_t blockSize_;
  std::vector<std::vector<char>> blocks_;
};

// Every kind of line, through a stream and through a sink whose blocks are far smaller
// than a long clause: the same bytes.
TEST(QdimacsWriterTest, BlockSinkReceivesTheSameBytesAsAStream) {
  const auto writeAll = [](QdimacsWriter& writer) {
    writer.header(4294967295u, 12);
    writer.quantifier(Exists, 1);
    writer.quantifiers(Forall, 999990, 1000010);
    std::vector<Literal> longClause;
    for (std::uint32_t v = 1; v <= 20000; ++v)
      longClause.push_back(makeLiteral(v * 7919, v % 3 == 0));
    writer.clause(longClause);
    writer.clause(std::span<const Literal>());
    const QdimacsWriter::Digits gate = QdimacsWriter::digitsOf(2147483647u);
    const QdimacsWriter::Digits left = QdimacsWriter::digitsOf(5);
    const QdimacsWriter::Digits right = QdimacsWriter::digitsOf(1234567890u);
    const QdimacsWriter::Digits* operands[2] = {&left, &right};
    const bool negated[2] = {true, false};
    for (int i = 0; i < 500; ++i) writer.andDefinition(gate, operands, negated, 1 + i % 2);
    writer.clause(operands, negated, 2);
    return writer.finish();
  };
  std::ostringstream stream;
  {
    QdimacsWriter writer(stream);
    ASSERT_TRUE(writeAll(writer));
  }
  SwappingSink sink(256);
  {
    QdimacsWriter writer(sink);
    ASSERT_TRUE(writeAll(writer));
  }
  EXPECT_GT(sink.exchanges, 1000);
  EXPECT_EQ(sink.finishes, 1);
  EXPECT_TRUE(sink.text == stream.str());
}

// A failure that the sink reports at the end is the writer's answer.
TEST(QdimacsWriterTest, FinishReportsWhatTheBlockSinkReports) {
  class FailingSink final : public BlockSink {
   public:
    std::size_t blockSize() const override { return sizeof block_; }
    char* exchange(char*, std::size_t) override { return block_; }
    bool finish() override { return false; }

   private:
    char block_[4096];
  } sink;
  QdimacsWriter writer(sink);
  writer.header(1, 1);
  EXPECT_FALSE(writer.finish());
}

// The definition of a conjunction is the lines clause() writes for it, for one and two
// operands, both signs, and digit counts from one to ten, also across the end of a buffer.
TEST(QdimacsWriterTest, AndDefinitionWritesTheSameBytesAsItsClauses) {
  std::mt19937 random(11);
  const auto variable = [&random] {
    const std::uint32_t digits = 1 + random() % 10;
    std::uint32_t value = 1 + random() % 9;
    for (std::uint32_t i = 1; i < digits; ++i) value = value * 10 + random() % 10;
    return value > 2147483647u ? 2147483647u : value;
  };
  std::ostringstream defined;
  std::ostringstream plain;
  {
    QdimacsWriter byDefinition(defined);
    QdimacsWriter byClauses(plain);
    for (int gateIndex = 0; gateIndex < 100000; ++gateIndex) {
      const std::uint32_t g = variable();
      const unsigned count = 1 + random() % 2;
      std::uint32_t v[2];
      bool negated[2];
      QdimacsWriter::Digits digits[2];
      const QdimacsWriter::Digits* operands[2];
      for (unsigned i = 0; i < count; ++i) {
        v[i] = variable();
        negated[i] = random() % 2 == 1;
        digits[i] = QdimacsWriter::digitsOf(v[i]);
        operands[i] = &digits[i];
      }
      byDefinition.andDefinition(QdimacsWriter::digitsOf(g), operands, negated, count);
      std::vector<Literal> last = {makeLiteral(g, false)};
      for (unsigned i = 0; i < count; ++i) {
        const Literal operand = makeLiteral(v[i], negated[i]);
        const Literal line[2] = {makeLiteral(g, true), operand};
        byClauses.clause(line);
        last.push_back(complementOf(operand));
      }
      byClauses.clause(last);
    }
    ASSERT_TRUE(byDefinition.finish());
    ASSERT_TRUE(byClauses.finish());
  }
  EXPECT_GT(plain.str().size(), std::size_t{2} << 20);
  EXPECT_EQ(defined.str(), plain.str());
}

}  // namespace
}  // namespace ZEFI
