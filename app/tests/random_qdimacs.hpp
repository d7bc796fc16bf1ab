// Seeded random QDIMACS texts that exercise what the reader keeps and the negation must
// carry through: repeated and alternating quantifier lines, variables quantified twice,
// free variables, empty clauses, repeated literals, tautologies and a header whose counts
// disagree with the content.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

namespace ZEFI::testing {

inline std::string randomQdimacs(std::uint32_t seed) {
  std::mt19937 random(seed);
  auto below = [&random](std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(random);
  };
  const std::uint32_t variables = 1 + below(12);
  const std::uint32_t clauses = below(10);
  std::ostringstream text;
  if (below(4) == 0) text << "c seed " << seed << "\n";
  // The header's variable count is sometimes below what the content uses.
  text << "p cnf " << (below(3) == 0 ? below(variables + 1) : variables) << " "
       << (below(3) == 0 ? below(20) : clauses) << "\n";
  const std::uint32_t blocks = below(5);
  for (std::uint32_t b = 0; b < blocks; ++b) {
    text << (below(2) == 0 ? "e" : "a");
    const std::uint32_t count = below(4);
    for (std::uint32_t i = 0; i < count; ++i) text << " " << 1 + below(variables);
    text << " 0\n";
  }
  // Literals range a little beyond the header, so some variables are free.
  const std::uint32_t range = variables + 3;
  for (std::uint32_t c = 0; c < clauses; ++c) {
    const std::uint32_t length = below(5) == 0 ? 0 : 1 + below(6);
    for (std::uint32_t i = 0; i < length; ++i) {
      const std::uint32_t variable = 1 + below(range);
      text << (below(2) == 0 ? "-" : "") << variable << " ";
    }
    text << "0\n";
  }
  return text.str();
}

}  // namespace ZEFI::testing
