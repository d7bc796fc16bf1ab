// Pages of a table indexed by variable, as the store's variable table and the writer's
// renumbering use them: a directory of pages of AigStore::kVariablesPerPage entries, each
// allocated on first use. A page starts as one stretch of kStretchEntries entries and takes
// its full size only when a second stretch of it is used, so that variables scattered over
// the whole range cost a stretch each instead of a page each, while densely used pages pay
// one small extra step when they grow.
#pragma once

#include <cstdint>
#include <cstring>

#include "aiger/aiger.hpp"

namespace ZEFI {

template <class Entry>
class PageTable {
 public:
  static constexpr std::uint32_t kStretchBits = 6;
  static constexpr std::uint32_t kStretchEntries = 1u << kStretchBits;
  static constexpr std::uint32_t kPageMask = AigStore::kVariablesPerPage - 1;
  // A stretch holds a header entry (its position within the page, in stretches) and then
  // its entries; the directory marks a stretch by the lowest bit of its pointer.
  static constexpr std::size_t kStretchBytes = (1 + kStretchEntries) * sizeof(Entry);
  static constexpr std::size_t kPageBytes = AigStore::kVariablesPerPage * sizeof(Entry);
  static_assert(alignof(Entry) >= 2, "the lowest bit of an entry's address must be free");

  // The entry at slot (the variable's position within the page) of a directory entry, or
  // null when the page or its stretch was never used.
  static Entry* find(Entry* page, std::uint32_t slot) {
    if (!isStretch(page)) return page == nullptr ? nullptr : page + slot;
    Entry* stretch = untagged(page);
    if (stretchOf(stretch) != slot >> kStretchBits) return nullptr;
    return stretch + 1 + (slot & (kStretchEntries - 1));
  }

  // The entry at slot, made (zeroed) when missing; allocate(bytes) and release(block, bytes)
  // go to the owner's memory manager. Growing a stretch into a page moves its entries, so
  // pointers to entries of that page are stale afterwards.
  template <class Allocate, class Release>
  static Entry* touch(Entry*& page, std::uint32_t slot, Allocate&& allocate, Release&& release) {
    if (page == nullptr) {
      Entry* stretch = static_cast<Entry*>(allocate(kStretchBytes));
      std::memset(static_cast<void*>(stretch), 0, kStretchBytes);
      setStretchOf(stretch, slot >> kStretchBits);
      page = tagged(stretch);
    } else if (isStretch(page)) {
      Entry* stretch = untagged(page);
      const std::uint32_t position = stretchOf(stretch);
      if (position != slot >> kStretchBits) {
        // A second stretch of this page is used: the page takes its full size.
        Entry* full = static_cast<Entry*>(allocate(kPageBytes));
        std::memset(static_cast<void*>(full), 0, kPageBytes);
        std::memcpy(static_cast<void*>(full + (position << kStretchBits)),
                    static_cast<const void*>(stretch + 1), kStretchEntries * sizeof(Entry));
        release(stretch, kStretchBytes);
        page = full;
      }
    }
    return find(page, slot);
  }

  // Hands a directory entry's block back (nothing for an unused page).
  template <class Release>
  static void free(Entry* page, Release&& release) {
    if (page == nullptr) return;
    if (isStretch(page)) {
      release(untagged(page), kStretchBytes);
    } else {
      release(page, kPageBytes);
    }
  }

  // The entries a directory entry holds: count entries from entries, the first at slot
  // first of the page (none for an unused page).
  struct Held {
    Entry* entries;
    std::uint32_t first;
    std::uint32_t count;
  };
  static Held held(Entry* page) {
    if (page == nullptr) return {nullptr, 0, 0};
    if (!isStretch(page)) return {page, 0, AigStore::kVariablesPerPage};
    Entry* stretch = untagged(page);
    return {stretch + 1, stretchOf(stretch) << kStretchBits, kStretchEntries};
  }

 private:
  static bool isStretch(const Entry* page) {
    return (reinterpret_cast<std::uintptr_t>(page) & 1u) != 0;
  }
  static Entry* tagged(Entry* stretch) {
    return reinterpret_cast<Entry*>(reinterpret_cast<std::uintptr_t>(stretch) | 1u);
  }
  static Entry* untagged(Entry* page) {
    return reinterpret_cast<Entry*>(reinterpret_cast<std::uintptr_t>(page) & ~std::uintptr_t{1});
  }
  // The header entry keeps the stretch's position in its first 32 bits.
  static std::uint32_t stretchOf(const Entry* stretch) {
    std::uint32_t position;
    std::memcpy(&position, static_cast<const void*>(stretch), sizeof position);
    return position;
  }
  static void setStretchOf(Entry* stretch, std::uint32_t position) {
    std::memcpy(static_cast<void*>(stretch), &position, sizeof position);
  }
};

}  // namespace ZEFI
