// Test support for the AIG store: a memory manager that records every block and checks
// every release, and white-box access to the store's private state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "aiger/aiger.hpp"

namespace ZEFI {

// Records every allocation; every release must name a live block with its exact byte count
// (or be null with 0 bytes). New blocks are filled with a garbage pattern so that a store
// relying on zeroed memory it did not zero itself shows up.
struct CountingMemory {
  struct Event {
    bool isAllocation;
    std::size_t bytes;
  };

  std::unordered_map<void*, std::size_t> live;
  std::vector<Event> events;
  std::vector<std::string> faults;
  std::size_t liveBytes = 0;
  std::size_t peakBytes = 0;
  std::size_t allocations = 0;
  std::size_t releases = 0;
  std::size_t nullReleases = 0;

  static void* allocate(void* state, std::size_t bytes) {
    auto* self = static_cast<CountingMemory*>(state);
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) std::abort();
    std::memset(block, 0xA5, bytes);
    self->live[block] = bytes;
    self->events.push_back({true, bytes});
    ++self->allocations;
    self->liveBytes += bytes;
    if (self->liveBytes > self->peakBytes) self->peakBytes = self->liveBytes;
    return block;
  }

  static void release(void* state, void* block, std::size_t bytes) {
    auto* self = static_cast<CountingMemory*>(state);
    self->events.push_back({false, bytes});
    if (block == nullptr) {
      ++self->nullReleases;
      if (bytes != 0) self->faults.push_back("null block released with " + std::to_string(bytes));
      return;
    }
    auto found = self->live.find(block);
    if (found == self->live.end()) {
      self->faults.push_back("release of a block never allocated or released twice");
      return;
    }
    if (found->second != bytes) {
      self->faults.push_back("block of " + std::to_string(found->second) + " bytes released with " +
                             std::to_string(bytes));
    }
    self->liveBytes -= found->second;
    self->live.erase(found);
    ++self->releases;
    std::free(block);
  }

  AigStore* createStore() { return AigStore::create(this, allocate, release); }

  // Allocated bytes counted from a given event on.
  std::size_t allocatedSince(std::size_t firstEvent) const {
    std::size_t total = 0;
    for (std::size_t i = firstEvent; i < events.size(); ++i) {
      if (events[i].isAllocation) total += events[i].bytes;
    }
    return total;
  }
};

// Read and drive the store's private parts in white-box tests.
struct AigStoreTestAccess {
  static std::uint64_t variableCapacity(const AigStore& s) { return s.variableCapacity; }
  static std::uint32_t inputCapacity(const AigStore& s) { return s.inputCapacity; }
  static std::uint32_t latchCapacity(const AigStore& s) { return s.latchCapacity; }
  static std::uint32_t outputCapacity(const AigStore& s) { return s.outputCapacity; }
  static std::uint32_t andCapacity(const AigStore& s) { return s.andCapacity; }
  static std::uint32_t commentSlots(const AigStore& s) { return s.commentSlots; }
  static std::uint32_t commentCapacity(const AigStore& s) { return s.commentCapacity; }
  static std::uint64_t directoryLength(const AigStore& s) {
    return s.variableCapacity >> AigStore::kVariablePageBits;
  }
  static std::size_t pagesAllocated(const AigStore& s) {
    std::size_t pages = 0;
    for (std::uint64_t p = 0; p < directoryLength(s); ++p) pages += s.variablePages[p] != nullptr;
    return pages;
  }
  static const AigVariable* entry(const AigStore& s, std::uint32_t variable) {
    return s.variableEntry(variable);
  }
  static bool isDefined(const AigStore& s, AigLiteral literal) { return s.isDefined(literal); }
  static unsigned releaseComments(AigStore& s) { return s.releaseComments(); }
  static void releaseInputNames(AigStore& s) { s.releaseNames(s.inputs, s.inputCapacity); }
  static char* copyText(AigStore& s, const char* text) { return s.copyText(text); }
  static void releaseText(AigStore& s, char* text) { s.releaseText(text); }
  static const char* setError(AigStore& s, const char* format, const char* text) {
    return s.setError(format, text);
  }
  static const char* setError(AigStore& s, const char* format, std::uint32_t number) {
    return s.setError(format, number);
  }
  static const char* setError(AigStore& s, const char* format, std::uint32_t first,
                              std::uint32_t second) {
    return s.setError(format, first, second);
  }
  static const char* setError(AigStore& s, const char* format, std::uint32_t first,
                              const char* text, std::uint32_t second) {
    return s.setError(format, first, text, second);
  }
};

}  // namespace ZEFI
