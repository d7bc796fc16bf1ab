// The graph of a formula's negation and the clause lines it turns into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "aiger/aiger.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"
#include "negation/negation_shape.hpp"
#include "negation/output_form.hpp"

namespace ZEFI {

// What a formula whose negation would need a variable above maxVariableIndex is told.
inline constexpr const char* kNegationTooLarge = "QBF File: Number of variables is bogus.";

// Whether every variable of input's negation fits a literal: the gates lie above
// n = maxVar + 1, one per literal and one per clause of the matrix.
bool negationFits(const Formula& input);

// The graph whose one output n = input.maxVar + 1 is the negation of input's matrix, built
// in store (empty) from the matrix, which it takes: input.clauses is left empty. Its inputs
// are the keys of input.quantifierOf; gate variables follow n. The input must fit
// (negationFits), and its literals lie over variables 1 .. input.maxVar.
//
// With renumber set, inputs scattered so thinly that the store's variable table would pay a
// page for each are numbered 1..V inside the graph (ascending, so every order stays), n
// becomes V + 1 and the gates follow; write() numbers every literal back. The store then
// holds these numbers, so only what write() produces carries the formula's own.
class NegationGraph {
 public:
  NegationGraph(Formula& input, AigStore& store, bool renumber);

  // Takes the matrix and sizes the store without adding any gate yet: build() adds them.
  // Every number of the text is known from here on (the gates' shape follows from the
  // lengths of the clauses alone), so the pieces before the gates can be formed at once and
  // each piece of gates as soon as gatesNeededBy() of it are built (told to progress).
  struct Deferred {};
  NegationGraph(Formula& input, AigStore& store, bool renumber, Deferred);
  void build(BuildProgress* progress = nullptr);  // once, on a graph constructed Deferred
  std::uint32_t gatesNeededBy(std::size_t piece) const { return shape_.gatesNeededBy(piece); }

  // The header, the prefix of input exchanged, n and the gate variables existential, the
  // clauses of every gate in order of creation, and the unit clause n.
  void write(const Formula& input, QdimacsWriter& writer) const;

  // The same text in pieces of at most OutputForm::kPieceBytes each: write() writes pieces 0, 1,
  // ... one after the other, and each can be formed on its own (on any thread, into a buffer of its
  // own) to be joined in order.
  std::size_t pieceCount() const { return shape_.pieceCount(); }
  void writePiece(std::size_t piece, const Formula& input, QdimacsWriter& writer) const;

 private:
  // A literal of the graph in the formula's numbering (still a graph literal).
  AigLiteral original(AigLiteral literal) const;

  AigStore& store_;
  std::uint32_t n_;
  std::uint32_t graphN_;                       // n inside the graph
  bool renumbered_ = false;                    // whether graph variables differ from the formula's
  std::vector<std::uint32_t> originalInputs_;  // graph input i + 1 is originalInputs_[i]
  NegationShape shape_;                        // of the gates build() adds and their text
  // What build() takes: the clauses (or, where they repeat a literal, the cubes already
  // formed) and the graph's inputs.
  ClauseArray sets_;
  bool cubesFormed_ = false;
  std::vector<std::uint32_t> inputVariables_;
};

// The negation of input (as the reader fills it) written to out in memory, its graph's
// problems left unreported; false when the stream did not take everything. Throws
// std::invalid_argument with kNegationTooLarge when the negation does not fit.
bool writeNegation(Formula& input, std::ostream& out);

}  // namespace ZEFI
