// The properties the fuzz targets check, kept apart from libFuzzer so that the ordinary test
// build replays the same checks on the seed corpora, kept reproducers and random inputs.
// Each takes arbitrary bytes and returns an empty text when every property held (or the
// input lies outside what the check covers), else what failed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "formula/formula.hpp"
#include "negation/output_form.hpp"

namespace ZEFI::fuzz {

// QDIMACS text: the reader agrees with the model; the negation zefi writes reads back, has
// the prefix exchanged, every gate variable existential after it and the unit clause last,
// and for small inputs is true exactly when the input is false; so is the negation in the
// compact form (read back by the model) and in the circuit form, which keeps every rule of
// cleansed QCIR.
std::string checkQdimacsNegation(std::string_view bytes);

// AIGER bytes read as a file (the reader agrees with the model, and a graph that reads
// survives both written forms byte for byte) and as a recipe for a graph built through the
// store's API (it passes its check and survives both forms); every block the store took
// from its memory manager comes back with its byte count, also when the manager runs out
// at one of its allocations part way (the std::bad_alloc it throws comes through).
std::string checkAigerRoundTrip(std::string_view bytes);

// The negation of input (as the reader fills it) built the long way: its clauses from
// encodeDefinitions into a whole Formula, written by writeQdimacs.
std::string negationThroughFormula(const Formula& input);

// The negation of input in the form that make makes, as the library writes it.
std::string formText(Formula input, std::unique_ptr<OutputForm> (*make)(Formula&));

// Compressed QDIMACS, by the first byte (even: raw, odd: compressed) and the format the
// second picks (gzip, xz, bzip2, zstd): the rest compressed by the harness reads as the rest
// itself, and cut short past the magic number is damage; the raw rest behind the format's
// magic number is read or rejected with a message of the reader's.
std::string checkCompressedQdimacs(std::string_view bytes);

// encodeDelta and decodeDelta against the model, on values taken from the bytes, on edge
// values, and on the raw bytes as a code.
std::string checkDeltaCodes(std::string_view bytes);

}  // namespace ZEFI::fuzz
