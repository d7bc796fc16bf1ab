// AIGER reader on arbitrary bytes; a graph that reads must survive both written forms.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "aiger/aiger.hpp"
#include "fuzz/aiger_reference_reader.hpp"
#include "fuzz/fuzz_checks.hpp"

namespace ZEFI::fuzz {

namespace {

// Memory manager that checks every release against its allocation and fills new blocks
// with a pattern, so that a store relying on zeroes it did not write shows up.
struct CountingMemory {
  std::unordered_map<void*, std::size_t> live;
  std::string fault;  // first misuse seen
  std::size_t liveBytes = 0;

  CountingMemory() = default;
  CountingMemory(const CountingMemory&) = delete;
  CountingMemory& operator=(const CountingMemory&) = delete;
  ~CountingMemory() {
    for (const auto& [block, bytes] : live) std::free(block);
  }

  // A store that asks for more than this for inputs within the header cap is a finding of
  // its own (the store cannot be refused memory).
  static constexpr std::size_t kLiveByteCap = std::size_t{1} << 30;

  static void* allocate(void* state, std::size_t bytes) {
    auto* self = static_cast<CountingMemory*>(state);
    if (bytes > kLiveByteCap || self->liveBytes > kLiveByteCap - bytes) {
      std::fprintf(stderr, "AIG store asks for %zu bytes with %zu live\n", bytes, self->liveBytes);
      std::abort();
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) std::abort();
    std::memset(block, 0xA5, bytes);
    self->live[block] = bytes;
    self->liveBytes += bytes;
    return block;
  }

  static void release(void* state, void* block, std::size_t bytes) {
    auto* self = static_cast<CountingMemory*>(state);
    if (block == nullptr) {
      if (bytes != 0 && self->fault.empty()) {
        self->fault = "null block released with " + std::to_string(bytes) + " bytes";
      }
      return;
    }
    const auto found = self->live.find(block);
    if (found == self->live.end()) {
      if (self->fault.empty()) self->fault = "release of a block that is not live";
      return;
    }
    if (found->second != bytes && self->fault.empty()) {
      self->fault = "block of " + std::to_string(found->second) + " bytes released as " +
                    std::to_string(bytes);
    }
    self->liveBytes -= found->second;
    self->live.erase(found);
    std::free(block);
  }
};

struct MemorySource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position;

  static int get(void* state) {
    auto* self = static_cast<MemorySource*>(state);
    if (self->position == self->size) return -1;
    return self->data[self->position++];
  }
};

int putToString(char byte, void* state) {
  static_cast<std::string*>(state)->push_back(byte);
  return static_cast<unsigned char>(byte);
}

// The header's five numbers as the reader takes them (digits wrap modulo 2^32); false when
// the header is malformed, in which case the reader stops before it reserves anything.
bool parseHeader(const std::uint8_t* data, std::size_t size, std::uint32_t counts[5]) {
  if (size < 4 || data[0] != 'a' || (data[1] != 'a' && data[1] != 'i') || data[2] != 'g' ||
      data[3] != ' ') {
    return false;
  }
  std::size_t i = 4;
  for (int k = 0; k < 5; ++k) {
    if (i == size || data[i] < '0' || data[i] > '9') return false;
    std::uint32_t value = 0;
    while (i < size && data[i] >= '0' && data[i] <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(data[i] - '0');
      ++i;
    }
    if (i == size || data[i] != (k == 4 ? '\n' : ' ')) return false;
    ++i;
    counts[k] = value;
  }
  return true;
}

struct Counts {
  std::uint32_t maxVar, inputs, latches, outputs, ands;
  bool operator==(const Counts&) const = default;
};

Counts countsOf(const AigStore& store) {
  return {store.maxVar, store.inputCount, store.latchCount, store.outputCount, store.andCount};
}

std::string show(const Counts& c) {
  return "M " + std::to_string(c.maxVar) + " I " + std::to_string(c.inputs) + " L " +
         std::to_string(c.latches) + " O " + std::to_string(c.outputs) + " A " +
         std::to_string(c.ands);
}

// Owns one store of the counting manager and destroys it.
class Store {
 public:
  explicit Store(CountingMemory& memory)
      : store_(AigStore::create(&memory, CountingMemory::allocate, CountingMemory::release)) {}
  ~Store() { store_->destroy(); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  AigStore* operator->() const { return store_; }
  AigStore& operator*() const { return *store_; }

 private:
  AigStore* store_;
};

const char* readBytes(AigStore& store, const std::string& bytes) {
  MemorySource source{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0};
  return store.read(&source, MemorySource::get);
}

bool writeBytes(AigStore& store, AigWriteMode mode, std::string& out) {
  out.clear();
  return store.write(mode, &out, putToString) == 1;
}

// writeToString must take exactly the text plus its NUL: one byte less fails.
std::string checkWriteToString(AigStore& store, AigWriteMode mode, const std::string& text) {
  if (text.size() + 1 > static_cast<std::size_t>(INT32_MAX)) return {};
  const auto capacity = static_cast<std::int32_t>(text.size() + 1);
  std::string buffer(text.size() + 1, '\x5A');
  if (store.writeToString(mode, buffer.data(), capacity) != 1) {
    return "writeToString fails with room for the text and its NUL";
  }
  if (buffer.compare(0, text.size(), text) != 0 || buffer.back() != '\0') {
    return "writeToString writes other bytes than write";
  }
  if (store.writeToString(mode, buffer.data(), capacity - 1) != 0) {
    return "writeToString succeeds without room for the NUL";
  }
  // A buffer too small holds the front of the text and nothing beyond its end.
  for (const std::int32_t room : {0, capacity / 2}) {
    std::string small(text.size() + 1, '\x5A');
    if (store.writeToString(mode, small.data(), room) != 0) {
      return "writeToString succeeds in " + std::to_string(room) + " bytes";
    }
    const auto used = static_cast<std::size_t>(room);
    if (small.compare(0, used, text, 0, used) != 0 ||
        small.find_first_not_of('\x5A', used) != std::string::npos) {
      return "writeToString into " + std::to_string(room) + " bytes writes other bytes";
    }
  }
  if (store.writeToString(mode, buffer.data(), -1) != 0) {
    return "writeToString succeeds with a negative capacity";
  }
  return {};
}

// Every text the reader can return: its own messages, led by the line or byte position, and
// those of the consistency check that runs after a complete parse.
const char* const kLineMessages[] = {
    "line %u: expected 'a' as first character",
    "line %u: expected 'i' or 'a' after 'a'",
    "line %u: expected 'g' after 'a[ai]'",
    "line %u: expected ' ' after 'a[ai]g'",
    "line %u: expected literal",
    "line %u: expected space after literal %u",
    "line %u: expected new line after literal %u",
    "line %u: invalid maximal variable index",
    "line %u: literal %u is not a valid input",
    "line %u: literal %u is not a valid latch",
    "line %u: literal %u is not a valid literal",
    "line %u: literal %u is not a valid output",
    "line %u: literal %u is not a valid LHS of AND",
    "line %u: literal %u already defined as input",
    "line %u: literal %u already defined as latch",
    "line %u: literal %u already defined as AND",
    "line %u: invalid symbol table entry",
    "line %u: %s symbol table entry position %u too large",
    "line %u: %s %u has multiple symbols",
    "line %u: new line missing",
    "line %u: expected new line after 'c'",
    "line %u: new line after comment missing",
};
const char* const kCharacterMessages[] = {
    "character %u: unexpected end of file",
    "character %u: invalid code",
    "character %u: invalid delta",
};
const char* const kCheckMessages[] = {
    "next state function %u of latch %u undefined",
    "output %u undefined",
    "literal %u in AND %u undefined",
    "cyclic definition for and gate %u",
};

// Matches text against a format of %u (a decimal without leading zeros that fits 32 bits)
// and %s (one of the kind words); the first number is returned.
bool matches(const char* format, const std::string& text, std::uint64_t& first) {
  std::size_t at = 0;
  bool haveFirst = false;
  for (const char* f = format; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 'u') {
      ++f;
      const std::size_t start = at;
      std::uint64_t value = 0;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9' && value <= UINT32_MAX) {
        value = value * 10 + static_cast<std::uint64_t>(text[at++] - '0');
      }
      const std::size_t digits = at - start;
      if (digits == 0 || value > UINT32_MAX || (digits > 1 && text[start] == '0')) return false;
      if (!haveFirst) first = value;
      haveFirst = true;
    } else if (f[0] == '%' && f[1] == 's') {
      ++f;
      bool found = false;
      for (const char* word : {"input", "latch", "output"}) {
        if (text.compare(at, std::strlen(word), word) == 0) {
          at += std::strlen(word);
          found = true;
          break;
        }
      }
      if (!found) return false;
    } else {
      if (at == text.size() || text[at] != *f) return false;
      ++at;
    }
  }
  return at == text.size();
}

std::string checkReadError(const char* error, const AigStore& store, const std::uint8_t* data,
                           std::size_t size) {
  const std::string text = error;
  if (store.errorText() == nullptr || text != store.errorText()) {
    return "read returns \"" + text + "\" but the store keeps another error text";
  }
  const std::uint64_t lines = 1 + static_cast<std::uint64_t>(std::count(data, data + size, '\n'));
  std::uint64_t first = 0;
  for (const char* format : kLineMessages) {
    if (!matches(format, text, first)) continue;
    if (first < 1 || first > lines) {
      return "\"" + text + "\" names a line outside 1.." + std::to_string(lines);
    }
    return {};
  }
  for (const char* format : kCharacterMessages) {
    if (!matches(format, text, first)) continue;
    if (first > size) {
      return "\"" + text + "\" names a byte beyond the " + std::to_string(size) + " read";
    }
    return {};
  }
  for (const char* format : kCheckMessages) {
    if (matches(format, text, first)) return {};
  }
  return "read fails with an unknown message: \"" + text + "\"";
}

std::string text(const char* name) {
  return name == nullptr ? std::string() : name;
}

std::string compareSymbols(const char* kind, const AigSymbol* actual, std::uint32_t count,
                           const std::vector<ReferenceSymbol>& expected) {
  if (count != expected.size()) {
    return std::string(kind) + " count " + std::to_string(count) + " against " +
           std::to_string(expected.size()) + " by the format's rules";
  }
  for (std::uint32_t k = 0; k < count; ++k) {
    if (actual[k].literal != expected[k].literal || actual[k].next != expected[k].next ||
        text(actual[k].name) != expected[k].name) {
      return std::string(kind) + " " + std::to_string(k) + " differs from the format's rules";
    }
  }
  return {};
}

// The verdict and, on success, the graph of the reader against the format's rules.
std::string compareWithReference(const char* error, const AigStore& store, const std::uint8_t* data,
                                 std::size_t size) {
  const ReferenceAiger expected = referenceReadAiger(data, size);
  if (!expected.decided) return {};
  if (text(error) != expected.error) {
    return "reader answers \"" + text(error) + "\" where the format's rules give \"" +
           expected.error + "\"";
  }
  if (error != nullptr) return {};
  if (store.maxVar != expected.maxVar) return "maxVar differs from the format's rules";
  for (const auto& [kind, symbols, count, reference] :
       {std::tuple{"input", store.inputs, store.inputCount, &expected.inputs},
        std::tuple{"latch", store.latches, store.latchCount, &expected.latches},
        std::tuple{"output", store.outputs, store.outputCount, &expected.outputs}}) {
    if (std::string failure = compareSymbols(kind, symbols, count, *reference); !failure.empty()) {
      return failure;
    }
  }
  if (store.andCount != expected.ands.size()) return "gate count differs from the format's rules";
  for (std::uint32_t k = 0; k < store.andCount; ++k) {
    const AigAnd& gate = store.ands[k];
    const ReferenceGate& want = expected.ands[k];
    if (gate.lhs != want.lhs || gate.rhs0 != want.rhs0 || gate.rhs1 != want.rhs1) {
      return "gate " + std::to_string(k) + " differs from the format's rules";
    }
  }
  std::size_t k = 0;
  for (char** comment = store.comments; *comment != nullptr; ++comment, ++k) {
    if (k == expected.comments.size() || expected.comments[k] != *comment) {
      return "comment " + std::to_string(k) + " differs from the format's rules";
    }
  }
  if (k != expected.comments.size()) return "comments missing against the format's rules";
  return {};
}

// Names and comments the store holds, as stripSymbolsAndComments counts them.
unsigned namesAndComments(const AigStore& store) {
  unsigned count = 0;
  for (std::uint32_t k = 0; k < store.inputCount; ++k) count += store.inputs[k].name != nullptr;
  for (std::uint32_t k = 0; k < store.latchCount; ++k) count += store.latches[k].name != nullptr;
  for (std::uint32_t k = 0; k < store.outputCount; ++k) count += store.outputs[k].name != nullptr;
  for (char** comment = store.comments; *comment != nullptr; ++comment) ++count;
  return count;
}

// The stdio writer must send the same bytes as the callback writer.
std::string checkWriteToFile(AigStore& store, AigWriteMode mode, const std::string& text) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* file = open_memstream(&buffer, &length);
  if (file == nullptr) return {};
  const int written = store.writeToFile(mode, file);
  std::fclose(file);
  const std::string bytes(buffer, length);
  std::free(buffer);
  if (written != 1) return "writeToFile fails on a memory stream";
  if (bytes != text) return "writeToFile writes other bytes than write";
  return {};
}

// The stdio reader must come to the same verdict and the same graph as the callback reader.
std::string checkReadFromFile(CountingMemory& memory, const char* error, AigStore& store,
                              const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (file == nullptr) return {};
  Store copy(memory);
  const char* fileError = copy->readFromFile(file);
  std::fclose(file);
  if ((error == nullptr) != (fileError == nullptr) ||
      (error != nullptr && std::strcmp(error, fileError) != 0)) {
    return "readFromFile answers \"" + std::string(fileError ? fileError : "") +
           "\" where read answers \"" + std::string(error ? error : "") + "\"";
  }
  if (error != nullptr) return {};
  std::string expected;
  std::string actual;
  if (!writeBytes(store, ascii, expected) || !writeBytes(*copy, ascii, actual) ||
      actual != expected) {
    return "readFromFile reads another graph than read";
  }
  return {};
}

// The round trip of a store that passed its check, through both forms.
std::string roundTripStore(CountingMemory& memory, AigStore& original) {
  const Counts read = countsOf(original);
  // ASCII form: writes the store unchanged, so reading it back and writing again must give
  // the same text, names and comments included.
  std::string asciiText;
  if (!writeBytes(original, ascii, asciiText)) return "ASCII write into a growing sink fails";
  if (!(countsOf(original) == read)) return "ASCII write changes the store";
  if (std::string failure = checkWriteToString(original, ascii, asciiText); !failure.empty()) {
    return "ASCII: " + failure;
  }
  if (std::string failure = checkWriteToFile(original, ascii, asciiText); !failure.empty()) {
    return "ASCII: " + failure;
  }
  std::string strippedAscii;
  if (!writeBytes(original, ascii | stripped, strippedAscii)) return "stripped write fails";
  if (asciiText.compare(0, strippedAscii.size(), strippedAscii) != 0) {
    return "stripped ASCII text is not the front of the full text";
  }
  {
    Store copy(memory);
    if (const char* error = readBytes(*copy, asciiText)) {
      return std::string("ASCII text written does not read back: ") + error;
    }
    if (!(countsOf(*copy) == read)) {
      return "ASCII round trip changes counts: " + show(read) + " -> " + show(countsOf(*copy));
    }
    std::string again;
    if (!writeBytes(*copy, ascii, again)) return "ASCII rewrite fails";
    if (again != asciiText) return "ASCII round trip changes the text";
    const unsigned held = namesAndComments(*copy);
    if (copy->stripSymbolsAndComments() != held) {
      return "stripSymbolsAndComments does not count the " + std::to_string(held) + " it holds";
    }
    if (!writeBytes(*copy, ascii, again) || again != strippedAscii) {
      return "a stripped store is not written like a stripped write";
    }
    if (copy->stripSymbolsAndComments() != 0) return "a second strip removes something";
  }

  // Binary form: renumbers the store in place; gates that nothing reaches are dropped, all
  // else keeps its count, and the numbering is dense.
  std::string binaryText;
  if (!writeBytes(original, 0, binaryText)) return "binary write into a growing sink fails";
  const Counts renumbered = countsOf(original);
  if (renumbered.inputs != read.inputs || renumbered.latches != read.latches ||
      renumbered.outputs != read.outputs || renumbered.ands > read.ands ||
      std::uint64_t{renumbered.maxVar} !=
          std::uint64_t{renumbered.inputs} + renumbered.latches + renumbered.ands) {
    return "binary write renumbers " + show(read) + " into " + show(renumbered);
  }
  if (original.isReencoded() != 1) return "store is not binary-ready after a binary write";
  if (std::string failure = checkWriteToString(original, 0, binaryText); !failure.empty()) {
    return "binary: " + failure;
  }
  if (std::string failure = checkWriteToFile(original, 0, binaryText); !failure.empty()) {
    return "binary: " + failure;
  }
  {
    std::string second;
    if (!writeBytes(original, 0, second) || second != binaryText) {
      return "second binary write of a renumbered store differs";
    }
  }
  std::string renumberedAscii;
  if (!writeBytes(original, ascii, renumberedAscii)) return "ASCII write after binary fails";
  {
    Store copy(memory);
    if (const char* error = readBytes(*copy, binaryText)) {
      return std::string("binary text written does not read back: ") + error;
    }
    if (!(countsOf(*copy) == renumbered)) {
      return "binary round trip changes counts: " + show(renumbered) + " -> " +
             show(countsOf(*copy));
    }
    std::string again;
    if (!writeBytes(*copy, ascii, again)) return "ASCII write of the binary copy fails";
    if (again != renumberedAscii) return "binary round trip changes the graph";
    if (!writeBytes(*copy, 0, again)) return "binary rewrite fails";
    if (again != binaryText) return "binary round trip changes the bytes";
  }
  return {};
}

std::string roundTrip(CountingMemory& memory, const std::uint8_t* data, std::size_t size,
                      const std::uint32_t* header) {
  Store original(memory);
  {
    MemorySource source{data, size, 0};
    const char* error = original->read(&source, MemorySource::get);
    if (std::string failure = compareWithReference(error, *original, data, size);
        !failure.empty()) {
      return failure;
    }
    if (std::string failure = checkReadFromFile(memory, error, *original, data, size);
        !failure.empty()) {
      return failure;
    }
    if (error != nullptr) return checkReadError(error, *original, data, size);
  }
  if (original->errorText() != nullptr) return "read succeeded with an error text";
  const Counts read = countsOf(*original);
  if (header == nullptr) return "read succeeds on a malformed header";
  const Counts announced{header[0], header[1], header[2], header[3], header[4]};
  if (!(read == announced)) return "header announces " + show(announced) + ", read " + show(read);
  return roundTripStore(memory, *original);
}

// The bytes read as a recipe for a well-formed graph instead of a file: variables with gaps
// and jumps, roles shuffled, gates over constants, inputs, latches and earlier gates, added in
// either order, names and comments. Such a graph must pass its check and round-trip.
class Recipe {
 public:
  Recipe(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned next() { return at_ < size_ ? data_[at_++] : 0u; }

  std::string text() {
    const unsigned head = next();
    if (head % 3 != 0) return {};
    std::string result;
    for (unsigned k = 0; k < head % 7; ++k) result.push_back(static_cast<char>(' ' + next() % 95));
    return result;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string buildAndRoundTrip(CountingMemory& memory, const std::uint8_t* data, std::size_t size) {
  Recipe recipe(data, size);
  const unsigned inputs = recipe.next() % 9;
  const unsigned latches = recipe.next() % 5;
  const unsigned gates = recipe.next() % 33;
  const unsigned outputs = recipe.next() % 6;
  const unsigned total = inputs + latches + gates;

  std::vector<std::uint32_t> variables;
  std::uint32_t variable = 0;
  for (unsigned k = 0; k < total; ++k) {
    const unsigned gap = recipe.next();
    variable += 1 + (gap & 3);
    if (gap == 0xFF) variable += 1u << 20;
    variables.push_back(variable);
  }
  for (unsigned k = total; k > 1; --k) std::swap(variables[k - 1], variables[recipe.next() % k]);
  const std::uint32_t* inputVariables = variables.data();
  const std::uint32_t* latchVariables = inputVariables + inputs;
  const std::uint32_t* gateVariables = latchVariables + latches;

  // An operand: a constant, an input, a latch, or one of the first `gatesBefore` gates.
  auto operand = [&](unsigned gatesBefore) -> AigLiteral {
    const unsigned choice = recipe.next();
    const unsigned pick = recipe.next();
    const AigLiteral sign = (choice >> 7) & 1u;
    switch (choice % 8) {
      case 1:
      case 2:
        if (inputs > 0) return 2 * inputVariables[pick % inputs] + sign;
        break;
      case 3:
        if (latches > 0) return 2 * latchVariables[pick % latches] + sign;
        break;
      case 0:
        break;
      default:
        if (gatesBefore > 0) return 2 * gateVariables[pick % gatesBefore] + sign;
        break;
    }
    return sign;
  };

  Store store(memory);
  for (unsigned k = 0; k < inputs; ++k) {
    const std::string name = recipe.text();
    store->addInput(2 * inputVariables[k], name.c_str());
  }
  for (unsigned k = 0; k < latches; ++k) {
    const AigLiteral next = operand(gates);
    const std::string name = recipe.text();
    store->addLatch(2 * latchVariables[k], next, name.c_str());
  }
  std::vector<AigAnd> ands;
  for (unsigned k = 0; k < gates; ++k) {
    const AigLiteral rhs0 = operand(k);
    ands.push_back({2 * gateVariables[k], rhs0, operand(k)});
  }
  if (recipe.next() & 1u) std::reverse(ands.begin(), ands.end());
  for (const AigAnd& gate : ands) store->addAnd(gate.lhs, gate.rhs0, gate.rhs1);
  for (unsigned k = 0; k < outputs; ++k) {
    const AigLiteral literal = operand(gates);
    const std::string name = recipe.text();
    store->addOutput(literal, name.c_str());
  }
  for (unsigned k = recipe.next() % 4; k > 0; --k) store->addComment(recipe.text().c_str());

  if (const char* problem = store->check()) {
    return std::string("a graph built by the rules fails its check: ") + problem;
  }
  return roundTripStore(memory, *store);
}

}  // namespace

std::string checkAigerRoundTrip(const std::uint8_t* data, std::size_t size) {
  std::uint32_t counts[5];
  const bool wellFormed = parseHeader(data, size, counts);
  const bool withinCap =
      !wellFormed ||
      std::uint64_t{counts[1]} + counts[2] + counts[3] + std::uint64_t{counts[4]} <= kAigerCountCap;
  for (const bool asFile : {true, false}) {
    if (asFile && !withinCap) continue;
    CountingMemory memory;
    std::string failure = asFile ? roundTrip(memory, data, size, wellFormed ? counts : nullptr)
                                 : buildAndRoundTrip(memory, data, size);
    if (failure.empty() && !memory.fault.empty()) failure = "memory manager: " + memory.fault;
    if (failure.empty() && !memory.live.empty()) {
      failure = std::to_string(memory.live.size()) + " blocks (" +
                std::to_string(memory.liveBytes) + " bytes) not handed back after destroy";
    }
    if (!failure.empty()) return (asFile ? "read as a file: " : "read as a recipe: ") + failure;
  }
  return {};
}

}  // namespace ZEFI::fuzz
