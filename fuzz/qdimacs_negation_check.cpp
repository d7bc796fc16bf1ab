// QDIMACS reader followed by the whole negation, built in memory step by step the way the
// pipeline builds it, then written, read back and compared.

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/invert.hpp"
#include "formula/formula.hpp"
#include "fuzz/fuzz_checks.hpp"
#include "negation/clause_index.hpp"
#include "negation/encode.hpp"

namespace ZEFI::fuzz {

namespace {

// The consistency check of the graph reports on standard output; a report means the
// negation built a graph with an undefined operand or a cycle, which must never happen.
class StandardOutputCapture {
 public:
  StandardOutputCapture() : saved_(std::cout.rdbuf(captured_.rdbuf())) {}
  ~StandardOutputCapture() { std::cout.rdbuf(saved_); }
  StandardOutputCapture(const StandardOutputCapture&) = delete;
  StandardOutputCapture& operator=(const StandardOutputCapture&) = delete;
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

QuantifierKind exchanged(QuantifierKind kind) {
  if (kind == Exists) return Forall;
  if (kind == Forall) return Exists;
  return kind;
}

std::string describe(const char* what, std::uint64_t expected, std::uint64_t actual) {
  return std::string(what) + ": expected " + std::to_string(expected) + ", got " +
         std::to_string(actual);
}

// Counts from the problem line "p cnf M C" of a written text.
bool readProblemLine(const std::string& text, std::uint64_t& variables, std::uint64_t& clauses) {
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) return false;
  std::istringstream line(text.substr(0, end));
  std::string p;
  std::string cnf;
  if (!(line >> p >> cnf >> variables >> clauses)) return false;
  std::string rest;
  return p == "p" && cnf == "cnf" && !(line >> rest);
}

// A second reading of QDIMACS, written straight from the format's rules, token by token,
// against which the reader is compared. Where the rules leave the outcome open (the input
// ends inside a comment line before the problem line, or inside a quantifier line), it
// gives no verdict.
struct ReferenceReading {
  bool decided = true;  // false: the rules leave this input open
  bool ok = false;
  std::string error;
  std::uint32_t maxVar = 0;
  std::vector<Quantification> prefix;
  std::unordered_map<std::uint32_t, Quantification> quantifierOf;
  std::unordered_map<std::uint32_t, std::uint32_t> positionOf;
  std::vector<std::vector<Literal>> clauses;
};

class ReferenceReader {
 public:
  explicit ReferenceReader(const std::string& text) : text_(text) {}

  ReferenceReading read() {
    next();
    while (present_ && token_ == "c") {
      const std::size_t newline = text_.find('\n', at_);
      if (newline == std::string::npos) {
        result_.decided = false;
        return result_;
      }
      at_ = newline + 1;
      next();
    }
    if (!present_ || token_ != "p") return fail("QBF File does not start with a p line.");
    next();
    if (!present_ || token_ != "cnf") return fail("QBF File does not have a cnf argument.");
    next();
    std::uint32_t count = 0;
    // A variable count that does not fit a literal is refused, like any such variable; the
    // count itself is a variable index the writer prints, so every index a literal holds
    // must be accepted here.
    if (!toUnsigned(count) || count > maxVariableIndex) {
      return fail("QBF File: Number of variables is bogus.");
    }
    result_.maxVar = count;
    next();
    if (!toUnsigned(count)) return fail("QBF File: Number of clauses is bogus.");
    next();
    while (present_ && (token_ == "e" || token_ == "a")) {
      const QuantifierKind kind = token_ == "e" ? Exists : Forall;
      for (;;) {
        next();
        if (!present_) {
          result_.decided = false;
          return result_;
        }
        std::uint32_t variable = 0;
        if (!toUnsigned(variable) || variable > maxVariableIndex) {
          return fail("QBF File: Invalid quantification sequence.");
        }
        if (variable == 0) break;
        result_.quantifierOf[variable] = {kind, variable};
        result_.prefix.push_back({kind, variable});
        result_.positionOf[variable] = static_cast<std::uint32_t>(result_.quantifierOf.size());
        result_.maxVar = std::max(result_.maxVar, variable);
      }
      next();
    }
    std::vector<Literal> current;
    for (;; next()) {
      // A last clause without its terminating 0 is refused, not dropped.
      if (!present_) return current.empty() ? succeed() : fail("QBF File: Bogus clause.");
      bool negative = false;
      std::uint64_t magnitude = 0;
      if (!digitsOf(negative, magnitude) || magnitude > maxVariableIndex) {
        return fail("QBF File: Bogus clause.");
      }
      const auto variable = static_cast<std::uint32_t>(magnitude);
      if (variable == 0) {
        result_.clauses.push_back(current);
        current.clear();
        continue;
      }
      const Literal literal = makeLiteral(variable, negative);
      if (std::find(current.begin(), current.end(), literal) == current.end()) {
        current.push_back(literal);
      }
      result_.maxVar = std::max(result_.maxVar, variable);
      if (result_.quantifierOf.emplace(variable, Quantification{Exists, variable}).second) {
        result_.prefix.push_back({Exists, variable});
        result_.positionOf[variable] = 0;
      }
    }
  }

 private:
  static bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }

  void next() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    const std::size_t start = at_;
    while (at_ < text_.size() && !isSpace(text_[at_])) ++at_;
    present_ = at_ > start;
    token_ = text_.substr(start, at_ - start);
  }

  // The C library's decimal conversion of the whole token: optional sign, then the digits
  // that follow it; no digits read as 0. False when the digits exceed 32 bits.
  bool digitsOf(bool& negative, std::uint64_t& value) const {
    std::size_t i = 0;
    negative = false;
    value = 0;
    if (i < token_.size() && (token_[i] == '+' || token_[i] == '-')) {
      negative = token_[i] == '-';
      ++i;
    }
    for (; i < token_.size() && token_[i] >= '0' && token_[i] <= '9'; ++i) {
      value = value * 10 + static_cast<std::uint64_t>(token_[i] - '0');
      if (value > UINT32_MAX) return false;
    }
    return true;
  }

  // Unsigned conversion: a minus sign wraps the value modulo 2^32.
  bool toUnsigned(std::uint32_t& out) const {
    bool negative = false;
    std::uint64_t value = 0;
    if (!digitsOf(negative, value)) return false;
    out = negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    return true;
  }

  ReferenceReading fail(const char* message) {
    result_.error = message;
    return result_;
  }
  ReferenceReading succeed() {
    result_.ok = true;
    return result_;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  bool present_ = false;
  std::string token_;
  ReferenceReading result_;
};

std::string compareWithReference(const std::string& bytes, bool ok, const Formula& formula) {
  const ReferenceReading expected = ReferenceReader(bytes).read();
  if (!expected.decided) return {};
  if (ok != expected.ok || formula.error != expected.error) {
    return "reader answers " + std::string(ok ? "success" : "\"" + formula.error + "\"") +
           " where the format's rules give " +
           (expected.ok ? std::string("success") : "\"" + expected.error + "\"");
  }
  if (!ok) return {};
  if (formula.maxVar != expected.maxVar) {
    return describe("maxVar against the format's rules", expected.maxVar, formula.maxVar);
  }
  if (formula.prefix != expected.prefix) return "prefix differs from the format's rules";
  if (formula.quantifierOf.size() != expected.quantifierOf.size()) {
    return describe("quantified variables", expected.quantifierOf.size(),
                    formula.quantifierOf.size());
  }
  for (const auto& [variable, quantification] : expected.quantifierOf) {
    const Quantification* actual = formula.quantifierOf.find(variable);
    if (actual == nullptr || !(*actual == quantification)) {
      return "quantifier of variable " + std::to_string(variable) + " differs";
    }
    const std::uint32_t* position = formula.positionOf.find(variable);
    const std::uint32_t expectedPosition = expected.positionOf.at(variable);
    if (position == nullptr || *position != expectedPosition) {
      return "position of variable " + std::to_string(variable) + " differs: expected " +
             std::to_string(expectedPosition);
    }
  }
  if (formula.clauses.size() != expected.clauses.size()) {
    return describe("clauses against the format's rules", expected.clauses.size(),
                    formula.clauses.size());
  }
  for (std::size_t i = 0; i < expected.clauses.size(); ++i) {
    const auto clause = formula.clauses[i];
    if (!std::equal(clause.begin(), clause.end(), expected.clauses[i].begin(),
                    expected.clauses[i].end())) {
      return "clause " + std::to_string(i) + " differs from the format's rules";
    }
  }
  return {};
}

// An input stream that cannot seek and knows nothing of its length, like a pipe: the clause
// count of the header is then a hint with nothing to cap it.
class UnseekableBuffer : public std::streambuf {
 public:
  explicit UnseekableBuffer(const std::string& bytes) : bytes_(bytes) {}

 protected:
  int_type underflow() override {
    if (at_ == bytes_.size()) return traits_type::eof();
    return traits_type::to_int_type(bytes_[at_]);
  }
  int_type uflow() override {
    if (at_ == bytes_.size()) return traits_type::eof();
    return traits_type::to_int_type(bytes_[at_++]);
  }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

std::string compareUnseekable(const std::string& bytes, bool ok, const Formula& formula) {
  UnseekableBuffer buffer(bytes);
  std::istream in(&buffer);
  Formula unseekable;
  const bool unseekableOk = unseekable.readQdimacs(in);
  if (unseekableOk != ok || unseekable.error != formula.error) {
    return "read from an unseekable stream, the answer is \"" + unseekable.error +
           "\" instead of \"" + formula.error + "\"";
  }
  if (!ok) return {};
  if (unseekable.maxVar != formula.maxVar || unseekable.prefix != formula.prefix ||
      !(unseekable.clauses == formula.clauses)) {
    return "read from an unseekable stream, the formula differs";
  }
  return {};
}

// The negation of a small input, checked by truth tables: under every assignment of the
// input's clause variables, unit propagation over the output clauses (which fixes every gate
// variable once the inputs are fixed) must end in a conflict exactly when the input matrix
// is true.
constexpr std::size_t kSemanticVariableLimit = 6;
constexpr std::size_t kSemanticLiteralLimit = 6000;

std::string checkTruthTables(const ClauseArray& matrix, const Formula& output, std::uint32_t n) {
  std::unordered_map<std::uint32_t, std::uint32_t> slotOf;  // input variable -> bit
  for (const auto clause : matrix) {
    for (const Literal literal : clause) {
      if (slotOf.size() > kSemanticVariableLimit) return {};
      slotOf.emplace(variableOf(literal), static_cast<std::uint32_t>(slotOf.size()));
    }
  }
  if (slotOf.size() > kSemanticVariableLimit) return {};
  if (output.clauses.literalCount() > kSemanticLiteralLimit) return {};
  const std::size_t inputCount = slotOf.size();
  const std::size_t freshCount = std::size_t{output.maxVar} - n + 1;

  // Output literals renamed onto dense slots: inputs first, then n and the gate variables.
  std::vector<std::uint32_t> literals;
  std::vector<std::size_t> ends;
  for (const auto clause : output.clauses) {
    for (const Literal literal : clause) {
      const std::uint32_t variable = variableOf(literal);
      std::size_t slot;
      if (variable >= n && variable <= output.maxVar) {
        slot = inputCount + (variable - n);
      } else {
        const auto found = slotOf.find(variable);
        if (found == slotOf.end()) {
          return "output clause holds variable " + std::to_string(variable) +
                 ", neither a variable of the input's clauses nor a fresh one";
        }
        slot = found->second;
      }
      literals.push_back(static_cast<std::uint32_t>(slot * 2 + (isNegated(literal) ? 1 : 0)));
    }
    ends.push_back(literals.size());
  }

  enum : std::int8_t { kUnknown = -1, kFalse = 0, kTrue = 1 };
  std::vector<std::int8_t> value(inputCount + freshCount);
  for (std::uint32_t assignment = 0; assignment < (1u << inputCount); ++assignment) {
    std::fill(value.begin(), value.end(), kUnknown);
    for (std::size_t i = 0; i < inputCount; ++i) {
      value[i] = static_cast<std::int8_t>((assignment >> i) & 1u);
    }
    bool matrixTrue = true;
    for (const auto clause : matrix) {
      bool satisfied = false;
      for (const Literal literal : clause) {
        const bool bit = value[slotOf.at(variableOf(literal))] == kTrue;
        if (bit != isNegated(literal)) satisfied = true;
      }
      if (!satisfied) matrixTrue = false;
    }

    bool conflict = false;
    for (bool changed = true; changed && !conflict;) {
      changed = false;
      std::size_t first = 0;
      for (const std::size_t end : ends) {
        bool satisfied = false;
        std::size_t open = 0;
        std::uint32_t last = 0;
        for (std::size_t i = first; i < end; ++i) {
          const std::int8_t v = value[literals[i] >> 1];
          if (v == kUnknown) {
            ++open;
            last = literals[i];
          } else if ((v == kTrue) != ((literals[i] & 1u) != 0)) {
            satisfied = true;
          }
        }
        first = end;
        if (satisfied) continue;
        if (open == 0) {
          conflict = true;
          break;
        }
        if (open == 1) {
          value[last >> 1] = (last & 1u) != 0 ? kFalse : kTrue;
          changed = true;
        }
      }
    }
    if (conflict != matrixTrue) {
      return std::string("truth table: under input assignment ") + std::to_string(assignment) +
             " the matrix is " + (matrixTrue ? "true" : "false") + " but its negation is " +
             (conflict ? "false" : "not refuted");
    }
    if (!conflict && std::find(value.begin(), value.end(), kUnknown) != value.end()) {
      return "truth table: a gate variable is left open under assignment " +
             std::to_string(assignment);
    }
  }
  return {};
}

}  // namespace

std::string checkQdimacsNegation(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Formula input;
  bool read = false;
  {
    std::istringstream in(bytes);
    read = input.readQdimacs(in);
  }
  if (!read && input.error.rfind("QBF File", 0) != 0) {
    return "reader failed with a message not led by \"QBF File\": " + input.error;
  }
  if (read && !input.error.empty()) {
    return "reader succeeded but left an error text: " + input.error;
  }
  if (std::string failure = compareWithReference(bytes, read, input); !failure.empty()) {
    return failure;
  }
  if (std::string failure = compareUnseekable(bytes, read, input); !failure.empty()) {
    return failure;
  }
  if (!read) return {};

  // The formula as read, written and read again: the same prefix, clauses and maxVar (free
  // variables are then quantified explicitly, in the same place).
  {
    std::ostringstream text;
    input.writeQdimacs(text);
    Formula again;
    std::istringstream in(text.str());
    if (!again.readQdimacs(in)) {
      return "the formula read, once written, does not read back: " + again.error;
    }
    if (again.maxVar != input.maxVar) {
      return describe("maxVar after writing and reading", input.maxVar, again.maxVar);
    }
    if (again.prefix != input.prefix) return "prefix changes through writing and reading";
    if (!(again.clauses == input.clauses)) return "clauses change through writing and reading";
  }

  // Gate variables run up to maxVar + 1 + literals + clauses; beyond the literal range the
  // pipeline refuses the input, so there is nothing to negate.
  const std::uint64_t largest =
      std::uint64_t{input.maxVar} + 1 + input.clauses.literalCount() + input.clauses.size();
  if (largest > maxVariableIndex) return {};

  const std::uint32_t n = input.maxVar + 1;
  Formula output;
  std::string written;
  std::string graphReports;
  {
    StandardOutputCapture capture;
    CubeArray cubes;
    input.complementedClauses(cubes);
    if (cubes.size() != input.clauses.size()) {
      return describe("cube count", input.clauses.size(), cubes.size());
    }
    ClauseIndex index;
    index.defineDnf(n, std::move(cubes));
    const std::vector<std::uint32_t> inputVariables = input.quantifierOf.sortedKeys();
    const std::vector<std::uint32_t> outputVariables = {n};
    for (const Quantification& element : input.prefix) {
      Quantification& entry = output.quantifierOf[element.variable];
      entry = {exchanged(element.kind), element.variable};
      const std::uint32_t* position = input.positionOf.find(element.variable);
      output.positionOf[element.variable] = position ? *position : 0;
      output.prefix.push_back(entry);
    }
    encodeDefinitions(index, inputVariables, outputVariables, n + 1, output);
    graphReports = capture.text();
  }
  if (!graphReports.empty()) return "the graph of the negation failed its check: " + graphReports;

  // One gate per literal and per clause above n, and the output gate n itself: every one of
  // them stands in some clause.
  const std::uint64_t expectedMaxVar =
      std::uint64_t{n} + input.clauses.literalCount() + input.clauses.size();
  if (output.maxVar != expectedMaxVar) {
    return describe("largest variable of the gate clauses", expectedMaxVar, output.maxVar);
  }
  const std::uint64_t gates = input.clauses.literalCount() + input.clauses.size() + 1;
  if (output.clauses.size() > 3 * gates) {
    return describe("gate clauses at most", 3 * gates, output.clauses.size());
  }
  for (const auto clause : output.clauses) {
    if (clause.empty() || clause.size() > 3) {
      return "gate clause with " + std::to_string(clause.size()) + " literals (1 to 3 expected)";
    }
  }

  assertNegationVariable(output, n);
  {
    std::ostringstream text;
    output.writeQdimacs(text);
    written = text.str();
  }

  // The written text: a problem line whose counts are those of the formula, every line
  // ended, and read back by the same reader to the same formula.
  std::uint64_t headerVariables = 0;
  std::uint64_t headerClauses = 0;
  if (!readProblemLine(written, headerVariables, headerClauses)) {
    return "written text does not start with a problem line: " + written.substr(0, 80);
  }
  if (written.back() != '\n') return "written text does not end with a line end";
  Formula back;
  {
    std::istringstream in(written);
    if (!back.readQdimacs(in)) return "written negation does not read back: " + back.error;
  }
  if (back.clauses.size() != headerClauses) {
    return describe("clauses read back against the header", headerClauses, back.clauses.size());
  }
  if (output.clauses.size() != headerClauses) {
    return describe("clauses written against the header", headerClauses, output.clauses.size());
  }
  if (back.maxVar != headerVariables || headerVariables != output.maxVar) {
    return describe("variable count of the header", output.maxVar, headerVariables);
  }
  if (!(back.clauses == output.clauses)) return "clauses read back differ from those written";
  if (back.prefix != output.prefix) return "prefix read back differs from the one written";
  {
    std::ostringstream again;
    back.writeQdimacs(again);
    if (again.str() != written) return "writing the formula read back changes the text";
  }

  if (std::string failure = checkTruthTables(input.clauses, output, n); !failure.empty()) {
    return failure;
  }

  // The streaming writer of the pipeline must produce the same bytes. It releases the
  // input's clauses, so it runs last.
  {
    StandardOutputCapture capture;
    std::ostringstream streamed;
    bool complete = false;
    try {
      complete = writeNegation(input, streamed);
    } catch (const Exception& e) {
      return "writeNegation refused an input in range: " + e.message;
    }
    if (!capture.text().empty()) return "writeNegation printed: " + capture.text();
    if (!complete) return "writeNegation reports an incomplete write to a string stream";
    if (streamed.str() != written) {
      const std::string& other = streamed.str();
      const auto mismatch =
          std::mismatch(written.begin(), written.end(), other.begin(), other.end());
      return "writeNegation differs from the negation built in memory at byte " +
             std::to_string(mismatch.first - written.begin());
    }
  }
  return {};
}

}  // namespace ZEFI::fuzz
