// The QDIMACS grammar: comment lines, the problem line, the quantifier lines and the clauses,
// read into a Formula from the tokens of qdimacs_scanner.hpp, with the messages of each way
// the text can be wrong.
#include <algorithm>
#include <cstdint>
#include <istream>
#include <new>
#include <stdexcept>
#include <streambuf>

#include "formula/formula.hpp"
#include "formula/qdimacs_input.hpp"
#include "formula/qdimacs_scanner.hpp"

namespace ZEFI {

namespace {

using qdimacs::Keyword;
using qdimacs::OpenClause;
using qdimacs::Scanner;
using qdimacs::Token;

// The variable count becomes maxVar, which the writer prints back as the count: accept
// every count a literal can hold so that whatever is read can be written and read again.
// Callers that number fresh variables above maxVar check their own room.
constexpr std::uint32_t kMaxVariableCount = maxVariableIndex;
// Clause room reserved on the header's word when the input's size cannot be learnt.
constexpr std::uint64_t kBlindReserve = std::uint64_t{1} << 16;

// Unsigned conversion: the digits must fit 32 bits; a minus sign negates modulo 2^32.
std::uint32_t unsignedValue(const Token& token) {
  const auto value = static_cast<std::uint32_t>(token.value);
  return token.negative ? 0u - value : value;
}

// One read of a formula: the formula is filled as the text goes, the prefix first.
struct Reader {
  Formula& formula;
  Scanner scanner;
  Token token;

  bool fail(const char* message) {
    formula.error = message;
    return false;
  }

  // Room for the clauses of the bytes left: address space only, whose pages come as they are
  // filled, so that the arrays are not copied again and again as they grow. Every clause
  // takes at least two bytes ("0" and a separator), so there cannot be more than half the
  // bytes, whatever the header announces; literals are reckoned at four bytes each (the
  // array grows where they are shorter). Of unknown size, the header's word is taken up to
  // a bound.
  void reserve(std::uint64_t announced, std::int64_t totalBytes) {
    std::uint64_t clauseRoom = std::min(announced, kBlindReserve);
    std::uint64_t literalRoom = 0;
    if (totalBytes >= 0) {
      const auto total = static_cast<std::uint64_t>(totalBytes);
      const std::uint64_t bytes = total > scanner.consumed() ? total - scanner.consumed() : 0;
      clauseRoom = std::min(announced, bytes / 2 + 1);
      literalRoom = bytes / 4 + 1;
    }
    try {
      formula.clauses.reserve(static_cast<std::size_t>(clauseRoom),
                              static_cast<std::size_t>(literalRoom));
    } catch (const std::bad_alloc&) {
      // A hint only: the arrays grow as clauses arrive.
    } catch (const std::length_error&) {
    }
  }

  bool read(std::int64_t totalBytes) {
    scanner.next(token);
    while (token.keyword == Keyword::C) {
      scanner.skipLine();
      scanner.next(token);
    }
    if (token.keyword != Keyword::P) return fail("QBF File does not start with a p line.");
    scanner.next(token);
    if (token.keyword != Keyword::Cnf) return fail("QBF File does not have a cnf argument.");

    scanner.next(token);
    if (token.overflow) return fail("QBF File: Number of variables is bogus.");
    const std::uint32_t variableCount = unsignedValue(token);
    if (variableCount > kMaxVariableCount) return fail("QBF File: Number of variables is bogus.");
    formula.maxVar = variableCount;

    scanner.next(token);
    if (token.overflow) return fail("QBF File: Number of clauses is bogus.");
    reserve(unsignedValue(token), totalBytes);

    scanner.next(token);
    while (token.keyword == Keyword::E || token.keyword == Keyword::A) {
      const QuantifierKind kind = token.keyword == Keyword::E ? Exists : Forall;
      for (;;) {
        std::uint32_t variable;
        bool negative;
        if (scanner.nextShortNumber(variable, negative)) {
          variable = negative ? 0u - variable : variable;  // as unsignedValue converts
        } else {
          scanner.next(token);
          // A line cut off by the end of the input has lost its terminating 0.
          if (!token.present || token.overflow) {
            return fail("QBF File: Invalid quantification sequence.");
          }
          variable = unsignedValue(token);
        }
        if (variable == 0) break;
        if (variable > maxVariableIndex) return fail("QBF File: Invalid quantification sequence.");
        formula.quantifierOf[variable] = Quantification{kind, variable};
        formula.prefix.push_back(Quantification{kind, variable});
        formula.positionOf[variable] = static_cast<std::uint32_t>(formula.quantifierOf.size());
        if (variable > formula.maxVar) formula.maxVar = variable;
      }
      scanner.next(token);
    }
    return readMatrix();
  }

  void lookUp(std::uint32_t variable) {
    if (formula.quantifierOf.contains(variable)) return;
    // A free variable: innermost, existential, ranked 0.
    formula.quantifierOf[variable] = Quantification{Exists, variable};
    formula.prefix.push_back(Quantification{Exists, variable});
    formula.positionOf[variable] = 0;
  }

  bool readMatrix() {
    OpenClause current(formula.clauses);
    std::uint32_t maxVar = formula.maxVar;
    bool bogus = false;
    // The clause section's first token has been read already.
    for (bool tokenRead = true;;) {
      std::uint32_t variable;
      bool negative;
      if (tokenRead || !scanner.nextShortNumber(variable, negative)) {
        if (!tokenRead) scanner.next(token);
        tokenRead = false;
        if (!token.present) break;
        // -2147483648 is a signed value, but its variable does not fit a literal.
        if (token.overflow || token.value > maxVariableIndex) {
          bogus = true;
          break;
        }
        variable = static_cast<std::uint32_t>(token.value);
        negative = token.negative;
      }
      if (variable == 0) {
        current.close();
        continue;
      }
      current.add(makeLiteral(variable, negative));
      if (variable > maxVar) maxVar = variable;
      lookUp(variable);
    }
    formula.maxVar = maxVar;
    if (bogus || !current.empty()) return fail("QBF File: Bogus clause.");
    return true;
  }
};

// A stream's buffer as input, of unknown size; it notes whether the reader met its end.
class StreamInput final : public QdimacsInput {
 public:
  explicit StreamInput(std::streambuf& source) : source_(source) {}
  std::size_t read(char* destination, std::size_t size) override {
    const std::streamsize got = source_.sgetn(destination, static_cast<std::streamsize>(size));
    ended = got <= 0;
    return ended ? 0 : static_cast<std::size_t>(got);
  }
  std::int64_t sizeLeft() const override { return -1; }

  bool ended = false;

 private:
  std::streambuf& source_;
};

}  // namespace

bool Formula::readQdimacs(std::istream& in) {
  std::streambuf* source = in.rdbuf();
  if (in.fail() || source == nullptr) {
    error = "QBF File not open.";
    return false;
  }
  StreamInput input(*source);
  const bool ok = readQdimacs(input);
  // Like formatted extraction, a read that ran into the end of the input leaves the stream
  // at its end.
  if (input.ended) {
    try {
      in.setstate(std::ios::eofbit | std::ios::failbit);
    } catch (const std::ios_base::failure&) {
      // The caller asked for exceptions on end of input; the answer above says it all.
    }
  }
  return ok;
}

bool Formula::readQdimacs(QdimacsInput& in) {
  Reader reader{*this, Scanner(in), Token()};
  return reader.read(in.sizeLeft());
}

}  // namespace ZEFI
