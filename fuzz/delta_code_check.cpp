// The delta code of the binary AIGER form against a reference of its definition.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "aiger/aiger.hpp"
#include "fuzz/fuzz_checks.hpp"

namespace ZEFI::fuzz {

namespace {

// Bytes of the shortest code of a value: one per started group of seven bits.
unsigned expectedLength(std::uint32_t value) {
  unsigned length = 1;
  while (value >= 128) {
    value >>= 7;
    ++length;
  }
  return length;
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::string checkValue(std::uint32_t value) {
  unsigned char code[8];
  std::memset(code, 0xEE, sizeof code);
  const unsigned length = encodeDelta(value, code);
  if (length != expectedLength(value)) {
    return "encodeDelta(" + hex(value) + ") takes " + std::to_string(length) + " bytes";
  }
  if (code[5] != 0xEE || code[6] != 0xEE) return "encodeDelta writes beyond 5 bytes";
  for (unsigned i = 0; i < length; ++i) {
    const bool more = (code[i] & 0x80u) != 0;
    if (more != (i + 1 < length)) return "encodeDelta(" + hex(value) + ") sets bit 7 wrongly";
  }
  std::uint32_t decoded = ~value;
  if (decodeDelta(code, length, &decoded) != length || decoded != value) {
    return "decodeDelta(encodeDelta(" + hex(value) + ")) gives " + hex(decoded);
  }
  // Trailing bytes are not part of the code.
  unsigned char padded[8];
  std::memcpy(padded, code, length);
  std::memset(padded + length, 0x81, sizeof padded - length);
  decoded = ~value;
  if (decodeDelta(padded, sizeof padded, &decoded) != length || decoded != value) {
    return "decodeDelta reads past the end of the code of " + hex(value);
  }
  // Cut short, the code must not decode.
  for (unsigned cut = 0; cut < length; ++cut) {
    if (decodeDelta(code, cut, &decoded) != 0) {
      return "decodeDelta accepts the code of " + hex(value) + " cut to " + std::to_string(cut) +
             " bytes";
    }
  }
  return {};
}

// The definition: little-endian groups of seven bits, bit 7 set on every byte but the last,
// at most five bytes, and the value within 32 bits (so a fifth byte holds at most 0x0F).
unsigned referenceDecode(const std::uint8_t* bytes, std::size_t size, std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < size && i < 5; ++i) {
    value |= std::uint64_t{bytes[i] & 0x7Fu} << (7 * i);
    if ((bytes[i] & 0x80u) == 0) return value > UINT32_MAX ? 0 : static_cast<unsigned>(i + 1);
  }
  return 0;
}

}  // namespace

std::string checkDeltaCodes(const std::uint8_t* data, std::size_t size) {
  static const std::string edges = [] {
    const std::uint32_t fixed[] = {0,          1,          2,         127,       128,
                                   255,        256,        300,       16383,     16384,
                                   2097151,    2097152,    268435455, 268435456, 0x7FFFFFFF,
                                   0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    for (const std::uint32_t value : fixed) {
      if (std::string failure = checkValue(value); !failure.empty()) return failure;
    }
    for (unsigned bit = 0; bit < 32; ++bit) {
      const std::uint32_t power = std::uint32_t{1} << bit;
      for (const std::uint32_t value : {power - 1, power, power + 1}) {
        if (std::string failure = checkValue(value); !failure.empty()) return failure;
      }
    }
    return std::string();
  }();
  if (!edges.empty()) return edges;

  // Every four bytes of the input as a value, and each of the first bytes as a small one.
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    std::uint32_t value = 0;
    std::memcpy(&value, data + i, 4);
    if (std::string failure = checkValue(value); !failure.empty()) return failure;
  }
  for (std::size_t i = 0; i < size && i < 8; ++i) {
    if (std::string failure = checkValue(data[i]); !failure.empty()) return failure;
  }

  // The raw bytes as a code.
  std::uint64_t expected = 0;
  const unsigned expectedCount = referenceDecode(data, size, expected);
  std::uint32_t decoded = 0x5A5A5A5A;
  const unsigned count = decodeDelta(data, size, &decoded);
  if (count != expectedCount) {
    return "decodeDelta consumes " + std::to_string(count) + " bytes where the code has " +
           std::to_string(expectedCount);
  }
  if (count != 0 && decoded != expected) {
    return "decodeDelta gives " + hex(decoded) + " for a code of " + hex(std::uint32_t(expected));
  }
  return {};
}

}  // namespace ZEFI::fuzz
