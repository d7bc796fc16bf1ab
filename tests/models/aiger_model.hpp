// A second AIGER reader, written straight from the format's rules and sharing no code with
// the store: the same verdict (the exact message, line and byte numbers included) and, on
// success, the same graph. Tests and fuzz targets judge the library's reader and writer by it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZEFI::model {

struct AigerSymbol {
  std::uint32_t literal = 0;
  std::uint32_t next = 0;  // latches only
  std::string name;        // empty: none
  bool operator==(const AigerSymbol&) const = default;
};

struct AigerGraph {
  std::string error;     // empty: the bytes read (and passed the consistency check)
  bool skipped = false;  // the header announces more records than the caller's cap
  std::uint32_t maxVar = 0;
  std::vector<AigerSymbol> inputs, latches, outputs;
  std::vector<std::array<std::uint32_t, 3>> ands;  // lhs, rhs0, rhs1
  std::vector<std::string> comments;
  bool operator==(const AigerGraph&) const = default;
};

// Reads either form. Inputs whose header announces more than recordCap inputs, latches,
// outputs and gates together are not read: they come back skipped.
AigerGraph readAiger(std::string_view bytes, std::uint64_t recordCap = UINT64_MAX);

// The delta code of the binary form: groups of seven bits, least significant first, bit 7
// set on every byte but the last, shortest form.
std::string encodeDelta(std::uint32_t value);
// Bytes taken by one code at the front of bytes, with its value; 0 when the bytes end
// before the code does, or the code is longer than five bytes or exceeds 32 bits.
std::size_t decodeDelta(std::string_view bytes, std::uint32_t& value);

}  // namespace ZEFI::model
