// Implementation of VariableMap; included by variable_map.hpp only.
#pragma once

#include <algorithm>
#include <bit>
#include <utility>

namespace ZEFI {

// Fibonacci hashing: multiply by 2^64 / golden ratio and keep the top bits, which spreads
// runs of consecutive variable indices evenly over the table.
template <class Value>
std::size_t VariableMap<Value>::slotOf(std::uint32_t variable) const {
  return static_cast<std::size_t>((std::uint64_t{variable} * 0x9E3779B97F4A7C15ull) >> shift_);
}

template <class Value>
bool VariableMap<Value>::contains(std::uint32_t variable) const {
  return find(variable) != nullptr;
}

template <class Value>
const Value* VariableMap<Value>::find(std::uint32_t variable) const {
  if (variable == 0) return hasZero_ ? &zeroValue_ : nullptr;
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slotOf(variable);; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.key == variable) return &slot.value;
    if (slot.key == 0) return nullptr;
  }
}

template <class Value>
Value* VariableMap<Value>::find(std::uint32_t variable) {
  return const_cast<Value*>(std::as_const(*this).find(variable));
}

template <class Value>
std::pair<Value*, bool> VariableMap<Value>::tryEmplace(std::uint32_t variable) {
  if (variable == 0) {
    if (hasZero_) return {&zeroValue_, false};
    hasZero_ = true;
    zeroValue_ = Value();
    ++size_;
    return {&zeroValue_, true};
  }
  if ((size_ + 1) * 2 > slots_.size()) grow();  // size_ may count key 0: harmless
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slotOf(variable);; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.key == variable) return {&slot.value, false};
    if (slot.key == 0) {
      slot.key = variable;
      slot.value = Value();
      ++size_;
      return {&slot.value, true};
    }
  }
}

template <class Value>
void VariableMap<Value>::prefetch(std::uint32_t variable) const {
  if (slots_.empty()) return;
  __builtin_prefetch(slots_.data() + slotOf(variable));
}

template <class Value>
Value& VariableMap<Value>::operator[](std::uint32_t variable) {
  return *tryEmplace(variable).first;
}

template <class Value>
void VariableMap<Value>::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  shift_ = 64;
  size_ = 0;
  hasZero_ = false;
}

template <class Value>
std::vector<std::uint32_t> VariableMap<Value>::sortedKeys() const {
  std::vector<std::uint32_t> keys;
  keys.reserve(size_);
  if (hasZero_) keys.push_back(0);
  for (const Slot& slot : slots_) {
    if (slot.key != 0) keys.push_back(slot.key);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

template <class Value>
void VariableMap<Value>::grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{0, Value()});
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots_.size()));
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.key == 0) continue;
    std::size_t i = slotOf(slot.key);
    while (slots_[i].key != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace ZEFI
