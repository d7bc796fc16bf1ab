#include "formula/qdimacs_writer.hpp"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace ZEFI {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Room for the longest item written at once: a sign, 20 digits and a separator, with slack.
constexpr std::size_t kItemRoom = 64;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

unsigned decimalLength(std::uint64_t value) {
  unsigned length = 1;
  while (value >= 10000) {
    value /= 10000;
    length += 4;
  }
  if (value >= 1000) return length + 3;
  if (value >= 100) return length + 2;
  if (value >= 10) return length + 1;
  return length;
}

// Writes the decimal form of value at out, two digits per step from the back; returns the
// position after the last digit.
char* putDecimal(char* out, std::uint64_t value) {
  const unsigned length = decimalLength(value);
  char* p = out + length;
  while (value >= 100) {
    const auto pair = static_cast<unsigned>(value % 100) * 2;
    value /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (value >= 10) {
    const auto pair = static_cast<unsigned>(value) * 2;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  } else {
    *--p = static_cast<char>('0' + value);
  }
  return out + length;
}

static_assert(QdimacsWriter::eightDigitValues(12345678) == 0x0807060504030201u);
static_assert(QdimacsWriter::eightDigitValues(99999999) == 0x0909090909090909u);
static_assert(QdimacsWriter::eightDigitValues(1000) == 0x0000000100000000u);

char* putLiteral(char* out, Literal literal) {
  if (isNegated(literal)) *out++ = '-';
  return putDecimal(out, variableOf(literal));
}

}  // namespace

QdimacsWriter::QdimacsWriter(std::ostream& out)
    : out_(&out), ownBuffer_(new char[kBufferSize]) {  // not zeroed: written before it is read
  buffer_ = ownBuffer_.get();
  capacity_ = kBufferSize;
}

QdimacsWriter::QdimacsWriter(BlockSink& blocks) : blocks_(&blocks) {
  capacity_ = blocks.blockSize();
  buffer_ = blocks.exchange(nullptr, 0);
}

QdimacsWriter::~QdimacsWriter() {
  try {
    drain();
  } catch (...) {
    // A stream that throws on failure: the text is lost, as for any failed stream.
  }
}

void QdimacsWriter::drain() {
  if (used_ == 0) return;
  const std::size_t used = used_;
  used_ = 0;
  if (blocks_ != nullptr) {
    buffer_ = blocks_->exchange(buffer_, used);
    return;
  }
  const auto size = static_cast<std::streamsize>(used);
  std::streambuf* sink = out_->rdbuf();
  if (failed_ || !out_->good() || sink == nullptr) {
    failed_ = true;
    return;
  }
  if (sink->sputn(buffer_, size) != size) {
    failed_ = true;
    out_->setstate(std::ios::badbit);
  }
}

void QdimacsWriter::header(std::uint64_t maxVar, std::uint64_t clauseCount) {
  char* p = reserve(kItemRoom);
  std::memcpy(p, "p cnf ", 6);
  p = putDecimal(p + 6, maxVar);
  *p++ = ' ';
  p = putDecimal(p, clauseCount);
  *p++ = '\n';
  advanceTo(p);
}

void QdimacsWriter::quantifier(QuantifierKind kind, std::uint32_t variable) {
  if (kind != Exists && kind != Forall) return;
  char* p = reserve(kItemRoom);
  *p++ = kind == Exists ? 'e' : 'a';
  *p++ = ' ';
  p = putDecimal(p, variable);
  std::memcpy(p, " 0\n", 3);
  advanceTo(p + 3);
}

namespace {

// A quantifier line "k v 0" of at most 15 bytes, held as two words (the first byte lowest)
// and stored whole.
struct Line {
  std::uint64_t low;
  std::uint64_t high;
  unsigned length;
};

Line quantifierLine(char kind, const QdimacsWriter::Digits& digits) {
  Line line{static_cast<std::uint64_t>(kind) | (std::uint64_t{' '} << 8) | (digits.first << 16),
            (digits.first >> 48) | (digits.rest << 16), digits.length + 5};
  // " 0\n" after the digits, at byte 2 + length (4 to 12).
  constexpr std::uint64_t kEnd = ' ' | ('0' << 8) | ('\n' << 16);
  const unsigned at = 8 * (2 + digits.length);
  if (at < 64) {
    line.low |= kEnd << at;
    if (at > 40) line.high |= kEnd >> (64 - at);
  } else {
    line.high |= kEnd << (at - 64);
  }
  return line;
}

}  // namespace

void QdimacsWriter::quantifiers(QuantifierKind kind, std::uint32_t first, std::uint32_t last) {
  if ((kind != Exists && kind != Forall) || first > last) return;
  const char letter = kind == Exists ? 'e' : 'a';
  Digits digits = digitsOf(first);
  std::uint64_t v = first;  // 64 bits: last may be the largest value
  while (v <= last) {
    // As many lines as fit the buffer's room, each stored as 16 bytes; the digits are
    // counted up in registers.
    char* p = reserve(kItemRoom);
    const std::uint64_t fit = (capacity_ - used_ - 16) / 16;
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{last} + 1, v + fit);
    for (; v < end; ++v) {
      const Line line = quantifierLine(letter, digits);
      std::memcpy(p, &line.low, 8);
      std::memcpy(p + 8, &line.high, 8);
      p += line.length;
      digits = digitsAfter(digits, static_cast<std::uint32_t>(v + 1));
    }
    advanceTo(p);
  }
}

void QdimacsWriter::clause(std::span<const Literal> literals) {
  // A clause may be longer than the buffer: room is asked for literal by literal, and the
  // position is taken afresh after every drain, which may hand over another block.
  for (Literal literal : literals) {
    char* p = putLiteral(reserve(kItemRoom), literal);
    *p++ = ' ';
    advanceTo(p);
  }
  char* p = reserve(kItemRoom);
  p[0] = '0';
  p[1] = '\n';
  advanceTo(p + 2);
}

QdimacsWriter::Digits QdimacsWriter::tenDigits(std::uint32_t variable) {
  Digits digits;
  const std::uint32_t top = variable / 100000000u;  // 1 to 42
  const std::uint64_t low = eightDigitValues(variable % 100000000u) + kZeroDigits;
  if (top < 10) {
    digits.first = ('0' + top) | (low << 8);
    digits.rest = low >> 56;
    digits.length = 9;
  } else {
    digits.first = ('0' + top / 10) | (std::uint64_t{'0' + top % 10} << 8) | (low << 16);
    digits.rest = low >> 48;
    digits.length = 10;
  }
  return digits;
}

void QdimacsWriter::clause(const Digits* const* variables, const bool* negated, unsigned count) {
  // Each literal takes at most a sign, 10 digits and a blank; the digits are copied as a
  // fixed 16-byte block, so the room asked for has that much slack.
  char* p = reserve(kItemRoom);
  for (unsigned i = 0; i < count && i < 3; ++i) {
    *p = '-';
    p += negated[i] ? 1 : 0;
    p = put(p, *variables[i]);
    *p++ = ' ';
  }
  p[0] = '0';
  p[1] = '\n';
  advanceTo(p + 2);
}

bool QdimacsWriter::finish() {
  drain();
  if (blocks_ != nullptr) return blocks_->finish();
  if (!failed_ && out_->good()) out_->flush();
  return !failed_ && out_->good();
}

void Formula::writeQdimacs(std::ostream& out) const {
  QdimacsWriter writer(out);
  writer.header(maxVar, clauses.size());
  for (const Quantification& q : prefix) writer.quantifier(q.kind, q.variable);
  for (std::span<const Literal> clause : clauses) writer.clause(clause);
  writer.finish();
}

std::string literalToString(Literal literal) {
  char text[16];
  return std::string(text, putLiteral(text, literal));
}

namespace {
std::string renderClause(std::span<const Literal> clause, char open, char close) {
  std::string text(1, open);
  text.reserve(clause.size() * 8 + 2);
  char digits[16];
  bool first = true;
  for (Literal literal : clause) {
    if (!first) text += ", ";
    first = false;
    text.append(digits, putLiteral(digits, literal));
  }
  text += close;
  return text;
}
}  // namespace

std::string clauseToString(std::span<const Literal> clause) {
  return renderClause(clause, '(', ')');
}

std::string clauseToBracketString(std::span<const Literal> clause) {
  return renderClause(clause, '[', ']');
}

void printClauses(const ClauseArray& clauses, std::ostream& out) {
  out << '[' << clauses.size() << ']';
  for (std::span<const Literal> clause : clauses) out << clauseToString(clause);
}

void printClausesBracketed(const ClauseArray& clauses, std::ostream& out) {
  out << '[' << clauses.size() << ']';
  for (std::span<const Literal> clause : clauses) out << clauseToBracketString(clause);
}

}  // namespace ZEFI
