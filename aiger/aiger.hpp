// The And-Inverter Graph store: inputs, latches, outputs, AND gates, names and comments,
// its consistency check, and its AIGER file writer and reader.
//
// This unit is a procedural module over one store record and depends on nothing else of
// zefi. It prints nothing and never ends the process: an operation that can fail records an
// error text in the store and returns it (null means success); the writer returns 1 for
// success and 0 for failure. Running out of memory alone is thrown, as std::bad_alloc (by
// the default allocation function, and for a count or byte size too large to represent) or
// as whatever the caller's allocation function throws: the operation then stops part way
// (a renumbering half done, a gate not added), the store can still be destroyed, and no
// stream, pipe, child process or half-written file of that operation is left behind. Every
// block of memory comes from the allocation function given at creation and goes back
// through the release function with the byte count it was allocated with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace ZEFI {

// Twice a variable index plus a sign bit (1 = negated). Literal 0 is false, 1 is true.
using AigLiteral = std::uint32_t;

// One input, latch or output.
struct AigSymbol {
  AigLiteral literal;  // defined literal (inputs, latches) or any literal (outputs)
  AigLiteral next;     // next-state literal of a latch; 0 for inputs and outputs
  char* name;          // the store's own copy, or null
};

// One AND gate: lhs = rhs0 AND rhs1.
struct AigAnd {
  AigLiteral lhs;
  AigLiteral rhs0;
  AigLiteral rhs1;
};

// Memory manager. Sizes are 64-bit so that no entry count or byte size can wrap.
// The allocation function returns a block or does not return (it may throw): what it
// returns is used unchecked. The release function must accept a null block with a count of 0.
using AigAllocateFn = void* (*)(void* memoryState, std::size_t bytes);
using AigReleaseFn = void (*)(void* memoryState, void* block, std::size_t bytes);

// Byte sink of the writer: returns a non-negative value when the byte was taken, -1 when not.
using AigPutFn = int (*)(char byte, void* sinkState);
// Byte source of the reader: the next byte as 0..255, or -1 at the end of the input.
using AigGetFn = int (*)(void* sourceState);

// Bit set of write options; other bits are ignored.
using AigWriteMode = unsigned;
inline constexpr AigWriteMode ascii = 1;     // "aag" text form, else "aig" binary form
inline constexpr AigWriteMode stripped = 2;  // no symbol table and no comment section

// State of the in-memory sink used by AigStore::writeToString.
struct AigStringSink {
  char* start;
  char* cursor;
  char* end;
};

// Per-variable entry of the store's table.
struct AigVariable {
  unsigned isInput : 1;
  unsigned isLatch : 1;
  unsigned isAnd : 1;
  unsigned mark : 1;
  unsigned onStack : 1;
  std::uint32_t index;  // position of the defining record in inputs, latches or ands
};

class AigStore {
 public:
  // Public counts and arrays, read directly by clients.
  std::uint32_t maxVar;
  std::uint32_t inputCount;
  std::uint32_t latchCount;
  std::uint32_t outputCount;
  std::uint32_t andCount;
  AigSymbol* inputs;
  AigSymbol* latches;
  AigSymbol* outputs;
  AigAnd* ands;
  char** comments;  // null-terminated, in order of addition

  // Creation and release.
  static AigStore* create(void* memoryState, AigAllocateFn allocateFn, AigReleaseFn releaseFn);
  // malloc/free; an allocation that cannot be met throws std::bad_alloc.
  static AigStore* createDefault();
  static const char* version();  // "20061016"
  void destroy();

  // Adding: no validation, no result. A null or empty name or text is stored as null
  // (empty comments are kept as empty texts so that files round-trip byte for byte).
  void addInput(AigLiteral literal, const char* name);
  void addLatch(AigLiteral literal, AigLiteral next, const char* name);
  void addOutput(AigLiteral literal, const char* name);
  void addAnd(AigLiteral lhs, AigLiteral rhs0, AigLiteral rhs1);
  // Many gates at once: andRoom(count) makes room for count more gates and returns where the
  // next one goes (ands + andCount, which room may move); the caller fills records there in
  // order, and addAnds(count) then adds the first count of them, as that many addAnd calls
  // would, at a fraction of their cost on consecutive gate variables.
  AigAnd* andRoom(std::uint32_t count);
  void addAnds(std::uint32_t count);
  void addComment(const char* text);
  void reserve(std::uint32_t maxVariable, std::uint32_t inputs, std::uint32_t latches,
               std::uint32_t outputs, std::uint32_t ands);

  // Looking up: only the variable of the literal matters.
  const AigSymbol* findInput(AigLiteral literal) const;
  const AigSymbol* findLatch(AigLiteral literal) const;
  const AigAnd* findAnd(AigLiteral literal) const;
  const char* symbolName(AigLiteral literal) const;
  const char* errorText() const;

  // Consistency check: null, or the text of the first problem found.
  const char* check();

  // Writer: 1 on success, 0 when the destination refused a byte. All destinations get the
  // same bytes. The binary form can only describe a graph whose literals are all defined
  // and whose gates are acyclic: a binary write runs the check first (or a record-by-record
  // test when the store is already in binary order) and on a problem writes nothing, leaves
  // the numbering untouched and returns 0, the check's message kept as errorText(); a store
  // that carries an error text already is refused the same way. ASCII writes never check.
  // reencode() renumbers into the binary order; on a store that fails the check it stays in
  // bounds and terminates, but the numbering is then meaningless.
  int write(AigWriteMode mode, void* sinkState, AigPutFn put);
  int writeToFile(AigWriteMode mode, std::FILE* file);
  int writeToString(AigWriteMode mode, char* buffer, std::int32_t capacity);
  int writeToPath(const char* path);
  unsigned stripSymbolsAndComments();
  int isReencoded() const;
  void reencode();

  // Reader: null on success, else the error text (also kept as errorText()). Strict: no
  // white space is skipped beyond the one space or newline the format has at each place; the
  // first problem stops it with a message naming the line (in the binary gate section, the
  // byte position); after a complete parse the consistency check decides. readFromPath
  // decompresses a ".gz" name through gzip, started without a shell on the opened file; a
  // decompression that does not end cleanly fails with "can not decompress '<path>'".
  const char* read(void* sourceState, AigGetFn get);
  const char* readFromFile(std::FILE* file);
  const char* readFromPath(const char* path);

  // The table of variables is paged: a directory of pages of kVariablesPerPage entries,
  // each page allocated through the memory manager when a variable in it is first used,
  // first as one stretch of 64 entries and at its full size once a second stretch of it is
  // used, so that a store over a few variables with huge indices, or over variables
  // scattered far apart, costs little memory while lookups stay constant-time without
  // hashing.
  static constexpr std::uint32_t kVariablePageBits = 12;
  static constexpr std::uint32_t kVariablesPerPage = 1u << kVariablePageBits;

 private:
  AigStore() = default;

  AigVariable** variablePages;     // directory; null entries are pages never touched
  std::uint64_t variableCapacity;  // entries the directory can address (pages * page size)
  std::uint32_t inputCapacity;
  std::uint32_t latchCapacity;
  std::uint32_t outputCapacity;
  std::uint32_t andCapacity;
  std::uint32_t commentSlots;  // used slots of comments, the terminator counted
  std::uint32_t commentCapacity;
  void* memoryState;
  AigAllocateFn allocateFn;
  AigReleaseFn releaseFn;
  char* error;

  // Memory, through the manager.
  void* allocate(std::size_t bytes);
  void release(void* block, std::size_t bytes);
  // Replaces a block of oldCount records of recordSize bytes by one of newCount records:
  // the common records copied, the rest zero (unless zeroRest is false), the old block
  // handed back (null, 0 bytes when there was none). A byte size that cannot be represented
  // throws std::bad_alloc.
  void* resizeBlock(void* block, std::uint64_t oldCount, std::uint64_t newCount,
                    std::size_t recordSize, bool zeroRest = true);
  template <typename Record>
  void growArray(Record*& array, std::uint32_t& capacity);  // one doubling step
  template <typename Record>
  void reserveArray(Record*& array, std::uint32_t& capacity, std::uint32_t wanted);
  void resizeVariableDirectory(std::uint64_t pages);
  // Throws std::bad_alloc: for a record count beyond what 32 bits index.
  [[noreturn]] static void outOfMemory();

  // Variable table. Pages that hold only AND gates, or only inputs, added one after the
  // other on consecutive variables (as a graph built gate by gate, and the binary form,
  // number them) are kept as a description of that run instead of entries; asking for an
  // entry to change turns such a page into entries.
  AigVariable* importLiteral(AigLiteral literal);  // creates the entry
  // A literal used, not defined: it only counts towards maxVar and needs no entry.
  void noteLiteral(AigLiteral literal) {
    if ((literal >> 1) > maxVar) maxVar = literal >> 1;
  }
  // Defines variable (and the count - 1 after it, on its page) as the AND gates (gate) or
  // inputs at record index onward in a run page when they continue one (or start one on a
  // page never touched); false when the entries must be made by importLiteral.
  bool extendRun(std::uint32_t variable, bool gate, std::uint32_t index, std::uint32_t count = 1);
  void defineAnd(AigLiteral lhs, std::uint32_t index);   // the entry of the gate at ands[index]
  void coverVariable(std::uint32_t variable);            // grows the directory to hold it
  AigVariable*& pageOf(std::uint32_t variable);          // its directory word, never a run
  AigVariable* variableEntry(std::uint32_t variable);    // null when never touched
  AigVariable variableAt(std::uint32_t variable) const;  // a copy, all zero when never touched
  bool isDefined(AigLiteral literal) const;

  // Starts "<command> <quoted path> 2>/dev/null" through the shell with popen in the given
  // mode (the writer's "gzip -c >"; the reader starts gzip without a shell); null when it
  // could not be started. The command text lives in store memory.
  std::FILE* openShellPipe(const char* command, const char* path, const char* mode);

  // Texts.
  char* copyText(const char* text);
  void releaseText(char* text);
  void releaseNames(AigSymbol* symbols, std::uint32_t capacity);
  unsigned releaseComments();  // returns how many were released

  // Error formatting; only called while no error is recorded.
  const char* setError(const char* format, const char* text);
  const char* setError(const char* format, std::uint32_t number);
  const char* setError(const char* format, std::uint32_t first, std::uint32_t second);
  const char* setError(const char* format, std::uint32_t first, const char* text,
                       std::uint32_t second);
  char* allocateScratch(std::size_t bytes);
  const char* keepScratchAsError(char* scratch, std::size_t bytes);

  // Check steps.
  void checkNextStates();
  void checkOutputs();
  // Returns whether every gate uses only gates stored before it (then no cycle is possible).
  bool checkAndOperands();
  void checkCycles(bool gatesInOrder);

  friend struct AigReader;
  friend struct AigWriter;
  friend struct AigReencoder;
  friend struct AigStoreTestAccess;  // white-box unit tests only
};

// Owning handle of a store: destroys it when it goes.
struct AigStoreDeleter {
  void operator()(AigStore* store) const { store->destroy(); }
};
using AigStorePtr = std::unique_ptr<AigStore, AigStoreDeleter>;

// Shared by writer and reader.
AigLiteral maxInputOrLatchLiteral(const AigStore& store);
bool hasSuffix(const char* name, const char* suffix);

// The delta code of the binary form (unsigned LEB128 of a 32-bit value, at most 5 bytes).
// Encodes into out (room for 5 bytes) and returns the number of bytes.
unsigned encodeDelta(std::uint32_t value, unsigned char* out);
// Decodes one code from bytes[0..size); returns the number of bytes consumed, or 0 when the
// bytes end before the code does or the code is longer than 5 bytes / does not fit 32 bits.
unsigned decodeDelta(const unsigned char* bytes, std::size_t size, std::uint32_t* value);

// Quotes a file name for the system shell: names made only of letters, digits and
// "_./+,:@%=-" are returned unchanged, others are put in single quotes with embedded
// single quotes escaped, so that the shell sees one word and runs nothing.
// Writes into out (capacity bytes, NUL-terminated); returns the length, or -1 when too small.
// The result never exceeds 4 * strlen(name) + 3 bytes including the terminator.
int shellQuote(const char* name, char* out, std::size_t capacity);

}  // namespace ZEFI
