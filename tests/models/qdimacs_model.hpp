// A second QDIMACS reader, written straight from the format's rules token by token, and the
// truth of a small quantified formula by expansion over its prefix. Tests and fuzz targets
// judge the library's reader and the negation that zefi writes by them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ZEFI::model {

struct Quantifier {
  char kind = 'e';  // 'e' or 'a'
  std::uint32_t variable = 0;
  bool operator==(const Quantifier&) const = default;
};

struct QdimacsFormula {
  std::string error;                                         // empty: the text read
  std::uint32_t declaredVariables = 0, declaredClauses = 0;  // the problem line
  std::uint32_t maxVar = 0;
  // Outermost first, as the lines give them; then every free variable of the clauses, in
  // order of first occurrence, existential.
  std::vector<Quantifier> prefix;
  std::vector<std::vector<std::int32_t>> clauses;  // signed literals, repeats dropped
};

QdimacsFormula readQdimacs(std::string_view text);

// Whether the formula is true; nullopt when its prefix quantifies a variable twice. The cost
// doubles with each variable of the clauses that lies outside the innermost existential
// block; that block is decided by unit propagation and splitting.
std::optional<bool> evaluate(const QdimacsFormula& formula);

}  // namespace ZEFI::model
