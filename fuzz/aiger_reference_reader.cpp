// The AIGER format's reading rules, one byte at a time, kept deliberately plain: maps instead
// of tables, recursion-free searches over small inputs, no memory manager.

#include "fuzz/aiger_reference_reader.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace ZEFI::fuzz {

namespace {

enum class Role { Input, Latch, And };

struct Definition {
  Role role;
  std::uint32_t index;
};

bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

// Thrown to end a reading with its verdict.
struct Stop {};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  ReferenceAiger read() {
    try {
      readHeader();
      if (ascii_) {
        readAsciiAnds();
      } else {
        readBinaryAnds();
      }
      readSymbols();
      readComments();
      check();
    } catch (const Stop&) {
    }
    return result_;
  }

 private:
  [[noreturn]] void fail(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    result_.error = text;
    throw Stop();
  }
  [[noreturn]] void undecided() {
    result_.decided = false;
    throw Stop();
  }

  void nextChar() {
    const int c = position_ < size_ ? data_[position_++] : -1;
    current_ = c;
    if (c == '\n') ++lineNumber_;
    if (c != -1) ++charCount_;
  }

  // Messages about a literal's value name the line on which the literal began, even when
  // the reader has already taken the first byte of the next line.
  std::uint32_t readLiteral(char terminator) {
    if (!isDigit(current_)) fail("line %u: expected literal", lineNumber_);
    tokenLine_ = lineNumber_;
    std::uint32_t value = static_cast<std::uint32_t>(current_ - '0');
    for (nextChar(); isDigit(current_); nextChar()) {
      value = value * 10 + static_cast<std::uint32_t>(current_ - '0');
    }
    if (current_ != terminator) {
      fail(terminator == ' ' ? "line %u: expected space after literal %u"
                             : "line %u: expected new line after literal %u",
           tokenLine_, value);
    }
    nextChar();
    return value;
  }

  const Definition* definitionOf(std::uint32_t literal) const {
    const auto found = defined_.find(literal >> 1);
    return found == defined_.end() ? nullptr : &found->second;
  }

  void checkUndefined(std::uint32_t literal) {
    if ((literal >> 1) > result_.maxVar) return;
    if (const Definition* definition = definitionOf(literal)) {
      fail(definition->role == Role::Input   ? "line %u: literal %u already defined as input"
           : definition->role == Role::Latch ? "line %u: literal %u already defined as latch"
                                             : "line %u: literal %u already defined as AND",
           tokenLine_, literal);
    }
  }

  void define(std::uint32_t literal, Role role, std::uint32_t index) {
    defined_[literal >> 1] = {role, index};
  }

  void readHeader() {
    nextChar();
    if (current_ != 'a') fail("line %u: expected 'a' as first character", lineNumber_);
    nextChar();
    if (current_ != 'i' && current_ != 'a') {
      fail("line %u: expected 'i' or 'a' after 'a'", lineNumber_);
    }
    ascii_ = current_ == 'a';
    nextChar();
    if (current_ != 'g') fail("line %u: expected 'g' after 'a[ai]'", lineNumber_);
    nextChar();
    if (current_ != ' ') fail("line %u: expected ' ' after 'a[ai]g'", lineNumber_);
    nextChar();
    const std::uint32_t m = readLiteral(' ');
    const std::uint32_t inputs = readLiteral(' ');
    const std::uint32_t latches = readLiteral(' ');
    const std::uint32_t outputs = readLiteral(' ');
    ands_ = readLiteral('\n');
    if (!ascii_ && inputs + latches + ands_ != m) {
      fail("line %u: invalid maximal variable index", lineNumber_);
    }
    result_.maxVar = m;
    const auto valid = [m](std::uint32_t literal) { return (literal >> 1) <= m; };

    for (std::uint32_t k = 0; k < inputs; ++k) {
      std::uint32_t literal = 2 * (k + 1);
      if (ascii_) {
        literal = readLiteral('\n');
        if (literal == 0 || (literal & 1) != 0 || !valid(literal)) {
          fail("line %u: literal %u is not a valid input", tokenLine_, literal);
        }
        checkUndefined(literal);
      }
      define(literal, Role::Input, k);
      result_.inputs.push_back({literal, 0, {}});
    }
    for (std::uint32_t k = 0; k < latches; ++k) {
      std::uint32_t literal = 2 * (inputs + k + 1);
      if (ascii_) {
        literal = readLiteral(' ');
        if (literal == 0 || (literal & 1) != 0 || !valid(literal)) {
          fail("line %u: literal %u is not a valid latch", tokenLine_, literal);
        }
        checkUndefined(literal);
      }
      const std::uint32_t next = readLiteral('\n');
      if (!valid(next)) fail("line %u: literal %u is not a valid literal", tokenLine_, next);
      define(literal, Role::Latch, k);
      result_.latches.push_back({literal, next, {}});
    }
    for (std::uint32_t k = 0; k < outputs; ++k) {
      const std::uint32_t literal = readLiteral('\n');
      if (!valid(literal)) fail("line %u: literal %u is not a valid output", tokenLine_, literal);
      result_.outputs.push_back({literal, 0, {}});
    }
  }

  void readAsciiAnds() {
    const std::uint32_t m = result_.maxVar;
    for (std::uint32_t k = 0; k < ands_; ++k) {
      const std::uint32_t lhs = readLiteral(' ');
      if (lhs == 0 || (lhs & 1) != 0 || (lhs >> 1) > m) {
        fail("line %u: literal %u is not a valid LHS of AND", tokenLine_, lhs);
      }
      checkUndefined(lhs);
      const std::uint32_t rhs0 = readLiteral(' ');
      if ((rhs0 >> 1) > m) fail("line %u: literal %u is not a valid literal", tokenLine_, rhs0);
      const std::uint32_t rhs1 = readLiteral('\n');
      if ((rhs1 >> 1) > m) fail("line %u: literal %u is not a valid literal", tokenLine_, rhs1);
      define(lhs, Role::And, k);
      result_.ands.push_back({lhs, rhs0, rhs1});
    }
  }

  std::uint32_t readDelta() {
    if (current_ == -1) fail("character %u: unexpected end of file", charCount_);
    const std::uint32_t start = charCount_;
    std::uint32_t value = 0;
    unsigned n = 0;
    while ((current_ & 0x80) != 0) {
      if (n == 5) fail("character %u: invalid code", start);
      value |= static_cast<std::uint32_t>(current_ & 0x7f) << (7 * n);
      ++n;
      nextChar();
      if (current_ == -1) fail("character %u: unexpected end of file", charCount_);
    }
    if (n == 5 && current_ > 7) fail("character %u: invalid code", start);
    if (n == 5) undecided();  // a sixth byte of 0 to 7: accepted, its value is not fixed
    value |= static_cast<std::uint32_t>(current_) << (7 * n);
    nextChar();
    return value;
  }

  void readBinaryAnds() {
    std::uint32_t lhs = 0;
    for (const auto& symbols : {result_.inputs, result_.latches}) {
      for (const ReferenceSymbol& symbol : symbols) lhs = std::max(lhs, symbol.literal);
    }
    for (std::uint32_t k = 0; k < ands_; ++k) {
      lhs += 2;
      std::uint32_t position = charCount_;
      const std::uint32_t delta0 = readDelta();
      // A first delta equal to lhs stands for the constant false: a gate over two false
      // operands, which the writer produces and the reader takes back.
      if (delta0 > lhs) fail("character %u: invalid delta", position);
      const std::uint32_t rhs0 = lhs - delta0;
      position = charCount_;
      const std::uint32_t delta1 = readDelta();
      if (delta1 > rhs0) fail("character %u: invalid delta", position);
      define(lhs, Role::And, k);
      result_.ands.push_back({lhs, rhs0, rhs0 - delta1});
    }
  }

  // A line of text up to its newline; the store keeps names and comments as C strings, so
  // a NUL byte ends what is kept.
  std::string collectLine() {
    std::string text;
    bool cut = false;
    while (current_ != '\n' && current_ != -1) {
      if (current_ == 0) cut = true;
      if (!cut) text.push_back(static_cast<char>(current_));
      nextChar();
    }
    return text;
  }

  void readSymbols() {
    for (;;) {
      if (current_ == -1 || current_ == 'c') return;
      std::vector<ReferenceSymbol>* list = nullptr;
      const char* kind = nullptr;
      if (current_ == 'i') {
        list = &result_.inputs;
        kind = "input";
      } else if (current_ == 'l') {
        list = &result_.latches;
        kind = "latch";
      } else if (current_ == 'o') {
        list = &result_.outputs;
        kind = "output";
      } else {
        fail("line %u: invalid symbol table entry", lineNumber_);
      }
      nextChar();
      const std::uint32_t position = readLiteral(' ');
      if (position >= list->size()) {
        fail("line %u: %s symbol table entry position %u too large", tokenLine_, kind, position);
      }
      if (!(*list)[position].name.empty()) {
        fail("line %u: %s %u has multiple symbols", tokenLine_, kind, position);
      }
      std::string name = collectLine();
      if (current_ == -1) fail("line %u: new line missing", lineNumber_);
      nextChar();
      (*list)[position].name = name;
    }
  }

  void readComments() {
    if (current_ == -1) return;
    nextChar();
    if (current_ != '\n') fail("line %u: expected new line after 'c'", lineNumber_);
    nextChar();
    while (current_ != -1) {
      std::string text = collectLine();
      if (current_ == -1) fail("line %u: new line after comment missing", lineNumber_);
      nextChar();
      result_.comments.push_back(text);
    }
  }

  bool isDefined(std::uint32_t literal) const {
    return (literal >> 1) == 0 || definitionOf(literal) != nullptr;
  }

  // The consistency check, in its fixed order; the cycle search visits gates in ascending
  // variable order and explores rhs1 before rhs0, which fixes the gate a message names.
  void check() {
    for (const ReferenceSymbol& latch : result_.latches) {
      if (!isDefined(latch.next)) {
        fail("next state function %u of latch %u undefined", latch.next, latch.literal);
      }
    }
    for (const ReferenceSymbol& output : result_.outputs) {
      const std::uint32_t literal = output.literal & ~1u;
      if (literal > 1 && !isDefined(literal)) fail("output %u undefined", literal);
    }
    for (const ReferenceGate& gate : result_.ands) {
      if (!isDefined(gate.rhs0)) fail("literal %u in AND %u undefined", gate.rhs0, gate.lhs);
      if (!isDefined(gate.rhs1)) fail("literal %u in AND %u undefined", gate.rhs1, gate.lhs);
    }
    std::vector<std::uint32_t> gateVariables;
    for (const auto& [variable, definition] : defined_) {
      if (definition.role == Role::And) gateVariables.push_back(variable);
    }
    std::sort(gateVariables.begin(), gateVariables.end());
    std::unordered_map<std::uint32_t, bool> onStack;  // present: marked
    for (const std::uint32_t start : gateVariables) {
      if (onStack.count(start) != 0) continue;
      std::vector<std::uint32_t> stack{start};
      while (!stack.empty()) {
        const std::uint32_t top = stack.back();
        if (top == 0) {
          stack.pop_back();
          onStack[stack.back()] = false;
          stack.pop_back();
          continue;
        }
        const auto mark = onStack.find(top);
        if (mark != onStack.end() && mark->second) fail("cyclic definition for and gate %u", top);
        const Definition* definition = definitionOf(2 * top);
        if (definition == nullptr || definition->role != Role::And || mark != onStack.end()) {
          stack.pop_back();
          continue;
        }
        onStack[top] = true;
        stack.push_back(0);
        const ReferenceGate& gate = result_.ands[definition->index];
        if ((gate.rhs0 >> 1) != 0) stack.push_back(gate.rhs0 >> 1);
        if ((gate.rhs1 >> 1) != 0) stack.push_back(gate.rhs1 >> 1);
      }
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  int current_ = ' ';
  std::uint32_t lineNumber_ = 1;
  std::uint32_t charCount_ = 0;
  std::uint32_t tokenLine_ = 0;
  bool ascii_ = false;
  std::uint32_t ands_ = 0;
  std::unordered_map<std::uint32_t, Definition> defined_;
  ReferenceAiger result_;
};

}  // namespace

ReferenceAiger referenceReadAiger(const std::uint8_t* data, std::size_t size) {
  return Reader(data, size).read();
}

}  // namespace ZEFI::fuzz
