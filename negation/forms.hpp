// The forms of a formula's negation that zefi writes, each one OutputForm.
#pragma once

#include <memory>

#include "formula/formula.hpp"
#include "negation/output_form.hpp"

namespace ZEFI {

// Each takes input (as the reader fills it): its matrix (input.clauses is left empty) and
// what else of it the form no longer needs; input must outlive the form. Each throws
// std::invalid_argument with kNegationTooLarge ("QBF File: Number of variables is bogus.")
// when the form would need a variable above maxVariableIndex.

// QDIMACS, the default: the prefix exchanged one variable a line, the negation of the matrix
// as the clauses of an And-Inverter Graph on fresh existential variables.
std::unique_ptr<OutputForm> makeQdimacsNegation(Formula& input);

// Prenex, cleansed QCIR-G14: the prefix exchanged, adjacent lines of one kind merged, the
// output the negation of an "and" of one "or" gate per clause, constants folded.
std::unique_ptr<OutputForm> makeQcirNegation(Formula& input);

// Compact QDIMACS: the prefix exchanged with adjacent lines of one kind merged, and one
// existential selector per clause of two or more literals that implies the clause is false.
std::unique_ptr<OutputForm> makeCompactNegation(Formula& input);

}  // namespace ZEFI
