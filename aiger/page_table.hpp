// Pages of a table indexed by variable, as the store's variable table and the writer's
// renumbering use them: a directory of pages of AigStore::kVariablesPerPage entries, each
// allocated on first use. A page starts as one stretch of kStretchEntries entries and takes
// its full size only when a second stretch of it is used, so that variables scattered over
// the whole range cost a stretch each instead of a page each, while densely used pages pay
// one small extra step when they grow. The store's table also knows pages described by a
// run of gates (RunPage), and looks its entries up here.
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
      page = newStretch(slot, allocate);
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

  // A directory entry of one stretch, the one holding slot, its entries zeroed.
  template <class Allocate>
  static Entry* newStretch(std::uint32_t slot, Allocate&& allocate) {
    Entry* stretch = static_cast<Entry*>(allocate(kStretchBytes));
    std::memset(static_cast<void*>(stretch), 0, kStretchBytes);
    setStretchOf(stretch, slot >> kStretchBits);
    return tagged(stretch);
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

// A run page: a directory word that describes a page instead of pointing at one. Every
// entry it holds has one role, AND gate or input, slots first .. first + count - 1 at the
// records base, base + 1, ... of that role; the page's other slots were never touched. Bit 1
// tags it (entries are 4-byte aligned, and a stretch tags bit 0); the fields take the word's
// other bits, so run pages exist only where a pointer has 64 bits.
struct RunPage {
  static constexpr bool kAvailable = sizeof(std::uintptr_t) >= 8;
  static_assert(alignof(AigVariable) >= 4,
                "the two lowest bits of an entry's address must be free");
  static_assert(AigStore::kVariablePageBits <= 12, "the first slot takes 12 bits of the word");

  bool gates;  // AND gates, else inputs
  std::uint32_t base;
  std::uint32_t first;
  std::uint32_t count;

  static bool is(const AigVariable* word) {
    return (reinterpret_cast<std::uintptr_t>(word) & 3u) == 2u;
  }
  static RunPage of(const AigVariable* word) {
    const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(word));
    return {((bits >> 27) & 1u) != 0, static_cast<std::uint32_t>(bits >> 32),
            static_cast<std::uint32_t>(bits >> 2) & 0xFFFu,
            static_cast<std::uint32_t>(bits >> 14) & 0x1FFFu};
  }
  AigVariable* word() const {
    const std::uint64_t bits = (std::uint64_t{base} << 32) | (std::uint64_t{gates} << 27) |
                               (std::uint64_t{count} << 14) | (std::uint64_t{first} << 2) | 2u;
    return reinterpret_cast<AigVariable*>(static_cast<std::uintptr_t>(bits));
  }
  bool holds(std::uint32_t slot) const { return slot - first < count; }  // wraps below first
  AigVariable entry(std::uint32_t slot) const {
    AigVariable made{};
    made.isAnd = gates ? 1 : 0;
    made.isInput = gates ? 0 : 1;
    made.index = base + (slot - first);
    return made;
  }
};

// Inline: the check looks up every operand of every gate.
inline AigVariable AigStore::variableAt(std::uint32_t variable) const {
  if (variable >= variableCapacity) return AigVariable{};
  AigVariable* const word = variablePages[variable >> kVariablePageBits];
  const std::uint32_t slot = variable & PageTable<AigVariable>::kPageMask;
  if (RunPage::is(word)) {
    const RunPage run = RunPage::of(word);
    return run.holds(slot) ? run.entry(slot) : AigVariable{};
  }
  const AigVariable* entry = PageTable<AigVariable>::find(word, slot);
  return entry == nullptr ? AigVariable{} : *entry;
}

}  // namespace ZEFI
