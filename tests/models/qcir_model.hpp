// A reader of the prenex, cleansed QCIR-G14 that zefi writes, strict about every rule of that
// form, and the truth of a small formula by expansion over its prefix. The fuzz checks judge
// the circuit form of the negation by them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/models/qdimacs_model.hpp"

namespace ZEFI::model {

struct QcirGate {
  std::uint32_t number = 0;
  bool conjunction = false;            // and, else or
  std::vector<std::int64_t> literals;  // signed variable or gate numbers
};

struct QcirFormula {
  std::string error;               // empty: the text read and keeps every rule
  std::vector<Quantifier> prefix;  // outermost first
  std::int64_t output = 0;
  std::vector<QcirGate> gates;  // in the order of their definitions
};

// Reads the line "#QCIR-G14", the quantifier lines "forall(v, ...)" and "exists(v, ...)", one
// "output(l)", then the gates "g = and(l, ...)" and "g = or(l, ...)", nothing else, and checks
// the rules: adjacent quantifier lines of different kinds, a variable quantified once, every
// literal a quantified variable or a gate defined before (the output: defined anywhere), a
// gate defined once with a number above every variable, no literal repeated in a gate nor
// with its complement, an empty gate only as the only one.
QcirFormula readQcir(std::string_view text);

// Whether a formula that read is true.
bool evaluate(const QcirFormula& formula);

}  // namespace ZEFI::model
