// Running zefi-aiger and the peer tools (berkeley-abc, Graphviz) from tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zefi_test {

struct RunResult {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up in PATH unless it holds a slash) without a shell; standard input
// is empty, standard output and standard error are collected. With stdoutPath, standard
// output goes to that file instead (and out stays empty).
RunResult run(const std::vector<std::string>& argv, const std::string& stdoutPath = "");

// Runs the zefi-aiger binary under test with the given arguments.
RunResult runTool(const std::vector<std::string>& arguments, const std::string& stdoutPath = "");

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// True when the program is found in PATH.
bool haveProgram(const std::string& name);
// Under CI (the environment variable CI set) a missing peer tool fails a test instead of
// skipping it.
bool ciRequiresTools();

// Counts that berkeley-abc prints for a network.
struct AbcStats {
  std::uint32_t inputs = 0;
  std::uint32_t outputs = 0;
  std::uint32_t latches = 0;
  std::uint32_t ands = 0;
};
// read_aiger + print_stats; nullopt when abc did not print the statistics line (the
// message is then in diagnostics).
std::optional<AbcStats> abcStats(const std::string& aigerPath, std::string& diagnostics);

enum class AbcVerdict { Equivalent, NotEquivalent, Unknown };
// Combinational equivalence of two binary AIGER files, inputs/latches/outputs matched by
// order ("cec -n"): outputs and latch next-state functions are compared as functions of
// the inputs and the latch values.
AbcVerdict abcCec(const std::string& first, const std::string& second, std::string& transcript);

// Removes terminal colour escapes that berkeley-abc prints even into a pipe.
std::string stripEscapes(const std::string& text);

std::string corpusDir();  // ZEFI_CORPUS_DIR

}  // namespace zefi_test

// Skips the current test (or fails it under CI) when a peer program is missing.
#define ZEFI_REQUIRE_PROGRAM(name)                                                    \
  do {                                                                                \
    if (!::zefi_test::haveProgram(name)) {                                            \
      if (::zefi_test::ciRequiresTools()) {                                           \
        FAIL() << "required program '" << (name) << "' is not installed (CI is set)"; \
      } else {                                                                        \
        GTEST_SKIP() << "program '" << (name) << "' is not installed; test skipped";  \
      }                                                                               \
    }                                                                                 \
  } while (false)
