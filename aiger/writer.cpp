// AIGER writer: the ASCII ("aag") and binary ("aig") forms, through a byte callback, into a
// caller's buffer, onto a stdio stream or into a named (optionally gzip-compressed) file.
//
// One templated routine produces the bytes for every destination. The generic callback
// path hands every byte to the caller's put function; the stream, path and string paths use
// sinks that copy whole runs into a buffer, so that writing a graph of millions of gates
// does not pay a function call and a stdio lock per byte. All paths produce the same bytes
// and stop at the same point when the destination refuses a byte.
//
// Binary writes and inconsistent graphs: the binary form can only describe a graph whose
// literals are all defined and whose gates are acyclic, and the renumbering that the binary
// form needs assumes exactly that. A binary write therefore runs the store's consistency
// check first. When the check reports a problem (an undefined next state, output or gate
// operand, or a cyclic gate), the write sends no byte, leaves the numbering of the store
// untouched and returns 0; the check's message stays available as the store's error text.
// A store that already carries an error text (for example after a failed read) is refused
// the same way. ASCII writes never check: they show the store exactly as it is. (A store
// that is already binary-ready is tested record by record instead of through the check's
// table lookups; it passes exactly when the check would, and otherwise the check runs.)
//
// The renumbering (reencode) is also public. On a store that fails the check it still stays
// within bounds and terminates (undefined operands keep their value, a gate met again on the
// current path is not entered twice), but the numbering it produces is then meaningless.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "aiger/aiger.hpp"
#include "aiger/page_table.hpp"

namespace ZEFI {

namespace {

constexpr std::size_t kWriteBufferBytes = 64 * 1024;

// Delivers every byte to the caller's callback; -1 is the only refusal.
class CallbackSink {
 public:
  CallbackSink(void* state, AigPutFn put) : state_(state), put_(put) {}
  bool put(char byte) { return put_(byte, state_) != -1; }
  bool write(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (!put(bytes[i])) return false;
    }
    return true;
  }

 private:
  void* state_;
  AigPutFn put_;
};

// Fills a caller's buffer; a refused byte leaves the prefix that fitted, as a byte-by-byte
// sink would.
class StringSink {
 public:
  explicit StringSink(AigStringSink& state) : state_(state) {}
  bool put(char byte) {
    if (state_.cursor == state_.end) return false;
    *state_.cursor++ = byte;
    return true;
  }
  bool write(const char* bytes, std::size_t count) {
    const std::size_t room = static_cast<std::size_t>(state_.end - state_.cursor);
    const std::size_t taken = std::min(room, count);
    if (taken > 0) std::memcpy(state_.cursor, bytes, taken);
    state_.cursor += taken;
    return taken == count;
  }

 private:
  AigStringSink& state_;
};

// Collects bytes in a block and hands full blocks to fwrite.
class FileSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  bool put(char byte) {
    if (used_ == kWriteBufferBytes && !flush()) return false;
    buffer_[used_++] = byte;
    return true;
  }
  // Room for count (at most kWriteBufferBytes) bytes that the caller fills at once; null when
  // the stream refused the bytes collected before.
  char* claim(std::size_t count) {
    if (kWriteBufferBytes - used_ < count && !flush()) return nullptr;
    char* room = buffer_ + used_;
    used_ += count;
    return room;
  }
  bool write(const char* bytes, std::size_t count) {
    while (count > 0) {
      if (used_ == kWriteBufferBytes && !flush()) return false;
      const std::size_t taken = std::min(kWriteBufferBytes - used_, count);
      std::memcpy(buffer_ + used_, bytes, taken);
      used_ += taken;
      bytes += taken;
      count -= taken;
    }
    return true;
  }
  bool flush() {
    if (failed_) return false;
    if (used_ > 0 && std::fwrite(buffer_, 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
    return !failed_;
  }

 private:
  std::FILE* file_;
  std::size_t used_ = 0;
  bool failed_ = false;
  char buffer_[kWriteBufferBytes];
};

template <class Sink>
bool putText(Sink& sink, const char* text) {
  return sink.write(text, std::strlen(text));
}

// "%u" without the printf machinery; sinks with a buffer of their own get the digits
// written straight into it.
template <class Sink>
bool putUnsigned(Sink& sink, std::uint32_t value) {
  if constexpr (requires { sink.claim(std::size_t{1}); }) {
    std::size_t length = 1;
    for (std::uint32_t rest = value; rest >= 10; rest /= 10) ++length;
    char* room = sink.claim(length);
    if (room == nullptr) return false;
    for (char* digit = room + length; digit != room; value /= 10) {
      *--digit = static_cast<char>('0' + value % 10);
    }
    return true;
  }
  char digits[10];
  char* first = digits + sizeof digits;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return sink.write(first, static_cast<std::size_t>(digits + sizeof digits - first));
}

template <class Sink>
bool putDelta(Sink& sink, std::uint32_t value) {
  unsigned char code[5];
  const unsigned length = encodeDelta(value, code);
  return sink.write(reinterpret_cast<const char*>(code), length);
}

template <class Sink>
bool putNamedEntries(Sink& sink, char kind, const AigSymbol* symbols, std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) {
    const char* name = symbols[k].name;
    if (name == nullptr) continue;
    if (!sink.put(kind) || !putUnsigned(sink, k) || !sink.put(' ') || !putText(sink, name) ||
        !sink.put('\n')) {
      return false;
    }
  }
  return true;
}

bool hasName(const AigSymbol* symbols, std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) {
    if (symbols[k].name != nullptr) return true;
  }
  return false;
}

std::uint32_t variableOf(AigLiteral literal) {
  return literal >> 1;
}

}  // namespace

struct AigWriter {
  template <class Sink>
  static int write(AigStore& store, AigWriteMode mode, Sink& sink);

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

  static bool passesCheckWhenReady(const AigStore& store);
  static std::uint32_t largestVariable(const AigStore& store);
  static void rewriteGates(AigStore& store, const Renumbering& work);
  static void sortGates(AigStore& store, std::uint32_t firstGateVariable);
};

AigWriter::CodeTable::CodeTable(AigStore& store, std::uint32_t largestVariable)
    : store_(store), pageCount_((std::size_t{largestVariable} >> kPageBits) + 1) {
  pages_ = static_cast<std::uint32_t**>(store_.allocate(pageCount_ * sizeof *pages_));
  for (std::size_t page = 0; page < pageCount_; ++page) pages_[page] = nullptr;
}

AigWriter::CodeTable::~CodeTable() {
  for (std::size_t page = 0; page < pageCount_; ++page) {
    Pages::free(pages_[page],
                [this](void* block, std::size_t bytes) { store_.release(block, bytes); });
  }
  store_.release(pages_, pageCount_ * sizeof *pages_);
}

void AigWriter::CodeTable::set(std::uint32_t variable, std::uint32_t literal) {
  *Pages::touch(
      pages_[variable >> kPageBits], variable & Pages::kPageMask,
      [this](std::size_t bytes) { return store_.allocate(bytes); },
      [this](void* block, std::size_t bytes) { store_.release(block, bytes); }) = literal;
}

void AigWriter::Renumbering::push(std::uint32_t entry) {
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

AigLiteral AigWriter::Renumbering::translateRoot(AigLiteral literal) {
  if (literal < 2) return literal;
  const std::uint32_t variable = variableOf(literal);
  if (code.get(variable) == 0) {
    const AigVariable* entry = store.variableEntry(variable);
    if (entry == nullptr || !entry->isAnd || entry->index >= store.andCount) {
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
void AigWriter::Renumbering::numberCone(std::uint32_t root) {
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
      const AigVariable* operandEntry = store.variableEntry(operand);
      if (operandEntry != nullptr && operandEntry->onStack) continue;
      push(operand);
    }
  }
}

std::uint32_t AigWriter::largestVariable(const AigStore& store) {
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
void AigWriter::rewriteGates(AigStore& store, const Renumbering& work) {
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
void AigWriter::sortGates(AigStore& store, std::uint32_t firstGateVariable) {
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

void AigWriter::reencode(AigStore& store) {
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

// A shortcut for the common case of writing a store that is already binary-ready (every
// store read from a binary file): there every variable 1..M is defined by the record at its
// position and every operand is at most its gate's lhs, so the check can only fail on a
// gate that uses itself or a latch next state or output above M. Testing those records in
// order is much cheaper than the check's lookups; any store that does not pass goes through
// the full check, which then supplies the message.
bool AigWriter::passesCheckWhenReady(const AigStore& store) {
  if (store.error != nullptr || !store.isReencoded()) return false;
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    if (variableOf(store.latches[k].next) > store.maxVar) return false;
  }
  for (std::uint32_t k = 0; k < store.outputCount; ++k) {
    if (variableOf(store.outputs[k].literal) > store.maxVar) return false;
  }
  for (std::uint32_t k = 0; k < store.andCount; ++k) {
    if (store.ands[k].rhs0 == store.ands[k].lhs) return false;
  }
  return true;
}

template <class Sink>
int AigWriter::write(AigStore& store, AigWriteMode mode, Sink& sink) {
  const bool isAscii = (mode & ascii) != 0;
  if (!isAscii && !passesCheckWhenReady(store)) {
    if (store.check() != nullptr) return 0;
    store.reencode();
  }
  if (!putText(sink, isAscii ? "aag " : "aig ") || !putUnsigned(sink, store.maxVar) ||
      !sink.put(' ') || !putUnsigned(sink, store.inputCount) || !sink.put(' ') ||
      !putUnsigned(sink, store.latchCount) || !sink.put(' ') ||
      !putUnsigned(sink, store.outputCount) || !sink.put(' ') ||
      !putUnsigned(sink, store.andCount) || !sink.put('\n')) {
    return 0;
  }
  if (isAscii) {
    for (std::uint32_t k = 0; k < store.inputCount; ++k) {
      if (!putUnsigned(sink, store.inputs[k].literal) || !sink.put('\n')) return 0;
    }
  }
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    const AigSymbol& latch = store.latches[k];
    if (isAscii && (!putUnsigned(sink, latch.literal) || !sink.put(' '))) return 0;
    if (!putUnsigned(sink, latch.next) || !sink.put('\n')) return 0;
  }
  for (std::uint32_t k = 0; k < store.outputCount; ++k) {
    if (!putUnsigned(sink, store.outputs[k].literal) || !sink.put('\n')) return 0;
  }
  if (isAscii) {
    for (std::uint32_t k = 0; k < store.andCount; ++k) {
      const AigAnd& gate = store.ands[k];
      if (!putUnsigned(sink, gate.lhs) || !sink.put(' ') || !putUnsigned(sink, gate.rhs0) ||
          !sink.put(' ') || !putUnsigned(sink, gate.rhs1) || !sink.put('\n')) {
        return 0;
      }
    }
  } else {
    AigLiteral lhs = maxInputOrLatchLiteral(store);
    for (std::uint32_t k = 0; k < store.andCount; ++k) {
      const AigAnd& gate = store.ands[k];
      lhs += 2;
      if (!putDelta(sink, lhs - gate.rhs0) || !putDelta(sink, gate.rhs0 - gate.rhs1)) return 0;
    }
  }
  if ((mode & stripped) == 0) {
    if (hasName(store.inputs, store.inputCount) || hasName(store.latches, store.latchCount) ||
        hasName(store.outputs, store.outputCount)) {
      if (!putNamedEntries(sink, 'i', store.inputs, store.inputCount) ||
          !putNamedEntries(sink, 'l', store.latches, store.latchCount) ||
          !putNamedEntries(sink, 'o', store.outputs, store.outputCount)) {
        return 0;
      }
    }
    if (store.comments[0] != nullptr) {
      if (!putText(sink, "c\n")) return 0;
      for (char** comment = store.comments; *comment != nullptr; ++comment) {
        if (!putText(sink, *comment) || !sink.put('\n')) return 0;
      }
    }
  }
  return 1;
}

AigLiteral maxInputOrLatchLiteral(const AigStore& store) {
  AigLiteral largest = 0;
  for (std::uint32_t k = 0; k < store.inputCount; ++k) {
    largest = std::max(largest, store.inputs[k].literal);
  }
  for (std::uint32_t k = 0; k < store.latchCount; ++k) {
    largest = std::max(largest, store.latches[k].literal);
  }
  return largest;
}

bool hasSuffix(const char* name, const char* suffix) {
  const std::size_t nameLength = std::strlen(name);
  const std::size_t suffixLength = std::strlen(suffix);
  return nameLength >= suffixLength && std::strcmp(name + nameLength - suffixLength, suffix) == 0;
}

unsigned encodeDelta(std::uint32_t value, unsigned char* out) {
  unsigned length = 0;
  while (value >= 0x80) {
    out[length++] = static_cast<unsigned char>((value & 0x7f) | 0x80);
    value >>= 7;
  }
  out[length++] = static_cast<unsigned char>(value);
  return length;
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
  AigWriter::reencode(*this);
}

int AigStore::write(AigWriteMode mode, void* sinkState, AigPutFn put) {
  CallbackSink sink(sinkState, put);
  return AigWriter::write(*this, mode, sink);
}

int AigStore::writeToFile(AigWriteMode mode, std::FILE* file) {
  FileSink sink(file);
  const int written = AigWriter::write(*this, mode, sink);
  const bool flushed = sink.flush();  // hands over whatever was collected, even on failure
  return written != 0 && flushed ? 1 : 0;
}

int AigStore::writeToString(AigWriteMode mode, char* buffer, std::int32_t capacity) {
  AigStringSink state{buffer, buffer, buffer + std::max<std::int32_t>(capacity, 0)};
  StringSink sink(state);
  if (!AigWriter::write(*this, mode, sink)) return 0;
  return sink.put('\0') ? 1 : 0;
}

namespace {

// Ignores SIGPIPE for its lifetime and then restores the previous disposition: gzip may end
// early (say, its redirection failed), and the path may name a FIFO whose reader goes away;
// a write into such a pipe must then fail with EPIPE instead of killing the process.
class PipeSignalIgnored {
 public:
  PipeSignalIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~PipeSignalIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }
  PipeSignalIgnored(const PipeSignalIgnored&) = delete;
  PipeSignalIgnored& operator=(const PipeSignalIgnored&) = delete;

 private:
  struct sigaction previous_ {};
};

}  // namespace

int AigStore::writeToPath(const char* path) {
  const bool compressed = hasSuffix(path, ".gz");
  const PipeSignalIgnored pipeSignalIgnored;
  std::FILE* file = compressed ? openShellPipe("gzip -c >", path, "w") : std::fopen(path, "w");
  if (file == nullptr) return 0;

  // The writer hands over 64 KiB blocks itself; a second buffer would only copy them again.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const AigWriteMode mode = hasSuffix(path, ".aag") || hasSuffix(path, ".aag.gz") ? ascii : 0;
  int result = writeToFile(mode, file);
  if (compressed) {
    // gzip's exit status tells whether the file was really written.
    const int status = pclose(file);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) result = 0;
  } else if (std::fclose(file) != 0) {
    result = 0;
  }
  // Only a regular file is removed: a failed write to a device such as /dev/full must not
  // take the device node with it.
  struct stat status;
  if (result == 0 && stat(path, &status) == 0 && S_ISREG(status.st_mode)) unlink(path);
  return result;
}

unsigned AigStore::stripSymbolsAndComments() {
  unsigned removed = 0;
  for (const auto& [symbols, capacity] :
       {std::pair{inputs, inputCapacity}, std::pair{latches, latchCapacity},
        std::pair{outputs, outputCapacity}}) {
    for (std::uint32_t k = 0; k < capacity; ++k) {
      if (symbols[k].name != nullptr) ++removed;
    }
  }
  releaseNames(inputs, inputCapacity);
  releaseNames(latches, latchCapacity);
  releaseNames(outputs, outputCapacity);
  return removed + releaseComments();
}

}  // namespace ZEFI
