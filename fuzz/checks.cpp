#include "fuzz/checks.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "aiger/aiger.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"
#include "negation/clause_index.hpp"
#include "negation/encode.hpp"
#include "negation/forms.hpp"
#include "negation/negation_graph.hpp"
#include "tests/models/aiger_model.hpp"
#include "tests/models/qcir_model.hpp"
#include "tests/models/qdimacs_model.hpp"

namespace ZEFI::fuzz {

namespace {

// Inputs whose clauses hold at most this many variables are evaluated, and so is their
// negation, whose expansion doubles with each of them.
constexpr std::size_t kEvaluatedVariables = 10;
// AIGER headers announcing more records are not read: the store sizes arrays from them.
constexpr std::uint64_t kRecordCap = 100000;

// Memory manager that checks every release against its allocation and fills new blocks
// with a pattern, so that a store relying on zeroes it did not write shows up; it runs out
// (throws std::bad_alloc) at the allocation numbered failAt.
struct Memory {
  std::map<void*, std::size_t> live;
  std::string fault;
  std::size_t allocations = 0;
  std::size_t failAt = SIZE_MAX;

  static void* allocate(void* state, std::size_t bytes) {
    if (static_cast<Memory*>(state)->allocations++ == static_cast<Memory*>(state)->failAt)
      throw std::bad_alloc();
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) std::abort();
    std::memset(block, 0xA5, bytes);
    static_cast<Memory*>(state)->live[block] = bytes;
    return block;
  }
  static void release(void* state, void* block, std::size_t bytes) {
    Memory& self = *static_cast<Memory*>(state);
    const auto found = self.live.find(block);
    if (block == nullptr ? bytes != 0 : found == self.live.end() || found->second != bytes) {
      if (self.fault.empty())
        self.fault =
            "a block released with " + std::to_string(bytes) + " bytes that was not allocated so";
    }
    if (found == self.live.end()) return;
    self.live.erase(found);
    std::free(block);
  }
};

using Store = AigStorePtr;

Store create(Memory& memory) {
  return Store(AigStore::create(&memory, Memory::allocate, Memory::release));
}

char kindOf(QuantifierKind kind) {
  return kind == Forall ? 'a' : kind == Exists ? 'e' : '?';
}

std::string compareWithModel(const Formula& formula, bool read,
                             const model::QdimacsFormula& expected) {
  if (read != expected.error.empty() || formula.error != expected.error) {
    return "reader answers \"" + formula.error + "\", the model \"" + expected.error + "\"";
  }
  if (!read) return {};
  if (formula.maxVar != expected.maxVar) return "maxVar differs from the model";
  if (formula.prefix.size() != expected.prefix.size())
    return "prefix length differs from the model";
  std::map<std::uint32_t, char> kinds;  // the last quantifier of each variable counts
  for (std::size_t i = 0; i < formula.prefix.size(); ++i) {
    const model::Quantifier q{kindOf(formula.prefix[i].kind), formula.prefix[i].variable};
    if (!(q == expected.prefix[i]))
      return "prefix element " + std::to_string(i) + " differs from the model";
    kinds[q.variable] = q.kind;
  }
  for (const auto& [variable, kind] : kinds) {
    const Quantification* q = formula.quantifierOf.find(variable);
    if (q == nullptr || kindOf(q->kind) != kind)
      return "quantifier of " + std::to_string(variable) + " differs";
  }
  if (formula.quantifierOf.sortedKeys().size() != kinds.size())
    return "more variables quantified than the prefix holds";
  if (formula.clauses.size() != expected.clauses.size())
    return "clause count differs from the model";
  for (std::size_t i = 0; i < expected.clauses.size(); ++i) {
    std::vector<std::int32_t> clause;
    for (const Literal l : formula.clauses[i]) {
      clause.push_back(static_cast<std::int32_t>(variableOf(l)) * (isNegated(l) ? -1 : 1));
    }
    if (clause != expected.clauses[i])
      return "clause " + std::to_string(i) + " differs from the model";
  }
  return {};
}

// Small blocks handed out in turn; each one handed back is spoiled once its bytes are taken,
// so that a writer that keeps writing into a block it handed over garbles the text.
class SpoilingSink final : public BlockSink {
 public:
  std::string text;
  std::size_t blockSize() const override { return sizeof blocks_[0]; }
  char* exchange(char* full, std::size_t used) override {
    if (full != nullptr) text.append(full, used), std::memset(full, '#', sizeof blocks_[0]);
    return blocks_[next_ ^= 1];
  }
  bool finish() override { return true; }

 private:
  char blocks_[2][256];
  int next_ = 0;
};

// The negation as the pipeline builds and writes it, its graph in a store of the counting
// manager; the graph must pass its consistency check.
std::string negate(Formula& input, std::string& text) {
  Memory memory;
  {
    const Store store = create(memory);
    const NegationGraph graph(input, *store, true);
    if (const char* problem = store->check())
      return std::string("the graph fails its check: ") + problem;
    SpoilingSink sink;
    QdimacsWriter writer(sink);
    graph.write(input, writer);
    if (!writer.finish()) return "the sink refused bytes";
    text = std::move(sink.text);
  }
  return !memory.fault.empty() ? memory.fault
         : memory.live.empty() ? ""
                               : "the graph's store keeps blocks";
}

std::string notFlipped(const char* form, bool truth) {
  return std::string("the ") + form + "negation of a " + (truth ? "true" : "false") +
         " formula is not " + (truth ? "false" : "true");
}

// The compact form reads back, the circuit form keeps the rules of cleansed QCIR, and both
// are true exactly when the input is false (when its truth is known). An input that
// quantifies a variable twice is left out: the circuit form cannot say what it means.
std::string checkOtherForms(const Formula& read, const model::QdimacsFormula& input,
                            std::optional<bool> truth) {
  std::unordered_set<std::uint32_t> quantified;
  for (const model::Quantifier& q : input.prefix) {
    if (!quantified.insert(q.variable).second) return {};
  }
  const model::QdimacsFormula compact = model::readQdimacs(formText(read, makeCompactNegation));
  if (!compact.error.empty() || compact.declaredClauses != compact.clauses.size() ||
      compact.maxVar != compact.declaredVariables)
    return "the compact negation does not read back, or not as its problem line says: " +
           compact.error;
  const model::QcirFormula circuit = model::readQcir(formText(read, makeQcirNegation));
  if (!circuit.error.empty()) return "the circuit negation breaks a rule: " + circuit.error;
  if (truth && model::evaluate(compact) != !*truth) return notFlipped("compact ", *truth);
  if (truth && model::evaluate(circuit) != !*truth) return notFlipped("circuit ", *truth);
  return {};
}

}  // namespace

std::string negationThroughFormula(const Formula& input) {
  const std::uint32_t n = input.maxVar + 1;
  CubeArray cubes;
  input.complementedClauses(cubes);
  ClauseIndex index;
  index.defineDnf(n, std::move(cubes));
  Formula output;
  for (const Quantification& q : input.prefix)
    output.prefix.push_back({q.kind == Exists ? Forall : Exists, q.variable});
  encodeDefinitions(index, input.quantifierOf.sortedKeys(), {n}, n + 1, output);
  output.appendClause(std::vector<Literal>{makeLiteral(n, false)});
  for (std::uint64_t v = n; v <= output.maxVar; ++v)
    output.prefix.push_back({Exists, std::uint32_t(v)});
  std::ostringstream text;
  output.writeQdimacs(text);
  return text.str();
}

std::string formText(Formula input, std::unique_ptr<OutputForm> (*make)(Formula&)) {
  const std::unique_ptr<OutputForm> form = make(input);
  form->build(nullptr);
  std::ostringstream text;
  QdimacsWriter writer(text);
  for (std::size_t piece = 0; piece < form->pieceCount(); ++piece) form->writePiece(piece, writer);
  writer.finish();
  return text.str();
}

std::string checkQdimacsNegation(std::string_view bytes) {
  const model::QdimacsFormula expected = model::readQdimacs(bytes);
  Formula input;
  std::istringstream in{std::string(bytes)};
  const bool read = input.readQdimacs(in);
  if (std::string failure = compareWithModel(input, read, expected); !failure.empty() || !read)
    return failure;

  // One gate variable per literal and per clause above n = maxVar + 1, which is a gate too.
  std::uint64_t literals = 0;
  std::unordered_set<std::int32_t> variables;
  for (const auto& clause : expected.clauses) {
    literals += clause.size();
    for (const std::int32_t literal : clause) variables.insert(literal < 0 ? -literal : literal);
  }
  const std::uint64_t n = std::uint64_t{expected.maxVar} + 1,
                      largest = n + literals + expected.clauses.size();
  if (negationFits(input) != (largest <= maxVariableIndex)) return "negationFits is wrong";
  if (largest > maxVariableIndex) return {};
  const std::string longWay = negationThroughFormula(input);
  const Formula asRead = input;  // the negation takes the matrix
  std::string text;
  if (const std::string failure = negate(input, text); !failure.empty())
    return "negation: " + failure;
  if (text != longWay) return "the negation differs from the one built through a Formula";

  const model::QdimacsFormula negation = model::readQdimacs(text);
  if (!negation.error.empty()) return "the negation does not read back: " + negation.error;
  if (negation.maxVar != largest || negation.declaredVariables != largest)
    return "the negation's largest variable is not " + std::to_string(largest);
  if (negation.declaredClauses != negation.clauses.size())
    return "the problem line miscounts the clauses";
  const std::size_t kept = expected.prefix.size();
  if (negation.prefix.size() != kept + (largest - n + 1))
    return "the negation's prefix is not the input's and the gates'";
  for (std::size_t k = 0; k < negation.prefix.size(); ++k) {
    const model::Quantifier want =
        k < kept ? model::Quantifier{expected.prefix[k].kind == 'e' ? 'a' : 'e',
                                     expected.prefix[k].variable}
                 : model::Quantifier{'e', static_cast<std::uint32_t>(n + k - kept)};
    if (!(negation.prefix[k] == want))
      return "prefix element " + std::to_string(k) +
             " of the negation is not the input's exchanged or a gate's";
  }
  if (negation.clauses.empty() ||
      negation.clauses.back() != std::vector{static_cast<std::int32_t>(n)})
    return "the negation does not end with the unit clause n";
  for (const auto& clause : negation.clauses) {
    if (clause.empty() || clause.size() > 3)
      return "a gate clause of " + std::to_string(clause.size()) + " literals";
  }
  const std::optional<bool> truth =
      variables.size() <= kEvaluatedVariables ? model::evaluate(expected) : std::nullopt;
  if (truth && model::evaluate(negation) != !*truth) return notFlipped("", *truth);
  return checkOtherForms(asRead, expected, truth);
}

namespace {

const char* readText(AigStore& store, std::string_view bytes) {
  struct Source {
    std::string_view bytes;
    std::size_t at;
  } source{bytes, 0};
  return store.read(&source, [](void* state) {
    Source& s = *static_cast<Source*>(state);
    return s.at < s.bytes.size() ? static_cast<unsigned char>(s.bytes[s.at++]) : -1;
  });
}

bool writeText(AigStore& store, AigWriteMode mode, std::string& text) {
  text.clear();
  return store.write(mode, &text, [](char byte, void* state) {
    static_cast<std::string*>(state)->push_back(byte);
    return 0;
  }) == 1;
}

model::AigerGraph graphOf(const AigStore& store) {
  model::AigerGraph graph;
  graph.maxVar = store.maxVar;
  const auto symbols = [](const AigSymbol* symbols, std::uint32_t count) {
    std::vector<model::AigerSymbol> list;
    for (std::uint32_t k = 0; k < count; ++k) {
      list.push_back({symbols[k].literal, symbols[k].next, symbols[k].name ? symbols[k].name : ""});
    }
    return list;
  };
  graph.inputs = symbols(store.inputs, store.inputCount);
  graph.latches = symbols(store.latches, store.latchCount);
  graph.outputs = symbols(store.outputs, store.outputCount);
  for (std::uint32_t k = 0; k < store.andCount; ++k)
    graph.ands.push_back({store.ands[k].lhs, store.ands[k].rhs0, store.ands[k].rhs1});
  for (char** comment = store.comments; *comment != nullptr; ++comment)
    graph.comments.push_back(*comment);
  return graph;
}

// The verdicts, and the graphs when both read.
std::string difference(const model::AigerGraph& actual, const model::AigerGraph& expected) {
  if (actual.error != expected.error)
    return "\"" + actual.error + "\" where the model gives \"" + expected.error + "\"";
  const char* part = !actual.error.empty()                  ? nullptr
                     : actual.maxVar != expected.maxVar     ? "maxVar"
                     : actual.inputs != expected.inputs     ? "inputs"
                     : actual.latches != expected.latches   ? "latches"
                     : actual.outputs != expected.outputs   ? "outputs"
                     : actual.ands != expected.ands         ? "gates"
                     : actual.comments != expected.comments ? "comments"
                                                            : nullptr;
  return part == nullptr ? "" : std::string(part) + " differ from the model's";
}

// Both forms, ASCII first (the binary write renumbers the store): the text reads, by the
// model, as the graph written, and reads back and is written again to the same bytes.
std::string roundTrip(Memory& memory, AigStore& store) {
  for (const AigWriteMode mode : {ascii, AigWriteMode{0}}) {
    const std::string form = mode == ascii ? "ASCII" : "binary";
    std::string text, again;
    if (!writeText(store, mode, text)) return form + " write fails";
    if (std::string d = difference(model::readAiger(text), graphOf(store)); !d.empty())
      return form + " text read by the model: " + d;
    std::string buffer(text.size() + 1, '#');
    const auto capacity = static_cast<std::int32_t>(buffer.size());
    if (store.writeToString(mode, buffer.data(), capacity) != 1 || buffer != text + '\0' ||
        store.writeToString(mode, buffer.data(), capacity - 1) != 0) {
      return form +
             ": writeToString with room for the text and its NUL, or one byte less, is wrong";
    }
    const std::uint32_t inputs = store.inputCount, latches = store.latchCount;
    for (std::uint32_t k = 0; mode != ascii && k < inputs + latches + store.andCount; ++k) {
      // Renumbered for the binary form: no variable keeps a role of its old number.
      const int role = k < inputs ? 0 : k < inputs + latches ? 1 : 2;
      const AigLiteral literal = role == 0   ? store.inputs[k].literal
                                 : role == 1 ? store.latches[k - inputs].literal
                                             : store.ands[k - inputs - latches].lhs;
      if ((store.findInput(literal) != nullptr) != (role == 0) ||
          (store.findLatch(literal) != nullptr) != (role == 1) ||
          (store.findAnd(literal) != nullptr) != (role == 2))
        return "after renumbering, variable " + std::to_string(literal / 2) + " has a stale role";
    }
    Store copy = create(memory);
    if (const char* error = readText(*copy, text))
      return form + " text does not read back: " + error;
    if (!writeText(*copy, mode, again) || again != text)
      return form + " text changes when read and written again";
  }
  return {};
}

std::string fileRoundTrip(Memory& memory, std::string_view bytes) {
  const model::AigerGraph expected = model::readAiger(bytes, kRecordCap);
  if (expected.skipped) return {};
  Store store = create(memory);
  const char* error = readText(*store, bytes);
  model::AigerGraph actual;
  if (error == nullptr) actual = graphOf(*store);
  if (error != nullptr) actual.error = error;
  if (std::string d = difference(actual, expected); !d.empty()) return "reader: " + d;
  return error ? "" : roundTrip(memory, *store);
}

// The bytes as a recipe for a graph that keeps the rules: variables with gaps and jumps,
// roles shuffled, gates over constants, inputs, latches and earlier gates, added in either
// order, names and comments.
std::string recipeRoundTrip(Memory& memory, std::string_view bytes) {
  std::size_t at = 0;
  const auto next = [&]() -> unsigned {
    return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : 0u;
  };
  const auto text = [&] {
    std::string name;
    if (next() % 3 == 0) {
      for (unsigned k = next() % 7; k > 0; --k)
        name.push_back(static_cast<char>(' ' + next() % 95));
    }
    return name;
  };
  const unsigned inputs = next() % 9, latches = next() % 5, gates = next() % 33,
                 outputs = next() % 6;
  std::vector<std::uint32_t> variables;  // of the inputs, the latches, the gates
  for (std::uint32_t k = 0, variable = 0; k < inputs + latches + gates; ++k) {
    const unsigned gap = next();
    variable += 1 + (gap & 3) + (gap == 0xFF ? 1u << 20 : 0);
    variables.push_back(variable);
  }
  for (std::size_t k = variables.size(); k > 1; --k)
    std::swap(variables[k - 1], variables[next() % k]);
  if (next() % 4 == 0) {
    // The gates on consecutive variables from just below a page boundary on, as a graph
    // built gate by gate numbers them: the store keeps such pages as runs.
    const std::uint32_t first = AigStore::kVariablesPerPage * (1 + next() % 3) - next() % 8;
    for (unsigned k = 0; k < gates; ++k) variables[inputs + latches + k] = first + k;
  }
  const auto operand = [&](unsigned gatesBefore) -> AigLiteral {
    const unsigned choice = next(), pick = next(), kind = choice % 8;
    const unsigned first = kind < 3 ? 0 : kind == 3 ? inputs : inputs + latches;
    const unsigned count = kind == 0 ? 0 : kind < 3 ? inputs : kind == 3 ? latches : gatesBefore;
    return (count == 0 ? 0 : 2 * variables[first + pick % count]) + (choice >> 7);
  };
  Store store = create(memory);
  for (unsigned k = 0; k < inputs; ++k) store->addInput(2 * variables[k], text().c_str());
  for (unsigned k = 0; k < latches; ++k) {
    const AigLiteral next = operand(gates);
    store->addLatch(2 * variables[inputs + k], next, text().c_str());
  }
  std::vector<std::array<AigLiteral, 3>> ands;
  for (unsigned k = 0; k < gates; ++k) {
    const AigLiteral rhs0 = operand(k);
    ands.push_back({2 * variables[inputs + latches + k], rhs0, operand(k)});
  }
  const unsigned order = next() % 3;
  if (order == 1) std::reverse(ands.begin(), ands.end());
  if (order == 2) {
    // The two halves taken in turns: consecutive variables, but records that are not.
    std::vector<std::array<AigLiteral, 3>> turns;
    for (std::size_t k = 0, half = (ands.size() + 1) / 2; k < half; ++k) {
      turns.push_back(ands[k]);
      if (half + k < ands.size()) turns.push_back(ands[half + k]);
    }
    ands = std::move(turns);
  }
  if (next() % 2 == 0) {
    for (const auto& gate : ands) store->addAnd(gate[0], gate[1], gate[2]);
  } else {
    // The same gates formed in the store's room, a few at a time.
    for (std::size_t k = 0; k < ands.size();) {
      const auto count =
          static_cast<std::uint32_t>(std::min<std::size_t>(ands.size() - k, 1 + next() % 8));
      AigAnd* room = store->andRoom(count);
      for (std::uint32_t j = 0; j < count; ++j, ++k) room[j] = {ands[k][0], ands[k][1], ands[k][2]};
      store->addAnds(count);
    }
  }
  for (unsigned k = 0; k < outputs; ++k) {
    const AigLiteral literal = operand(gates);
    store->addOutput(literal, text().c_str());
  }
  for (unsigned k = next() % 4; k > 0; --k) store->addComment(text().c_str());
  if (const char* problem = store->check())
    return std::string("a graph built by the rules fails its check: ") + problem;
  return roundTrip(memory, *store);
}

}  // namespace

std::string checkAigerRoundTrip(std::string_view bytes) {
  Memory memory;
  std::string failure = fileRoundTrip(memory, bytes);
  if (failure.empty()) failure = recipeRoundTrip(memory, bytes);
  if (failure.empty()) failure = memory.fault;
  if (failure.empty() && !memory.live.empty())
    failure = std::to_string(memory.live.size()) + " blocks not handed back by destroy";
  for (const auto& [block, bytes] : memory.live) std::free(block);
  // The same again, memory running out at one of those allocations (chosen by the bytes):
  // std::bad_alloc comes through, and the stores hand back every block all the same.
  if (!failure.empty()) return failure;
  Memory scarce;
  scarce.failAt = std::hash<std::string_view>{}(bytes) % memory.allocations;
  try {
    fileRoundTrip(scarce, bytes);
    recipeRoundTrip(scarce, bytes);
    failure = "no std::bad_alloc at allocation " + std::to_string(scarce.failAt);
  } catch (const std::bad_alloc&) {
  }
  if (failure.empty()) failure = scarce.fault;
  if (failure.empty() && !scarce.live.empty())
    failure = std::to_string(scarce.live.size()) + " blocks kept after std::bad_alloc";
  for (const auto& [block, bytes] : scarce.live) std::free(block);
  return failure;
}

std::string checkDeltaCodes(std::string_view bytes) {
  std::vector<std::uint32_t> values = {0,       127,     128,       16383,     16384,
                                       2097151, 2097152, 268435455, 268435456, 0xFFFFFFFF};
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::memcpy(&values.emplace_back(), bytes.data() + i, 4);
  }
  for (const std::uint32_t value : values) {
    unsigned char code[8];
    std::memset(code, 0xEE, sizeof code);
    const unsigned length = encodeDelta(value, code);
    if (std::string_view(reinterpret_cast<const char*>(code), length) !=
            model::encodeDelta(value) ||
        code[5] != 0xEE) {
      return "encodeDelta(" + std::to_string(value) + ") differs from the model";
    }
    std::uint32_t decoded = ~value;
    if (decodeDelta(code, length, &decoded) != length || decoded != value ||
        decodeDelta(code, length - 1, &decoded) != 0) {
      return "decodeDelta does not invert encodeDelta(" + std::to_string(value) + ")";
    }
  }
  std::uint32_t expected = 0, actual = 0;
  const std::size_t length = model::decodeDelta(bytes, expected);
  if (decodeDelta(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &actual) !=
          length ||
      (length != 0 && actual != expected)) {
    return "decodeDelta of the raw bytes differs from the model";
  }
  return {};
}

}  // namespace ZEFI::fuzz
