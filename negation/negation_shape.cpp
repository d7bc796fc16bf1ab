#include "negation/negation_shape.hpp"

#include <algorithm>

namespace ZEFI {

// The writer forms a line in place and asks for up to 256 bytes of room before it: that
// slack is counted in every piece.
static_assert(NegationShape::kHeaderBytes +
                  NegationShape::kLinesPerPiece * NegationShape::kQuantifierLineBytes + 256 <=
              NegationShape::kPieceBytes);
static_assert(NegationShape::kGatesPerPiece * NegationShape::kGateBytes +
                  NegationShape::kUnitBytes + 256 <=
              NegationShape::kPieceBytes);

namespace {

std::size_t piecesFor(std::uint64_t items, std::size_t perPiece) {
  return static_cast<std::size_t>((items + perPiece - 1) / perPiece);
}

}  // namespace

NegationShape::NegationShape(std::uint32_t n, const ClauseArray& sets, std::size_t prefixLength)
    : n_(n), prefixLength_(prefixLength) {
  const std::uint64_t literals = sets.literalCount();
  const std::uint64_t count = sets.size();
  gates_ = static_cast<std::uint32_t>(literals + count + 1);
  if (count == 0) {
    clauses_ = 1;
    maxVar_ = n;
  } else {
    std::uint64_t empty = 0;
    for (const std::span<const Literal> set : sets) empty += set.empty() ? 1 : 0;
    const std::uint64_t chains = 3 * literals - (count - empty);
    const std::uint64_t joins = 3 * (count - empty) + empty - (sets[0].empty() ? 0 : 1);
    clauses_ = chains + joins + 2;
    maxVar_ = static_cast<std::uint32_t>(n + literals + count);
  }
  clauses_ += 1;  // the unit clause n
  prefixPieces_ = std::max<std::size_t>(1, piecesFor(prefixLength, kLinesPerPiece));
  freshPieces_ = piecesFor(maxVar_ >= n ? std::uint64_t{maxVar_} - n + 1 : 0, kLinesPerPiece);
  gatePieces_ = std::max<std::size_t>(1, piecesFor(gates_, kGatesPerPiece));
}

NegationShape::Piece NegationShape::piece(std::size_t index) const {
  if (index < prefixPieces_) {
    const std::uint64_t first = std::uint64_t{index} * kLinesPerPiece;
    return {Section::Prefix, first, std::min<std::uint64_t>(prefixLength_, first + kLinesPerPiece)};
  }
  index -= prefixPieces_;
  if (index < freshPieces_) {
    const std::uint64_t first = n_ + std::uint64_t{index} * kLinesPerPiece;
    return {Section::Fresh, first, std::min<std::uint64_t>(maxVar_, first + kLinesPerPiece - 1)};
  }
  index -= freshPieces_;
  const std::uint64_t first = std::uint64_t{index} * kGatesPerPiece;
  return {Section::Gates, first, std::min<std::uint64_t>(gates_, first + kGatesPerPiece)};
}

std::uint32_t NegationShape::gatesNeededBy(std::size_t index) const {
  const Piece at = piece(index);
  return at.section == Section::Gates ? static_cast<std::uint32_t>(at.last) : 0;
}

}  // namespace ZEFI
