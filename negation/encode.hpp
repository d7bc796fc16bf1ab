// Construction of the And-Inverter Graph of a set of definitions, and its re-encoding as
// clauses (the Tseitin encoding of each AND gate, constants dropped).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "aiger/aiger.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"
#include "negation/clause_index.hpp"
#include "negation/output_form.hpp"

namespace ZEFI {

// Builds the graph: inputs, outputs and the gate chains of each output's definition.
// Gate variables are numbered from firstFreshVariable upward; returns the counter after
// the last gate (the next free variable). The store must be empty.
std::uint32_t buildDefinitionGraph(const ClauseIndex& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store);
// The same, handing the memory of each definition back to the system as its gates are
// built: the sets of index are left empty. built, when given, is set to the store's gate
// count every so often while gates are added (released: the gates up to it may be read on
// another thread meanwhile), and at the end.
std::uint32_t buildDefinitionGraph(ClauseIndex&& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store,
                                   BuildProgress* built = nullptr);

// The clauses of one gate, at most three of at most three literals each.
struct GateClauses {
  std::uint8_t count = 0;
  std::uint8_t sizes[3] = {0, 0, 0};
  Literal literals[3][3] = {};
  std::span<const Literal> operator[](unsigned i) const { return {literals[i], sizes[i]}; }
};
GateClauses gateClauses(const AigAnd& gate);

// Writes the clauses of gateClauses(gate) as QDIMACS clause lines, the same bytes as
// writer.clause() of each, without building them first. The digits of up to two variables
// may be handed in already formed (say, those of the gate before, which a gate mostly uses).
struct FormedVariable {
  std::uint32_t variable = 0;
  const QdimacsWriter::Digits* digits = nullptr;  // null: nothing formed
};
void writeGateClauses(const AigAnd& gate, QdimacsWriter& writer, FormedVariable first = {},
                      FormedVariable second = {});

// The usual gate: no false operand, at least one that is not constant, operands that differ
// from each other and lie over other variables than the gate's own. gateClauses gives it
// "-g l 0" for each operand l that is not true, then "g -l1 -l2 0" (or "g -l 0"): no clause
// repeats a literal, so the clauses take the shape writeAndDefinition forms in one go, and
// their count and variables follow from the operands alone.
inline bool isUsualGate(const AigAnd& gate) {
  constexpr AigLiteral kFalse = 0;
  constexpr AigLiteral kTrue = 1;
  const std::uint32_t variable = gate.lhs >> 1;
  const AigLiteral rhs0 = gate.rhs0;
  const AigLiteral rhs1 = gate.rhs1;
  return rhs0 != kFalse && rhs1 != kFalse && rhs0 != rhs1 && (rhs0 >> 1) != variable &&
         (rhs1 >> 1) != variable && (rhs0 != kTrue || rhs1 != kTrue);
}

// "-g l 0" for a gate g and an operand l given as its variable's digits and its sign (1:
// negated), stored at p; returns where the line ends. The sign is stored either way and
// overwritten by the digits when it is not wanted: no branch on it.
inline char* putAndLine(char* p, const QdimacsWriter::Digits& gate,
                        const QdimacsWriter::Digits& operand, unsigned negated) {
  *p = '-';
  p = QdimacsWriter::put(p + 1, gate);
  p[0] = ' ';
  p[1] = '-';
  p = QdimacsWriter::put(p + 1 + negated, operand);
  std::memcpy(p, " 0\n", 4);
  return p + 3;
}

// The clauses of a usual gate g over one or two operands that are not true, given as their
// variables' digits and signs (1: negated): "-g l 0" for each, then "g -l1 -l2 0" (the same
// bytes as writeGateClauses), formed in one go.
inline void writeAndDefinition(QdimacsWriter& writer, const QdimacsWriter::Digits& gate,
                               const QdimacsWriter::Digits& first, unsigned firstNegated,
                               const QdimacsWriter::Digits& second, unsigned secondNegated,
                               bool two) {
  constexpr std::size_t kRoom = 192;  // three lines of three literals of at most 64 bytes
  char* p = writer.room(kRoom);
  p = putAndLine(p, gate, first, firstNegated);
  if (two) p = putAndLine(p, gate, second, secondNegated);
  p = QdimacsWriter::put(p, gate);
  p[0] = ' ';
  p[1] = '-';
  p = QdimacsWriter::put(p + 2 - firstNegated, first);
  if (two) {
    p[0] = ' ';
    p[1] = '-';
    p = QdimacsWriter::put(p + 2 - secondNegated, second);
  }
  std::memcpy(p, " 0\n", 4);
  writer.advanceTo(p + 3);
}

// Builds the graph in a store of its own, runs the consistency check (a problem is printed
// as an "AIGER ERROR: " line and does not stop the encoding), and replaces output's clauses
// by the clauses of every gate in order of creation; output.maxVar becomes the largest
// variable in them (0 when none). The prefix and maps of output are not touched.
void encodeDefinitions(const ClauseIndex& index, const std::vector<std::uint32_t>& inputVariables,
                       const std::vector<std::uint32_t>& outputVariables,
                       std::uint32_t firstFreshVariable, Formula& output);

}  // namespace ZEFI
