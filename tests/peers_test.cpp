// Independent tools judge the files of zefi-aiger: berkeley-abc reads the binary files it
// writes with the same counts and proves them equivalent to their sources ("cec -n" matches
// inputs, latches and outputs by order, which conversion keeps), the files abc writes come
// back through zefi-aiger without loss, and Graphviz accepts the text of `zefi-aiger dot`.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path kDir = fs::temp_directory_path() / ("zefi-peers-" + std::to_string(getpid()));

// Files are named relative to kDir, where every command runs.
std::string slurp(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(kDir / path, std::ios::binary).rdbuf();
  return text.str();
}
fs::path put(const fs::path& path, const std::string& bytes) {
  std::ofstream(kDir / path, std::ios::binary) << bytes;
  return path;
}
std::string q(const fs::path& path) {
  return "'" + path.string() + "'";
}

// Status and output (both streams) of a shell command.
std::pair<int, std::string> sh(const std::string& command) {
  const int status = std::system(("cd " + q(kDir) + " && (" + command + ") >log 2>&1").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp("log")};
}
// abc writes colour codes even into a file, and exits 0 whatever its verdict.
std::string abc(const std::string& commands) {
  return sh("berkeley-abc -q '" + commands + "' | sed 's/\\x1b\\[[0-9;]*m//g'").second;
}

std::string tool(const std::string& arguments) {
  const auto [status, out] = sh(q(ZEFI_AIGER_BINARY) + " " + arguments);
  EXPECT_EQ(status, 0) << arguments << ": " << out;
  return out;
}

// A peer tool that is missing skips the test, except under CI, where it fails it.
bool missing(const char* program) {
  if (sh(std::string("command -v ") + program).first == 0) return false;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && *ci != '\0') ADD_FAILURE() << program << " is missing (CI is set)";
  return true;
}
#define REQUIRE(program) \
  if (missing(program)) GTEST_SKIP() << program << " is not installed"

// "I L O A" as abc counts them, and as zefi-aiger check reads them from the header.
std::string abcCounts(const fs::path& file) {
  const std::string out = abc("read_aiger " + file.string() + "; print_stats");
  unsigned i = 0, o = 0, l = 0, a = 0;
  const auto at = out.find("i/o =");
  if (at == std::string::npos ||
      std::sscanf(out.c_str() + at, "i/o = %u/ %u lat = %u and = %u", &i, &o, &l, &a) != 4)
    return "abc: " + out;
  return std::to_string(i) + " " + std::to_string(l) + " " + std::to_string(o) + " " +
         std::to_string(a) + "\n";
}
std::string headerCounts(const fs::path& file) {
  const std::string out = tool("check " + q(file));
  return out.substr(out.find(' ') + 1);
}
bool abcEquivalent(const fs::path& a, const fs::path& b) {
  const std::string out = abc("cec -n " + a.string() + " " + b.string());
  return out.find("Networks are equivalent") != std::string::npos &&
         out.find("NOT EQUIVALENT") == std::string::npos;
}

// A seeded random graph in binary form, written here by hand, and the same graph in ASCII
// under shuffled variable numbers, gate order and operand order for zefi-aiger to convert.
// Gate v uses variable v - 1 and an older one, never a constant: every gate is reachable and
// abc's structural hashing has nothing to merge, so abc's counts equal the header's. With
// flip, the binary form has its first output negated.
const std::string kTail = "i0 first\no1 out\nc\nrandom\n\n";

std::pair<std::string, std::string> randomGraph(std::mt19937& rng, unsigned inputs,
                                                unsigned latches, unsigned ands,
                                                bool flip = false) {
  const unsigned top = inputs + latches + ands;
  const auto literal = [&](unsigned below) { return 2 * (1 + rng() % below) + rng() % 2; };
  std::vector<unsigned> code(top + 1);  // variable numbers of the ASCII form
  std::iota(code.begin(), code.end(), 0u);
  std::shuffle(code.begin() + 1, code.end(), rng);
  const auto map = [&](unsigned l) { return std::to_string(2 * code[l / 2] + l % 2); };
  const std::string counts = std::to_string(top) + " " + std::to_string(inputs) + " " +
                             std::to_string(latches) + " 2 " + std::to_string(ands) + "\n";
  std::string binary = "aig " + counts, ascii = "aag " + counts;
  for (unsigned v = 1; v <= inputs; ++v) ascii += map(2 * v) + "\n";
  for (unsigned v = inputs + 1; v <= inputs + latches; ++v) {
    const unsigned next = literal(top);
    binary += std::to_string(next) + "\n";
    ascii += map(2 * v) + " " + map(next) + "\n";
  }
  for (const unsigned output : {2 * top + rng() % 2, literal(top)}) {
    binary += std::to_string(output ^ (flip && output / 2 == top)) + "\n";
    ascii += map(output) + "\n";
  }
  std::vector<std::string> gates;
  for (unsigned v = inputs + latches + 1; v <= top; ++v) {
    const unsigned chain = 2 * (v - 1) + rng() % 2, other = literal(v - 2);
    for (unsigned delta : {2 * v - chain, chain - other}) {
      for (; delta >= 0x80; delta >>= 7) binary += static_cast<char>(0x80 | (delta & 0x7f));
      binary += static_cast<char>(delta);
    }
    gates.push_back(map(2 * v) + " " +
                    (rng() % 2 ? map(chain) + " " + map(other) : map(other) + " " + map(chain)));
  }
  std::shuffle(gates.begin(), gates.end(), rng);
  for (const std::string& gate : gates) ascii += gate + "\n";
  return {binary + kTail, ascii + kTail};
}

class Peers : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(kDir);
    const fs::path corpus = fs::path(ZEFI_CORPUS_DIR) / "aiger";
    if (fs::is_directory(corpus))
      for (const auto& entry : fs::directory_iterator(corpus))
        if (entry.path().extension() != ".md") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) GTEST_SKIP() << "no AIGER corpus under " << ZEFI_CORPUS_DIR;
  }
  void TearDown() override { fs::remove_all(kDir); }
  std::vector<fs::path> files;  // the AIGER corpus
  std::mt19937 rng{2024};
};

// Each corpus file and random graph goes to binary form through zefi-aiger; abc reads that
// with the header's counts and proves it equivalent to its source, then writes it itself
// (with and without symbols), and those files come back through zefi-aiger unchanged.
TEST_F(Peers, AbcAndZefiAigerReadEachOthersBinaryFiles) {
  REQUIRE("berkeley-abc");
  std::vector<std::pair<fs::path, fs::path>> sources;  // source, reference in binary form
  for (const fs::path& file : files)                   // abc reads no ASCII: no reference then
    sources.emplace_back(file, slurp(file).starts_with("aig ") ? file : fs::path());
  for (unsigned k = 0; k < 6; ++k) {
    const auto [binary, ascii] = randomGraph(rng, 2 + 3 * k, k % 3, 1 + 60 * k);
    const std::string name = "r" + std::to_string(k);
    sources.emplace_back(put(name + ".aag", ascii), put(name + ".aig", binary));
  }
  for (const auto& [source, reference] : sources) {
    SCOPED_TRACE(source);
    tool("convert " + q(source) + " converted.aig");
    EXPECT_EQ(abcCounts("converted.aig"), headerCounts(source));
    if (reference.empty()) {  // the ASCII corpus file comes back in its own form unchanged
      tool("convert " + q(source) + " same.aag");
      EXPECT_TRUE(slurp("same.aag") == slurp(source));
    } else {
      EXPECT_TRUE(abcEquivalent(reference, "converted.aig"));
      // Binary files are kept byte for byte; names and comments survive renumbering.
      const std::string converted = slurp("converted.aig");
      EXPECT_TRUE(reference == source ? converted == slurp(source) : converted.ends_with(kTail));
    }
    abc("read_aiger converted.aig; strash; write_aiger abc.aig; write_aiger -s abc-symbols.aig");
    for (const std::string name : {"abc.aig", "abc-symbols.aig"}) {
      std::string expected = slurp(name);  // abc ends its first comment line with a NUL byte
      const auto nul = expected.rfind(std::string("\0\nThis file was written by ABC", 30));
      if (nul != std::string::npos) expected.erase(nul, 1);
      EXPECT_EQ(headerCounts(name), abcCounts(name)) << name;
      tool("convert " + name + " back.aig");
      tool("convert " + name + " back.aag");
      tool("convert back.aag again.aig");
      EXPECT_TRUE(slurp("back.aig") == expected && slurp("again.aig") == expected) << name;
      EXPECT_TRUE(abcEquivalent(name, "back.aig")) << name;
    }
  }
  // The verdict can say no: a negated output is refuted.
  std::mt19937 same = rng;
  put("original.aig", randomGraph(rng, 4, 2, 30).first);
  put("changed.aig", randomGraph(same, 4, 2, 30, true).first);
  EXPECT_FALSE(abcEquivalent("original.aig", "changed.aig"));
}

TEST_F(Peers, GraphvizAcceptsTheDotText) {
  REQUIRE("dot");
  REQUIRE("nop");
  std::vector<fs::path> graphs = files;
  put("f.qdimacs", "p cnf 5 4\na 1 2 0\ne 3 4 5 0\n1 -3 0\n-2 4 5 0\n3 -4 -1 0\n5 0\n");
  tool("graph f.qdimacs negation.aag");
  graphs.push_back("negation.aag");
  for (unsigned k = 0; k < 4; ++k)
    graphs.push_back(
        put("r" + std::to_string(k) + ".aag", randomGraph(rng, 2 + k, k, 30 * k + 1).second));
  for (const fs::path& graph : graphs) {
    SCOPED_TRACE(graph);
    put("g.dot", tool("dot " + q(graph)));
    // nop only parses; a layout of thousands of gates would take minutes.
    EXPECT_EQ(sh("nop g.dot >/dev/null"), std::make_pair(0, std::string()));
    const std::string counts = headerCounts(graph);
    if (std::stoul(counts.substr(counts.rfind(' '))) <= 700) {
      EXPECT_EQ(sh("dot -Tsvg -o /dev/null g.dot"), std::make_pair(0, std::string()));
    }
  }
}

}  // namespace
