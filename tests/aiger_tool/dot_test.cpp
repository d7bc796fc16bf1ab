// zefi-aiger dot: the Graphviz text of corpus graphs, random graphs and negation graphs is
// accepted by Graphviz itself.
//
// "dot -Tsvg" lays the graph out, which for a few thousand gates takes minutes, so the
// layout runs on the graphs of at most kLayoutLimit gates; every graph, whatever its size,
// goes through Graphviz's parser by "nop", which reads and prints a graph without layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "aiger_model.hpp"
#include "tool_support.hpp"

namespace zefi_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLayoutLimit = 700;

std::size_t countOf(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++count;
  return count;
}

// Writes the DOT text of the AIGER file to dotPath and checks its shape.
void writeDot(const std::string& aigerPath, const std::string& dotPath, std::size_t ands) {
  const RunResult result = runTool({"dot", aigerPath});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.rfind("digraph G {\n", 0), 0u);
  EXPECT_EQ(countOf(result.out, " -> "), 2 * ands) << "one edge per operand";
  writeFile(dotPath, result.out);
}

void expectGraphvizParses(const std::string& dotPath) {
  const RunResult parsed = run({"nop", dotPath});
  EXPECT_EQ(parsed.status, 0) << dotPath << ": " << parsed.err;
  EXPECT_EQ(parsed.err, "") << dotPath;
}

void expectGraphvizLaysOut(const std::string& dotPath) {
  const RunResult laidOut = run({"dot", "-Tsvg", "-o", "/dev/null", dotPath});
  EXPECT_EQ(laidOut.status, 0) << dotPath << ": " << laidOut.err;
  EXPECT_EQ(laidOut.err, "") << dotPath;
}

std::size_t andCountOf(const std::string& aigerPath) {
  const RunResult check = runTool({"check", aigerPath});
  std::size_t m = 0, i = 0, l = 0, o = 0, a = 0;
  if (std::sscanf(check.out.c_str(), "%zu %zu %zu %zu %zu", &m, &i, &l, &o, &a) != 5)
    throw std::runtime_error("check failed on " + aigerPath + ": " + check.err);
  return a;
}

TEST(ZefiAigerDot, CorpusGraphsAreAcceptedByGraphviz) {
  ZEFI_REQUIRE_PROGRAM("dot");
  ZEFI_REQUIRE_PROGRAM("nop");
  const fs::path corpus = fs::path(corpusDir()) / "aiger";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "AIGER corpus not found at " << corpus;
  TempDir dir;
  int laidOut = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() == ".md") continue;
    SCOPED_TRACE(entry.path().string());
    const std::size_t ands = andCountOf(entry.path().string());
    const std::string dotPath = dir.file("corpus.dot");
    writeDot(entry.path().string(), dotPath, ands);
    expectGraphvizParses(dotPath);
    if (ands <= kLayoutLimit) {
      expectGraphvizLaysOut(dotPath);
      ++laidOut;
    }
  }
  EXPECT_GT(laidOut, 0);
}

TEST(ZefiAigerDot, RandomGraphsAreAcceptedByGraphviz) {
  ZEFI_REQUIRE_PROGRAM("dot");
  ZEFI_REQUIRE_PROGRAM("nop");
  TempDir dir;
  // The empty graph and graphs with constant outputs, latches and negated outputs.
  writeFile(dir.file("empty.aag"), "aag 0 0 0 0 0\n");
  writeDot(dir.file("empty.aag"), dir.file("empty.dot"), 0);
  expectGraphvizLaysOut(dir.file("empty.dot"));
  writeFile(dir.file("constants.aag"), "aag 2 1 0 3 1\n2\n0\n1\n5\n4 1 0\n");
  writeDot(dir.file("constants.aag"), dir.file("constants.dot"), 1);
  expectGraphvizLaysOut(dir.file("constants.dot"));

  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::uint32_t ands = 1 + rng() % 200;
    const Graph graph = scramble(randomGraph(rng, 2 + rng() % 10, rng() % 5, ands), rng);
    writeFile(dir.file("random.aag"), writeAscii(graph));
    writeDot(dir.file("random.aag"), dir.file("random.dot"), ands);
    expectGraphvizParses(dir.file("random.dot"));
    expectGraphvizLaysOut(dir.file("random.dot"));
  }
}

TEST(ZefiAigerDot, NegationGraphsAreAcceptedByGraphviz) {
  ZEFI_REQUIRE_PROGRAM("dot");
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    std::string text = "p cnf 6 0\na 1 2 0\ne 3 4 5 0\n";
    for (std::uint32_t c = rng() % 12; c > 0; --c) {
      for (std::uint32_t i = rng() % 4; i > 0; --i)
        text += (rng() % 2 ? "-" : "") + std::to_string(1 + rng() % 6) + " ";
      text += "0\n";
    }
    writeFile(dir.file("f.qdimacs"), text);
    ASSERT_EQ(runTool({"graph", dir.file("f.qdimacs"), dir.file("f.aag")}).status, 0);
    writeDot(dir.file("f.aag"), dir.file("f.dot"), andCountOf(dir.file("f.aag")));
    expectGraphvizLaysOut(dir.file("f.dot"));
  }
}

}  // namespace
}  // namespace zefi_test
