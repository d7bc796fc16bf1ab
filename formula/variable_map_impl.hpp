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
const Value* VariableMap<Value>::find(std::uint32_t variable) const {
  if (variable < dense_.size()) return denseHas(variable) ? &dense_[variable] : nullptr;
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
  if (variable < dense_.size() || widenDense(variable)) {
    Value& value = dense_[variable];
    if (denseHas(variable)) return {&value, false};
    markDense(variable);
    value = Value();
    ++size_;
    return {&value, true};
  }
  if (variable == 0) {
    if (hasZero_) return {&zeroValue_, false};
    hasZero_ = true;
    zeroValue_ = Value();
    ++size_;
    return {&zeroValue_, true};
  }
  if ((hashed_ + 1) * 2 > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slotOf(variable);; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.key == variable) return {&slot.value, false};
    if (slot.key == 0) {
      slot.key = variable;
      slot.value = Value();
      ++size_;
      ++hashed_;
      return {&slot.value, true};
    }
  }
}

template <class Value>
Value& VariableMap<Value>::operator[](std::uint32_t variable) {
  return *tryEmplace(variable).first;
}

template <class Value>
void VariableMap<Value>::clear() {
  dense_.clear();
  dense_.shrink_to_fit();
  present_.clear();
  present_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
  shift_ = 64;
  size_ = 0;
  hashed_ = 0;
  hasZero_ = false;
}

template <class Value>
std::vector<std::uint32_t> VariableMap<Value>::sortedKeys() const {
  std::vector<std::uint32_t> keys;
  keys.reserve(size_);
  // Every key below the array's end lives in the array, so its keys, in index order, come
  // first; only the hashed keys beyond it need sorting.
  for (std::size_t key = 0; key < dense_.size(); ++key) {
    if (denseHas(static_cast<std::uint32_t>(key))) keys.push_back(static_cast<std::uint32_t>(key));
  }
  const std::size_t denseKeys = keys.size();
  if (hasZero_) keys.push_back(0);
  for (const Slot& slot : slots_) {
    if (slot.key != 0) keys.push_back(slot.key);
  }
  std::sort(keys.begin() + static_cast<std::ptrdiff_t>(denseKeys), keys.end());
  return keys;
}

template <class Value>
bool VariableMap<Value>::widenDense(std::uint32_t variable) {
  // The array may cover up to four keys per entry (the new one counted) beyond a small floor
  // that every formula may use. It only ever doubles (or jumps to the key): a key that would
  // need less growth than that, or more than the entries justify, goes to the hash table
  // instead. So the array is resized O(log) times, each time at twice the size, and widening
  // costs amortised O(1) per entry; hashed entries move into the array once per widening.
  constexpr std::uint64_t kFloor = 1024;
  constexpr std::uint64_t kFirst = 64;
  const std::uint64_t allowed = kFloor + 4 * (std::uint64_t{size_} + 1);
  const std::uint64_t wanted =
      std::max({2 * std::uint64_t{dense_.size()}, std::uint64_t{variable} + 1, kFirst});
  if (wanted > allowed) return false;
  dense_.resize(static_cast<std::size_t>(wanted), Value());
  present_.resize((dense_.size() + 63) / 64, 0);
  if (hasZero_) {
    dense_[0] = zeroValue_;
    markDense(0);
    hasZero_ = false;
  }
  if (!slots_.empty()) {
    std::vector<Slot> old;
    old.swap(slots_);
    std::size_t kept = 0;
    for (const Slot& slot : old) {
      if (slot.key == 0) continue;
      if (slot.key < dense_.size()) {
        dense_[slot.key] = slot.value;
        markDense(slot.key);
      } else {
        ++kept;
      }
    }
    // Rehash what stays beyond the array into a table sized for it.
    shift_ = 64;
    hashed_ = kept;
    if (kept > 0) {
      std::size_t capacity = 16;
      while (capacity < 2 * (kept + 1)) capacity *= 2;
      slots_.assign(capacity, Slot{0, Value()});
      shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
      const std::size_t mask = capacity - 1;
      for (const Slot& slot : old) {
        if (slot.key == 0 || slot.key < dense_.size()) continue;
        std::size_t i = slotOf(slot.key);
        while (slots_[i].key != 0) i = (i + 1) & mask;
        slots_[i] = slot;
      }
    }
  }
  return true;
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
