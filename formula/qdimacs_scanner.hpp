// The QDIMACS reader's machinery below the grammar: the tokenizer and the clause being read.
// Internal to the formula library; the grammar is in qdimacs_grammar.cpp.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "formula/clause.hpp"
#include "formula/formula.hpp"
#include "formula/literal_set.hpp"
#include "formula/qdimacs_input.hpp"

namespace ZEFI::qdimacs {

// Input is pulled in blocks of this size.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
// Largest value of the digits of a number, 2^32 - 1; more is a range error.
constexpr std::uint64_t kUnsignedMax = 4294967295u;
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

// The tokens of an input, pulled a block at a time: the short numbers of the clauses here,
// where they are formed in line; the rest, and the refills, in qdimacs_scanner.cpp.
class Scanner {
 public:
  explicit Scanner(QdimacsInput& source);

  bool hitEnd() const { return eof_; }
  std::uint64_t consumed() const {
    return consumedBefore_ + static_cast<std::uint64_t>(cur_ - begin_);
  }

  // Reads the next token; a token may continue across any number of blocks.
  void next(Token& token);

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
  void skipLine();

 private:
  bool refill();

  QdimacsInput& source_;
  std::unique_ptr<char[]> buffer_;
  const char* begin_ = nullptr;
  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t consumedBefore_ = 0;
  bool eof_ = false;
};

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

}  // namespace ZEFI::qdimacs
