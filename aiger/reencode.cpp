// Renumbering of a store into the order the binary form needs: inputs, latches, then the
// gates in an order in which every gate comes after its operands, numbered consecutively.
// On a store that fails the check it still stays within bounds and terminates (undefined
// operands keep their value, a gate met again on the current path is not entered twice),
// but the numbering it produces is then meaningless.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "aiger/aiger.hpp"
#include "aiger/page_table.hpp"

namespace ZEFI {

namespace {

std::uint32_t variableOf(AigLiteral literal) {
  return literal >> 1;
}

}  // namespace

struct AigReencoder {
  static void reencode(AigStore& store);

 private:
  // New numbers of old variables: code(v) is the new (even) literal of old variable v, 0
  // while none is assigned; the sign bit is carried over. The table is paged like the
  // store's own variable table, so a graph over a few huge variable indices costs a few
  // pages, not a table as long as its largest index.
  class CodeTable {
   public:
    CodeTable(AigStore& store, std::uint32_t largestVariable);
    ~CodeTable();
    CodeTable(const CodeTable&) = delete;
    CodeTable& operator=(const CodeTable&) = delete;
    std::uint32_t get(std::uint32_t variable) const {
      const std::uint64_t page = variable >> kPageBits;
      if (page >= pageCount_) return 0;
      const std::uint32_t* code = Pages::find(pages_[page], variable & Pages::kPageMask);
      return code == nullptr ? 0 : *code;
    }
    void set(std::uint32_t variable, std::uint32_t literal);

   private:
    using Pages = PageTable<std::uint32_t>;
    static constexpr std::uint32_t kPageBits = AigStore::kVariablePageBits;
    AigStore& store_;
    std::uint32_t** pages_ = nullptr;
    std::size_t pageCount_ = 0;
  };

  struct Renumbering {
    AigStore& store;
    CodeTable code;
    std::uint32_t* stack = nullptr;
    std::size_t stackSize = 0;
    std::size_t stackCapacity = 0;
    std::uint32_t next = 2;

    Renumbering(AigStore& owner, std::uint32_t largestVariable)
        : store(owner), code(owner, largestVariable) {}
    ~Renumbering() { store.release(stack, stackCapacity * sizeof *stack); }
    Renumbering(const Renumbering&) = delete;
    Renumbering& operator=(const Renumbering&) = delete;
    void push(std::uint32_t entry);
    AigLiteral translate(AigLiteral literal) const {
      if (literal < 2) return literal;
      return code.get(variableOf(literal)) | (literal & 1u);
    }
    AigLiteral translateRoot(AigLiteral literal);
    void numberCone(std::uint32_t root);
    void number(std::uint32_t variable) {
      code.set(variable, next);
      next += 2;
    }
    void keepValue(std::uint32_t variable) { code.set(variable, variable << 1); }
  };

  static std::uint32_t largestVariable(const AigStore& store);
  static void rewriteGates(AigStore& store, const Renumbering& work);
  static void sortGates(AigStore& store, std::uint32_t firstGateVariable);
};

AigReencoder::CodeTable::CodeTable(AigStore& store, std::uint32_t largestVariable)
    : store_(store), pageCount_((std::size_t{largestVariable} >> kPageBits) + 1) {
  pages_ = static_cast<std::uint32_t**>(store_.allocate(pageCount_ * sizeof *pages_));
  for (std::size_t page = 0; page < pageCount_; ++page) pages_[page] = nullptr;
}

AigReencoder::CodeTable::~CodeTable() {
  for (std::size_t page = 0; page < pageCount_; ++page) {
    Pages::free(pages_[page],
                [this](void* block, std::size_t bytes) { store_.release(block, bytes); });
  }
  store_.release(pages_, pageCount_ * sizeof *pages_);
}

void AigReencoder::CodeTable::set(std::uint32_t variable, std::uint32_t literal) {
  *Pages::touch(
      pages_[variable >> kPageBits], variable & Pages::kPageMask,
      [this](std::size_t bytes) { return store_.allocate(bytes); },
      [this](void* block, std::size_t bytes) { store_.release(block, bytes); }) = literal;
}

void AigReencoder::Renumbering::push(std::uint32_t entry) {
  if (stackSize == stackCapacity) {
    const std::size_t capacity = stackCapacity == 0 ? 64 : 2 * stackCapacity;
    auto* grown = static_cast<std::uint32_t*>(store.allocate(capacity * sizeof *stack));
    if (stackSize > 0) std::memcpy(grown, stack, stackSize * sizeof *grown);
    store.release(stack, stackCapacity * sizeof *stack);
    stack = grown;
    stackCapacity = capacity;
  }
  stack[stackSize++] = entry;
}

AigLiteral AigReencoder::Renumbering::translateRoot(AigLiteral literal) {
  if (literal < 2) return literal;
  const std::uint32_t variable = variableOf(literal);
  if (code.get(variable) == 0) {
    const AigVariable entry = store.variableAt(variable);
    if (!entry.isAnd || entry.index >= store.andCount) {
      // Not defined by anything: the literal keeps its value.
      keepValue(variable);
    } else {
      numberCone(variable);
    }
  }
  return translate(literal);
}

// Post-order depth-first numbering with an explicit stack: a gate is pushed, then a 0
// marker above it, then its operand variables (the larger old index first, so the smaller
// one is expanded and numbered first). Popping the marker means both operand cones are
// numbered, so the gate below it receives the next number.
void AigReencoder::Renumbering::numberCone(std::uint32_t root) {
  push(root);
  while (stackSize > 0) {
    const std::uint32_t top = stack[--stackSize];
    if (top == 0) {
      const std::uint32_t gate = stack[--stackSize];
      store.variableEntry(gate)->onStack = 0;
      number(gate);
      continue;
    }
    if (code.get(top) != 0) continue;
    AigVariable* entry = store.variableEntry(top);
    if (entry == nullptr || !entry->isAnd || entry->index >= store.andCount) {
      keepValue(top);  // an operand nothing defines (only in a store that fails the check)
      continue;
    }
    if (entry->onStack) continue;  // a cycle (only in a store that fails the check)
    entry->onStack = 1;
    push(top);
    push(0);
    const AigAnd& gate = store.ands[entry->index];
    const std::uint32_t first = variableOf(gate.rhs0);
    const std::uint32_t second = variableOf(gate.rhs1);
    const std::uint32_t high = std::max(first, second);
    const std::uint32_t low = std::min(first, second);
    for (const std::uint32_t operand : {high, low}) {
      if (operand == 0 || code.get(operand) != 0) continue;  // constants and numbered variables
      if (store.variableAt(operand).onStack) continue;
      push(operand);
    }
  }
}

std::uint32_t AigReencoder::largestVariable(const AigStore& store) {
  std::uint32_t largest = 0;
  for (std::uint32_t k = 0; k < store.inputCount; ++k) {
    largest = std::max(largest, variableOf(store.inputs[k].literal));
  }
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    largest = std::max(
        {largest, variableOf(store.latches[k].literal), variableOf(store.latches[k].next)});
  }
  for (std::uint32_t k = 0; k < store.outputCount; ++k) {
    largest = std::max(largest, variableOf(store.outputs[k].literal));
  }
  for (std::uint32_t k = 0; k < store.andCount; ++k) {
    const AigAnd& gate = store.ands[k];
    largest =
        std::max({largest, variableOf(gate.lhs), variableOf(gate.rhs0), variableOf(gate.rhs1)});
  }
  return largest;
}

// Keeps the gates that received a number, in place and in array order, with their operands
// in descending order; clears the role flags of every old defining variable on the way.
void AigReencoder::rewriteGates(AigStore& store, const Renumbering& work) {
  std::uint32_t kept = 0;
  for (std::uint32_t k = 0; k < store.andCount; ++k) {
    const AigAnd gate = store.ands[k];
    const std::uint32_t variable = variableOf(gate.lhs);
    AigVariable* entry = store.variableEntry(variable);
    // Only the record the table points at defines the variable (a second gate with the same
    // lhs can exist only in a store built against the rules).
    const bool defining = entry != nullptr && entry->isAnd && entry->index == k;
    const bool numbered =
        defining && !entry->isInput && !entry->isLatch && work.code.get(variable) != 0;
    if (defining) {
      entry->isAnd = 0;
      entry->index = 0;
    }
    if (!numbered) continue;
    const AigLiteral first = work.translate(gate.rhs0);
    const AigLiteral second = work.translate(gate.rhs1);
    store.ands[kept++] =
        AigAnd{work.code.get(variable), std::max(first, second), std::min(first, second)};
  }
  store.andCount = kept;
}

// The kept gates carry the consecutive numbers firstGateVariable, firstGateVariable + 1, ...
// so each one's place is known: cycle placement sorts them in linear time. A key outside
// that range or a repeated key (only possible in a store built against the rules) falls back
// to a comparison sort.
void AigReencoder::sortGates(AigStore& store, std::uint32_t firstGateVariable) {
  AigAnd* gates = store.ands;
  const std::uint32_t count = store.andCount;
  auto place = [&](const AigAnd& gate) -> std::uint64_t {
    const std::uint32_t variable = variableOf(gate.lhs);
    return variable < firstGateVariable ? UINT64_MAX : variable - firstGateVariable;
  };
  bool placed = true;
  for (std::uint32_t k = 0; k < count && placed; ++k) {
    while (place(gates[k]) != k) {
      const std::uint64_t target = place(gates[k]);
      if (target >= count || place(gates[target]) == target) {
        placed = false;
        break;
      }
      std::swap(gates[k], gates[target]);
    }
  }
  if (!placed) {
    std::sort(gates, gates + count, [](const AigAnd& a, const AigAnd& b) { return a.lhs < b.lhs; });
  }
}

void AigReencoder::reencode(AigStore& store) {
  Renumbering work(store, largestVariable(store));

  // Inputs become variables 1..I and latches I+1..I+L, in array order.
  for (std::uint32_t k = 0; k < store.inputCount; ++k) {
    work.number(variableOf(store.inputs[k].literal));
  }
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    work.number(variableOf(store.latches[k].literal));
  }
  const std::uint32_t firstGateVariable = work.next >> 1;

  // Roots: latch next states first, then outputs; each cone is numbered when first reached.
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    store.latches[k].next = work.translateRoot(store.latches[k].next);
  }
  for (std::uint32_t k = 0; k < store.outputCount; ++k) {
    store.outputs[k].literal = work.translateRoot(store.outputs[k].literal);
  }
  store.release(work.stack, work.stackCapacity * sizeof *work.stack);
  work.stack = nullptr;
  work.stackCapacity = work.stackSize = 0;

  rewriteGates(store, work);
  // The old input and latch variables lose their roles too before the new ones are set.
  for (std::uint32_t k = 0; k < store.inputCount; ++k) {
    AigVariable* entry = store.variableEntry(variableOf(store.inputs[k].literal));
    if (entry != nullptr) entry->isInput = entry->isLatch = entry->isAnd = entry->index = 0;
  }
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    AigVariable* entry = store.variableEntry(variableOf(store.latches[k].literal));
    if (entry != nullptr) entry->isInput = entry->isLatch = entry->isAnd = entry->index = 0;
  }
  sortGates(store, firstGateVariable);

  for (std::uint32_t k = 0; k < store.andCount; ++k) {
    AigVariable* entry = store.importLiteral(store.ands[k].lhs);
    entry->isAnd = 1;
    entry->index = k;
  }
  // Inputs and latches take their new literals and define them again, in their positions.
  const auto redefine = [&](AigSymbol* symbols, std::uint32_t count, auto markRole) {
    for (std::uint32_t k = 0; k < count; ++k) {
      symbols[k].literal = work.translate(symbols[k].literal);
      AigVariable* entry = store.importLiteral(symbols[k].literal);
      markRole(*entry);
      entry->index = k;
    }
  };
  redefine(store.inputs, store.inputCount, [](AigVariable& entry) { entry.isInput = 1; });
  redefine(store.latches, store.latchCount, [](AigVariable& entry) { entry.isLatch = 1; });
  store.maxVar = (work.next - 1) / 2;
}

int AigStore::isReencoded() const {
  // 64-bit arithmetic: counts near 2^31 must not make an expected literal wrap.
  for (std::uint32_t k = 0; k < inputCount; ++k) {
    if (inputs[k].literal != 2 * (std::uint64_t{k} + 1)) return 0;
  }
  for (std::uint32_t k = 0; k < latchCount; ++k) {
    if (latches[k].literal != 2 * (std::uint64_t{inputCount} + k + 1)) return 0;
  }
  for (std::uint32_t k = 0; k < andCount; ++k) {
    const AigAnd& gate = ands[k];
    if (gate.lhs != 2 * (std::uint64_t{inputCount} + latchCount + k + 1)) return 0;
    if (gate.lhs < gate.rhs0 || gate.rhs0 < gate.rhs1) return 0;
  }
  return maxVar == std::uint64_t{inputCount} + latchCount + andCount ? 1 : 0;
}

void AigStore::reencode() {
  if (isReencoded()) return;
  AigReencoder::reencode(*this);
}

}  // namespace ZEFI
