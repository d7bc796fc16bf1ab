// A second AIGER reader, written straight from the format's rules without any of the store's
// machinery, for the fuzz target to compare the real reader with: the same verdict (the exact
// message, line and byte numbers included) and, on success, the same graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZEFI::fuzz {

struct ReferenceSymbol {
  std::uint32_t literal = 0;
  std::uint32_t next = 0;
  std::string name;  // empty: no name
};

struct ReferenceGate {
  std::uint32_t lhs, rhs0, rhs1;
};

struct ReferenceAiger {
  bool decided = true;  // false: the rules leave the outcome of this input open
  std::string error;    // empty on success
  std::uint32_t maxVar = 0;
  std::vector<ReferenceSymbol> inputs, latches, outputs;
  std::vector<ReferenceGate> ands;
  std::vector<std::string> comments;
};

ReferenceAiger referenceReadAiger(const std::uint8_t* data, std::size_t size);

}  // namespace ZEFI::fuzz
