// The shape of the default form of a negation, from the lengths of the matrix's clauses alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formula/clause.hpp"
#include "negation/output_form.hpp"

namespace ZEFI {

// Everything the default form's text counts on, in one place: how many gates the graph has
// and which variable each gets, how many clauses they make (the header), and which gates or
// quantifier lines each piece of text holds, within how many bytes. The graph builder makes
// the gates this describes (the graph checks their count once built); the header and the
// pieces are taken from here.
//
// Gates, for sets (cubes) S1 .. Sm over variables below n: for each set in order, a chain of
// one gate per literal (the first over true: two clauses, the others three), then one gate
// joining the chain to the sets before (three clauses; two for the first set, over true; one
// for an empty set, which is false); last the gate of n (two clauses; one where there is no
// set at all and n is false). Gate i (from 0) has variable n + 1 + i, n's gate variable n; the
// last gate joined is the largest variable. The unit clause n follows the gates.
class NegationShape {
 public:
  NegationShape() = default;
  NegationShape(std::uint32_t n, const ClauseArray& sets, std::size_t prefixLength);

  std::uint32_t gateCount() const { return gates_; }      // n's gate included
  std::uint64_t clauseCount() const { return clauses_; }  // the unit clause included
  std::uint32_t maxVar() const { return maxVar_; }        // the header's variable count

  // The text in pieces of at most kPieceBytes: the header with the first quantifier lines of
  // the prefix (at least one piece, also for an empty prefix), the rest of the prefix, the
  // lines "e v 0" of n and the gate variables, the gates' clauses (at least one piece, the
  // last with the unit clause).
  // The bound the pipeline's blocks are made for: the shape keeps the form's promise.
  static constexpr std::size_t kPieceBytes = OutputForm::kPieceBytes;
  enum class Section { Prefix, Fresh, Gates };
  struct Piece {
    Section section;
    std::uint64_t first;  // prefix element, fresh variable or gate index
    std::uint64_t last;   // one past the last (a fresh variable: the last itself)
  };
  std::size_t pieceCount() const { return prefixPieces_ + freshPieces_ + gatePieces_; }
  Piece piece(std::size_t index) const;
  // The gates that must be built before the piece can be formed.
  std::uint32_t gatesNeededBy(std::size_t index) const;

  // Bytes a line or a gate's clauses can take at most, whose sums bound every piece.
  static constexpr std::size_t kHeaderBytes = 48;          // "p cnf " and two 20-digit numbers
  static constexpr std::size_t kQuantifierLineBytes = 15;  // "e ", ten digits, " 0\n"
  static constexpr std::size_t kGateBytes = 114;  // three lines of three signed 10-digit literals
  static constexpr std::size_t kUnitBytes = 13;
  static constexpr std::size_t kLinesPerPiece = std::size_t{1} << 16;
  static constexpr std::size_t kGatesPerPiece = std::size_t{1} << 13;

 private:
  std::uint32_t n_ = 0;
  std::uint32_t gates_ = 0;
  std::uint64_t clauses_ = 0;
  std::uint32_t maxVar_ = 0;
  std::size_t prefixLength_ = 0;
  std::size_t prefixPieces_ = 0;
  std::size_t freshPieces_ = 0;
  std::size_t gatePieces_ = 0;
};

}  // namespace ZEFI
