// zefi-aiger against berkeley-abc: binary files written by zefi-aiger are read by abc with
// the same counts and proved equivalent to their sources, and binary files written by abc
// are read and converted back by zefi-aiger without loss.
//
// abc (Debian 1.01) reads only the binary form. Its "cec -n" matches inputs, latches and
// outputs by order and compares outputs and latch next-state functions as functions of the
// inputs and the current latch values; that is the right notion here, because conversion
// keeps the order of inputs, latches and outputs and may renumber everything else. ("dcec"
// refuses networks with latches, and "dsec" proves sequential equivalence, which is weaker:
// it accepts a changed next-state function whose change cannot be observed.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "aiger_model.hpp"
#include "tool_support.hpp"

namespace zefi_test {
namespace {

namespace fs = std::filesystem;

Graph parseOrFail(const std::string& bytes, const std::string& what) {
  std::string error;
  std::optional<Graph> graph = parseAiger(bytes, error);
  if (!graph) throw std::runtime_error(what + ": " + error);
  return *graph;
}

std::string countsLine(const Graph& graph) {
  return std::to_string(graph.maxVar) + " " + std::to_string(graph.inputs.size()) + " " +
         std::to_string(graph.latches.size()) + " " + std::to_string(graph.outputs.size()) + " " +
         std::to_string(graph.ands.size()) + "\n";
}

// abc's counts of a binary file equal its header (abc drops nothing from these graphs).
void expectAbcCounts(const std::string& path, const Graph& header) {
  std::string diagnostics;
  const std::optional<AbcStats> stats = abcStats(path, diagnostics);
  ASSERT_TRUE(stats.has_value()) << path << ": abc did not read it:\n" << diagnostics;
  EXPECT_EQ(stats->inputs, header.inputs.size()) << path;
  EXPECT_EQ(stats->outputs, header.outputs.size()) << path;
  EXPECT_EQ(stats->latches, header.latches.size()) << path;
  EXPECT_EQ(stats->ands, header.ands.size()) << path;
}

void expectEquivalent(const std::string& first, const std::string& second) {
  std::string transcript;
  EXPECT_EQ(abcCec(first, second, transcript), AbcVerdict::Equivalent)
      << first << " vs " << second << ":\n"
      << transcript;
}

std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  const fs::path corpus = fs::path(corpusDir()) / "aiger";
  if (!fs::is_directory(corpus)) return files;
  for (const auto& entry : fs::directory_iterator(corpus))
    if (entry.path().extension() != ".md") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

bool isBinaryFile(const std::string& bytes) {
  return bytes.compare(0, 4, "aig ") == 0;
}

TEST(ZefiAigerAbc, CorpusFilesConvertedToBinaryAreReadByAbcAndProvedEquivalent) {
  ZEFI_REQUIRE_PROGRAM("berkeley-abc");
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "AIGER corpus not found under " << corpusDir();
  TempDir dir;
  for (const fs::path& source : files) {
    SCOPED_TRACE(source.string());
    const std::string bytes = readFile(source.string());
    const std::string converted = dir.file("converted.aig");
    const RunResult result = runTool({"convert", source.string(), converted});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string written = readFile(converted);
    const Graph graph = parseOrFail(written, "zefi-aiger output");
    EXPECT_EQ(runTool({"check", converted}).out, countsLine(graph));
    expectAbcCounts(converted, graph);

    // The reference that abc compares against is the source itself when abc can read it,
    // else the source renumbered and written by the tests' own writer.
    std::string reference = source.string();
    if (!isBinaryFile(bytes)) {
      reference = dir.file("reference.aig");
      writeFile(reference, writeBinary(renumberForBinary(parseOrFail(bytes, "corpus file"))));
    } else {
      // A file already in the binary numbering is written back byte for byte.
      EXPECT_TRUE(written == bytes) << "binary corpus file not reproduced exactly";
    }
    expectEquivalent(reference, converted);
  }
}

TEST(ZefiAigerAbc, CorpusFilesKeepTheirBytesInTheirOwnForm) {
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "AIGER corpus not found under " << corpusDir();
  TempDir dir;
  for (const fs::path& source : files) {
    const std::string bytes = readFile(source.string());
    const std::string out = dir.file(isBinaryFile(bytes) ? "same.aig" : "same.aag");
    ASSERT_EQ(runTool({"convert", source.string(), out}).status, 0) << source;
    EXPECT_TRUE(readFile(out) == bytes) << source << " changed in a round trip";
  }
}

struct RandomCase {
  std::uint32_t inputs, latches, ands;
};

// Seeded random graphs under scattered numbers, written in ASCII by the tests' own writer
// and converted to binary by zefi-aiger, must equal the same graph in its original binary
// numbering.
TEST(ZefiAigerAbc, RandomGraphsConvertedFromScrambledAsciiAreEquivalent) {
  ZEFI_REQUIRE_PROGRAM("berkeley-abc");
  const std::vector<RandomCase> cases = {{2, 0, 1},   {3, 0, 12},   {5, 2, 40}, {8, 0, 150},
                                         {4, 6, 90},  {12, 3, 300}, {2, 1, 25}, {20, 10, 500},
                                         {6, 0, 200}, {3, 4, 60}};
  TempDir dir;
  std::uint32_t seed = 1;
  for (const RandomCase& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed++);
    Graph original = randomGraph(rng, c.inputs, c.latches, c.ands);
    Graph scrambled = scramble(original, rng);
    scrambled.inputNames[0] = "first input";
    scrambled.outputNames.back() = "out";
    scrambled.comments = {"scrambled", ""};
    writeFile(dir.file("original.aig"), writeBinary(original));
    writeFile(dir.file("scrambled.aag"), writeAscii(scrambled));

    const RunResult result =
        runTool({"convert", dir.file("scrambled.aag"), dir.file("converted.aig")});
    ASSERT_EQ(result.status, 0) << result.err;
    const Graph converted = parseOrFail(readFile(dir.file("converted.aig")), "converted");
    EXPECT_EQ(countsLine(converted), countsLine(original));
    EXPECT_EQ(converted.inputNames, scrambled.inputNames);
    EXPECT_EQ(converted.outputNames, scrambled.outputNames);
    EXPECT_EQ(converted.comments, scrambled.comments);

    expectAbcCounts(dir.file("converted.aig"), original);
    expectEquivalent(dir.file("original.aig"), dir.file("converted.aig"));

    // The same verdict without abc: simulate both on random inputs and latch values.
    std::vector<std::uint64_t> inputs(c.inputs), latches(c.latches);
    for (int round = 0; round < 4; ++round) {
      for (auto& word : inputs) word = (std::uint64_t{rng()} << 32) | rng();
      for (auto& word : latches) word = (std::uint64_t{rng()} << 32) | rng();
      const Simulation expected = simulate(original, inputs, latches);
      const Simulation actual = simulate(converted, inputs, latches);
      EXPECT_EQ(actual.outputs, expected.outputs);
      EXPECT_EQ(actual.nextStates, expected.nextStates);
    }
  }
}

// The verdict parsing must be able to say no: a changed output or next state is caught.
TEST(ZefiAigerAbc, AbcRefutesAChangedOutputOrNextState) {
  ZEFI_REQUIRE_PROGRAM("berkeley-abc");
  TempDir dir;
  std::mt19937 rng(77);
  const Graph original = randomGraph(rng, 4, 2, 30);
  writeFile(dir.file("original.aig"), writeBinary(original));
  Graph changedOutput = original;
  changedOutput.outputs[0] ^= 1;
  writeFile(dir.file("output.aig"), writeBinary(changedOutput));
  Graph changedLatch = original;
  changedLatch.latches[1][1] ^= 1;
  writeFile(dir.file("latch.aig"), writeBinary(changedLatch));
  for (const char* name : {"output.aig", "latch.aig"}) {
    std::string transcript;
    EXPECT_EQ(abcCec(dir.file("original.aig"), dir.file(name), transcript),
              AbcVerdict::NotEquivalent)
        << name << ":\n"
        << transcript;
  }
}

// abc writes the file (strashed, with and without its symbol table); zefi-aiger reads it,
// reports abc's counts, and writes it back unchanged up to the comment section, whose
// first line abc ends with a NUL byte that a text line cannot keep.
void expectAbcFileSurvives(const std::string& abcFile, bool withSymbols, const TempDir& dir) {
  SCOPED_TRACE(abcFile);
  const std::string bytes = readFile(abcFile);
  const Graph graph = parseOrFail(bytes, "abc output");
  EXPECT_EQ(graph.symbolsEnd > graph.gatesEnd, withSymbols) << "symbol table as abc wrote it";
  std::string diagnostics;
  const std::optional<AbcStats> stats = abcStats(abcFile, diagnostics);
  ASSERT_TRUE(stats.has_value()) << diagnostics;

  const RunResult check = runTool({"check", abcFile});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, std::to_string(stats->inputs + stats->latches + stats->ands) + " " +
                           std::to_string(stats->inputs) + " " + std::to_string(stats->latches) +
                           " " + std::to_string(stats->outputs) + " " +
                           std::to_string(stats->ands) + "\n");

  const std::string back = dir.file("back.aig");
  ASSERT_EQ(runTool({"convert", abcFile, back}).status, 0);
  const std::string written = readFile(back);
  EXPECT_TRUE(written.substr(0, graph.symbolsEnd) == bytes.substr(0, graph.symbolsEnd))
      << "header, gates or symbols changed";
  expectAbcCounts(back, graph);
  expectEquivalent(abcFile, back);

  const std::string stripped = dir.file("stripped.aig");
  ASSERT_EQ(runTool({"convert", abcFile, stripped, "--strip"}).status, 0);
  EXPECT_TRUE(readFile(stripped) == bytes.substr(0, graph.gatesEnd));

  // Through the ASCII form and back to binary: the same file again.
  const std::string text = dir.file("text.aag");
  ASSERT_EQ(runTool({"convert", abcFile, text}).status, 0);
  const std::string again = dir.file("again.aig");
  ASSERT_EQ(runTool({"convert", text, again}).status, 0);
  EXPECT_TRUE(readFile(again) == written);
}

void writeWithAbc(const std::string& source, const std::string& plain,
                  const std::string& withSymbols) {
  const RunResult result = run({"berkeley-abc", "-q",
                                "read_aiger " + source + "; strash; write_aiger " + plain +
                                    "; write_aiger -s " + withSymbols});
  ASSERT_TRUE(fs::exists(plain) && fs::exists(withSymbols))
      << "abc did not write " << plain << ":\n"
      << stripEscapes(result.out + result.err);
}

TEST(ZefiAigerAbc, FilesWrittenByAbcFromTheCorpusConvertBackWithoutLoss) {
  ZEFI_REQUIRE_PROGRAM("berkeley-abc");
  const std::vector<fs::path> files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "AIGER corpus not found under " << corpusDir();
  TempDir dir;
  for (const fs::path& source : files) {
    std::string input = source.string();
    if (!isBinaryFile(readFile(input))) {  // abc reads only binary files
      input = dir.file("source.aig");
      ASSERT_EQ(runTool({"convert", source.string(), input}).status, 0);
    }
    writeWithAbc(input, dir.file("abc.aig"), dir.file("abc-symbols.aig"));
    expectAbcFileSurvives(dir.file("abc.aig"), false, dir);
    expectAbcFileSurvives(dir.file("abc-symbols.aig"), true, dir);
  }
}

TEST(ZefiAigerAbc, FilesWrittenByAbcFromRandomGraphsConvertBackWithoutLoss) {
  ZEFI_REQUIRE_PROGRAM("berkeley-abc");
  TempDir dir;
  for (std::uint32_t seed = 100; seed < 106; ++seed) {
    std::mt19937 rng(seed);
    const Graph graph = randomGraph(rng, 2 + seed % 7, seed % 3, 20 + 37 * (seed % 5));
    writeFile(dir.file("random.aig"), writeBinary(graph));
    writeWithAbc(dir.file("random.aig"), dir.file("abc.aig"), dir.file("abc-symbols.aig"));
    expectAbcFileSurvives(dir.file("abc.aig"), false, dir);
    expectAbcFileSurvives(dir.file("abc-symbols.aig"), true, dir);
  }
}

}  // namespace
}  // namespace zefi_test
