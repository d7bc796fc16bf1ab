#include "tests/models/qcir_model.hpp"

#include <charconv>
#include <cstddef>
#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace ZEFI::model {

namespace {

// The numbers of "n, n, ..." (none for an empty list); false when the list is not such a
// list of nonzero numbers below 2^32 in magnitude.
bool numbersOf(std::string_view list, std::vector<std::int64_t>& numbers) {
  numbers.clear();
  while (!list.empty()) {
    if (!numbers.empty()) {
      if (!list.starts_with(", ")) return false;
      list.remove_prefix(2);
    }
    std::int64_t number = 0;
    const auto [next, error] = std::from_chars(list.data(), list.data() + list.size(), number);
    constexpr std::int64_t kLimit = std::int64_t{1} << 32;
    if (error != std::errc() || number == 0 || number >= kLimit || number <= -kLimit) return false;
    numbers.push_back(number);
    list.remove_prefix(static_cast<std::size_t>(next - list.data()));
  }
  return true;
}

std::uint32_t variableOf(std::int64_t literal) {
  return static_cast<std::uint32_t>(literal < 0 ? -literal : literal);
}

}  // namespace

QcirFormula readQcir(std::string_view text) {
  QcirFormula f;
  const auto fail = [&f](std::string_view message, std::string_view line) {
    f.error = std::string(message) + ": \"" + std::string(line) + "\"";
    return f;
  };
  if (!text.starts_with("#QCIR-G14\n")) return fail("no first line \"#QCIR-G14\"", text);
  std::unordered_set<std::uint32_t> known;  // the quantified variables and the gates so far
  std::uint32_t largestVariable = 0;
  bool output = false, empty = false;
  std::vector<std::int64_t> numbers;
  for (std::size_t at = text.find('\n') + 1; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return fail("an unended line", text.substr(at));
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t open = line.find('(');
    if (open == std::string_view::npos || !line.ends_with(')') ||
        !numbersOf(line.substr(open + 1, line.size() - open - 2), numbers))
      return fail("not a statement", line);
    const std::string_view head = line.substr(0, open);
    if (head == "forall" || head == "exists") {
      const char kind = head == "forall" ? 'a' : 'e';
      if (output || numbers.empty() || (!f.prefix.empty() && f.prefix.back().kind == kind))
        return fail("a quantifier line after the output, empty, or of the kind before", line);
      for (const std::int64_t number : numbers) {
        if (number < 0 || !known.insert(variableOf(number)).second)
          return fail("a variable negated or quantified twice", line);
        f.prefix.push_back({kind, variableOf(number)});
        largestVariable = std::max(largestVariable, variableOf(number));
      }
    } else if (head == "output") {
      if (output || numbers.size() != 1) return fail("not the one output", line);
      output = true;
      f.output = numbers[0];
    } else {
      std::uint32_t gate = 0;
      const auto [next, error] = std::from_chars(head.data(), head.data() + head.size(), gate);
      const std::string_view kind = head.substr(static_cast<std::size_t>(next - head.data()));
      if (error != std::errc() || !output || (kind != " = and" && kind != " = or"))
        return fail("not a gate after the output", line);
      if (gate <= largestVariable || known.contains(gate))
        return fail("the number of a variable or of a gate before", line);
      std::unordered_set<std::int64_t> seen;
      for (const std::int64_t literal : numbers) {
        if (!known.contains(variableOf(literal)))
          return fail("a literal of no variable nor gate before", line);
        if (seen.contains(-literal) || !seen.insert(literal).second)
          return fail("a literal repeated or beside its complement", line);
      }
      known.insert(gate);
      empty = empty || numbers.empty();
      f.gates.push_back({gate, kind == " = and", numbers});
    }
  }
  if (!output || !known.contains(variableOf(f.output)))
    return fail("no output, or one of no variable nor gate", text);
  if (empty && f.gates.size() != 1) return fail("an empty gate beside others", text);
  return f;
}

bool evaluate(const QcirFormula& formula) {
  std::unordered_map<std::uint32_t, std::size_t> slot;  // of each variable, then each gate
  for (const Quantifier& q : formula.prefix) slot.emplace(q.variable, slot.size());
  for (const QcirGate& gate : formula.gates) slot.emplace(gate.number, slot.size());
  std::vector<bool> value(slot.size()), used(slot.size());
  // A literal as twice its slot, plus one when negated.
  const auto code = [&](std::int64_t literal) {
    const std::size_t at = slot.at(variableOf(literal));
    used[at] = true;
    return 2 * at + (literal < 0 ? 1 : 0);
  };
  std::vector<std::vector<std::size_t>> inputs;
  for (const QcirGate& gate : formula.gates) {
    inputs.emplace_back();
    for (const std::int64_t literal : gate.literals) inputs.back().push_back(code(literal));
  }
  const std::size_t output = code(formula.output), variables = formula.prefix.size();
  const auto truth = [&value](std::size_t literal) { return value[literal / 2] != (literal & 1); };
  const std::function<bool(std::size_t)> expand = [&](std::size_t depth) {
    if (depth == variables) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        // An and is true until an input is false, an or false until one is true.
        const bool conjunction = formula.gates[k].conjunction;
        value[variables + k] = conjunction;
        for (const std::size_t literal : inputs[k]) {
          if (truth(literal) != conjunction) value[variables + k] = !conjunction;
        }
      }
      return truth(output);
    }
    if (!used[depth]) return expand(depth + 1);
    const bool exists = formula.prefix[depth].kind == 'e';
    for (const bool bit : {false, true}) {
      value[depth] = bit;
      if (expand(depth + 1) == exists) return exists;
    }
    return !exists;
  };
  return expand(0);
}

}  // namespace ZEFI::model
