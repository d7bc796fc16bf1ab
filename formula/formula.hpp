// The quantified Boolean formula in prenex conjunctive normal form, and its QDIMACS form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "formula/clause.hpp"
#include "formula/literal.hpp"
#include "formula/variable_map.hpp"

namespace ZEFI {

class QdimacsInput;

enum QuantifierKind : std::int32_t {
  None = 0,  // a map entry nothing has set
  Forall = 1,
  Exists = 2,
};

struct Quantification {
  QuantifierKind kind = None;
  std::uint32_t variable = 0;
  bool operator==(const Quantification&) const = default;
};

class Formula {
 public:
  ClauseArray clauses;                    // the matrix, in file order
  std::uint32_t maxVar = 0;               // at least every variable of prefix and clauses
  std::string error;                      // text of the last reading error
  VariableMap<std::uint32_t> positionOf;  // prefix position; 0 for free variables
  VariableMap<Quantification> quantifierOf;
  std::vector<Quantification> prefix;  // outermost first, one element per variable

  // A hint only: room for at most what the input can hold, never an allocation that the
  // count alone could make fail.
  void reserveClauses(std::uint64_t count);
  void appendClause(std::span<const Literal> literals) { clauses.append(literals); }
  void appendClause(const Clause& clause) { clauses.append(clause); }

  // One cube per clause, each literal complemented, in order. Returns true.
  bool complementedClauses(CubeArray& out) const;
  // Replaces clauses by the complement of each cube. Returns true.
  bool setComplementedClauses(const CubeArray& cubes);
  // Universal reduction by positionOf and quantifierOf.
  void reduceUniversal(Clause& clause) const;
  // Appends the resolvent of clauses first and second on variable; true when appended.
  // When the clauses do not clash on the variable nothing changes.
  bool resolve(std::size_t first, std::size_t second, std::uint32_t variable);

  // Fills this (new, empty) formula from QDIMACS text; false with error set on failure.
  // The stream's size is not asked for: the clause arrays grow as they are filled. A read
  // that runs into the end of the input leaves the stream at its end.
  bool readQdimacs(std::istream& in);
  bool readQdimacs(QdimacsInput& in);
  // Writes the formula in the normal form: problem line, one quantifier line per prefix
  // element, one line per clause. Buffered; the stream is flushed once, at the end.
  void writeQdimacs(std::ostream& out) const;
};

}  // namespace ZEFI
