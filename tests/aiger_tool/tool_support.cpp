#include "tool_support.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zefi_test {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "zefi-aiger-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

RunResult run(const std::vector<std::string>& argv, const std::string& stdoutPath) {
  // Output goes to files rather than pipes so that a chatty child can never block on a
  // full pipe while the parent waits.
  TempDir scratch;
  const std::string outPath = stdoutPath.empty() ? scratch.file("stdout") : stdoutPath;
  const std::string errPath = scratch.file("stderr");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> args;
  for (const std::string& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  RunResult result;
  if (spawned != 0) {
    result.err = "cannot start " + argv[0];
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (stdoutPath.empty()) result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

RunResult runTool(const std::vector<std::string>& arguments, const std::string& stdoutPath) {
  std::vector<std::string> argv{ZEFI_AIGER_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run(argv, stdoutPath);
}

bool haveProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream directories(path);
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

bool ciRequiresTools() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0';
}

// Removes terminal colour sequences (ESC [ digits-and-semicolons letter). Written by hand:
// GCC 12 reports false maybe-uninitialized warnings inside std::regex at -O2.
std::string stripEscapes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t j = i + 2;
      while (j < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == ';'))
        ++j;
      if (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) {
        i = j;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

namespace {

// Reads the separator byte at position at, then blanks and a decimal number; moves at past
// the number.
bool readNumberAfter(const std::string& text, std::size_t& at, char separator,
                     std::uint32_t& value) {
  if (at >= text.size() || text[at] != separator) return false;
  std::size_t i = at + 1;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  std::uint64_t number = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    number = number * 10 + static_cast<unsigned>(text[i] - '0');
    ++i;
  }
  value = static_cast<std::uint32_t>(number);
  at = i;
  return true;
}

// Reads "<label> =" and the number after it, searching from position at.
bool readLabelled(const std::string& text, std::size_t& at, const char* label,
                  std::uint32_t& value) {
  const std::size_t found = text.find(label, at);
  if (found == std::string::npos) return false;
  std::size_t i = found + std::strlen(label);
  while (i < text.size() && text[i] == ' ') ++i;
  if (!readNumberAfter(text, i, '=', value)) return false;
  at = i;
  return true;
}

}  // namespace

std::optional<AbcStats> abcStats(const std::string& aigerPath, std::string& diagnostics) {
  const RunResult result = run({"berkeley-abc", "-q", "read_aiger " + aigerPath + "; print_stats"});
  diagnostics = stripEscapes(result.out) + stripEscapes(result.err);
  // The statistics line reads like "name : i/o =    5/    1  lat =   10  and =     52  lev = 21".
  if (result.status != 0) return std::nullopt;
  AbcStats stats;
  std::size_t at = 0;
  if (!readLabelled(diagnostics, at, "i/o", stats.inputs) ||
      !readNumberAfter(diagnostics, at, '/', stats.outputs) ||
      !readLabelled(diagnostics, at, "lat", stats.latches) ||
      !readLabelled(diagnostics, at, "and", stats.ands)) {
    return std::nullopt;
  }
  return stats;
}

AbcVerdict abcCec(const std::string& first, const std::string& second, std::string& transcript) {
  const RunResult result = run({"berkeley-abc", "-q", "cec -n " + first + " " + second});
  transcript = stripEscapes(result.out) + stripEscapes(result.err);
  if (result.status != 0) return AbcVerdict::Unknown;
  // abc exits 0 whatever the verdict; only its text tells. A proof reads "Networks are
  // equivalent" (possibly "... after structural hashing."), a refutation "Networks are NOT
  // EQUIVALENT" with a counterexample.
  if (transcript.find("Networks are NOT EQUIVALENT") != std::string::npos)
    return AbcVerdict::NotEquivalent;
  if (transcript.find("Networks are equivalent") != std::string::npos)
    return AbcVerdict::Equivalent;
  return AbcVerdict::Unknown;
}

std::string corpusDir() {
  return ZEFI_CORPUS_DIR;
}

}  // namespace zefi_test
