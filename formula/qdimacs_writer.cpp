#include "formula/qdimacs_writer.hpp"

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

void QdimacsWriter::countUp(Digits& digits) {
  std::uint32_t i = digits.length;
  while (i > 0 && digits.text[i - 1] == '9') digits.text[--i] = '0';
  if (i > 0) {
    ++digits.text[i - 1];
  } else {  // all nines: a one and one more zero
    digits.text[0] = '1';
    digits.text[digits.length++] = '0';
  }
}

void QdimacsWriter::quantifiers(QuantifierKind kind, std::uint32_t first, std::uint32_t last) {
  if (kind != Exists && kind != Forall) return;
  Digits digits = digitsOf(first);
  for (std::uint64_t v = first; v <= last; ++v) {  // 64 bits: last may be the largest value
    if (v != first) countUp(digits);
    char* p = reserve(kItemRoom);
    p[0] = kind == Exists ? 'e' : 'a';
    p[1] = ' ';
    std::memcpy(p + 2, digits.text, sizeof digits.text);
    p += 2 + digits.length;
    std::memcpy(p, " 0\n", 3);
    advanceTo(p + 3);
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

QdimacsWriter::Digits QdimacsWriter::digitsOf(std::uint32_t variable) {
  Digits digits;
  digits.length = static_cast<std::uint32_t>(putDecimal(digits.text, variable) - digits.text);
  return digits;
}

void QdimacsWriter::clause(const Digits* const* variables, const bool* negated, unsigned count) {
  // Each literal takes at most a sign, 10 digits and a blank; the digits are copied as a
  // fixed 16-byte block, so the room asked for has that much slack.
  char* p = reserve(kItemRoom);
  for (unsigned i = 0; i < count && i < 3; ++i) {
    *p = '-';
    p += negated[i] ? 1 : 0;
    std::memcpy(p, variables[i]->text, sizeof variables[i]->text);
    p += variables[i]->length;
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
