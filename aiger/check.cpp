// The consistency check of an AIG store: every literal used by a latch, an output or an AND
// gate is defined, and no AND gate depends on itself. The first problem found, in a fixed
// order, becomes the store's error text.
#include <cstdint>
#include <initializer_list>

#include "aiger/aiger.hpp"
#include "aiger/page_table.hpp"

namespace ZEFI {

const char* AigStore::check() {
  if (error != nullptr) return error;
  checkNextStates();
  checkOutputs();
  const bool gatesInOrder = checkAndOperands();
  checkCycles(gatesInOrder);
  return error;
}

void AigStore::checkNextStates() {
  if (error != nullptr) return;
  for (std::uint32_t position = 0; position < latchCount && error == nullptr; ++position) {
    const AigSymbol& latch = latches[position];
    if (!isDefined(latch.next)) {
      setError("next state function %u of latch %u undefined", latch.next, latch.literal);
    }
  }
}

void AigStore::checkOutputs() {
  if (error != nullptr) return;
  for (std::uint32_t position = 0; position < outputCount && error == nullptr; ++position) {
    const AigLiteral literal = outputs[position].literal & ~AigLiteral{1};
    if (literal > 1 && !isDefined(literal)) setError("output %u undefined", literal);
  }
}

bool AigStore::checkAndOperands() {
  if (error != nullptr) return false;
  // What the check asks of a variable, read straight from the directory word where its page
  // is a run (most lookups, in a graph built gate by gate), else from its entry: the whole
  // entry is not needed, and building it cost a third of the check.
  struct Role {
    bool defined;
    bool gate;
    std::uint32_t index;
  };
  AigVariable* const* const pages = variablePages;
  const std::uint64_t capacity = variableCapacity;
  const auto roleOf = [pages, capacity](std::uint32_t variable) -> Role {
    if (variable >= capacity) return {false, false, 0};
    AigVariable* const word = pages[variable >> kVariablePageBits];
    const std::uint32_t slot = variable & PageTable<AigVariable>::kPageMask;
    if (RunPage::is(word)) {
      const RunPage run = RunPage::of(word);
      return {run.holds(slot), run.gates, run.base + (slot - run.first)};
    }
    const AigVariable* entry = PageTable<AigVariable>::find(word, slot);
    if (entry == nullptr) return {false, false, 0};
    return {entry->isInput || entry->isLatch || entry->isAnd, entry->isAnd != 0, entry->index};
  };
  bool inOrder = true;
  const AigAnd* const gates = ands;
  const std::uint32_t count = andCount;
  // A graph built record by record holds its gates (and its inputs) on consecutive variables
  // from the first one's: where the directory says so (pages that are runs of that kind, each
  // taking up where the last ended), a variable of that range is the record at its distance
  // from the first, without a look at its page. The first one's page may hold other
  // variables as well (a gate defined last, say): the range then starts at the next page.
  struct Range {
    std::uint64_t first, low, high;  // the range is low .. high - 1
    bool holds(std::uint64_t variable) const { return variable >= low && variable < high; }
  };
  const auto rangeOf = [pages, capacity](std::uint64_t first, bool ofGates, std::uint64_t records) {
    Range range{first, first, first};
    if (first != 0 && first < capacity && !RunPage::is(pages[first >> kVariablePageBits])) {
      range.low = range.high = ((first >> kVariablePageBits) + 1) << kVariablePageBits;
    }
    while (first != 0 && range.high < capacity && range.high - first < records) {
      AigVariable* const word = pages[range.high >> kVariablePageBits];
      const auto slot = static_cast<std::uint32_t>(range.high & PageTable<AigVariable>::kPageMask);
      if (!RunPage::is(word)) break;
      const RunPage run = RunPage::of(word);
      if (run.gates != ofGates || run.first != slot || run.base != range.high - first) break;
      range.high += run.count;
      if (run.first + run.count != AigStore::kVariablesPerPage) break;  // the run ends here
    }
    return range;
  };
  const Range gateRange = rangeOf(count > 0 ? gates[0].lhs >> 1 : 0, true, count);
  const Range inputRange = rangeOf(inputCount > 0 ? inputs[0].literal >> 1 : 0, false, inputCount);
  const auto lookUp = [&roleOf, gateRange, inputRange](std::uint32_t variable) -> Role {
    if (gateRange.holds(variable)) {
      return Role{true, true, static_cast<std::uint32_t>(variable - gateRange.first)};
    }
    if (inputRange.holds(variable)) return Role{true, false, 0};
    return roleOf(variable);
  };
  for (std::uint32_t position = 0; position < count; ++position) {
    const AigAnd gate = gates[position];
    for (const AigLiteral operand : {gate.rhs0, gate.rhs1}) {
      // One look at the operand serves both questions: is it defined (constants always
      // are), and is it a gate stored at or after this one?
      const Role role = lookUp(operand >> 1);
      if (!role.defined && (operand >> 1) != 0) {
        setError("literal %u in AND %u undefined", operand, gate.lhs);
        return false;
      }
      if (role.defined && role.gate && role.index >= position) inOrder = false;
    }
    if (inOrder) {
      // In order also means the gate is its variable's one definition.
      const Role self = lookUp(gate.lhs >> 1);
      inOrder = self.defined && self.gate && self.index == position;
    }
  }
  return inOrder;
}

// Depth-first search over AND gates with an explicit stack, so that deep graphs need no
// call-stack depth. A stack entry is a variable, or 0 as a separator above a gate whose
// operands are being explored; reaching the separator finishes that gate. Starts are tried
// in ascending variable order and rhs1 is pushed last, so it is explored first: this fixes
// which gate of a cycle is named.
void AigStore::checkCycles(bool gatesInOrder) {
  if (error != nullptr) return;
  if (gatesInOrder) {
    // Every path through the gates leads to earlier ones, so none comes back. No mark is
    // set (nothing reads them after a check), so the table is not even read, and a later
    // search, after more gates were added, walks these gates again instead of taking them
    // for finished.
    release(nullptr, 0);  // the search's stack, never needed, is handed back all the same
    return;
  }

  std::uint32_t* stack = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  // Handed back also when memory runs out on the way.
  struct StackRelease {
    AigStore& store;
    std::uint32_t*& stack;
    std::size_t& capacity;
    ~StackRelease() { store.release(stack, capacity * sizeof *stack); }
  } stackRelease{*this, stack, capacity};
  auto push = [&](std::uint32_t entry) {
    if (size == capacity) {
      const std::size_t grown = capacity == 0 ? 1 : 2 * capacity;
      stack = static_cast<std::uint32_t*>(resizeBlock(stack, capacity, grown, sizeof *stack));
      capacity = grown;
    }
    stack[size++] = entry;
  };

  // Walk only the pages that exist: variables in never-touched pages define nothing, and a
  // store over a few huge variable indices must not cost a walk over all of them.
  const std::uint64_t pages = variableCapacity >> kVariablePageBits;
  const std::uint64_t last = maxVar;
  for (std::uint64_t page = 0; page < pages && error == nullptr; ++page) {
    // The search marks entries: a run page takes its entries first.
    const PageTable<AigVariable>::Held held = PageTable<AigVariable>::held(
        variablePages[page] == nullptr
            ? nullptr
            : pageOf(static_cast<std::uint32_t>(page << kVariablePageBits)));
    if (held.entries == nullptr) continue;
    const std::uint64_t first = (page << kVariablePageBits) + held.first;
    if (first > last) break;
    for (std::uint32_t k = 0; k < held.count && error == nullptr; ++k) {
      const std::uint64_t start = first + k;
      if (start > last) break;
      if (start == 0) continue;
      const AigVariable& candidate = held.entries[k];
      if (!candidate.isAnd || candidate.mark) continue;

      push(static_cast<std::uint32_t>(start));
      while (size > 0) {
        const std::uint32_t top = stack[size - 1];
        if (top == 0) {
          // Separator: the gate below it is finished.
          size -= 2;
          if (AigVariable* finished = variableEntry(stack[size])) finished->onStack = 0;
          continue;
        }
        AigVariable* entry = variableEntry(top);
        if (entry != nullptr && entry->mark && entry->onStack) {
          setError("cyclic definition for and gate %u", top);
          break;
        }
        if (entry == nullptr || !entry->isAnd || entry->mark || entry->index >= andCount) {
          --size;  // an input, a latch, an undefined variable or a finished gate
          continue;
        }
        entry->mark = 1;
        entry->onStack = 1;
        const AigAnd gate = ands[entry->index];
        push(0);
        if ((gate.rhs0 >> 1) != 0) push(gate.rhs0 >> 1);
        if ((gate.rhs1 >> 1) != 0) push(gate.rhs1 >> 1);
      }
    }
  }
}

}  // namespace ZEFI
