#include "aiger_model.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

namespace zefi_test {

namespace {

class Cursor {
 public:
  explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
  bool atEnd() const { return pos_ >= bytes_.size(); }
  int peek() const { return atEnd() ? -1 : static_cast<unsigned char>(bytes_[pos_]); }
  int get() { return atEnd() ? -1 : static_cast<unsigned char>(bytes_[pos_++]); }
  std::size_t position() const { return pos_; }

  bool expect(char c) {
    if (peek() != static_cast<unsigned char>(c)) return false;
    ++pos_;
    return true;
  }
  // A decimal number of at most ten digits that fits 32 bits, then the given terminator.
  bool number(std::uint32_t& value, char terminator) {
    std::uint64_t accumulated = 0;
    int digits = 0;
    while (peek() >= '0' && peek() <= '9') {
      accumulated = accumulated * 10 + static_cast<unsigned>(get() - '0');
      if (++digits > 10 || accumulated > 0xFFFFFFFFull) return false;
    }
    value = static_cast<std::uint32_t>(accumulated);
    return digits > 0 && expect(terminator);
  }
  bool delta(std::uint32_t& value) {
    std::uint64_t accumulated = 0;
    for (unsigned shift = 0; shift < 35; shift += 7) {
      const int byte = get();
      if (byte < 0) return false;
      accumulated |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) {
        if (accumulated > 0xFFFFFFFFull) return false;
        value = static_cast<std::uint32_t>(accumulated);
        return true;
      }
    }
    return false;
  }
  std::string line() {  // up to the newline or the end, neither consumed
    std::string text;
    while (!atEnd() && peek() != '\n') text.push_back(static_cast<char>(get()));
    return text;
  }

 private:
  const std::string& bytes_;
  std::size_t pos_ = 0;
};

void putDelta(std::string& out, std::uint32_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

std::string header(const char* word, const Graph& graph) {
  return std::string(word) + " " + std::to_string(graph.maxVar) + " " +
         std::to_string(graph.inputs.size()) + " " + std::to_string(graph.latches.size()) + " " +
         std::to_string(graph.outputs.size()) + " " + std::to_string(graph.ands.size()) + "\n";
}

void appendSymbolsAndComments(const Graph& graph, std::string& out) {
  const auto names = [&out](const std::vector<std::string>& list, char kind) {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (!list[i].empty()) out += kind + std::to_string(i) + " " + list[i] + "\n";
  };
  names(graph.inputNames, 'i');
  names(graph.latchNames, 'l');
  names(graph.outputNames, 'o');
  if (!graph.comments.empty()) {
    out += "c\n";
    for (const std::string& comment : graph.comments) out += comment + "\n";
  }
}

}  // namespace

std::optional<Graph> parseAiger(const std::string& bytes, std::string& error) {
  Cursor in(bytes);
  Graph graph;
  const bool asciiForm = bytes.compare(0, 3, "aag") == 0;
  if (!asciiForm && bytes.compare(0, 3, "aig") != 0) {
    error = "bad header word";
    return std::nullopt;
  }
  for (int i = 0; i < 3; ++i) in.get();
  std::uint32_t counts[5];
  if (!in.expect(' ') || !in.number(counts[0], ' ') || !in.number(counts[1], ' ') ||
      !in.number(counts[2], ' ') || !in.number(counts[3], ' ') || !in.number(counts[4], '\n')) {
    error = "bad header line";
    return std::nullopt;
  }
  graph.maxVar = counts[0];
  const std::uint32_t inputCount = counts[1], latchCount = counts[2], outputCount = counts[3],
                      andCount = counts[4];
  if (!asciiForm && std::uint64_t{inputCount} + latchCount + andCount != graph.maxVar) {
    error = "binary header with M != I + L + A";
    return std::nullopt;
  }
  for (std::uint32_t i = 0; i < inputCount; ++i) {
    std::uint32_t literal = 2 * (i + 1);
    if (asciiForm && !in.number(literal, '\n')) {
      error = "bad input line";
      return std::nullopt;
    }
    graph.inputs.push_back(literal);
  }
  for (std::uint32_t i = 0; i < latchCount; ++i) {
    std::uint32_t literal = 2 * (inputCount + i + 1), next = 0;
    if ((asciiForm && !in.number(literal, ' ')) || !in.number(next, '\n')) {
      error = "bad latch line";
      return std::nullopt;
    }
    graph.latches.push_back({literal, next});
  }
  for (std::uint32_t i = 0; i < outputCount; ++i) {
    std::uint32_t literal = 0;
    if (!in.number(literal, '\n')) {
      error = "bad output line";
      return std::nullopt;
    }
    graph.outputs.push_back(literal);
  }
  for (std::uint32_t i = 0; i < andCount; ++i) {
    std::uint32_t lhs = 2 * (inputCount + latchCount + i + 1), rhs0 = 0, rhs1 = 0;
    if (asciiForm) {
      if (!in.number(lhs, ' ') || !in.number(rhs0, ' ') || !in.number(rhs1, '\n')) {
        error = "bad AND line";
        return std::nullopt;
      }
    } else {
      std::uint32_t delta0 = 0, delta1 = 0;
      if (!in.delta(delta0) || !in.delta(delta1) || delta0 > lhs || delta1 > lhs - delta0) {
        error = "bad AND record " + std::to_string(i);
        return std::nullopt;
      }
      rhs0 = lhs - delta0;
      rhs1 = rhs0 - delta1;
    }
    graph.ands.push_back({lhs, rhs0, rhs1});
  }
  graph.gatesEnd = in.position();
  graph.inputNames.assign(inputCount, "");
  graph.latchNames.assign(latchCount, "");
  graph.outputNames.assign(outputCount, "");
  while (!in.atEnd() && in.peek() != 'c') {
    const int kind = in.get();
    std::vector<std::string>* list = kind == 'i'   ? &graph.inputNames
                                     : kind == 'l' ? &graph.latchNames
                                     : kind == 'o' ? &graph.outputNames
                                                   : nullptr;
    std::uint32_t position = 0;
    if (list == nullptr || !in.number(position, ' ') || position >= list->size()) {
      error = "bad symbol line";
      return std::nullopt;
    }
    (*list)[position] = in.line();
    if (!in.expect('\n')) {
      error = "symbol line without newline";
      return std::nullopt;
    }
  }
  graph.symbolsEnd = in.position();
  if (!in.atEnd()) {
    if (!in.expect('c') || !in.expect('\n')) {
      error = "bad comment header";
      return std::nullopt;
    }
    while (!in.atEnd()) {
      graph.comments.push_back(in.line());
      if (!in.expect('\n')) {
        error = "comment without newline";
        return std::nullopt;
      }
    }
  }
  return graph;
}

std::string writeAscii(const Graph& graph) {
  std::string out = header("aag", graph);
  for (std::uint32_t literal : graph.inputs) out += std::to_string(literal) + "\n";
  for (const auto& latch : graph.latches)
    out += std::to_string(latch[0]) + " " + std::to_string(latch[1]) + "\n";
  for (std::uint32_t literal : graph.outputs) out += std::to_string(literal) + "\n";
  for (const auto& gate : graph.ands)
    out += std::to_string(gate[0]) + " " + std::to_string(gate[1]) + " " + std::to_string(gate[2]) +
           "\n";
  appendSymbolsAndComments(graph, out);
  return out;
}

std::string writeBinary(const Graph& graph) {
  const std::uint32_t inputCount = static_cast<std::uint32_t>(graph.inputs.size());
  const std::uint32_t latchCount = static_cast<std::uint32_t>(graph.latches.size());
  if (graph.maxVar != inputCount + latchCount + graph.ands.size())
    throw std::logic_error("writeBinary: M != I + L + A");
  for (std::uint32_t i = 0; i < inputCount; ++i)
    if (graph.inputs[i] != 2 * (i + 1)) throw std::logic_error("writeBinary: input numbering");
  for (std::uint32_t i = 0; i < latchCount; ++i)
    if (graph.latches[i][0] != 2 * (inputCount + i + 1))
      throw std::logic_error("writeBinary: latch numbering");
  std::string out = header("aig", graph);
  for (const auto& latch : graph.latches) out += std::to_string(latch[1]) + "\n";
  for (std::uint32_t literal : graph.outputs) out += std::to_string(literal) + "\n";
  for (std::size_t k = 0; k < graph.ands.size(); ++k) {
    const auto& gate = graph.ands[k];
    if (gate[0] != 2 * (inputCount + latchCount + k + 1) || gate[0] <= gate[1] || gate[1] < gate[2])
      throw std::logic_error("writeBinary: gate numbering");
    putDelta(out, gate[0] - gate[1]);
    putDelta(out, gate[1] - gate[2]);
  }
  appendSymbolsAndComments(graph, out);
  return out;
}

Graph renumberForBinary(const Graph& graph) {
  std::vector<std::int64_t> gateOf(std::size_t{graph.maxVar} + 1, -1);
  for (std::size_t k = 0; k < graph.ands.size(); ++k) gateOf[graph.ands[k][0] / 2] = k;
  std::vector<std::uint32_t> code(std::size_t{graph.maxVar} + 1, 0);  // new variable
  std::uint32_t next = 1;
  for (std::uint32_t literal : graph.inputs) code[literal / 2] = next++;
  for (const auto& latch : graph.latches) code[latch[0] / 2] = next++;
  std::vector<std::size_t> order;                 // gates in post-order
  std::vector<char> state(graph.ands.size(), 0);  // 0 new, 1 open, 2 done
  for (std::size_t root = 0; root < graph.ands.size(); ++root) {
    std::vector<std::size_t> stack{root};
    while (!stack.empty()) {
      const std::size_t k = stack.back();
      if (state[k] == 2) {
        stack.pop_back();
        continue;
      }
      if (state[k] == 1) {
        state[k] = 2;
        order.push_back(k);
        stack.pop_back();
        continue;
      }
      state[k] = 1;
      for (int side = 1; side <= 2; ++side) {
        const std::int64_t operand = gateOf[graph.ands[k][side] / 2];
        if (operand >= 0 && state[operand] == 1) throw std::logic_error("cyclic graph");
        if (operand >= 0 && state[operand] == 0) stack.push_back(operand);
      }
    }
  }
  for (std::size_t k : order) code[graph.ands[k][0] / 2] = next++;
  const auto translate = [&code](std::uint32_t literal) {
    return literal < 2 ? literal : 2 * code[literal / 2] + (literal & 1);
  };
  Graph result = graph;
  result.maxVar = next - 1;
  for (auto& literal : result.inputs) literal = translate(literal);
  for (auto& latch : result.latches) latch = {translate(latch[0]), translate(latch[1])};
  for (auto& literal : result.outputs) literal = translate(literal);
  result.ands.clear();
  for (std::size_t k : order) {
    const std::uint32_t a = translate(graph.ands[k][1]), b = translate(graph.ands[k][2]);
    result.ands.push_back({translate(graph.ands[k][0]), std::max(a, b), std::min(a, b)});
  }
  std::sort(result.ands.begin(), result.ands.end());
  return result;
}

Graph randomGraph(std::mt19937& rng, std::uint32_t inputs, std::uint32_t latches,
                  std::uint32_t ands) {
  Graph graph;
  const std::uint32_t leaves = inputs + latches;
  if (leaves < 2 && ands > 0) throw std::logic_error("randomGraph: gates need two leaves");
  graph.maxVar = leaves + ands;
  for (std::uint32_t i = 0; i < inputs; ++i) graph.inputs.push_back(2 * (i + 1));
  std::vector<bool> used(std::size_t{graph.maxVar} + 1, false);
  std::vector<std::uint32_t> unusedGates;
  std::set<std::pair<std::uint32_t, std::uint32_t>> pairs;
  const auto randomSign = [&rng] { return static_cast<std::uint32_t>(rng() & 1u); };
  for (std::uint32_t k = 0; k < ands; ++k) {
    const std::uint32_t lhsVar = leaves + k + 1;
    for (;;) {
      std::uint32_t first = 0;
      if (!unusedGates.empty() && rng() % 2 == 0) {
        const std::size_t pick = rng() % unusedGates.size();
        first = unusedGates[pick];
      } else {
        first = 1 + rng() % (lhsVar - 1);
      }
      const std::uint32_t second = 1 + rng() % (lhsVar - 1);
      if (first == second) continue;
      const std::uint32_t a = 2 * first + randomSign(), b = 2 * second + randomSign();
      const auto key = std::minmax(a, b);
      if (!pairs.insert({key.second, key.first}).second) continue;
      graph.ands.push_back({2 * lhsVar, key.second, key.first});
      for (std::uint32_t var : {first, second}) {
        if (var > leaves && !used[var]) {
          used[var] = true;
          unusedGates.erase(std::find(unusedGates.begin(), unusedGates.end(), var));
        }
      }
      break;
    }
    unusedGates.push_back(lhsVar);
  }
  for (std::uint32_t i = 0; i < latches; ++i) {
    // Mostly gate or leaf literals, now and then a constant.
    const std::uint32_t choice = rng() % (graph.maxVar + 2);
    const std::uint32_t next = choice <= 1 ? choice : 2 * (choice - 1) + randomSign();
    graph.latches.push_back({2 * (inputs + i + 1), next});
    if (next / 2 > leaves) std::erase(unusedGates, next / 2);
  }
  for (std::uint32_t var : unusedGates) graph.outputs.push_back(2 * var + randomSign());
  graph.outputs.push_back(2 * (1 + rng() % graph.maxVar) + randomSign());
  graph.inputNames.assign(graph.inputs.size(), "");
  graph.latchNames.assign(graph.latches.size(), "");
  graph.outputNames.assign(graph.outputs.size(), "");
  return graph;
}

Graph scramble(const Graph& graph, std::mt19937& rng) {
  std::vector<std::uint32_t> names(3 * std::size_t{graph.maxVar} + 8);
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = static_cast<std::uint32_t>(i + 1);
  std::shuffle(names.begin(), names.end(), rng);
  const auto rename = [&names](std::uint32_t literal) {
    return literal < 2 ? literal : 2 * names[literal / 2 - 1] + (literal & 1);
  };
  Graph result = graph;
  std::uint32_t highest = 0;
  for (std::uint32_t v = 1; v <= graph.maxVar; ++v) highest = std::max(highest, names[v - 1]);
  result.maxVar = highest + static_cast<std::uint32_t>(rng() % 5);
  for (auto& literal : result.inputs) literal = rename(literal);
  for (auto& latch : result.latches) latch = {rename(latch[0]), rename(latch[1])};
  for (auto& literal : result.outputs) literal = rename(literal);
  for (auto& gate : result.ands) {
    gate = {rename(gate[0]), rename(gate[1]), rename(gate[2])};
    if (rng() % 2 == 0) std::swap(gate[1], gate[2]);
  }
  std::shuffle(result.ands.begin(), result.ands.end(), rng);
  return result;
}

Simulation simulate(const Graph& graph, const std::vector<std::uint64_t>& inputValues,
                    const std::vector<std::uint64_t>& latchValues) {
  const std::size_t size = std::size_t{graph.maxVar} + 1;
  std::vector<std::uint64_t> value(size, 0);
  std::vector<char> known(size, 0);
  std::vector<std::int64_t> gateOf(size, -1);
  known[0] = 1;  // variable 0: constant false
  for (std::size_t i = 0; i < graph.inputs.size(); ++i) {
    value[graph.inputs[i] / 2] = inputValues.at(i);
    known[graph.inputs[i] / 2] = 1;
  }
  for (std::size_t i = 0; i < graph.latches.size(); ++i) {
    value[graph.latches[i][0] / 2] = latchValues.at(i);
    known[graph.latches[i][0] / 2] = 1;
  }
  for (std::size_t k = 0; k < graph.ands.size(); ++k) gateOf[graph.ands[k][0] / 2] = k;
  const auto literalValue = [&](std::uint32_t literal) {
    return (literal & 1) ? ~value[literal / 2] : value[literal / 2];
  };
  // Gates in any order: evaluate on demand with an explicit stack.
  const auto evaluate = [&](std::uint32_t root) {
    std::vector<std::uint32_t> stack{root};
    while (!stack.empty()) {
      const std::uint32_t var = stack.back();
      if (known[var]) {
        stack.pop_back();
        continue;
      }
      if (gateOf[var] < 0) throw std::logic_error("undefined variable " + std::to_string(var));
      const auto& gate = graph.ands[gateOf[var]];
      const std::uint32_t a = gate[1] / 2, b = gate[2] / 2;
      if (known[a] && known[b]) {
        value[var] = literalValue(gate[1]) & literalValue(gate[2]);
        known[var] = 1;
        stack.pop_back();
      } else {
        if (stack.size() > 2 * size + 2) throw std::logic_error("cyclic graph");
        if (!known[a]) stack.push_back(a);
        if (!known[b]) stack.push_back(b);
      }
    }
  };
  Simulation result;
  for (std::uint32_t literal : graph.outputs) {
    evaluate(literal / 2);
    result.outputs.push_back(literalValue(literal));
  }
  for (const auto& latch : graph.latches) {
    evaluate(latch[1] / 2);
    result.nextStates.push_back(literalValue(latch[1]));
  }
  return result;
}

}  // namespace zefi_test
