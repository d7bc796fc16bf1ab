// The zefi command run as a process, each case in a fresh directory: exact standard output,
// nothing on standard error, the exit status, and the exact bytes of every file left behind.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/invert.hpp"
#include "app/tests/random_qdimacs.hpp"
#include "formula/formula.hpp"

namespace ZEFI {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zefi-command-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Every entry of a directory, hidden ones included.
Names entries(const fs::path& directory) {
  Names names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;   // the signal that ended the process
};

// Runs argv in directory, standard output and error captured apart. whileRunning is called
// with the child's id right after it started. A child running longer than two minutes is
// killed, so that no case can hang the suite.
Outcome run(const fs::path& directory, const std::vector<std::string>& argv,
            const std::function<void(pid_t)>& whileRunning = {}) {
  TempDir capture;
  const std::string outPath = (capture.path() / "out").string();
  const std::string errPath = (capture.path() / "err").string();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const std::string cwd = directory.string();

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  Outcome outcome;
  if (pid < 0) return outcome;
  if (whileRunning) whileRunning(pid);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "killed after two minutes: " << argv.back();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.out = readFile(outPath);
  outcome.err = readFile(errPath);
  return outcome;
}

std::string quoted(const std::string& word) {
  std::string result = "'";
  for (const char c : word) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// zefi through the system shell, for limits and redirections; "ZEFI" in the script stands
// for the binary.
std::string shellScript(std::string script) {
  const std::string binary = quoted(ZEFI_BINARY);
  for (std::size_t at = script.find("ZEFI"); at != std::string::npos;
       at = script.find("ZEFI", at + binary.size())) {
    script.replace(at, 4, binary);
  }
  return script;
}

const std::string kExampleInput = "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n";
const std::string kExampleOutput =
    "p cnf 9 18\ne 1 0\na 2 0\ne 3 0\ne 4 0\ne 5 0\ne 6 0\ne 7 0\ne 8 0\ne 9 0\n"
    "-4 -1 0\n4 1 0\n-5 4 0\n-5 -2 0\n5 -4 2 0\n-6 -5 0\n6 5 0\n-7 1 0\n7 -1 0\n"
    "-8 7 0\n-8 2 0\n8 -7 -2 0\n-9 6 0\n-9 -8 0\n9 -6 8 0\n-3 -9 0\n3 9 0\n3 0\n";

// A matrix of the given number of three-literal clauses; its negation is about two hundred
// bytes per clause.
std::string largeInput(unsigned clauses) {
  std::string text = "p cnf 3000 " + std::to_string(clauses) + "\n";
  std::uint32_t state = 12345;
  for (unsigned c = 0; c < clauses; ++c) {
    for (int i = 0; i < 3; ++i) {
      state = state * 1103515245u + 12345u;
      const unsigned variable = 1 + (state >> 8) % 3000;
      text += ((state >> 4) & 1 ? "-" : "") + std::to_string(variable) + " ";
    }
    text += "0\n";
  }
  return text;
}

std::string referenceNegation(const std::string& text) {
  Formula formula;
  std::istringstream in(text);
  EXPECT_TRUE(formula.readQdimacs(in)) << formula.error;
  return negationThroughFormula(formula);
}

class ZefiCommand : public ::testing::Test {
 protected:
  fs::path at(const std::string& name) const { return dir.path() / name; }
  void put(const std::string& name, const std::string& text) const { writeFile(at(name), text); }

  Outcome zefi(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {ZEFI_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const Outcome outcome = run(dir.path(), argv);
    EXPECT_EQ(outcome.err, "") << "standard error must stay silent";
    return outcome;
  }

  Outcome shell(const std::string& script,
                const std::function<void(pid_t)>& whileRunning = {}) const {
    const Outcome outcome = run(dir.path(), {"/bin/sh", "-c", shellScript(script)}, whileRunning);
    EXPECT_EQ(outcome.err, "") << "standard error must stay silent";
    return outcome;
  }

  // A run that must succeed silently and write exactly the expected file.
  void expectNegation(const std::string& inputName, const std::string& input,
                      const std::string& outputName, const std::string& expected) {
    put(inputName, input);
    const Outcome outcome = zefi({inputName});
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(at(outputName)), expected);
  }

  // A run that must fail with the message and leave the directory as it was.
  void expectFailure(const std::vector<std::string>& args, const std::string& message) {
    const Names before = entries(dir.path());
    const Outcome outcome = zefi(args);
    EXPECT_EQ(outcome.out, "Error: " + message + "\n");
    EXPECT_EQ(outcome.status, 30);
    EXPECT_EQ(entries(dir.path()), before);
  }

  TempDir dir;
};

TEST_F(ZefiCommand, WorkedExampleWritesTheTwentyEightLines) {
  expectNegation("example.qdimacs", kExampleInput, "example.inverted.qdimacs", kExampleOutput);
  EXPECT_EQ(entries(dir.path()), (Names{"example.qdimacs", "example.inverted.qdimacs"}));
}

TEST_F(ZefiCommand, EmptyMatrixDefinesNAsFalse) {
  expectNegation("f.qdimacs", "p cnf 3 0\ne 1 2 0\na 3 0\n", "f.inverted.qdimacs",
                 "p cnf 4 2\na 1 0\na 2 0\ne 3 0\ne 4 0\n-4 0\n4 0\n");
}

TEST_F(ZefiCommand, EmptyClauseMakesNTrue) {
  // The empty clause's cube is true: its combining gate (6, 1, 0) forces variable 3 false,
  // and n = 2 is the complement of variable 3.
  expectNegation("f.qdimacs", "p cnf 1 1\ne 1 0\n0\n", "f.inverted.qdimacs",
                 "p cnf 3 4\na 1 0\ne 2 0\ne 3 0\n-3 0\n-2 -3 0\n2 3 0\n2 0\n");
}

TEST_F(ZefiCommand, FreeVariableBecomesUniversalAfterTheQuantifiedOnes) {
  expectNegation("f.qdimacs", "p cnf 3 1\na 1 0\ne 3 0\n1 2 0\n", "f.inverted.qdimacs",
                 "p cnf 7 10\ne 1 0\na 3 0\na 2 0\ne 4 0\ne 5 0\ne 6 0\ne 7 0\n"
                 "-5 -1 0\n5 1 0\n-6 5 0\n-6 -2 0\n6 -5 2 0\n-7 -6 0\n7 6 0\n"
                 "-4 -7 0\n4 7 0\n4 0\n");
}

TEST_F(ZefiCommand, VariableQuantifiedTwiceStandsTwiceWithKindsExchanged) {
  expectNegation("f.qdimacs", "p cnf 1 1\ne 1 0\na 1 0\n1 0\n", "f.inverted.qdimacs",
                 "p cnf 4 7\na 1 0\ne 1 0\ne 2 0\ne 3 0\ne 4 0\n"
                 "-3 -1 0\n3 1 0\n-4 -3 0\n4 3 0\n-2 -4 0\n2 4 0\n2 0\n");
}

TEST_F(ZefiCommand, HugeHeaderClauseCountOnATinyFileIsOnlyAHint) {
  expectNegation("f.qdimacs", "p cnf 2 4000000000\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n",
                 "f.inverted.qdimacs", kExampleOutput);
}

TEST_F(ZefiCommand, NegationReachingTheLargestVariableIsWritten) {
  put("f.qdimacs", "p cnf 2147483639 1\n1 2 3 4 5 6 0\n");
  const Outcome outcome = zefi({"f.qdimacs"});
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.status, 0);
  const std::string written = readFile(at("f.inverted.qdimacs"));
  EXPECT_EQ(written.substr(0, written.find('\n')), "p cnf 2147483647 22");
  EXPECT_NE(written.find("\ne 2147483647 0\n"), std::string::npos);
  EXPECT_EQ(written.substr(written.size() - 14), "\n2147483640 0\n");
}

// Peak resident memory of one run of zefi in directory, in kilobytes.
long peakKilobytesOf(const fs::path& directory, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ZEFI_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const std::string cwd = directory.string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(null, 1);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

// Variables scattered over the whole literal range cost memory for what is used only: a
// hundred thousand of them once took a page of the graph's table each, gigabytes in all.
TEST_F(ZefiCommand, ScatteredVariablesCostMemoryForWhatIsUsedOnly) {
  std::string text = "p cnf 1 2\ne";
  for (std::uint32_t i = 0; i < 100000; ++i) text += " " + std::to_string(1 + i * 21474u);
  text += " 0\n1 -21475 0\n-2147335579 0\n";
  put("scattered.qdimacs", text);
  const long kilobytes = peakKilobytesOf(dir.path(), {"scattered.qdimacs"});
  ASSERT_GT(kilobytes, 0) << "zefi did not succeed";
  EXPECT_LT(kilobytes, 256 * 1024) << "peak resident memory in KB";
  const std::string output = readFile(at("scattered.inverted.qdimacs"));
  EXPECT_EQ(output.substr(0, output.find('\n')), "p cnf 2147378533 15");
  EXPECT_NE(output.find("\n-2147378529 -1 0\n2147378529 1 0\n"), std::string::npos);
}

// Nothing scales with what a header merely announces, and a long prefix costs in proportion
// to its length: each case must finish within modest memory.
TEST_F(ZefiCommand, AnnouncedCountsAndLongPrefixesCostWhatTheInputHolds) {
  std::string manyLines = "p cnf 200000 1\n";
  for (std::uint32_t v = 1; v <= 200000; ++v) {
    manyLines += (v % 2 == 0 ? "a " : "e ") + std::to_string(v) + " 0\n";
  }
  manyLines += "1 -200000 0\n";
  const struct {
    const char* name;
    std::string text;
    const char* header;
  } cases[] = {
      {"vars.qdimacs", "p cnf 2000000000 2\n1 -2 0\n2 0\n", "p cnf 2000000006 15"},
      {"clauses.qdimacs", "p cnf 3 4000000000\n1 -2 0\n", "p cnf 7 10"},
      {"lines.qdimacs", manyLines, "p cnf 200004 10"},
  };
  for (const auto& c : cases) {
    put(c.name, c.text);
    const long kilobytes = peakKilobytesOf(dir.path(), {c.name});
    ASSERT_GT(kilobytes, 0) << c.name << ": zefi did not succeed";
#if !defined(__SANITIZE_THREAD__)  // its shadow memory alone exceeds the bound
    EXPECT_LT(kilobytes, 64 * 1024) << c.name << ": peak resident memory in KB";
#endif
    const std::string name = std::string(c.name);
    const std::string output = readFile(at(name.substr(0, name.find('.')) + ".inverted.qdimacs"));
    EXPECT_EQ(output.substr(0, output.find('\n')), c.header) << c.name;
  }
}

TEST_F(ZefiCommand, OutputNameIsCutAtTheLastDotAnywhere) {
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"dir/f.qdimacs", "dir/f.inverted.qdimacs"},
      {"f", "f.inverted.qdimacs"},
      {"f.a.b", "f.a.inverted.qdimacs"},
      {"dir.d/f", "dir.inverted.qdimacs"},
      {"./f", ".inverted.qdimacs"},
  };
  fs::create_directory(at("dir"));
  fs::create_directory(at("dir.d"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    expectNegation(c.input, kExampleInput, c.output, kExampleOutput);
    fs::remove(at(c.output));
  }
  EXPECT_EQ(entries(dir.path()), (Names{"dir", "dir.d", "f", "f.a.b"}));
}

TEST_F(ZefiCommand, WrongArgumentCountPrintsTheUsageLine) {
  put("f.qdimacs", kExampleInput);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"f.qdimacs", "f.qdimacs"}}) {
    const Outcome outcome = zefi(args);
    EXPECT_EQ(outcome.out, "Usage: zefi <filename>\n");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(entries(dir.path()), Names{"f.qdimacs"});
  }
}

TEST(ZefiCommandMessages, EveryRejectionIsReportedWithItsMessageAndNoFile) {
  const struct {
    const char* what;
    std::string input;
    const char* message;
  } cases[] = {
      {"empty input", "", "QBF File does not start with a p line."},
      {"clause first", "1 0\n", "QBF File does not start with a p line."},
      {"word starting with c", "cx\np cnf 1 0\n", "QBF File does not start with a p line."},
      {"comments only", "c one\nc two\n", "QBF File does not start with a p line."},
      {"input ends inside a comment", "c no newline", "QBF File does not start with a p line."},
      {"p alone", "p\n", "QBF File does not have a cnf argument."},
      {"p dnf", "p dnf 1 1\n", "QBF File does not have a cnf argument."},
      {"variable count too large", "p cnf 99999999999 1\n",
       "QBF File: Number of variables is bogus."},
      {"variable count beyond a literal", "p cnf 2147483648 0\n",
       "QBF File: Number of variables is bogus."},
      {"variable count leaves no room for n", "p cnf 2147483647 0\n",
       "QBF File: Number of variables is bogus."},
      {"negation needs a variable beyond a literal", "p cnf 2147483640 1\n1 2 3 4 5 6 0\n",
       "QBF File: Number of variables is bogus."},
      {"clause count too large", "p cnf 3 99999999999\n", "QBF File: Number of clauses is bogus."},
      {"quantified number too large", "p cnf 2 1\ne 1 99999999999 0\n1 0\n",
       "QBF File: Invalid quantification sequence."},
      {"quantified variable beyond a literal", "p cnf 2 1\ne 2147483648 0\n1 0\n",
       "QBF File: Invalid quantification sequence."},
      {"input ends inside a quantifier line", "p cnf 2 0\ne 1 2",
       "QBF File: Invalid quantification sequence."},
      {"literal too large", "p cnf 2 1\n3000000000 0\n", "QBF File: Bogus clause."},
      {"literal of variable 2147483648", "p cnf 2 1\n-2147483648 0\n", "QBF File: Bogus clause."},
      {"input ends inside a clause", "p cnf 2 1\n1 2", "QBF File: Bogus clause."},
      {"last clause without its 0", "p cnf 2 2\n1 0\n1 2\n", "QBF File: Bogus clause."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeFile(dir.path() / "in.qdimacs", c.input);
    const Outcome outcome = run(dir.path(), {ZEFI_BINARY, "in.qdimacs"});
    EXPECT_EQ(outcome.out, std::string("Error: ") + c.message + "\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, 30);
    EXPECT_EQ(entries(dir.path()), Names{"in.qdimacs"});
  }
}

TEST_F(ZefiCommand, MissingFileIsNotOpen) {
  expectFailure({"absent.qdimacs"}, "QBF File not open.");
}

TEST_F(ZefiCommand, DirectoryIsNotOpen) {
  fs::create_directory(at("d.qdimacs"));
  expectFailure({"d.qdimacs"}, "QBF File not open.");
}

TEST_F(ZefiCommand, DevNullIsAnEmptyInput) {
  expectFailure({"/dev/null"}, "QBF File does not start with a p line.");
  EXPECT_FALSE(fs::exists("/dev/null.inverted.qdimacs"));
}

// Root reads every file, so as root the case runs as the unprivileged user "nobody".
TEST_F(ZefiCommand, InputWithoutReadPermissionIsNotOpen) {
  put("secret.qdimacs", kExampleInput);
  ::chmod(at("secret.qdimacs").c_str(), 0);
  std::vector<std::string> argv = {ZEFI_BINARY, "secret.qdimacs"};
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
    ::chmod(dir.path().c_str(), 0777);  // nobody may enter, and finds the file unreadable
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  }
  const Names before = entries(dir.path());
  const Outcome outcome = run(dir.path(), argv);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out, "Error: QBF File not open.\n");
  EXPECT_EQ(outcome.status, 30);
  EXPECT_EQ(entries(dir.path()), before);
}

TEST_F(ZefiCommand, FifoWhoseWriterClosesAtOnceIsAnEmptyInput) {
  ASSERT_EQ(::mkfifo(at("p.qdimacs").c_str(), 0600), 0);
  const std::string fifo = at("p.qdimacs").string();
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::alarm(120);  // never outlive a reader that did not come
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ::_exit(fd < 0 ? 1 : (::close(fd) == 0 ? 0 : 1));
  }
  expectFailure({"p.qdimacs"}, "QBF File does not start with a p line.");
  int status = 0;
  ::waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ZefiCommand, OutputInADirectoryNothingCanBeCreatedInIsReported) {
  // /dev/fd is the process's descriptor table: no file can be created there, not even by
  // root. The input comes in on descriptor 3.
  put("f.qdimacs", kExampleInput);
  const Outcome outcome = shell("exec ZEFI /dev/fd/3 3<f.qdimacs");
  EXPECT_EQ(outcome.out, "Error: Cannot write /dev/fd/3.inverted.qdimacs.\n");
  EXPECT_EQ(outcome.status, 30);
  EXPECT_EQ(entries(dir.path()), Names{"f.qdimacs"});
}

// Makes a directory refuse new entries for its lifetime: by its mode for an ordinary user,
// by the immutable attribute for root, whom modes do not stop.
class LockedDirectory {
 public:
  explicit LockedDirectory(const fs::path& path) : path_(path) {
    if (::geteuid() != 0) {
      locked_ = ::chmod(path.c_str(), 0555) == 0;
    } else {
      locked_ = std::system(("chattr +i " + quoted(path.string()) + " 2>/dev/null").c_str()) == 0;
    }
  }
  ~LockedDirectory() {
    if (!locked_) return;
    if (::geteuid() != 0) {
      ::chmod(path_.c_str(), 0755);
    } else {
      [[maybe_unused]] const int ignored =
          std::system(("chattr -i " + quoted(path_.string())).c_str());
    }
  }
  bool locked() const { return locked_; }

 private:
  fs::path path_;
  bool locked_ = false;
};

TEST_F(ZefiCommand, UnwritableDirectoryLeavesTheExistingOutputUnchanged) {
  fs::create_directory(at("ro"));
  put("ro/f.qdimacs", kExampleInput);
  put("ro/f.inverted.qdimacs", "old\n");
  Outcome outcome;
  {
    const LockedDirectory lock(at("ro"));
    if (!lock.locked()) GTEST_SKIP() << "cannot make a directory unwritable here";
    outcome = zefi({"ro/f.qdimacs"});
  }
  EXPECT_EQ(outcome.out, "Error: Cannot write ro/f.inverted.qdimacs.\n");
  EXPECT_EQ(outcome.status, 30);
  EXPECT_EQ(entries(at("ro")), (Names{"f.qdimacs", "f.inverted.qdimacs"}));
  EXPECT_EQ(readFile(at("ro/f.inverted.qdimacs")), "old\n");
}

TEST_F(ZefiCommand, OutputNameThatIsADirectoryIsReported) {
  put("f.qdimacs", kExampleInput);
  fs::create_directory(at("f.inverted.qdimacs"));
  put("f.inverted.qdimacs/keep", "kept\n");
  expectFailure({"f.qdimacs"}, "Cannot write f.inverted.qdimacs.");
  EXPECT_EQ(entries(at("f.inverted.qdimacs")), Names{"keep"});
}

TEST_F(ZefiCommand, SymbolicLinkIntoAMissingDirectoryIsReported) {
  put("f.qdimacs", kExampleInput);
  fs::create_symlink("missing/out.qdimacs", at("f.inverted.qdimacs"));
  expectFailure({"f.qdimacs"}, "Cannot write f.inverted.qdimacs.");
  EXPECT_EQ(fs::read_symlink(at("f.inverted.qdimacs")), "missing/out.qdimacs");
}

TEST_F(ZefiCommand, SymbolicLinkLoopIsReported) {
  put("f.qdimacs", kExampleInput);
  fs::create_symlink("f.inverted.qdimacs", at("f.inverted.qdimacs"));
  expectFailure({"f.qdimacs"}, "Cannot write f.inverted.qdimacs.");
}

TEST_F(ZefiCommand, SymbolicLinkChainIsWrittenThroughToItsTarget) {
  // f.inverted.qdimacs -> sub/link, and sub/link -> ../out/target.txt, relative to sub.
  put("f.qdimacs", kExampleInput);
  fs::create_directory(at("sub"));
  fs::create_directory(at("out"));
  put("out/target.txt", "old\n");
  ::chmod(at("out/target.txt").c_str(), 0640);
  fs::create_symlink("sub/link", at("f.inverted.qdimacs"));
  fs::create_symlink("../out/target.txt", at("sub/link"));
  const Outcome outcome = zefi({"f.qdimacs"});
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(fs::is_symlink(at("f.inverted.qdimacs")));
  EXPECT_TRUE(fs::is_symlink(at("sub/link")));
  EXPECT_EQ(readFile(at("out/target.txt")), kExampleOutput);
  struct stat status;
  ASSERT_EQ(::stat(at("out/target.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u) << "the target keeps its mode";
  EXPECT_EQ(entries(dir.path()), (Names{"f.qdimacs", "f.inverted.qdimacs", "sub", "out"}));
  EXPECT_EQ(entries(at("out")), Names{"target.txt"});
}

TEST_F(ZefiCommand, DanglingSymbolicLinkCreatesItsTarget) {
  put("f.qdimacs", kExampleInput);
  fs::create_symlink("new.qdimacs", at("f.inverted.qdimacs"));
  expectNegation("f.qdimacs", kExampleInput, "new.qdimacs", kExampleOutput);
  EXPECT_TRUE(fs::is_symlink(at("f.inverted.qdimacs")));
}

TEST_F(ZefiCommand, SymbolicLinkToADeviceWritesTheDevice) {
  put("f.qdimacs", kExampleInput);
  fs::create_symlink("/dev/null", at("f.inverted.qdimacs"));
  const Outcome outcome = zefi({"f.qdimacs"});
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null")) << "a device is written, never replaced";
  EXPECT_EQ(entries(dir.path()), (Names{"f.qdimacs", "f.inverted.qdimacs"}));
}

TEST_F(ZefiCommand, FullDeviceIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  put("f.qdimacs", kExampleInput);
  fs::create_symlink("/dev/full", at("f.inverted.qdimacs"));
  expectFailure({"f.qdimacs"}, "Cannot write f.inverted.qdimacs.");
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST_F(ZefiCommand, ExistingOutputIsReplacedAndKeepsItsMode) {
  put("f.inverted.qdimacs", "old\n");
  ::chmod(at("f.inverted.qdimacs").c_str(), 0604);
  expectNegation("f.qdimacs", kExampleInput, "f.inverted.qdimacs", kExampleOutput);
  struct stat status;
  ASSERT_EQ(::stat(at("f.inverted.qdimacs").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
}

TEST_F(ZefiCommand, NewOutputFollowsTheUmask) {
  put("f.qdimacs", kExampleInput);
  for (const auto& [mask, mode] : {std::pair{"027", 0640u}, std::pair{"002", 0664u}}) {
    const Outcome outcome = shell(std::string("umask ") + mask + "; exec ZEFI f.qdimacs");
    EXPECT_EQ(outcome.status, 0);
    struct stat status;
    ASSERT_EQ(::stat(at("f.inverted.qdimacs").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode) << "umask " << mask;
    EXPECT_EQ(readFile(at("f.inverted.qdimacs")), kExampleOutput);
    fs::remove(at("f.inverted.qdimacs"));
  }
}

TEST_F(ZefiCommand, FileSizeLimitIsAWriteFailureThatLeavesTheOldFile) {
  put("f.qdimacs", largeInput(200));  // some 40 kB of output
  put("f.inverted.qdimacs", "old\n");
  const Outcome outcome = shell("ulimit -f 8; exec ZEFI f.qdimacs");  // 8 blocks, 4 kB or more
  EXPECT_EQ(outcome.out, "Error: Cannot write f.inverted.qdimacs.\n");
  EXPECT_EQ(outcome.status, 30);
  EXPECT_EQ(outcome.signal, 0) << "SIGXFSZ must not end the process";
  EXPECT_EQ(entries(dir.path()), (Names{"f.qdimacs", "f.inverted.qdimacs"}));
  EXPECT_EQ(readFile(at("f.inverted.qdimacs")), "old\n");
}

TEST_F(ZefiCommand, ExhaustedMemoryIsReportedAndLeavesNoFile) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer cannot run under an address-space limit";
#else
  // The process starts in less than 8 MB of address space; negating this matrix needs
  // several times the 25 MB it is given.
  put("f.qdimacs", largeInput(500000));
  const Outcome outcome = shell("ulimit -v 25000; exec ZEFI f.qdimacs");
  EXPECT_EQ(outcome.out, "Error: Out of memory.\n");
  EXPECT_EQ(outcome.status, 30);
  EXPECT_EQ(entries(dir.path()), Names{"f.qdimacs"});
#endif
}

class ZefiCommandSignal : public ZefiCommand, public ::testing::WithParamInterface<int> {};

// Stops the process as soon as its temporary file shows, then sends the signal: the file
// must go, and the old output must stay.
TEST_P(ZefiCommandSignal, InterruptedWriteRemovesTheTemporaryFile) {
  const int signalNumber = GetParam();
  put("big.qdimacs", largeInput(150000));  // some 30 MB of output
  bool caught = false;
  for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
    put("big.inverted.qdimacs", "old\n");  // a missed attempt has replaced it
    const auto interrupt = [&](pid_t pid) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
      while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : entries(dir.path())) {
          if (name.rfind(".big.inverted.qdimacs.", 0) != 0) continue;
          ::kill(pid, SIGSTOP);
          caught = fs::exists(at(name));
          ::kill(pid, signalNumber);
          ::kill(pid, SIGCONT);
          return;
        }
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
          return;  // finished before its temporary file was seen; run() collects it
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    };
    const Outcome outcome = run(dir.path(), {ZEFI_BINARY, "big.qdimacs"}, interrupt);
    EXPECT_EQ(outcome.err, "");
    if (!caught) continue;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.signal, signalNumber);
  }
  ASSERT_TRUE(caught) << "the temporary file was never seen";
  EXPECT_EQ(entries(dir.path()), (Names{"big.qdimacs", "big.inverted.qdimacs"}));
  EXPECT_EQ(readFile(at("big.inverted.qdimacs")), "old\n");
}

INSTANTIATE_TEST_SUITE_P(CleanupSignals, ZefiCommandSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT    ? "SIGINT"
                                              : info.param == SIGTERM ? "SIGTERM"
                                                                      : "SIGHUP");
                         });

TEST_F(ZefiCommand, WrittenFileEqualsTheBuiltFormulaOnRandomFormulas) {
  for (std::uint32_t seed = 1000; seed < 1040; ++seed) {
    const std::string input = testing::randomQdimacs(seed);
    expectNegation("r.qdimacs", input, "r.inverted.qdimacs", referenceNegation(input));
  }
}

TEST_F(ZefiCommand, WrittenFileEqualsTheBuiltFormulaOnALargeInput) {
  const std::string input = largeInput(20000);
  expectNegation("l.qdimacs", input, "l.inverted.qdimacs", referenceNegation(input));
}

}  // namespace
}  // namespace ZEFI
