// The negation driver: read a QDIMACS file, plain or compressed, write its negation to
// "<name>.inverted.qdimacs"; or, for the name "-", from standard input to standard output.
#pragma once

#include <string>

#include "app/exception.hpp"
#include "formula/formula.hpp"

namespace ZEFI {

// The name that stands for standard input and output.
inline bool isStandardStreams(const std::string& fileName) {
  return fileName == "-";
}

// The input's name cut at its last "." (the whole name when it holds none), followed by
// ".inverted.qdimacs".
std::string outputNameFor(const std::string& inputName);

// Reads the named file into input and writes its negation, never holding the output's
// clauses in memory; input keeps only its header and prefix. Input compressed with gzip, xz, bzip2
// or zstd is decompressed on the way. For the name "-", standard input is read and the negation
// written to standard output as it comes. Throws Exception when the input is rejected or the output
// cannot be written in full; a problem the graph's check finds is printed as an "AIGER ERROR: "
// line (on standard error for "-") and does not stop the negation.
bool invertFile(Formula& input, const std::string& fileName);

}  // namespace ZEFI
