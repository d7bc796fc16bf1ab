// QDIMACS text written piece by piece through large buffers, and the text renderers.
#pragma once

#include <cstddef>
#include <cstdint>
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
  struct Digits {
    char text[16];
    std::uint32_t length;
  };
  static Digits digitsOf(std::uint32_t variable);
  // Turns the digits of v into those of v + 1.
  static void countUp(Digits& digits);
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
