// The reading rules one byte at a time, kept plain: a map of definitions, no memory manager.
#include "tests/models/aiger_model.hpp"

#include <cstdio>
#include <map>
#include <utility>

namespace ZEFI::model {

namespace {

struct Stop {};  // ends a reading with its verdict

class Reader {
 public:
  Reader(std::string_view bytes, std::uint64_t cap) : in_(bytes), cap_(cap) {}

  AigerGraph run() {
    try {
      header();
      ascii_ ? asciiGates() : binaryGates();
      symbols();
      comments();
      check();
    } catch (const Stop&) {
    }
    return g_;
  }

 private:
  template <class... Arguments>
  [[noreturn]] void fail(const char* format, Arguments... arguments) {
    char text[200];
    std::snprintf(text, sizeof text, format, arguments...);
    g_.error = text;
    throw Stop();
  }

  void next() {
    c_ = at_ < in_.size() ? static_cast<unsigned char>(in_[at_++]) : -1;
    if (c_ == '\n') ++line_;
    if (c_ != -1) ++chars_;
  }
  static bool isDigit(int c) { return c >= '0' && c <= '9'; }

  // A decimal (wrapping modulo 2^32) and the one byte that must follow it. Messages about
  // the value name the line on which it began.
  std::uint32_t literal(char terminator) {
    if (!isDigit(c_)) fail("line %u: expected literal", line_);
    literalLine_ = line_;
    std::uint32_t value = 0;
    for (; isDigit(c_); next()) value = value * 10 + static_cast<std::uint32_t>(c_ - '0');
    if (c_ != terminator) {
      fail(terminator == ' ' ? "line %u: expected space after literal %u"
                             : "line %u: expected new line after literal %u",
           literalLine_, value);
    }
    next();
    return value;
  }
  void inRange(std::uint32_t literal, const char* what) {
    if (literal / 2 > g_.maxVar)
      fail("line %u: literal %u is not a valid %s", literalLine_, literal, what);
  }
  // An ASCII literal that defines its variable: even, not constant, in range, not yet defined.
  void definable(std::uint32_t literal, const char* what) {
    if (literal == 0 || literal % 2 != 0)
      fail("line %u: literal %u is not a valid %s", literalLine_, literal, what);
    inRange(literal, what);
    if (const auto found = definitions_.find(literal / 2); found != definitions_.end()) {
      const char role = found->second.first;
      fail("line %u: literal %u already defined as %s", literalLine_, literal,
           role == 'i'   ? "input"
           : role == 'l' ? "latch"
                         : "AND");
    }
  }

  void header() {
    next();
    if (c_ != 'a') fail("line %u: expected 'a' as first character", line_);
    next();
    if (c_ != 'i' && c_ != 'a') fail("line %u: expected 'i' or 'a' after 'a'", line_);
    ascii_ = c_ == 'a';
    next();
    if (c_ != 'g') fail("line %u: expected 'g' after 'a[ai]'", line_);
    next();
    if (c_ != ' ') fail("line %u: expected ' ' after 'a[ai]g'", line_);
    next();
    g_.maxVar = literal(' ');
    const std::uint32_t inputs = literal(' '), latches = literal(' '), outputs = literal(' ');
    gates_ = literal('\n');
    if (!ascii_ && inputs + latches + gates_ != g_.maxVar)
      fail("line %u: invalid maximal variable index", line_);
    if (std::uint64_t{inputs} + latches + outputs + gates_ > cap_) {
      g_.skipped = true;
      throw Stop();
    }
    for (std::uint32_t k = 0; k < inputs; ++k) {
      std::uint32_t input = 2 * (k + 1);
      if (ascii_) definable(input = literal('\n'), "input");
      definitions_[input / 2] = {'i', k};
      g_.inputs.push_back({input, 0, {}});
    }
    for (std::uint32_t k = 0; k < latches; ++k) {
      std::uint32_t latch = 2 * (inputs + k + 1);
      if (ascii_) definable(latch = literal(' '), "latch");
      const std::uint32_t next = literal('\n');
      inRange(next, "literal");
      definitions_[latch / 2] = {'l', k};
      g_.latches.push_back({latch, next, {}});
    }
    for (std::uint32_t k = 0; k < outputs; ++k) {
      const std::uint32_t output = literal('\n');
      inRange(output, "output");
      g_.outputs.push_back({output, 0, {}});
    }
  }

  void asciiGates() {
    for (std::uint32_t k = 0; k < gates_; ++k) {
      const std::uint32_t lhs = literal(' ');
      definable(lhs, "LHS of AND");
      const std::uint32_t rhs0 = literal(' ');
      inRange(rhs0, "literal");
      const std::uint32_t rhs1 = literal('\n');
      inRange(rhs1, "literal");
      definitions_[lhs / 2] = {'a', k};
      g_.ands.push_back({lhs, rhs0, rhs1});
    }
  }

  // Up to five groups count; a sixth byte of at most 7 is tolerated and adds nothing, and
  // bits beyond 32 are lost.
  std::uint32_t delta() {
    if (c_ == -1) fail("character %u: unexpected end of file", chars_);
    const std::uint32_t start = chars_;
    std::uint32_t value = 0;
    unsigned groups = 0;
    for (; (c_ & 0x80) != 0; ++groups) {
      if (groups == 5) fail("character %u: invalid code", start);
      value |= static_cast<std::uint32_t>(c_ & 0x7f) << (7 * groups);
      next();
      if (c_ == -1) fail("character %u: unexpected end of file", chars_);
    }
    if (groups == 5 && c_ > 7) fail("character %u: invalid code", start);
    if (groups < 5) value |= static_cast<std::uint32_t>(c_) << (7 * groups);
    next();
    return value;
  }

  void binaryGates() {
    std::uint32_t lhs = 2 * static_cast<std::uint32_t>(g_.inputs.size() + g_.latches.size());
    for (std::uint32_t k = 0; k < gates_; ++k) {
      lhs += 2;
      std::uint32_t at = chars_;
      const std::uint32_t delta0 = delta();
      if (delta0 > lhs) fail("character %u: invalid delta", at);  // lhs itself: constant false
      at = chars_;
      const std::uint32_t delta1 = delta();
      if (delta1 > lhs - delta0) fail("character %u: invalid delta", at);
      definitions_[lhs / 2] = {'a', k};
      g_.ands.push_back({lhs, lhs - delta0, lhs - delta0 - delta1});
    }
  }

  // A line's bytes up to its newline; names and comments are C strings, so a NUL ends them.
  std::string text() {
    std::string line;
    for (; c_ != '\n' && c_ != -1; next()) line.push_back(static_cast<char>(c_));
    return line.substr(0, line.find('\0'));
  }

  void symbols() {
    while (c_ != -1 && c_ != 'c') {
      const int kind = c_;
      auto* list = kind == 'i'   ? &g_.inputs
                   : kind == 'l' ? &g_.latches
                   : kind == 'o' ? &g_.outputs
                                 : nullptr;
      if (list == nullptr) fail("line %u: invalid symbol table entry", line_);
      const char* word = kind == 'i' ? "input" : kind == 'l' ? "latch" : "output";
      next();
      const std::uint32_t position = literal(' ');
      if (position >= list->size()) {
        fail("line %u: %s symbol table entry position %u too large", literalLine_, word, position);
      }
      if (!(*list)[position].name.empty())
        fail("line %u: %s %u has multiple symbols", literalLine_, word, position);
      std::string name = text();
      if (c_ == -1) fail("line %u: new line missing", line_);
      next();
      (*list)[position].name = std::move(name);
    }
  }

  void comments() {
    if (c_ == -1) return;
    next();
    if (c_ != '\n') fail("line %u: expected new line after 'c'", line_);
    for (next(); c_ != -1; next()) {
      g_.comments.push_back(text());
      if (c_ == -1) fail("line %u: new line after comment missing", line_);
    }
  }

  bool defined(std::uint32_t literal) const {
    return literal < 2 || definitions_.count(literal / 2) != 0;
  }

  // Depth first from every gate in ascending variable order, rhs1 before rhs0: this fixes
  // which gate of a cycle is named.
  void visit(std::uint32_t variable) {
    const auto found = definitions_.find(variable);
    if (found == definitions_.end() || found->second.first != 'a') return;
    const auto [state, fresh] = state_.try_emplace(variable, 1);
    if (!fresh) {
      if (state->second == 1) fail("cyclic definition for and gate %u", variable);
      return;
    }
    const auto& gate = g_.ands[found->second.second];
    if (gate[2] / 2 != 0) visit(gate[2] / 2);
    if (gate[1] / 2 != 0) visit(gate[1] / 2);
    state_[variable] = 2;
  }

  void check() {
    for (const AigerSymbol& latch : g_.latches) {
      if (!defined(latch.next))
        fail("next state function %u of latch %u undefined", latch.next, latch.literal);
    }
    for (const AigerSymbol& output : g_.outputs) {
      if (!defined(output.literal)) fail("output %u undefined", output.literal & ~1u);
    }
    for (const auto& gate : g_.ands) {
      for (const std::uint32_t operand : {gate[1], gate[2]}) {
        if (!defined(operand)) fail("literal %u in AND %u undefined", operand, gate[0]);
      }
    }
    for (const auto& [variable, definition] : definitions_) visit(variable);
  }

  std::string_view in_;
  std::uint64_t cap_;
  std::size_t at_ = 0;
  int c_ = ' ';
  std::uint32_t line_ = 1, chars_ = 0, literalLine_ = 1, gates_ = 0;
  bool ascii_ = false;
  std::map<std::uint32_t, std::pair<char, std::uint32_t>> definitions_;  // role, position
  std::map<std::uint32_t, int> state_;                                   // 1 on the path, 2 done
  AigerGraph g_;
};

}  // namespace

AigerGraph readAiger(std::string_view bytes, std::uint64_t recordCap) {
  return Reader(bytes, recordCap).run();
}

std::string encodeDelta(std::uint32_t value) {
  std::string code;
  for (; value >= 0x80; value >>= 7) code.push_back(static_cast<char>(0x80 | (value & 0x7f)));
  code.push_back(static_cast<char>(value));
  return code;
}

std::size_t decodeDelta(std::string_view bytes, std::uint32_t& value) {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < bytes.size() && k < 5; ++k) {
    const auto byte = static_cast<unsigned char>(bytes[k]);
    sum |= std::uint64_t{byte & 0x7fu} << (7 * k);
    if ((byte & 0x80) == 0) {
      value = static_cast<std::uint32_t>(sum);
      return sum > UINT32_MAX ? 0 : k + 1;
    }
  }
  return 0;
}

}  // namespace ZEFI::model
