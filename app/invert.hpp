// The negation pipeline: read a QDIMACS file, negate it, write "<name>.inverted.qdimacs".
#pragma once

#include <iosfwd>
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

// Writes the negation of input (as filled by readQdimacs) to out. The output clauses are
// never held in memory: they are produced gate by gate from the graph, once to count them
// for the header and once to write them. The input's clauses are released once the graph
// is built. Throws Exception when the negation would need a variable above
// maxVariableIndex. Returns false when the stream did not take everything.
bool writeNegation(Formula& input, std::ostream& out);

// The same text built the long way: the complete output Formula, written with
// writeQdimacs. It needs several times the memory of writeNegation and is kept only as the
// yardstick that writeNegation is tested against.
std::string negationThroughFormula(const Formula& input);

// The last steps of building the negation as a Formula, once the gate clauses are in output:
// appends the unit clause n and quantifies n and every gate variable up to output.maxVar
// existentially, after the copied prefix.
void assertNegationVariable(Formula& output, std::uint32_t n);

}  // namespace ZEFI
