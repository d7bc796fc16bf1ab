// Support for the whole-program tests that run zefi and check its answers with the QBF
// solver depqbf: child processes with exact exit statuses, scratch directories, and a
// QDIMACS model strict enough to check zefi's normal-form output line by line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ZEFI::semantic {

// How a child process ended.
struct RunResult {
  bool exited = false;  // true: normal exit, `status` holds WEXITSTATUS
  int status = -1;      // exit status, or the signal number when !exited
  double seconds = 0;   // wall time of the run
  std::string describe() const;
};

// Runs argv[0] (looked up in PATH when it holds no '/') with the given arguments.
// Standard output and standard error go to the named files; an empty name means /dev/null.
// Throws std::runtime_error when the process cannot be started.
RunResult runProgram(const std::vector<std::string>& argv, const std::filesystem::path& stdoutFile,
                     const std::filesystem::path& stderrFile = {});

// A fresh directory under the system temporary directory, removed with its content.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& text);

// The full path of an executable found in PATH, if any.
std::optional<std::filesystem::path> findInPath(const std::string& name);

// Answers of depqbf, by its exit status.
enum class Answer { True, False, Unknown, Failed };
const char* answerName(Answer answer);

struct SolverRun {
  Answer answer = Answer::Failed;
  RunResult run;
  std::string output;  // standard output and error, for failure messages
};

// Solves `file` with depqbf, killed after `timeoutSeconds`. Status 10 is a true formula,
// 20 a false one, 0 undecided; a timeout is Unknown, anything else Failed.
SolverRun solve(const std::filesystem::path& depqbf, const std::filesystem::path& file,
                int timeoutSeconds, const std::filesystem::path& scratch,
                const std::vector<std::string>& options = {});

// A QDIMACS formula. `prefix` holds one entry per quantifier occurrence ('e' or 'a').
struct Qdimacs {
  std::uint32_t headerVariables = 0;
  std::uint32_t headerClauses = 0;
  std::vector<std::pair<char, std::uint32_t>> prefix;
  std::vector<std::vector<std::int32_t>> clauses;

  // Variables used in clauses and on no quantifier line, in order of first occurrence.
  std::vector<std::uint32_t> freeVariables() const;
  // The largest of the header count and every variable on a quantifier line or in a clause.
  std::uint32_t largestVariable() const;
  // Text with one quantifier line per prefix entry, or with each run of entries of one kind
  // joined into a single line (the same formula).
  std::string toText(bool joinBlocks = false) const;
};

// Reads QDIMACS tolerantly (comment lines before the header, lines broken or joined freely,
// as zefi reads its input). Returns an error text on malformed input.
std::optional<std::string> parseQdimacs(const std::string& text, Qdimacs& out);

// Reads zefi's output normal form strictly: a header "p cnf V C", one line "e v 0" or
// "a v 0" per prefix entry, one line per clause, single blanks, a newline after every line
// and nothing else. Returns an error text on the first deviation.
std::optional<std::string> parseNormalForm(const std::string& text, Qdimacs& out);

// Checks zefi's output against its input: the header counts match the content; the prefix
// is the input's prefix with each kind exchanged, then the free variables as universal, then
// n = m + 1 and every further variable up to the header's count as existential; the last
// clause is the unit n; no literal lies outside 1 .. header count. Returns an error text.
std::optional<std::string> checkNegationShape(const Qdimacs& input, const Qdimacs& output);

// The input with its free variables quantified explicitly in an innermost existential block,
// the reading zefi gives them (depqbf would put them in the outermost block).
Qdimacs closeFreeVariables(const Qdimacs& input);

// Tests that need depqbf. Without it they fail when CI is set (CI must install the
// solver) and are skipped otherwise.
class DepqbfTest : public ::testing::Test {
 protected:
  void SetUp() override;
  const std::filesystem::path& depqbf() const { return depqbf_; }

 private:
  std::filesystem::path depqbf_;
};

}  // namespace ZEFI::semantic
