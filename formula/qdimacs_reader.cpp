#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <stdexcept>
#include <streambuf>

#include "formula/formula.hpp"
#include "formula/literal_set.hpp"
#include "formula/qdimacs_input.hpp"

namespace ZEFI {

namespace {

// Input is pulled in blocks of this size.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
// Largest value of the digits of a number, 2^32 - 1; more is a range error.
constexpr std::uint64_t kUnsignedMax = 4294967295u;
// The variable count becomes maxVar, which the writer prints back as the count: accept
// every count a literal can hold so that whatever is read can be written and read again.
// Callers that number fresh variables above maxVar check their own room.
constexpr std::uint32_t kMaxVariableCount = maxVariableIndex;
// Clause room reserved on the header's word when the input's size cannot be learnt.
constexpr std::uint64_t kBlindReserve = std::uint64_t{1} << 16;
// Clauses up to this length are checked for repeats by a scan; longer ones by hashing.
constexpr std::size_t kScanLimit = 16;

constexpr std::array<bool, 256> makeSpaceTable() {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[c] = true;
  return table;
}
constexpr std::array<bool, 256> kSpace = makeSpaceTable();

enum class Keyword : std::uint8_t { Other, C, P, Cnf, E, A };

// The value of eight characters, read as a little-endian word, that are digits or zero
// bytes (leading zero bytes count as zeros): three multiplications instead of eight steps.
constexpr std::uint32_t eightDigits(std::uint64_t chunk) {
  chunk = ((chunk & 0x0F0F0F0F0F0F0F0Fu) * 2561) >> 8;
  chunk = ((chunk & 0x00FF00FF00FF00FFu) * 6553601) >> 16;
  return static_cast<std::uint32_t>(((chunk & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32);
}
static_assert(eightDigits(0x3837363534333231u) == 12345678u);  // "12345678"
static_assert(eightDigits(0x3031000000000000u) == 10u);        // six zero bytes, then "10"

// One whitespace-delimited token, with what the reader needs of it: which keyword it is
// (compared as a whole token), and its number as the C library converts it: an optional
// sign, the longest run of digits after it, the rest ignored; no digits give 0.
struct Token {
  bool present = false;  // false when the read ran past the end of the input
  Keyword keyword = Keyword::Other;
  bool negative = false;    // a leading minus sign
  bool overflow = false;    // the digits exceed 2^32 - 1
  std::uint64_t value = 0;  // the digits' value, meaningful without overflow
};

class Scanner {
 public:
  explicit Scanner(QdimacsInput& source) : source_(source), buffer_(new char[kBlockSize]) {}

  bool hitEnd() const { return eof_; }
  std::uint64_t consumed() const {
    return consumedBefore_ + static_cast<std::uint64_t>(cur_ - begin_);
  }

  // Reads the next token; a token may continue across any number of blocks.
  void next(Token& token) {
    token = Token();
    const char* cur = cur_;
    const char* end = end_;
    for (;;) {
      while (cur != end && kSpace[static_cast<unsigned char>(*cur)]) ++cur;
      if (cur != end) break;
      cur_ = cur;
      if (!refill()) return;
      cur = cur_;
      end = end_;
    }
    token.present = true;
    std::size_t length = 0;
    char head[3] = {0, 0, 0};
    // 0: at the start, 1: after a sign, 2: inside the digits, 3: the number has ended.
    unsigned phase = 0;
    std::uint64_t value = 0;
    bool overflow = false;
    for (;;) {
      while (cur != end) {
        const unsigned char c = static_cast<unsigned char>(*cur);
        if (kSpace[c]) goto done;
        if (length < 3) head[length] = static_cast<char>(c);
        ++length;
        ++cur;
        if (phase == 3) continue;
        const unsigned digit = static_cast<unsigned>(c) - '0';
        if (digit < 10) {
          phase = 2;
          if (!overflow) {
            value = value * 10 + digit;
            if (value > kUnsignedMax) overflow = true;
          }
        } else if (phase == 0 && (c == '+' || c == '-')) {
          phase = 1;
          token.negative = c == '-';
        } else {
          phase = 3;
        }
      }
      cur_ = cur;
      const bool more = refill();
      cur = cur_;
      end = end_;
      if (!more) break;
    }
  done:
    cur_ = cur;
    token.value = value;
    token.overflow = overflow;
    if (length == 1) {
      switch (head[0]) {
        case 'c':
          token.keyword = Keyword::C;
          break;
        case 'p':
          token.keyword = Keyword::P;
          break;
        case 'e':
          token.keyword = Keyword::E;
          break;
        case 'a':
          token.keyword = Keyword::A;
          break;
        default:
          break;
      }
    } else if (length == 3 && head[0] == 'c' && head[1] == 'n' && head[2] == 'f') {
      token.keyword = Keyword::Cnf;
    }
  }

  // The usual token of a clause, an optional minus sign and one to nine digits followed by
  // white space, read in one go; true with its value and sign. Anything else, and a token
  // too near the end of the block, is left unread (only white space before it is skipped)
  // for next(), which reads it the same way.
  bool nextShortNumber(std::uint32_t& value, bool& negative) {
    const char* cur = cur_;
    const char* const end = end_;
    while (cur != end && kSpace[static_cast<unsigned char>(*cur)]) ++cur;
    cur_ = cur;
    // A sign, nine digits and the next byte lie within the block.
    constexpr std::ptrdiff_t kLongest = 11;
    if (end - cur <= kLongest) return false;
    const bool minus = *cur == '-';
    cur += minus ? 1 : 0;
    const char* const digits = cur;
    std::uint32_t number = 0;
    // The next eight bytes at once: where the digits end, and their value.
    std::uint64_t chunk;
    std::memcpy(&chunk, cur, sizeof chunk);
    const std::uint64_t offset = chunk - 0x3030303030303030u;
    const std::uint64_t nonDigits = ((offset + 0x7676767676767676u) | offset) & 0x8080808080808080u;
    if (nonDigits != 0) {
      const auto length = static_cast<unsigned>(std::countr_zero(nonDigits)) / 8;
      if (length == 0) return false;
      number = eightDigits(chunk << (8 * (8 - length)));
      cur += length;
    } else {
      for (unsigned digit; (digit = static_cast<unsigned char>(*cur) - unsigned{'0'}) < 10; ++cur) {
        if (cur - digits == 9) return false;
        number = number * 10 + digit;
      }
    }
    if (!kSpace[static_cast<unsigned char>(*cur)]) return false;
    cur_ = cur;
    value = number;
    negative = minus;
    return true;
  }

  // Skips everything up to and including the next newline (or to the end of the input),
  // a block at a time: a comment line of any length costs no memory.
  void skipLine() {
    for (;;) {
      const void* newline = std::memchr(cur_, '\n', static_cast<std::size_t>(end_ - cur_));
      if (newline != nullptr) {
        cur_ = static_cast<const char*>(newline) + 1;
        return;
      }
      cur_ = end_;
      if (!refill()) return;
    }
  }

 private:
  bool refill() {
    if (eof_) return false;
    consumedBefore_ += static_cast<std::uint64_t>(end_ - begin_);
    const std::size_t got = source_.read(buffer_.get(), kBlockSize);
    begin_ = cur_ = buffer_.get();
    end_ = begin_ + got;
    if (got == 0) eof_ = true;
    return got > 0;
  }

  QdimacsInput& source_;
  std::unique_ptr<char[]> buffer_;
  const char* begin_ = nullptr;
  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t consumedBefore_ = 0;
  bool eof_ = false;
};

// Unsigned conversion: the digits must fit 32 bits; a minus sign negates modulo 2^32.
std::uint32_t unsignedValue(const Token& token) {
  const auto value = static_cast<std::uint32_t>(token.value);
  return token.negative ? 0u - value : value;
}

// The clause being read, formed in place at the end of the array it goes to: its literals
// in order, each once, found by a scan while the clause is short and by hashing once it is
// long.
struct OpenClause {
  explicit OpenClause(ClauseArray& clauses) : clauses(clauses), start(clauses.literalCount()) {}

  ClauseArray& clauses;
  std::size_t start;  // where its literals begin in the array
  LiteralSet seen;
  bool hashed = false;

  bool empty() const { return clauses.literalCount() == start; }
  void add(Literal literal) {
    if (hashed) {
      if (seen.insert(literal)) clauses.pushLiteral(literal);
      return;
    }
    const std::span<const Literal> literals = clauses.literalsFrom(start);
    if (std::find(literals.begin(), literals.end(), literal) != literals.end()) return;
    if (literals.size() >= kScanLimit) {
      seen.reset(literals.size() * 2);
      for (const Literal l : literals) seen.insert(l);
      seen.insert(literal);
      hashed = true;
    }
    clauses.pushLiteral(literal);
  }
  void close() {
    clauses.closeClause();
    start = clauses.literalCount();
    hashed = false;
  }
};

// Variables of the matrix wait here for their quantifier lookup. The lookup of a variable is
// prefetched when it enters and done when it leaves, some literals later, so that the cache
// misses of a large prefix map overlap. First come, first served: free variables still join
// the prefix in the order of their first occurrence.
class LookupQueue {
 public:
  template <class LookUp>
  void push(const VariableMap<Quantification>& map, std::uint32_t variable, const LookUp& lookUp) {
    map.prefetch(variable);
    if (count_ == kPending) {
      lookUp(pending_[head_]);
      pending_[head_] = variable;
      head_ = (head_ + 1) % kPending;
    } else {
      pending_[(head_ + count_++) % kPending] = variable;
    }
  }
  template <class LookUp>
  void drain(const LookUp& lookUp) {
    for (; count_ > 0; --count_) {
      lookUp(pending_[head_]);
      head_ = (head_ + 1) % kPending;
    }
  }

 private:
  static constexpr std::size_t kPending = 32;
  std::uint32_t pending_[kPending] = {};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

struct Reader {
  Formula& formula;
  Scanner scanner;
  Token token;

  bool fail(const char* message) {
    formula.error = message;
    return false;
  }

  void reserve(std::uint32_t announced, std::int64_t totalBytes) {
    if (totalBytes < 0) {
      reserveRoom(formula.clauses, std::min<std::uint64_t>(announced, kBlindReserve), 0);
      return;
    }
    const auto total = static_cast<std::uint64_t>(totalBytes);
    reserveFor(formula.clauses, announced,
               total > scanner.consumed() ? total - scanner.consumed() : 0);
  }

  // Room for the clauses of so many bytes of text: address space only, whose pages come as
  // they are filled, so that the arrays are not copied again and again as they grow. Every
  // clause takes at least two bytes ("0" and a separator), so there cannot be more than half
  // the bytes, whatever the header announces; literals are reckoned at four bytes each (the
  // array grows where they are shorter).
  static void reserveFor(ClauseArray& clauses, std::uint64_t announced, std::uint64_t bytes) {
    reserveRoom(clauses, std::min(announced, bytes / 2 + 1), bytes / 4 + 1);
  }
  static void reserveRoom(ClauseArray& clauses, std::uint64_t clauseRoom,
                          std::uint64_t literalRoom) {
    try {
      clauses.reserve(static_cast<std::size_t>(clauseRoom), static_cast<std::size_t>(literalRoom));
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

  LookupQueue lookups;

  void lookUp(std::uint32_t variable) {
    auto [quantification, inserted] = formula.quantifierOf.tryEmplace(variable);
    if (inserted) {
      // A free variable: innermost, existential, ranked 0.
      *quantification = Quantification{Exists, variable};
      formula.prefix.push_back(*quantification);
      formula.positionOf[variable] = 0;
    }
  }

  bool readMatrix() {
    OpenClause current(formula.clauses);
    const auto lookUpNow = [this](std::uint32_t variable) { lookUp(variable); };
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
      lookups.push(formula.quantifierOf, variable, lookUpNow);
    }
    lookups.drain(lookUpNow);
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
  Reader reader{*this, Scanner(in), Token(), LookupQueue()};
  return reader.read(in.sizeLeft());
}

}  // namespace ZEFI
