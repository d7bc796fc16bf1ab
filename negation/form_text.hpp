// Pieces of text shared by the forms of the negation: the prefix in blocks, signed numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"

namespace ZEFI {

// The kind a variable of the input has in its negation.
inline QuantifierKind exchanged(QuantifierKind kind) {
  return kind == Exists ? Forall : kind == Forall ? Exists : kind;
}

// A run of adjacent prefix elements of one kind, in the negation (kinds exchanged): the
// elements first .. last - 1 of the prefix, elements of no kind among them skipped.
struct PrefixBlock {
  QuantifierKind kind;
  std::size_t first;
  std::size_t last;
};
std::vector<PrefixBlock> exchangedBlocks(const std::vector<Quantification>& prefix);

// "-v" or "v" stored at p (the room for 17 bytes must be there); returns where it ends.
inline char* putSigned(char* p, std::uint32_t variable, bool negative) {
  *p = '-';
  return QdimacsWriter::put(p + (negative ? 1 : 0), QdimacsWriter::digitsOf(variable));
}
inline char* putLiteral(char* p, Literal literal) {
  return putSigned(p, variableOf(literal), isNegated(literal));
}

}  // namespace ZEFI
