// Properties checked by the fuzz targets, kept apart from libFuzzer so that the regression
// tests can replay a reproducer through exactly the same checks in an ordinary build.
//
// Each check takes arbitrary bytes and returns an empty string when every property held (or
// the input was out of the range the check covers), else a description of the first property
// that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ZEFI::fuzz {

// QDIMACS text through the reader and the whole negation, in memory as the pipeline does it;
// the written negation must read back to the same formula, agree with the streaming writer,
// and (for small inputs) be false under exactly the assignments that satisfy the matrix.
std::string checkQdimacsNegation(const std::uint8_t* data, std::size_t size);

// AIGER bytes through the reader into a store with a counting memory manager; a readable
// graph must survive both written forms, and the store must hand back every block.
std::string checkAigerRoundTrip(const std::uint8_t* data, std::size_t size);

// The delta code: encoding then decoding is the identity on values taken from the bytes and
// on edge values, and decoding the raw bytes agrees with a reference decoder.
std::string checkDeltaCodes(const std::uint8_t* data, std::size_t size);

// Largest number of records (I + L + O + A in the header) of an AIGER input the round trip
// reads: the store treats allocation as infallible and sizes its arrays from the header, so
// larger counts are skipped, not read. The maximal variable index M is not capped: the
// store's variable table is paged, so any M must cost little.
inline constexpr std::uint64_t kAigerCountCap = 1000000;

}  // namespace ZEFI::fuzz
