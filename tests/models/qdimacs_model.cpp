#include "tests/models/qdimacs_model.hpp"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>

namespace ZEFI::model {

namespace {

constexpr std::uint32_t kLargestVariable = 2147483647;  // its literal must fit 32 bits

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// A token's number as the C library converts it: an optional sign, the digits after it,
// the rest ignored; no digits give 0.
struct Number {
  bool negative = false;
  bool overflow = false;  // the digits exceed 2^32 - 1
  std::uint64_t value = 0;
  std::uint32_t asUnsigned() const {  // a minus sign negates modulo 2^32
    return negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  }
};

Number numberOf(std::string_view token) {
  Number number;
  std::size_t i = 0;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) number.negative = token[i++] == '-';
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9' && !number.overflow; ++i) {
    number.value = number.value * 10 + static_cast<unsigned>(token[i] - '0');
    number.overflow = number.value > UINT32_MAX;
  }
  return number;
}

}  // namespace

QdimacsFormula readQdimacs(std::string_view text) {
  QdimacsFormula f;
  std::size_t at = 0;
  std::string_view token;
  const auto next = [&] {
    while (at < text.size() && isSpace(text[at])) ++at;
    const std::size_t start = at;
    while (at < text.size() && !isSpace(text[at])) ++at;
    token = text.substr(start, at - start);
    return !token.empty();
  };
  const auto fail = [&f](const char* message) {
    f.error = message;
    return f;
  };
  for (next(); token == "c"; next()) at = std::min(text.find('\n', at), text.size() - 1) + 1;
  if (token != "p") return fail("QBF File does not start with a p line.");
  next();
  if (token != "cnf") return fail("QBF File does not have a cnf argument.");
  next();
  Number number = numberOf(token);
  if (number.overflow || number.asUnsigned() > kLargestVariable)
    return fail("QBF File: Number of variables is bogus.");
  f.maxVar = f.declaredVariables = number.asUnsigned();
  next();
  number = numberOf(token);
  if (number.overflow) return fail("QBF File: Number of clauses is bogus.");
  f.declaredClauses = number.asUnsigned();
  std::unordered_set<std::uint32_t> quantified;
  for (next(); token == "e" || token == "a"; next()) {
    const char kind = token[0];
    while (true) {
      const bool present = next();
      number = numberOf(token);
      if (!present || number.overflow || number.asUnsigned() > kLargestVariable) {
        return fail("QBF File: Invalid quantification sequence.");
      }
      const std::uint32_t variable = number.asUnsigned();
      if (variable == 0) break;
      f.prefix.push_back({kind, variable});
      quantified.insert(variable);
      f.maxVar = std::max(f.maxVar, variable);
    }
  }
  std::vector<std::int32_t> clause;
  for (;; next()) {
    if (token.empty()) return clause.empty() ? f : fail("QBF File: Bogus clause.");
    number = numberOf(token);
    if (number.overflow || number.value > kLargestVariable) return fail("QBF File: Bogus clause.");
    const auto variable = static_cast<std::int32_t>(number.value);
    if (variable == 0) {
      f.clauses.push_back(std::move(clause));
      clause.clear();
      continue;
    }
    const std::int32_t literal = number.negative ? -variable : variable;
    if (std::find(clause.begin(), clause.end(), literal) == clause.end()) clause.push_back(literal);
    f.maxVar = std::max(f.maxVar, static_cast<std::uint32_t>(variable));
    if (quantified.insert(static_cast<std::uint32_t>(variable)).second)
      f.prefix.push_back({'e', static_cast<std::uint32_t>(variable)});
  }
}

namespace {

// Variables of the clauses numbered densely in prefix order; literals 2 * index + sign.
class Evaluator {
 public:
  explicit Evaluator(const QdimacsFormula& f) {
    std::unordered_map<std::uint32_t, std::uint32_t> index;
    for (const auto& clause : f.clauses) {
      for (const std::int32_t literal : clause)
        index.emplace(static_cast<std::uint32_t>(literal < 0 ? -literal : literal), 0);
    }
    for (const Quantifier& q : f.prefix) {
      const auto found = index.find(q.variable);
      if (found == index.end()) continue;  // occurs in no clause: its value does not matter
      found->second = static_cast<std::uint32_t>(kinds_.size());
      kinds_.push_back(q.kind);
    }
    for (const auto& clause : f.clauses) {
      std::vector<std::uint32_t>& mapped = clauses_.emplace_back();
      for (const std::int32_t literal : clause) {
        mapped.push_back(
            2 * index.at(static_cast<std::uint32_t>(literal < 0 ? -literal : literal)) +
            (literal < 0));
      }
    }
    value_.assign(kinds_.size(), -1);
    block_ = kinds_.size();
    while (block_ > 0 && kinds_[block_ - 1] == 'e') --block_;
  }

  // The truth with the variables before position `depth` assigned.
  bool expand(std::size_t depth) {
    if (depth == block_) return satisfiable();
    if (const long state = scan(false); state <= 0) return state == 0;
    const bool exists = kinds_[depth] == 'e';
    for (const signed char bit : {0, 1}) {
      value_[depth] = bit;
      const bool truth = expand(depth + 1);
      value_[depth] = -1;
      if (truth == exists) return truth;
    }
    return !exists;
  }

 private:
  // -1 when some clause is false; else the first open literal of an undecided clause + 1,
  // or 0 when every clause is true. With propagate, unit clauses are made true (trail).
  long scan(bool propagate) {
    for (bool changed = true; changed;) {
      changed = false;
      long open = 0;
      for (const auto& clause : clauses_) {
        std::size_t unassigned = 0;
        std::uint32_t last = 0;
        bool satisfied = false;
        for (const std::uint32_t literal : clause) {
          const signed char v = value_[literal / 2];
          if (v < 0) {
            ++unassigned;
            last = literal;
          }
          satisfied |= v >= 0 && v != static_cast<signed char>(literal & 1);
        }
        if (satisfied) continue;
        if (unassigned == 0) return -1;
        if (propagate && unassigned == 1) {
          value_[last / 2] = static_cast<signed char>(1 - (last & 1));
          trail_.push_back(last / 2);
          changed = true;
        } else if (open == 0) {
          open = last + 1;
        }
      }
      if (!changed) return open;
    }
    return 0;
  }

  bool satisfiable() {
    const std::size_t mark = trail_.size();
    const long open = scan(true);
    bool result = open == 0;
    for (signed char bit = 0; open > 0 && bit < 2 && !result; ++bit) {
      value_[(open - 1) / 2] = bit;
      result = satisfiable();
      value_[(open - 1) / 2] = -1;
    }
    for (; trail_.size() > mark; trail_.pop_back()) value_[trail_.back()] = -1;
    return result;
  }

  std::vector<char> kinds_;
  std::vector<std::vector<std::uint32_t>> clauses_;
  std::vector<signed char> value_;  // -1 unassigned
  std::vector<std::uint32_t> trail_;
  std::size_t block_ = 0;  // first position of the innermost existential block
};

}  // namespace

std::optional<bool> evaluate(const QdimacsFormula& formula) {
  std::unordered_set<std::uint32_t> seen;
  for (const Quantifier& q : formula.prefix) {
    if (!seen.insert(q.variable).second) return std::nullopt;
  }
  return Evaluator(formula).expand(0);
}

}  // namespace ZEFI::model
