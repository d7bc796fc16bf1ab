// A map from variable index to a small value, for the prefix lookups of a formula.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ZEFI {

// Open-addressing hash map keyed by variable index (any value 1 .. 2^32-1; 0 is never a
// key). Expected O(1) lookup and insertion, memory proportional to the number of entries
// (never to the size of the largest key), and the keys in ascending order on request.
// It takes the place of an ordered map: ordered walks go through sortedKeys().
template <class Value>
class VariableMap {
 public:
  bool contains(std::uint32_t variable) const;
  const Value* find(std::uint32_t variable) const;  // null when absent
  Value* find(std::uint32_t variable);
  Value& operator[](std::uint32_t variable);  // inserts a value-initialised entry
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear();
  std::vector<std::uint32_t> sortedKeys() const;  // ascending

 private:
  struct Slot {
    std::uint32_t key;  // 0 marks an empty slot
    Value value;
  };
  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace ZEFI

#include "formula/variable_map_impl.hpp"
