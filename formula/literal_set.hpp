// A reusable hash set of literals, for duplicate tests on long clauses.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formula/literal.hpp"

namespace ZEFI {

// Open addressing with linear probing over a power-of-two table kept at most half full.
// A slot is occupied when its stamp equals the current stamp, so emptying the set is one
// increment of the stamp instead of a sweep over the table; every literal value, 0
// included, can be a member. Meant to be kept and reused: one set serves a whole read.
class LiteralSet {
 public:
  // Empties the set and makes room for about `expected` members.
  void reset(std::size_t expected = 0) {
    if (++stamp_ == 0) {  // stamps wrapped: old slots could look occupied again
      std::fill(stamps_.begin(), stamps_.end(), 0u);
      stamp_ = 1;
    }
    size_ = 0;
    if (expected * 2 > keys_.size()) rehash(capacityFor(expected));
  }

  std::size_t size() const { return size_; }

  bool contains(Literal literal) const {
    if (keys_.empty()) return false;
    for (std::size_t i = slotOf(literal);; i = (i + 1) & mask_) {
      if (stamps_[i] != stamp_) return false;
      if (keys_[i] == literal) return true;
    }
  }

  // Adds the literal; false when it was already a member.
  bool insert(Literal literal) {
    if ((size_ + 1) * 2 > keys_.size()) rehash(capacityFor(size_ + 1));
    std::size_t i = slotOf(literal);
    for (; stamps_[i] == stamp_; i = (i + 1) & mask_) {
      if (keys_[i] == literal) return false;
    }
    keys_[i] = literal;
    stamps_[i] = stamp_;
    ++size_;
    return true;
  }

 private:
  static std::size_t capacityFor(std::size_t members) {
    std::size_t capacity = 16;
    while (capacity < members * 2) capacity *= 2;
    return capacity;
  }

  std::size_t slotOf(Literal literal) const {
    // Multiplicative hashing: the high bits of the product are well mixed even for the
    // consecutive literal values typical of a formula.
    return static_cast<std::size_t>((std::uint64_t{codeOf(literal)} * 0x9E3779B97F4A7C15ull) >>
                                    shift_) &
           mask_;
  }

  void rehash(std::size_t capacity) {
    std::vector<Literal> oldKeys;
    std::vector<std::uint32_t> oldStamps;
    oldKeys.swap(keys_);
    oldStamps.swap(stamps_);
    const std::uint32_t oldStamp = stamp_;
    keys_.assign(capacity, Literal{});
    stamps_.assign(capacity, 0);
    stamp_ = 1;
    mask_ = capacity - 1;
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < capacity) ++bits;
    shift_ = 64 - bits;
    size_ = 0;
    for (std::size_t i = 0; i < oldKeys.size(); ++i) {
      if (oldStamps[i] == oldStamp) insert(oldKeys[i]);
    }
  }

  std::vector<Literal> keys_;
  std::vector<std::uint32_t> stamps_;
  std::uint32_t stamp_ = 1;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace ZEFI
