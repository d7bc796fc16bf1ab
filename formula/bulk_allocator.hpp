// The allocator of the large flat arrays of a formula (all literals of a matrix, the ends of
// its clauses): memory that is filled once, front to back, and on systems that back memory
// with huge pages on request, asking for them spares one page fault per 4 KiB. Large blocks
// can be given back front to back as well, while they are consumed.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace ZEFI {

template <class T>
struct BulkAllocator {
  using value_type = T;
  // Blocks from this size on are mappings of their own, so that their pages can be handed
  // back to the system one by one (discard) and huge pages asked for.
  static constexpr std::size_t kMappedBytes = std::size_t{1} << 21;
  static bool mapped(std::size_t count) { return count * sizeof(T) >= kMappedBytes; }

  BulkAllocator() = default;
  template <class U>
  BulkAllocator(const BulkAllocator<U>&) {}

  T* allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (!mapped(count)) return static_cast<T*>(::operator new(bytes));
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    if (bytes >= 2 * kHugePage) {  // only a hint: a failure of it changes nothing
      const auto start = reinterpret_cast<std::uintptr_t>(block);
      const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
      const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
      if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t count) {
    if (mapped(count)) {
      munmap(block, count * sizeof(T));
    } else {
      ::operator delete(block);
    }
  }

  // Hands the whole pages under the first count elements of a block of capacity elements
  // from allocate back to the system (only where the block is a mapping of its own). The
  // caller reads none of those elements again: they would read as zero.
  static void discard(T* block, std::size_t capacity, std::size_t count) {
    if (!mapped(capacity)) return;
    const std::uintptr_t kPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);  // page-aligned: a mapping
    const std::uintptr_t end = (start + count * sizeof(T)) & ~(kPage - 1);
    if (end > start) madvise(block, end - start, MADV_DONTNEED);
  }

  template <class U>
  bool operator==(const BulkAllocator<U>&) const {
    return true;
  }
};

}  // namespace ZEFI
