// A small AIGER model of the tests' own: parser, writers, random graphs and a bit-parallel
// simulator. It shares no code with the library, so that the command's files are judged by
// an independent reading of the format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zefi_test {

struct Graph {
  std::uint32_t maxVar = 0;
  std::vector<std::uint32_t> inputs;                             // literals
  std::vector<std::array<std::uint32_t, 2>> latches;             // literal, next
  std::vector<std::uint32_t> outputs;                            // literals
  std::vector<std::array<std::uint32_t, 3>> ands;                // lhs, rhs0, rhs1
  std::vector<std::string> inputNames, latchNames, outputNames;  // "" = no name
  std::vector<std::string> comments;

  // Filled by parseAiger: byte offsets of the end of the gate section and of the symbol
  // table (where the comment section, if any, starts).
  std::size_t gatesEnd = 0;
  std::size_t symbolsEnd = 0;
};

// Reads either form; nullopt with a reason in error when the bytes are not a file this
// model understands (it is strict where the format is).
std::optional<Graph> parseAiger(const std::string& bytes, std::string& error);

// The ASCII form, with names and comments.
std::string writeAscii(const Graph& graph);
// The binary form of a graph that already has the binary numbering (checked; throws).
std::string writeBinary(const Graph& graph);
// The same graph renumbered for the binary form: inputs, latches, then every gate after
// its operands; orders of inputs, latches and outputs and all names are kept.
Graph renumberForBinary(const Graph& graph);

// A random graph in the binary numbering with no gate that a structural hash would merge
// or fold (no constant operand, no two operands over one variable, no repeated operand
// pair) and every gate reachable from an output or a latch's next state.
Graph randomGraph(std::mt19937& rng, std::uint32_t inputs, std::uint32_t latches,
                  std::uint32_t ands);
// The same graph under scattered variable numbers, a larger maximal index, shuffled gates
// and randomly ordered operands; inputs, latches and outputs keep their order.
Graph scramble(const Graph& graph, std::mt19937& rng);

// 64 patterns per word: one word per input and per latch in, one word per output and per
// latch next state out. Gates may stand in any order; every operand must be defined.
struct Simulation {
  std::vector<std::uint64_t> outputs;
  std::vector<std::uint64_t> nextStates;
};
Simulation simulate(const Graph& graph, const std::vector<std::uint64_t>& inputValues,
                    const std::vector<std::uint64_t>& latchValues);

}  // namespace zefi_test
