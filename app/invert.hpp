// The negation driver: read a QDIMACS file, write its negation to "<name>.inverted.qdimacs".
#pragma once

#include <string>

#include "formula/formula.hpp"

namespace ZEFI {

// The one exception type of the program: its message is printed after "Error: ".
class Exception {
 public:
  explicit Exception(std::string message) : message(std::move(message)) {}
  std::string message;
};

// The input's name cut at its last "." (the whole name when it holds none), followed by
// ".inverted.qdimacs".
std::string outputNameFor(const std::string& inputName);

// Reads the named file into input and writes its negation, never holding the output's
// clauses in memory. Throws Exception when the input is rejected or the output cannot be
// written in full; a problem the graph's check finds is printed as an "AIGER ERROR: " line
// and does not stop the negation.
bool invertFile(Formula& input, const std::string& fileName);

}  // namespace ZEFI
