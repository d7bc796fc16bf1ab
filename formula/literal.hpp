// Literals: a variable index times two plus a sign bit (1 = negated), in one 32-bit word. A
// type of its own, so that a literal of the graph store (AigLiteral, the same encoding) never
// passes for one of a formula unnoticed: crossing over is spelled out (literalWithCode).
#pragma once

#include <cstdint>

namespace ZEFI {

enum class Literal : std::uint32_t {};

// The largest variable index a literal can hold: the doubled index must fit in 32 bits.
inline constexpr std::uint32_t maxVariableIndex = 2147483647u;

constexpr std::uint32_t codeOf(Literal literal) {
  return static_cast<std::uint32_t>(literal);
}
constexpr Literal literalWithCode(std::uint32_t code) {
  return Literal{code};
}
constexpr Literal makeLiteral(std::uint32_t variable, bool negated) {
  return Literal{(variable << 1) | (negated ? 1u : 0u)};
}
constexpr std::uint32_t variableOf(Literal literal) {
  return codeOf(literal) >> 1;
}
constexpr bool isNegated(Literal literal) {
  return (codeOf(literal) & 1u) != 0;
}
constexpr Literal complementOf(Literal literal) {
  return Literal{codeOf(literal) ^ 1u};
}

}  // namespace ZEFI
