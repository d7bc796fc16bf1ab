#include "tests/semantic/semantic_support.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

extern char** environ;

namespace ZEFI::semantic {

namespace fs = std::filesystem;

std::string RunResult::describe() const {
  if (exited) return "exit status " + std::to_string(status);
  return "killed by signal " + std::to_string(status);
}

RunResult runProgram(const std::vector<std::string>& argv, const fs::path& stdoutFile,
                     const fs::path& stderrFile) {
  if (argv.empty()) throw std::runtime_error("runProgram: no program given");
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = stdoutFile.empty() ? "/dev/null" : stdoutFile.string();
  const std::string err = stderrFile.empty() ? "/dev/null" : stderrFile.string();
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawned));
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed: " + std::string(strerror(errno)));
  }
  RunResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(wstatus)) {
    result.exited = true;
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.status = WTERMSIG(wstatus);
  }
  return result;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (fs::temp_directory_path() / "zefi-semantic-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::optional<fs::path> findInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::istringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    fs::path candidate = fs::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) return candidate;
  }
  return std::nullopt;
}

void DepqbfTest::SetUp() {
  const auto found = findInPath("depqbf");
  if (!found) {
    if (std::getenv("CI") != nullptr) {
      FAIL() << "depqbf is not installed; CI must install it (Debian package depqbf)";
    }
    GTEST_SKIP() << "depqbf is not installed (Debian package depqbf): skipping the comparison "
                    "of zefi's answers with the QBF solver";
  }
  depqbf_ = *found;
}

const char* answerName(Answer answer) {
  switch (answer) {
    case Answer::True:
      return "true (SAT)";
    case Answer::False:
      return "false (UNSAT)";
    case Answer::Unknown:
      return "undecided";
    case Answer::Failed:
      return "solver failure";
  }
  return "?";
}

SolverRun solve(const fs::path& depqbf, const fs::path& file, int timeoutSeconds,
                const fs::path& scratch, const std::vector<std::string>& options) {
  const fs::path log = scratch / "depqbf.log";
  SolverRun result;
  // timeout(1) passes the solver's own status through and answers 124 when time ran out;
  // -k makes sure a solver that ignores SIGTERM does not hang the test.
  std::vector<std::string> argv = {"timeout", "-k", "5", std::to_string(timeoutSeconds),
                                   depqbf.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(file.string());
  result.run = runProgram(argv, log, log);
  result.output = readFile(log);
  if (result.run.exited && result.run.status == 10) {
    result.answer = Answer::True;
  } else if (result.run.exited && result.run.status == 20) {
    result.answer = Answer::False;
  } else if (result.run.exited && (result.run.status == 0 || result.run.status == 124)) {
    result.answer = Answer::Unknown;
  }
  return result;
}

std::vector<std::uint32_t> Qdimacs::freeVariables() const {
  std::unordered_set<std::uint32_t> seen;
  for (const auto& [kind, variable] : prefix) seen.insert(variable);
  std::vector<std::uint32_t> free;
  for (const auto& clause : clauses) {
    for (std::int32_t literal : clause) {
      const std::uint32_t variable =
          literal < 0 ? -static_cast<std::uint32_t>(literal) : static_cast<std::uint32_t>(literal);
      if (seen.insert(variable).second) free.push_back(variable);
    }
  }
  return free;
}

std::uint32_t Qdimacs::largestVariable() const {
  std::uint32_t largest = headerVariables;
  for (const auto& [kind, variable] : prefix) largest = std::max(largest, variable);
  for (const auto& clause : clauses) {
    for (std::int32_t literal : clause) {
      const std::uint32_t variable =
          literal < 0 ? -static_cast<std::uint32_t>(literal) : static_cast<std::uint32_t>(literal);
      largest = std::max(largest, variable);
    }
  }
  return largest;
}

std::string Qdimacs::toText(bool joinBlocks) const {
  std::string text =
      "p cnf " + std::to_string(headerVariables) + " " + std::to_string(headerClauses) + "\n";
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const bool first = i == 0 || !joinBlocks || prefix[i - 1].first != prefix[i].first;
    const bool last =
        i + 1 == prefix.size() || !joinBlocks || prefix[i + 1].first != prefix[i].first;
    if (first) text += prefix[i].first;
    text += " " + std::to_string(prefix[i].second);
    if (last) text += " 0\n";
  }
  for (const auto& clause : clauses) {
    for (std::int32_t literal : clause) text += std::to_string(literal) + " ";
    text += "0\n";
  }
  return text;
}

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whitespace-separated tokens over a text, with the line number of the current token.
class Tokens {
 public:
  explicit Tokens(const std::string& text) : text_(text) {}

  bool next(std::string_view& token) {
    while (pos_ < text_.size() && isBlank(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ == text_.size()) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !isBlank(text_[pos_])) ++pos_;
    token = std::string_view(text_).substr(start, pos_ - start);
    return true;
  }

  void skipLine() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  }

  std::size_t line() const { return line_; }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// A decimal number with an optional minus sign and nothing else.
bool toNumber(std::string_view token, std::int64_t& value) {
  bool negative = false;
  if (!token.empty() && token.front() == '-') {
    negative = true;
    token.remove_prefix(1);
  }
  if (token.empty() || token.size() > 10) return false;
  std::int64_t magnitude = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

std::string at(std::size_t line) {
  return "line " + std::to_string(line) + ": ";
}

}  // namespace

std::optional<std::string> parseQdimacs(const std::string& text, Qdimacs& out) {
  out = Qdimacs();
  Tokens tokens(text);
  std::string_view token;
  bool more = tokens.next(token);
  while (more && token == "c") {
    tokens.skipLine();
    more = tokens.next(token);
  }
  if (!more || token != "p") return at(tokens.line()) + "no problem line";
  std::int64_t vars = 0;
  std::int64_t count = 0;
  if (!tokens.next(token) || token != "cnf") return at(tokens.line()) + "expected cnf";
  if (!tokens.next(token) || !toNumber(token, vars) || vars < 0 || vars > INT32_MAX) {
    return at(tokens.line()) + "bad variable count";
  }
  if (!tokens.next(token) || !toNumber(token, count) || count < 0 || count > UINT32_MAX) {
    return at(tokens.line()) + "bad clause count";
  }
  out.headerVariables = static_cast<std::uint32_t>(vars);
  out.headerClauses = static_cast<std::uint32_t>(count);
  more = tokens.next(token);
  while (more && (token == "e" || token == "a")) {
    const char kind = token.front();
    for (;;) {
      std::int64_t variable = 0;
      if (!tokens.next(token) || !toNumber(token, variable) || variable < 0 ||
          variable > INT32_MAX) {
        return at(tokens.line()) + "bad quantifier line";
      }
      if (variable == 0) break;
      out.prefix.emplace_back(kind, static_cast<std::uint32_t>(variable));
    }
    more = tokens.next(token);
  }
  std::vector<std::int32_t> clause;
  for (; more; more = tokens.next(token)) {
    std::int64_t literal = 0;
    if (!toNumber(token, literal) || literal < -INT32_MAX || literal > INT32_MAX) {
      return at(tokens.line()) + "bad literal '" + std::string(token) + "'";
    }
    if (literal == 0) {
      out.clauses.push_back(std::move(clause));
      clause.clear();
    } else {
      clause.push_back(static_cast<std::int32_t>(literal));
    }
  }
  if (!clause.empty()) return at(tokens.line()) + "last clause lacks its 0";
  return std::nullopt;
}

std::optional<std::string> parseNormalForm(const std::string& text, Qdimacs& out) {
  out = Qdimacs();
  if (text.empty()) return std::string("empty output");
  if (text.back() != '\n') return std::string("last line lacks its newline");
  std::size_t lineNumber = 0;
  std::size_t pos = 0;
  bool inMatrix = false;
  std::vector<std::string_view> fields;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    const std::string_view line = std::string_view(text).substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    // Exactly one blank between fields, none at either end.
    fields.clear();
    std::size_t start = 0;
    for (;;) {
      const std::size_t blank = line.find(' ', start);
      fields.push_back(line.substr(start, blank == std::string_view::npos ? blank : blank - start));
      if (fields.back().empty())
        return at(lineNumber) + "empty field in '" + std::string(line) + "'";
      if (blank == std::string_view::npos) break;
      start = blank + 1;
    }
    if (lineNumber == 1) {
      std::int64_t vars = 0;
      std::int64_t count = 0;
      if (fields.size() != 4 || fields[0] != "p" || fields[1] != "cnf" ||
          !toNumber(fields[2], vars) || !toNumber(fields[3], count) || vars < 0 || count < 0 ||
          fields[2].front() == '-' || fields[3].front() == '-') {
        return at(lineNumber) + "bad header '" + std::string(line) + "'";
      }
      out.headerVariables = static_cast<std::uint32_t>(vars);
      out.headerClauses = static_cast<std::uint32_t>(count);
      continue;
    }
    if (!inMatrix && (fields[0] == "e" || fields[0] == "a")) {
      std::int64_t variable = 0;
      if (fields.size() != 3 || !toNumber(fields[1], variable) || variable <= 0 ||
          fields[2] != "0") {
        return at(lineNumber) + "bad quantifier line '" + std::string(line) + "'";
      }
      out.prefix.emplace_back(fields[0].front(), static_cast<std::uint32_t>(variable));
      continue;
    }
    inMatrix = true;
    std::vector<std::int32_t> clause;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::int64_t literal = 0;
      if (!toNumber(fields[i], literal) || (literal == 0) != (i + 1 == fields.size()) ||
          (fields[i].size() > 1 && fields[i][fields[i].front() == '-'] == '0')) {
        return at(lineNumber) + "bad clause line '" + std::string(line) + "'";
      }
      if (literal != 0) clause.push_back(static_cast<std::int32_t>(literal));
    }
    out.clauses.push_back(std::move(clause));
  }
  if (lineNumber == 0) return std::string("no header");
  return std::nullopt;
}

std::optional<std::string> checkNegationShape(const Qdimacs& input, const Qdimacs& output) {
  const std::uint32_t m = input.largestVariable();
  const std::uint32_t n = m + 1;
  const std::uint32_t top = output.headerVariables;
  if (output.headerClauses != output.clauses.size()) {
    return "header announces " + std::to_string(output.headerClauses) + " clauses, the file has " +
           std::to_string(output.clauses.size());
  }
  if (top < n)
    return "header variable count " + std::to_string(top) + " is below n = " + std::to_string(n);

  std::vector<std::pair<char, std::uint32_t>> expected;
  for (const auto& [kind, variable] : input.prefix) {
    expected.emplace_back(kind == 'e' ? 'a' : 'e', variable);
  }
  for (std::uint32_t variable : input.freeVariables()) expected.emplace_back('a', variable);
  for (std::uint64_t v = n; v <= top; ++v)
    expected.emplace_back('e', static_cast<std::uint32_t>(v));
  if (output.prefix.size() != expected.size()) {
    return "prefix has " + std::to_string(output.prefix.size()) + " entries, expected " +
           std::to_string(expected.size());
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (output.prefix[i] != expected[i]) {
      return "prefix entry " + std::to_string(i + 1) + " is '" + output.prefix[i].first + " " +
             std::to_string(output.prefix[i].second) + "', expected '" + expected[i].first + " " +
             std::to_string(expected[i].second) + "'";
    }
  }

  // Every variable of a clause must be quantified: a free one would change the meaning.
  std::vector<bool> quantified(static_cast<std::size_t>(top) + 1, false);
  for (const auto& [kind, variable] : output.prefix) quantified[variable] = true;
  for (std::size_t i = 0; i < output.clauses.size(); ++i) {
    for (std::int32_t literal : output.clauses[i]) {
      const std::uint32_t variable =
          literal < 0 ? -static_cast<std::uint32_t>(literal) : static_cast<std::uint32_t>(literal);
      if (variable > top) {
        return "clause " + std::to_string(i + 1) + " uses variable " + std::to_string(variable) +
               " above the header's " + std::to_string(top);
      }
      if (!quantified[variable]) {
        return "clause " + std::to_string(i + 1) + " uses the unquantified variable " +
               std::to_string(variable);
      }
    }
  }
  if (output.clauses.empty() ||
      output.clauses.back() != std::vector<std::int32_t>{static_cast<std::int32_t>(n)}) {
    return "the last clause is not the unit clause " + std::to_string(n);
  }
  return std::nullopt;
}

Qdimacs closeFreeVariables(const Qdimacs& input) {
  Qdimacs closed = input;
  closed.headerVariables = input.largestVariable();
  closed.headerClauses = static_cast<std::uint32_t>(input.clauses.size());
  for (std::uint32_t variable : input.freeVariables()) closed.prefix.emplace_back('e', variable);
  return closed;
}

}  // namespace ZEFI::semantic
