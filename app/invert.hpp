// The negation pipeline: read a QDIMACS file, negate it, write "<name>.inverted.qdimacs".
#pragma once

#include <string>

#include "formula/formula.hpp"

namespace ZEFI {

// The one exception type of the program.
class Exception {
 public:
  explicit Exception(std::string message) : message(std::move(message)) {}
  std::string message;
};

// The input's name cut at its last "." (the whole name when it holds none), followed by
// ".inverted.qdimacs".
std::string outputNameFor(const std::string& inputName);

// Reads the named file into input, writes its negation. Throws Exception with the message
// to print after "Error: " when the input is rejected or the output cannot be written.
bool invertFile(Formula& input, const std::string& fileName);

}  // namespace ZEFI
