// A map from variable index to a small value, for the prefix lookups of a formula.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ZEFI {

// Map keyed by variable index (any value 1 .. 2^32-1; a formula never uses 0, which marks an
// empty slot, but 0 is kept correctly in a side entry all the same). Expected O(1) lookup and
// insertion, memory proportional to the number of entries (never to the size of the largest
// key), and the keys in ascending order on request. It takes the place of an ordered map:
// ordered walks go through sortedKeys().
//
// Real formulas number their variables densely from 1, so small keys live in a plain array
// indexed by the key (one cache line serves neighbouring variables) and only keys beyond it in
// an open-addressing hash table. The array covers at most a few times as many keys as the map
// holds, so sparse or hostile keys cost memory only for what they use. Which keys of the array
// are present is a bit array of its own: the reader asks "present?" once for each literal of
// the matrix, and one bit a variable keeps that question in the processor's caches for
// formulas of millions of variables, where the values would not fit.
template <class Value>
class VariableMap {
 public:
  bool contains(std::uint32_t variable) const {
    // Asked for every literal the reader meets: a key of the array is one bit, in line.
    return variable < dense_.size() ? denseHas(variable) : find(variable) != nullptr;
  }
  const Value* find(std::uint32_t variable) const;  // null when absent
  Value* find(std::uint32_t variable);
  Value& operator[](std::uint32_t variable);  // inserts a value-initialised entry
  // One probe for lookup-or-insert: the entry (value-initialised when new) and whether it
  // was inserted now.
  std::pair<Value*, bool> tryEmplace(std::uint32_t variable);
  std::size_t size() const { return size_; }
  void clear();
  std::vector<std::uint32_t> sortedKeys() const;  // ascending

 private:
  struct Slot {
    std::uint32_t key;  // 0 marks an empty slot
    Value value;
  };
  std::size_t slotOf(std::uint32_t variable) const;
  void grow();
  // Widens the array so that it covers variable, when that keeps it dense; true when it does.
  bool widenDense(std::uint32_t variable);
  bool denseHas(std::uint32_t variable) const {
    return (present_[variable >> 6] >> (variable & 63)) & 1u;
  }
  void markDense(std::uint32_t variable) {
    present_[variable >> 6] |= std::uint64_t{1} << (variable & 63);
  }
  std::vector<Value> dense_;            // values of keys 0 .. dense_.size() - 1
  std::vector<std::uint64_t> present_;  // bit k: key k of the array is present
  std::vector<Slot> slots_;             // power-of-two size, at most half full
  unsigned shift_ = 64;                 // 64 - log2(slots_.size())
  std::size_t size_ = 0;                // entries, the side entry of key 0 included
  std::size_t hashed_ = 0;              // entries in slots_
  bool hasZero_ = false;
  Value zeroValue_{};
};

}  // namespace ZEFI

#include "formula/variable_map_impl.hpp"
