// The negation driver: read a QDIMACS file, plain or compressed, write its negation to
// "<name>.inverted.qdimacs"; or, for the name "-", from standard input to standard output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/exception.hpp"
#include "formula/formula.hpp"

namespace ZEFI {

// The name that stands for standard input and output.
inline bool isStandardStreams(const std::string& fileName) {
  return fileName == "-";
}

// The forms of the negation zefi writes.
enum class NegationForm {
  Qdimacs,  // the default
  Qcir,     // --qcir: the circuit form, "<name>.inverted.qcir"
  Compact,  // --compact: QDIMACS with one selector per clause
};

// The form a command-line option asks for, if it names one.
std::optional<NegationForm> formNamed(std::string_view option);

// The input's name cut at its last "." (the whole name when it holds none), followed by
// ".inverted.qdimacs" (".inverted.qcir" for the circuit form).
std::string outputNameFor(const std::string& inputName, NegationForm form = NegationForm::Qdimacs);

// Reads the named file into input and writes its negation in the given form, never holding the
// output's clauses in memory; input keeps only its header and prefix. Input compressed with gzip,
// xz, bzip2 or zstd is decompressed on the way. For the name "-", standard input is read and the
// negation written to standard output as it comes. Throws Exception when the input is rejected or
// the output cannot be written in full; a problem the graph's check finds is printed as an "AIGER
// ERROR: " line (on standard error for "-") and does not stop the negation.
bool invertFile(Formula& input, const std::string& fileName,
                NegationForm form = NegationForm::Qdimacs);

}  // namespace ZEFI
