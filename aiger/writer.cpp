// AIGER writer: one templated routine forms the ASCII and binary forms for every
// destination; the buffered sinks copy whole runs so that no byte costs a call.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "aiger/aiger.hpp"

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

 private:
  static bool passesCheckWhenReady(const AigStore& store);
};

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
