// The allocator of the large flat arrays of a formula (all literals of a matrix, the ends of
// its clauses): memory that is filled once, front to back, and on systems that back memory
// with huge pages on request, asking for them spares one page fault per 4 KiB.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace ZEFI {

template <class T>
struct BulkAllocator {
  using value_type = T;

  BulkAllocator() = default;
  template <class U>
  BulkAllocator(const BulkAllocator<U>&) {}

  T* allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    void* block = ::operator new(bytes);
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    if (bytes >= 2 * kHugePage) {  // only a hint: a failure of it changes nothing
      const auto start = reinterpret_cast<std::uintptr_t>(block);
      const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
      const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
      if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) { ::operator delete(block); }

  template <class U>
  bool operator==(const BulkAllocator<U>&) const {
    return true;
  }
};

}  // namespace ZEFI
