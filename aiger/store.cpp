// The AIG store: creation, memory, the paged variable table, adding, looking up, texts and
// error formatting.
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "aiger/aiger.hpp"
#include "aiger/page_table.hpp"

namespace ZEFI {
namespace {

// Record arrays are counted in 32 bits; a capacity beyond this cannot be indexed.
constexpr std::uint64_t kMaxRecords = 0xFFFFFFFFu;
using VariablePages = PageTable<AigVariable>;
constexpr std::uint32_t kPageMask = VariablePages::kPageMask;

// Large blocks are filled once, front to back: on systems that back memory with huge pages
// on request, asking for them spares one page fault per 4 KiB. Only a hint; any failure of
// it changes nothing.
void adviseHugePages(void* block, std::size_t bytes) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  if (bytes < 2 * kHugePage) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* defaultAllocate(void*, std::size_t bytes) {
  // malloc(0) may legally return null; ask for one byte so that null always means failure.
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block == nullptr) throw std::bad_alloc();
  adviseHugePages(block, bytes);
  return block;
}

void defaultRelease(void*, void* block, std::size_t) {
  std::free(block);
}

// Bytes of count records of recordSize bytes; std::bad_alloc when the product does not fit.
std::size_t byteSize(std::uint64_t count, std::size_t recordSize) {
  if (recordSize != 0 && count > SIZE_MAX / recordSize) throw std::bad_alloc();
  return static_cast<std::size_t>(count) * recordSize;
}

}  // namespace

void AigStore::outOfMemory() {
  throw std::bad_alloc();
}

// ---------------------------------------------------------------------------------------
// Creation and release

AigStore* AigStore::create(void* memoryState, AigAllocateFn allocateFn, AigReleaseFn releaseFn) {
  void* block = allocateFn(memoryState, sizeof(AigStore));
  std::memset(block, 0, sizeof(AigStore));
  // Value-initialisation of the trivial record: every field zero or null.
  AigStore* store = new (block) AigStore();
  store->memoryState = memoryState;
  store->allocateFn = allocateFn;
  store->releaseFn = releaseFn;
  // The comment list always holds its null terminator.
  try {
    store->growArray(store->comments, store->commentCapacity);
  } catch (...) {
    releaseFn(memoryState, block, sizeof(AigStore));
    throw;
  }
  store->comments[0] = nullptr;
  store->commentSlots = 1;
  return store;
}

AigStore* AigStore::createDefault() {
  return create(nullptr, defaultAllocate, defaultRelease);
}

const char* AigStore::version() {
  return "20061016";
}

void AigStore::destroy() {
  releaseNames(inputs, inputCapacity);
  release(inputs, byteSize(inputCapacity, sizeof(AigSymbol)));
  releaseNames(latches, latchCapacity);
  release(latches, byteSize(latchCapacity, sizeof(AigSymbol)));
  releaseNames(outputs, outputCapacity);
  release(outputs, byteSize(outputCapacity, sizeof(AigSymbol)));
  release(ands, byteSize(andCapacity, sizeof(AigAnd)));
  releaseComments();
  release(comments, byteSize(commentCapacity, sizeof(char*)));

  const std::uint64_t pages = variableCapacity >> kVariablePageBits;
  for (std::uint64_t page = 0; page < pages; ++page) {
    if (RunPage::is(variablePages[page])) continue;  // a description, no block
    VariablePages::free(variablePages[page],
                        [this](void* block, std::size_t bytes) { release(block, bytes); });
  }
  release(variablePages, byteSize(pages, sizeof(AigVariable*)));

  releaseText(error);

  void* state = memoryState;
  AigReleaseFn releaseStore = releaseFn;
  this->~AigStore();
  releaseStore(state, this, sizeof(AigStore));
}

// ---------------------------------------------------------------------------------------
// Memory

void* AigStore::allocate(std::size_t bytes) {
  return allocateFn(memoryState, bytes);
}

void AigStore::release(void* block, std::size_t bytes) {
  releaseFn(memoryState, block, bytes);
}

void* AigStore::resizeBlock(void* block, std::uint64_t oldCount, std::uint64_t newCount,
                            std::size_t recordSize, bool zeroRest) {
  const std::size_t oldBytes = byteSize(oldCount, recordSize);
  const std::size_t newBytes = byteSize(newCount, recordSize);
  void* fresh = allocate(newBytes);
  const std::size_t kept = oldBytes < newBytes ? oldBytes : newBytes;
  if (kept != 0) std::memcpy(fresh, block, kept);
  if (zeroRest && newBytes > kept) {
    std::memset(static_cast<char*>(fresh) + kept, 0, newBytes - kept);
  }
  release(block, oldBytes);
  return fresh;
}

// Gate records past andCount are never read (unlike symbols, they hold no names to hand
// back), so their room is left as it comes: zeroing it would touch every page of a large
// reservation at once, long before the gates fill it.
template <typename Record>
constexpr bool kZeroRoom = !std::is_same_v<Record, AigAnd>;

template <typename Record>
void AigStore::growArray(Record*& array, std::uint32_t& capacity) {
  const std::uint64_t wanted = capacity == 0 ? 1 : 2 * static_cast<std::uint64_t>(capacity);
  if (wanted > kMaxRecords) outOfMemory();
  array =
      static_cast<Record*>(resizeBlock(array, capacity, wanted, sizeof(Record), kZeroRoom<Record>));
  capacity = static_cast<std::uint32_t>(wanted);
}

template <typename Record>
void AigStore::reserveArray(Record*& array, std::uint32_t& capacity, std::uint32_t wanted) {
  if (capacity >= wanted) return;
  array =
      static_cast<Record*>(resizeBlock(array, capacity, wanted, sizeof(Record), kZeroRoom<Record>));
  capacity = wanted;
}

void AigStore::resizeVariableDirectory(std::uint64_t pages) {
  const std::uint64_t oldPages = variableCapacity >> kVariablePageBits;
  variablePages =
      static_cast<AigVariable**>(resizeBlock(variablePages, oldPages, pages, sizeof(AigVariable*)));
  variableCapacity = pages << kVariablePageBits;
}

// ---------------------------------------------------------------------------------------
// Variable table

void AigStore::coverVariable(std::uint32_t variable) {
  if (variable < variableCapacity) return;
  // Double the directory (computed first, allocated once) until it covers the variable.
  const std::uint64_t needed = (static_cast<std::uint64_t>(variable) >> kVariablePageBits) + 1;
  std::uint64_t pages = variableCapacity >> kVariablePageBits;
  if (pages == 0) pages = 1;
  while (pages < needed) pages *= 2;
  resizeVariableDirectory(pages);
}

AigVariable*& AigStore::pageOf(std::uint32_t variable) {
  AigVariable*& word = variablePages[variable >> kVariablePageBits];
  if (RunPage::is(word)) {
    // An entry of the page is about to change: the page takes its entries, as the table
    // would have made them: one stretch where the run lies within one (variables scattered
    // a few to a page stay cheap), else the whole page.
    const RunPage run = RunPage::of(word);
    const std::uint32_t last = run.first + run.count - 1;
    if ((run.first >> VariablePages::kStretchBits) == (last >> VariablePages::kStretchBits)) {
      word = VariablePages::newStretch(run.first,
                                       [this](std::size_t bytes) { return allocate(bytes); });
    } else {
      word = static_cast<AigVariable*>(allocate(VariablePages::kPageBytes));
      std::memset(static_cast<void*>(word), 0, VariablePages::kPageBytes);
    }
    for (std::uint32_t slot = run.first; slot <= last; ++slot) {
      *VariablePages::find(word, slot) = run.entry(slot);
    }
  }
  return word;
}

AigVariable* AigStore::importLiteral(AigLiteral literal) {
  const std::uint32_t variable = literal >> 1;
  noteLiteral(literal);
  coverVariable(variable);
  return VariablePages::touch(
      pageOf(variable), variable & kPageMask, [this](std::size_t bytes) { return allocate(bytes); },
      [this](void* block, std::size_t bytes) { release(block, bytes); });
}

bool AigStore::extendRun(std::uint32_t variable, bool gate, std::uint32_t index,
                         std::uint32_t count) {
  if (!RunPage::kAvailable) return false;
  const std::uint32_t last = variable + (count - 1);  // on the same page as variable
  coverVariable(last);
  AigVariable*& word = variablePages[variable >> kVariablePageBits];
  const std::uint32_t slot = variable & kPageMask;
  if (word == nullptr) {
    word = RunPage{gate, index, slot, count}.word();
  } else {
    if (!RunPage::is(word)) return false;
    RunPage run = RunPage::of(word);
    if (run.gates != gate || slot != run.first + run.count || index != run.base + run.count) {
      return false;
    }
    run.count += count;
    word = run.word();
  }
  noteLiteral(last << 1);
  return true;
}

AigVariable* AigStore::variableEntry(std::uint32_t variable) {
  if (variable >= variableCapacity) return nullptr;
  AigVariable* const word = variablePages[variable >> kVariablePageBits];
  const std::uint32_t slot = variable & kPageMask;
  if (RunPage::is(word) && !RunPage::of(word).holds(slot)) return nullptr;
  return VariablePages::find(pageOf(variable), slot);
}

bool AigStore::isDefined(AigLiteral literal) const {
  const std::uint32_t variable = literal >> 1;
  if (variable == 0) return true;
  const AigVariable entry = variableAt(variable);
  return entry.isInput || entry.isLatch || entry.isAnd;
}

// ---------------------------------------------------------------------------------------
// Adding

void AigStore::addInput(AigLiteral literal, const char* name) {
  if (!extendRun(literal >> 1, false, inputCount)) {
    AigVariable* entry = importLiteral(literal);
    entry->isInput = 1;
    entry->index = inputCount;
  }
  if (inputCount == inputCapacity) growArray(inputs, inputCapacity);
  inputs[inputCount] = AigSymbol{literal, 0, copyText(name)};
  ++inputCount;
}

void AigStore::addLatch(AigLiteral literal, AigLiteral next, const char* name) {
  AigVariable* entry = importLiteral(literal);
  entry->isLatch = 1;
  entry->index = latchCount;
  noteLiteral(next);
  if (latchCount == latchCapacity) growArray(latches, latchCapacity);
  latches[latchCount] = AigSymbol{literal, next, copyText(name)};
  ++latchCount;
}

void AigStore::addOutput(AigLiteral literal, const char* name) {
  noteLiteral(literal);
  if (outputCount == outputCapacity) growArray(outputs, outputCapacity);
  outputs[outputCount] = AigSymbol{literal, 0, copyText(name)};
  ++outputCount;
}

void AigStore::defineAnd(AigLiteral lhs, std::uint32_t index) {
  if (extendRun(lhs >> 1, true, index)) return;
  AigVariable* entry = importLiteral(lhs);
  entry->isAnd = 1;
  entry->index = index;
}

void AigStore::addAnd(AigLiteral lhs, AigLiteral rhs0, AigLiteral rhs1) {
  defineAnd(lhs, andCount);
  noteLiteral(rhs0);
  noteLiteral(rhs1);
  if (andCount == andCapacity) growArray(ands, andCapacity);
  ands[andCount] = AigAnd{lhs, rhs0, rhs1};
  ++andCount;
}

AigAnd* AigStore::andRoom(std::uint32_t count) {
  if (count > kMaxRecords - andCount) outOfMemory();
  while (andCapacity - andCount < count) growArray(ands, andCapacity);
  return ands + andCount;
}

void AigStore::addAnds(std::uint32_t count) {
  const std::uint32_t end = andCount + count;
  AigLiteral largest = 0;
  for (std::uint32_t k = andCount; k < end; ++k) {
    largest = std::max(largest, std::max(ands[k].rhs0, ands[k].rhs1));
  }
  noteLiteral(largest);
  while (andCount < end) {
    const std::uint32_t variable = ands[andCount].lhs >> 1;
    // The gates on consecutive variables from here to the end of the page continue its run
    // all at once where the first one does.
    const std::uint64_t pageEnd = (std::uint64_t{variable} | kPageMask) + 1;
    std::uint32_t stretch = 1;
    while (andCount + stretch < end && (ands[andCount + stretch].lhs >> 1) == variable + stretch &&
           variable + std::uint64_t{stretch} < pageEnd) {
      ++stretch;
    }
    if (extendRun(variable, true, andCount, stretch)) {
      andCount += stretch;
    } else {
      defineAnd(ands[andCount].lhs, andCount);
      ++andCount;
    }
  }
}

void AigStore::addComment(const char* text) {
  // Unlike names, an empty comment is kept as an empty text: it is a line of its own in a
  // file, and a null would end the list early.
  // The room comes first, so that memory running out leaves no copy outside the list.
  if (text == nullptr) text = "";
  if (commentSlots == commentCapacity) growArray(comments, commentCapacity);
  const std::size_t bytes = std::strlen(text) + 1;
  char* copy = static_cast<char*>(allocate(bytes));
  std::memcpy(copy, text, bytes);
  comments[commentSlots - 1] = copy;
  comments[commentSlots] = nullptr;
  ++commentSlots;
}

void AigStore::reserve(std::uint32_t maxVariable, std::uint32_t inputCountWanted,
                       std::uint32_t latchCountWanted, std::uint32_t outputCountWanted,
                       std::uint32_t andCountWanted) {
  maxVar = maxVariable;
  // Exact room for the directory; the pages themselves come on first use.
  const std::uint64_t pages =
      (static_cast<std::uint64_t>(maxVariable) + kVariablesPerPage) >> kVariablePageBits;
  if ((variableCapacity >> kVariablePageBits) < pages) resizeVariableDirectory(pages);
  reserveArray(inputs, inputCapacity, inputCountWanted);
  reserveArray(latches, latchCapacity, latchCountWanted);
  reserveArray(outputs, outputCapacity, outputCountWanted);
  reserveArray(ands, andCapacity, andCountWanted);
}

// ---------------------------------------------------------------------------------------
// Looking up

const AigSymbol* AigStore::findInput(AigLiteral literal) const {
  const AigVariable entry = variableAt(literal >> 1);
  if (!entry.isInput || entry.index >= inputCount) return nullptr;
  return &inputs[entry.index];
}

const AigSymbol* AigStore::findLatch(AigLiteral literal) const {
  const AigVariable entry = variableAt(literal >> 1);
  if (!entry.isLatch || entry.index >= latchCount) return nullptr;
  return &latches[entry.index];
}

const AigAnd* AigStore::findAnd(AigLiteral literal) const {
  const AigVariable entry = variableAt(literal >> 1);
  if (!entry.isAnd || entry.index >= andCount) return nullptr;
  return &ands[entry.index];
}

const char* AigStore::symbolName(AigLiteral literal) const {
  if (const AigSymbol* input = findInput(literal)) return input->name;
  if (const AigSymbol* latch = findLatch(literal)) return latch->name;
  return nullptr;
}

const char* AigStore::errorText() const {
  return error;
}

// ---------------------------------------------------------------------------------------
// Texts

char* AigStore::copyText(const char* text) {
  if (text == nullptr || text[0] == '\0') return nullptr;
  const std::size_t length = std::strlen(text);
  char* copy = static_cast<char*>(allocate(length + 1));
  std::memcpy(copy, text, length + 1);
  return copy;
}

void AigStore::releaseText(char* text) {
  if (text != nullptr) release(text, std::strlen(text) + 1);
}

void AigStore::releaseNames(AigSymbol* symbols, std::uint32_t capacity) {
  for (std::uint32_t position = 0; position < capacity; ++position) {
    releaseText(symbols[position].name);
    symbols[position].name = nullptr;
  }
}

unsigned AigStore::releaseComments() {
  unsigned released = 0;
  for (std::uint32_t slot = 0; slot + 1 < commentSlots; ++slot) {
    releaseText(comments[slot]);
    comments[slot] = nullptr;
    ++released;
  }
  comments[0] = nullptr;
  commentSlots = 1;
  return released;
}

// ---------------------------------------------------------------------------------------
// Error formatting: 16 bytes of room per number, the lengths of the format and of every text,
// and one for the terminator. The formatted text is kept in a block of its exact length.

char* AigStore::allocateScratch(std::size_t bytes) {
  char* scratch = static_cast<char*>(allocate(bytes));
  std::memset(scratch, 0, bytes);
  return scratch;
}

const char* AigStore::keepScratchAsError(char* scratch, std::size_t bytes) {
  const std::size_t length = std::strlen(scratch);
  char* kept = nullptr;
  try {
    kept = static_cast<char*>(allocate(length + 1));
  } catch (...) {
    release(scratch, bytes);
    throw;
  }
  std::memcpy(kept, scratch, length + 1);
  release(scratch, bytes);
  error = kept;
  return error;
}

const char* AigStore::setError(const char* format, const char* text) {
  if (error != nullptr) return error;  // the first error stays
  if (text == nullptr) text = "";
  const std::size_t bytes = std::strlen(format) + std::strlen(text) + 1;
  char* scratch = allocateScratch(bytes);
  std::snprintf(scratch, bytes, format, text);
  return keepScratchAsError(scratch, bytes);
}

const char* AigStore::setError(const char* format, std::uint32_t number) {
  if (error != nullptr) return error;
  const std::size_t bytes = std::strlen(format) + 17;
  char* scratch = allocateScratch(bytes);
  std::snprintf(scratch, bytes, format, static_cast<unsigned>(number));
  return keepScratchAsError(scratch, bytes);
}

const char* AigStore::setError(const char* format, std::uint32_t first, std::uint32_t second) {
  if (error != nullptr) return error;
  const std::size_t bytes = std::strlen(format) + 33;
  char* scratch = allocateScratch(bytes);
  std::snprintf(scratch, bytes, format, static_cast<unsigned>(first),
                static_cast<unsigned>(second));
  return keepScratchAsError(scratch, bytes);
}

const char* AigStore::setError(const char* format, std::uint32_t first, const char* text,
                               std::uint32_t second) {
  if (error != nullptr) return error;
  if (text == nullptr) text = "";
  const std::size_t bytes = std::strlen(format) + std::strlen(text) + 33;
  char* scratch = allocateScratch(bytes);
  std::snprintf(scratch, bytes, format, static_cast<unsigned>(first), text,
                static_cast<unsigned>(second));
  return keepScratchAsError(scratch, bytes);
}

}  // namespace ZEFI
