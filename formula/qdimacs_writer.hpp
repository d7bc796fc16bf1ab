// QDIMACS text written piece by piece through large buffers, and the text renderers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formula/formula.hpp"

namespace ZEFI {

// Where a QdimacsWriter can hand its full buffers without copying them: the sink owns the
// blocks, takes each filled one as it is and gives back an empty one to fill next (the same
// one when it consumed the bytes at once, another when it keeps the full one for later).
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // The size of every block the sink hands out.
  virtual std::size_t blockSize() const = 0;
  // Takes the first used bytes of full (nullptr, with used 0, for the first call) and
  // returns the block to fill next. A block once handed over is never touched again.
  virtual char* exchange(char* full, std::size_t used) = 0;
  // Waits until every byte taken has reached its destination; true when all of it did.
  virtual bool finish() = 0;
};

// Writes QDIMACS text piece by piece, for a formula too large to hold as clauses: the
// same bytes as Formula::writeQdimacs for the same header, prefix and clauses. Output is
// collected in a large buffer and handed to the stream in big blocks, or formed straight
// in the blocks of a BlockSink.
class QdimacsWriter {
  static_assert(std::endian::native == std::endian::little, "text is formed in words");

 public:
  explicit QdimacsWriter(std::ostream& out);
  explicit QdimacsWriter(BlockSink& blocks);
  ~QdimacsWriter();  // flushes what is buffered
  QdimacsWriter(const QdimacsWriter&) = delete;
  QdimacsWriter& operator=(const QdimacsWriter&) = delete;

  void header(std::uint64_t maxVar, std::uint64_t clauseCount);  // "p cnf M C"
  void quantifier(QuantifierKind kind, std::uint32_t variable);  // "e v 0"; None: nothing
  // quantifier(kind, v) for every v from first to last (none when first > last); the digits
  // are counted up instead of formed anew for each line.
  void quantifiers(QuantifierKind kind, std::uint32_t first, std::uint32_t last);
  void clause(std::span<const Literal> literals);  // "l1 l2 0"
  // The decimal digits of a variable, formed once for lines that name it several times.
  // They are held as two words (the first character in the lowest byte of first, bytes past
  // the length zero) and copied as such: a line formed from them is stored whole, never
  // read back byte by byte.
  struct Digits {
    std::uint64_t first = 0;  // characters 1-8
    std::uint64_t rest = 0;   // characters 9 and 10
    std::uint32_t length = 0;
  };
  static Digits digitsOf(std::uint32_t variable) {
    if (variable >= 100000000u) return tenDigits(variable);
    const std::uint64_t values = eightDigitValues(variable);
    // The leading zeros are the lowest bytes; 0 keeps its one digit.
    const unsigned leading =
        variable == 0 ? 7 : static_cast<unsigned>(std::countr_zero(values)) / 8;
    return Digits{(values + kZeroDigits) >> (8 * leading), 0, 8 - leading};
  }
  // The digits of variable, given those of variable - 1: only the last one changes, nine
  // times in ten; else they are formed anew.
  static Digits digitsAfter(const Digits& previous, std::uint32_t variable) {
    const std::uint32_t last = previous.length - 1;
    const unsigned shift = 8 * (last % 8);
    const std::uint64_t word = last < 8 ? previous.first : previous.rest;
    if (((word >> shift) & 0xFF) == '9') return digitsOf(variable);
    const std::uint64_t step = std::uint64_t{1} << shift;
    return Digits{previous.first + (last < 8 ? step : 0), previous.rest + (last < 8 ? 0 : step),
                  previous.length};
  }
  // The eight decimal digits of value (below 10^8, leading zeros included) as the values
  // 0-9 of the bytes of a word, the most significant digit in the lowest byte: two halves
  // of four digits, each split in two pairs, each pair in two digits, all lanes at once.
  static constexpr std::uint64_t eightDigitValues(std::uint32_t value) {
    const std::uint64_t halves = (value / 10000) | (std::uint64_t{value % 10000} << 32);
    const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;
    const std::uint64_t pairs = hundreds | ((halves - 100 * hundreds) << 16);
    const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Fu;
    return tens | ((pairs - 10 * tens) << 8);
  }
  // Stores the 16 bytes of digits at out (the room must be there); returns the position
  // after the last digit.
  static char* put(char* out, const Digits& digits) {
    std::memcpy(out, &digits.first, sizeof digits.first);
    std::memcpy(out + 8, &digits.rest, sizeof digits.rest);
    return out + digits.length;
  }
  // A clause line of count (at most 3) literals given as their variables' digits and signs:
  // the same bytes as clause() of those literals.
  void clause(const Digits* const* variables, const bool* negated, unsigned count);
  // Text of a shape the writer does not know, formed in place: room() returns where up to
  // bytes (at most 256) may be written, advanceTo() where the text ends.
  char* room(std::size_t bytes) { return reserve(bytes); }
  void advanceTo(const char* end) { used_ = static_cast<std::size_t>(end - buffer_); }
  // Hands the buffer to the stream and flushes it; true when the stream took everything.
  bool finish();

 private:
  static constexpr std::uint64_t kZeroDigits = 0x3030303030303030u;  // "00000000"
  static Digits tenDigits(std::uint32_t variable);                   // from 10^8 on

  // Hands the buffered text on; buffer_ may be another block afterwards.
  void drain();
  // Drains when less than room bytes are left; returns where the next byte goes.
  char* reserve(std::size_t room) {
    if (capacity_ - used_ < room) drain();
    return buffer_ + used_;
  }

  std::ostream* out_ = nullptr;        // the stream, or
  BlockSink* blocks_ = nullptr;        // the sink of blocks
  std::unique_ptr<char[]> ownBuffer_;  // the buffer before a stream
  char* buffer_ = nullptr;             // the block being filled
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  bool failed_ = false;
};

// Text renderers.
std::string clauseToString(std::span<const Literal> clause);                // "(1, -2, 3)"
std::string clauseToBracketString(std::span<const Literal> clause);         // "[1, -2, 3]"
void printClauses(const ClauseArray& clauses, std::ostream& out);           // "[2](1, -2)(3)"
void printClausesBracketed(const ClauseArray& clauses, std::ostream& out);  // "[2][1, -2][3]"

// Signed decimal form of a literal: "-7" or "7".
std::string literalToString(Literal literal);

}  // namespace ZEFI
