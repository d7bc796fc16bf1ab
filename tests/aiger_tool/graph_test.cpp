// zefi-aiger graph: the graph that negating a formula builds, written as an AIGER file,
// is judged by the tests' own simulator against the formula's matrix and by berkeley-abc
// against the same graph written in the other form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "aiger_model.hpp"
#include "tool_support.hpp"

namespace zefi_test {
namespace {

namespace fs = std::filesystem;

struct Qbf {
  std::uint32_t maxVar = 0;              // after reading: the header or the largest variable seen
  std::vector<std::uint32_t> variables;  // quantified or free, ascending
  std::vector<std::vector<std::int64_t>> clauses;
};

// Reads the plain QDIMACS that the tests write and the corpus holds: comment lines, the
// problem line, quantifier lines ended by 0, then clauses ended by 0.
Qbf parseQdimacs(const std::string& text) {
  std::istringstream in(text);
  std::string token;
  Qbf qbf;
  std::set<std::uint32_t> variables;
  while (in >> token && token == "c") std::getline(in, token);
  if (token != "p" || !(in >> token) || token != "cnf") throw std::runtime_error("no p line");
  std::uint64_t count = 0;
  in >> count;
  qbf.maxVar = static_cast<std::uint32_t>(count);
  in >> count;
  std::vector<std::int64_t> clause;
  bool inPrefix = true;
  while (in >> token) {
    if (inPrefix && (token == "e" || token == "a")) {
      std::uint64_t v = 0;
      while (in >> v && v != 0) {
        variables.insert(static_cast<std::uint32_t>(v));
        qbf.maxVar = std::max<std::uint32_t>(qbf.maxVar, static_cast<std::uint32_t>(v));
      }
      continue;
    }
    inPrefix = false;
    const std::int64_t literal = std::stoll(token);
    if (literal == 0) {
      qbf.clauses.push_back(clause);
      clause.clear();
      continue;
    }
    const auto v = static_cast<std::uint32_t>(literal < 0 ? -literal : literal);
    variables.insert(v);
    qbf.maxVar = std::max(qbf.maxVar, v);
    clause.push_back(literal);
  }
  qbf.variables.assign(variables.begin(), variables.end());
  return qbf;
}

// A seeded random formula: some variables quantified (now and then twice), some free, the
// header count sometimes above every variable, clauses with repeated literals, tautologies
// and now and then an empty clause.
std::string randomQdimacs(std::mt19937& rng) {
  const std::uint32_t variables = 1 + rng() % 12;
  const std::uint32_t header = variables + rng() % 3;
  const std::uint32_t clauses = rng() % 30;
  std::ostringstream out;
  out << "c random formula\np cnf " << header << " " << clauses << "\n";
  for (std::uint32_t line = rng() % 4; line > 0; --line) {
    out << (rng() % 2 ? "e" : "a");
    for (std::uint32_t v = 1; v <= variables; ++v)
      if (rng() % 3 == 0) out << " " << v;
    out << " 0\n";
  }
  for (std::uint32_t c = 0; c < clauses; ++c) {
    const std::uint32_t length = rng() % 40 == 0 ? 0 : 1 + rng() % 5;
    for (std::uint32_t i = 0; i < length; ++i)
      out << (rng() % 2 ? "-" : "") << 1 + rng() % variables << " ";
    out << "0\n";
  }
  return out.str();
}

std::uint64_t randomWord(std::mt19937& rng) {
  return (std::uint64_t{rng()} << 32) | rng();
}

// The matrix on 64 assignments at once; value[v] holds the patterns of variable v.
std::uint64_t matrixValue(const Qbf& qbf, const std::vector<std::uint64_t>& value) {
  std::uint64_t all = ~std::uint64_t{0};
  for (const auto& clause : qbf.clauses) {
    std::uint64_t any = 0;
    for (std::int64_t literal : clause)
      any |= literal < 0 ? ~value[static_cast<std::size_t>(-literal)]
                         : value[static_cast<std::size_t>(literal)];
    all &= any;
  }
  return all;
}

Graph parseOrFail(const std::string& bytes, const std::string& what) {
  std::string error;
  std::optional<Graph> graph = parseAiger(bytes, error);
  if (!graph) throw std::runtime_error(what + ": " + error);
  return *graph;
}

// Checks the graph (either form) on random assignments: one input per variable of the
// formula in ascending order, one output, true exactly where the matrix is false.
void expectNegatesTheMatrix(const Graph& graph, const Qbf& qbf, bool asciiNumbering,
                            std::mt19937& rng) {
  ASSERT_EQ(graph.inputs.size(), qbf.variables.size());
  if (asciiNumbering) {
    for (std::size_t i = 0; i < qbf.variables.size(); ++i)
      EXPECT_EQ(graph.inputs[i], 2 * qbf.variables[i]) << "input " << i;
    ASSERT_EQ(graph.outputs, std::vector<std::uint32_t>{2 * (qbf.maxVar + 1)});
  }
  ASSERT_EQ(graph.outputs.size(), 1u);
  EXPECT_TRUE(graph.latches.empty());
  for (int round = 0; round < 8; ++round) {
    std::vector<std::uint64_t> value(std::size_t{qbf.maxVar} + 1, 0);
    std::vector<std::uint64_t> inputs;
    for (std::uint32_t v : qbf.variables) inputs.push_back(value[v] = randomWord(rng));
    const Simulation simulation = simulate(graph, inputs, {});
    ASSERT_EQ(simulation.outputs[0], ~matrixValue(qbf, value)) << "round " << round;
  }
}

void checkGraphOf(const std::string& qdimacsPath, bool withAbc, std::mt19937& rng,
                  const TempDir& dir) {
  const Qbf qbf = parseQdimacs(readFile(qdimacsPath));

  RunResult result = runTool({"graph", qdimacsPath, "-"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string asciiText = result.out;
  const Graph ascii = parseOrFail(asciiText, "ASCII graph");
  expectNegatesTheMatrix(ascii, qbf, true, rng);

  const std::string direct = dir.file("direct.aig");
  result = runTool({"graph", qdimacsPath, direct});
  ASSERT_EQ(result.status, 0) << result.err;
  const Graph binary = parseOrFail(readFile(direct), "binary graph");
  expectNegatesTheMatrix(binary, qbf, false, rng);

  // The other road to the binary form: ASCII first, then converted.
  const std::string text = dir.file("graph.aag");
  ASSERT_EQ(runTool({"graph", qdimacsPath, text}).status, 0);
  EXPECT_TRUE(readFile(text) == asciiText);
  const std::string converted = dir.file("converted.aig");
  ASSERT_EQ(runTool({"convert", text, converted}).status, 0);

  if (!withAbc || qbf.variables.empty()) return;  // abc cannot take a graph without inputs
  std::string diagnostics;
  const std::optional<AbcStats> stats = abcStats(direct, diagnostics);
  ASSERT_TRUE(stats.has_value()) << diagnostics;
  EXPECT_EQ(stats->inputs, qbf.variables.size());
  EXPECT_EQ(stats->outputs, 1u);
  EXPECT_EQ(stats->latches, 0u);
  std::string transcript;
  EXPECT_EQ(abcCec(direct, converted, transcript), AbcVerdict::Equivalent) << transcript;
}

TEST(ZefiAigerGraph, RandomFormulasGiveGraphsThatNegateTheMatrix) {
  const bool withAbc = haveProgram("berkeley-abc");
  if (!withAbc && ciRequiresTools()) FAIL() << "berkeley-abc is not installed (CI is set)";
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::string path = dir.file("random.qdimacs");
    writeFile(path, randomQdimacs(rng));
    SCOPED_TRACE(readFile(path));
    checkGraphOf(path, withAbc, rng, dir);
  }
  if (!withAbc) GTEST_SKIP() << "berkeley-abc is not installed; only the simulation ran";
}

TEST(ZefiAigerGraph, SmallCorpusFormulasGiveGraphsThatNegateTheMatrix) {
  const bool withAbc = haveProgram("berkeley-abc");
  if (!withAbc && ciRequiresTools()) FAIL() << "berkeley-abc is not installed (CI is set)";
  const fs::path corpus = fs::path(corpusDir()) / "qdimacs";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "QDIMACS corpus not found at " << corpus;
  TempDir dir;
  std::mt19937 rng(2024);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() != ".qdimacs" || fs::file_size(entry.path()) > 200000) continue;
    SCOPED_TRACE(entry.path().string());
    checkGraphOf(entry.path().string(), withAbc, rng, dir);
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace zefi_test
