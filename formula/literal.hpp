// Literals: one unsigned 32-bit word, variable index * 2 plus a sign bit (1 = negated).
#pragma once

#include <cstdint>

namespace ZEFI {

using Literal = std::uint32_t;

// The largest variable index a literal can hold: the doubled index must fit in 32 bits.
inline constexpr std::uint32_t maxVariableIndex = 2147483647u;

constexpr Literal makeLiteral(std::uint32_t variable, bool negated) {
  return (variable << 1) | (negated ? 1u : 0u);
}
constexpr std::uint32_t variableOf(Literal literal) {
  return literal >> 1;
}
constexpr bool isNegated(Literal literal) {
  return (literal & 1u) != 0;
}
constexpr Literal complementOf(Literal literal) {
  return literal ^ 1u;
}

}  // namespace ZEFI
