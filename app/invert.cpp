#include "app/invert.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "aiger/aiger.hpp"
#include "app/block_writer.hpp"
#include "negation/clause_index.hpp"
#include "negation/encode.hpp"

namespace ZEFI {

std::string outputNameFor(const std::string& inputName) {
  const std::size_t dot = inputName.rfind('.');
  const std::string stem = dot == std::string::npos ? inputName : inputName.substr(0, dot);
  return stem + ".inverted.qdimacs";
}

namespace {

QuantifierKind exchanged(QuantifierKind kind) {
  switch (kind) {
    case Exists:
      return Forall;
    case Forall:
      return Exists;
    default:
      return kind;  // never produced by the reader; the writer skips it either way
  }
}

// Every gate variable lies above n = maxVar + 1: one per literal and one per clause of the
// matrix. Literals hold variables up to maxVariableIndex only, so an input whose negation
// would need more is refused before anything is built.
void checkNegationFits(const Formula& input) {
  const std::uint64_t largest = std::uint64_t{input.maxVar} + 1 +
                                std::uint64_t{input.clauses.literalCount()} +
                                std::uint64_t{input.clauses.size()};
  if (largest > maxVariableIndex) throw Exception("QBF File: Number of variables is bogus.");
}

struct StoreDeleter {
  void operator()(AigStore* store) const { store->destroy(); }
};
using StorePointer = std::unique_ptr<AigStore, StoreDeleter>;

// Signals whose handler removes the temporary output file: other threads never take them.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kCleanupSignalCount = std::size(kCleanupSignals);
std::vector<int> cleanupSignals() {
  return std::vector<int>(std::begin(kCleanupSignals), std::end(kCleanupSignals));
}

// The graph of the negation variable n, and what the header of the output needs to know
// about the clauses the gates turn into.
//
// The graph store keeps a table indexed by variable, paged so that untouched stretches cost
// nothing; but input variables scattered over the whole range would touch one page each. Such
// inputs are numbered 1..V inside the graph (in ascending order, so the order of everything
// stays), n becomes V + 1 and the gates follow; every literal is numbered back on the way out.
// Densely numbered inputs, the usual case, keep their numbers and pay nothing for this.
class NegationGraph {
 public:
  explicit NegationGraph(Formula& input) : n_(input.maxVar + 1) {
    checkNegationFits(input);
    // One gate per literal and per clause, and the gate of n: known now, so the store is
    // sized once instead of growing by doubling.
    const auto gates =
        static_cast<std::uint32_t>(input.clauses.literalCount() + input.clauses.size() + 1);
    {
      std::vector<std::uint32_t> inputVariables = input.quantifierOf.sortedKeys();
      const auto inputCount = static_cast<std::uint32_t>(inputVariables.size());
      renumbered_ = input.maxVar > 4 * std::uint64_t{inputCount} + AigStore::kVariablesPerPage;
      graphN_ = renumbered_ ? inputCount + 1 : n_;
      ClauseIndex index;
      {
        // The clauses become their cubes in place (complementedClauses without the copy);
        // the cubes carry everything of the matrix that is still needed.
        CubeArray cubes = std::move(input.clauses);
        input.clauses = ClauseArray();
        cubes.complementEach();
        if (renumbered_ && renumberCubes(cubes, inputVariables)) {
          originalInputs_ = std::move(inputVariables);
          inputVariables.resize(inputCount);
          for (std::uint32_t i = 0; i < inputCount; ++i) inputVariables[i] = i + 1;
        } else {
          renumbered_ = false;
          graphN_ = n_;
        }
        index.defineDnf(graphN_, std::move(cubes));
      }
      const std::uint32_t outputVariables[] = {graphN_};
      store_.reset(AigStore::createDefault());
      store_->reserve(graphN_ + gates - 1, inputCount, 0, 1, gates);
      buildDefinitionGraph(index, inputVariables, outputVariables, graphN_ + 1, *store_);
    }
    std::uint32_t largest = 0;
    for (std::uint32_t i = 0; i < store_->andCount; ++i) {
      const GateClauseSummary summary = gateClauseSummary(store_->ands[i]);
      clauseCount_ += summary.count;
      largest = std::max(largest, summary.largestVariable);
    }
    // Numbering back keeps the order of variables, so the largest stays the largest.
    outputMaxVar_ = variableOf(original(makeLiteral(largest, false)));
    clauseCount_ += 1;  // the unit clause n
    // The check reads the gates and marks the variable table; nothing else touches the
    // table from here on, so it runs beside the writing of the output, which only reads
    // the gates. Its finding is printed before anything else is (reportCheck()). Started
    // last, so that no exception can leave the constructor with the thread running.
    checker_ =
        startThreadWithout("zefi-check", cleanupSignals(), [this] { problem_ = store_->check(); });
    if (!checker_.joinable()) problem_ = store_->check();
  }

  // Waits for the check of the graph and prints the problem it found, once: as soon as
  // the output is written, or when the negation is abandoned (an exception), before the
  // message that explains why.
  ~NegationGraph() { reportCheck(); }
  NegationGraph(const NegationGraph&) = delete;
  NegationGraph& operator=(const NegationGraph&) = delete;

  void reportCheck() {
    if (checker_.joinable()) checker_.join();
    if (problem_ != nullptr) std::cout << "AIGER ERROR: " << problem_ << std::endl;
    problem_ = nullptr;
  }

  void write(const Formula& input, QdimacsWriter& writer) const {
    writer.header(outputMaxVar_, clauseCount_);
    for (const Quantification& element : input.prefix) {
      writer.quantifier(exchanged(element.kind), element.variable);
    }
    writer.quantifiers(Exists, n_, outputMaxVar_);
    // Gates are numbered one after the other and mostly use the gate before: the digits of
    // the last two gate variables are kept, and a gate's own are counted up from the last.
    QdimacsWriter::Digits last[2];
    FormedVariable previous;
    FormedVariable current;
    for (std::uint32_t i = 0; i < store_->andCount; ++i) {
      const AigAnd& stored = store_->ands[i];
      // Numbering back keeps constants, signs and equalities, so the clauses of the gate
      // numbered back are the clauses of the gate, numbered back.
      const AigAnd gate =
          renumbered_ ? AigAnd{original(stored.lhs), original(stored.rhs0), original(stored.rhs1)}
                      : stored;
      const std::uint32_t variable = variableOf(gate.lhs);
      QdimacsWriter::Digits& slot = last[i % 2];
      if (current.digits != nullptr && variable == current.variable + 1) {
        slot = *current.digits;
        QdimacsWriter::countUp(slot);
      } else {
        slot = QdimacsWriter::digitsOf(variable);
      }
      previous = current;
      current = FormedVariable{variable, &slot};
      writeGateClauses(gate, writer, current, previous);
    }
    const Literal unit = makeLiteral(n_, false);
    writer.clause(std::span<const Literal>(&unit, 1));
  }

 private:
  // Replaces every variable of the cubes by its rank among the input variables; false, with
  // the cubes unchanged, when some variable is not among them (the reader never leaves one
  // out, but a formula built by other means may).
  static bool renumberCubes(CubeArray& cubes, const std::vector<std::uint32_t>& inputVariables) {
    VariableMap<std::uint32_t> rank;
    for (std::uint32_t i = 0; i < inputVariables.size(); ++i) rank[inputVariables[i]] = i + 1;
    CubeArray result;
    result.reserve(cubes.size(), cubes.literalCount());
    for (const std::span<const Literal> cube : cubes) {
      for (const Literal literal : cube) {
        const std::uint32_t* position = rank.find(variableOf(literal));
        if (position == nullptr) return false;
        result.pushLiteral(makeLiteral(*position, isNegated(literal)));
      }
      result.closeClause();
    }
    cubes = std::move(result);
    return true;
  }

  // A literal of the graph as a literal of the output formula.
  Literal original(Literal literal) const {
    if (!renumbered_) return literal;
    const std::uint32_t variable = variableOf(literal);
    if (variable == 0) return literal;
    const std::uint32_t back =
        variable < graphN_ ? originalInputs_[variable - 1] : variable - graphN_ + n_;
    return makeLiteral(back, isNegated(literal));
  }

  std::uint32_t n_;
  std::uint32_t graphN_;                       // n inside the graph
  bool renumbered_ = false;                    // whether graph variables differ from the formula's
  std::vector<std::uint32_t> originalInputs_;  // graph input i + 1 is originalInputs_[i]
  StorePointer store_;
  std::thread checker_;             // runs store_->check()
  const char* problem_ = nullptr;   // what it found
  std::uint32_t outputMaxVar_ = 0;  // largest variable of the gate clauses
  std::uint64_t clauseCount_ = 0;
};

// The temporary file's path, where a signal handler can reach it without allocating.
constexpr std::size_t kTempPathCapacity = 4096;
char pendingTempPath[kTempPathCapacity];
volatile std::sig_atomic_t pendingTempPathSet = 0;

// Only async-signal-safe calls: the handler was installed with SA_RESETHAND, so the signal
// raised again takes its default action once the handler returns.
void removeTempAndReraise(int signalNumber) {
  const int savedErrno = errno;
  if (pendingTempPathSet) ::unlink(pendingTempPath);
  ::raise(signalNumber);
  errno = savedErrno;
}

// Blocks the cleanup signals for its lifetime, so that the temporary file and the record of
// its path are created and removed together.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kCleanupSignals) sigaddset(&set, signalNumber);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

std::string directoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool readLink(const std::string& path, std::string& target) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target.assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
    if (buffer.size() >= (std::size_t{1} << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Follows the symbolic links that the name ends in, so that the link's target receives the
// output and the link stays. Directories along the way are resolved by the system.
bool resolveLinks(const std::string& name, std::string& target) {
  constexpr int kMaxLinkDepth = 40;
  target = name;
  for (int depth = 0;; ++depth) {
    struct stat status;
    if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    if (depth == kMaxLinkDepth) return false;
    std::string link;
    if (!readLink(target, link) || link.empty()) return false;
    target = link.front() == '/' ? link : directoryPart(target) + link;
  }
}

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The output file. A regular file is written under a temporary name beside its target and
// renamed into place only when every byte was written and the file was closed without
// error; until then an existing file of that name stays as it was, and on failure or on
// SIGINT, SIGTERM or SIGHUP the temporary file is removed. An existing device or pipe is
// written directly, since it cannot be replaced.
class OutputFile {
 public:
  explicit OutputFile(std::string outputName) : outputName_(std::move(outputName)) {
    ignoreSignal(SIGXFSZ, savedFileSizeAction_);  // a file-size limit is a write error
    ignoreSignal(SIGPIPE, savedPipeAction_);      // so is a pipe without a reader
    std::string target;
    if (!resolveLinks(outputName_, target)) fail();
    struct stat status;
    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) fail();
    if (exists && !S_ISREG(status.st_mode)) {
      fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (fd_ < 0) fail();
    } else {
      createTemporary(target, exists ? status.st_mode & 0777 : 0666 & ~currentUmask());
    }
  }

  ~OutputFile() { cleanup(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int descriptor() const { return fd_; }

  // Completes the output, whose every byte was written to descriptor() when written is
  // true; throws Exception when any part of it could not be written.
  void commit(bool written) {
    if (!written) fail();
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) fail();
    if (!temporary_.empty()) {
      SignalBlock block;
      if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail();
      pendingTempPathSet = 0;
      temporary_.clear();
    }
  }

 private:
  void createTemporary(const std::string& target, mode_t mode) {
    constexpr std::size_t kMaxBaseInTempName = 200;  // room for the affixes within NAME_MAX
    const std::string directory = directoryPart(target);
    const std::string base = target.substr(directory.size()).substr(0, kMaxBaseInTempName);
    std::string temporary = directory + "." + base + ".XXXXXX";
    if (temporary.size() >= kTempPathCapacity) fail();
    installCleanupHandlers();
    {
      SignalBlock block;
      fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
      if (fd_ < 0) fail();
      temporary_ = temporary;
      target_ = target;
      std::memcpy(pendingTempPath, temporary.c_str(), temporary.size() + 1);
      pendingTempPathSet = 1;
    }
    if (::fchmod(fd_, mode) != 0) fail();
  }

  void installCleanupHandlers() {
    for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
      struct sigaction action;
      std::memset(&action, 0, sizeof action);
      action.sa_handler = removeTempAndReraise;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESETHAND;
      if (::sigaction(kCleanupSignals[i], nullptr, &savedActions_[i]) != 0) continue;
      if (savedActions_[i].sa_handler == SIG_IGN) continue;  // ignored signals stay ignored
      if (::sigaction(kCleanupSignals[i], &action, nullptr) == 0) installed_[i] = true;
    }
  }

  static void ignoreSignal(int signalNumber, struct sigaction& saved) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, &saved);
  }

  void cleanup() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    if (!temporary_.empty()) {
      SignalBlock block;
      ::unlink(temporary_.c_str());
      pendingTempPathSet = 0;
      temporary_.clear();
    }
    for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
      if (installed_[i]) ::sigaction(kCleanupSignals[i], &savedActions_[i], nullptr);
      installed_[i] = false;
    }
    ::sigaction(SIGXFSZ, &savedFileSizeAction_, nullptr);
    ::sigaction(SIGPIPE, &savedPipeAction_, nullptr);
  }

  [[noreturn]] void fail() {
    cleanup();
    throw Exception("Cannot write " + outputName_ + ".");
  }

  std::string outputName_;
  std::string target_;
  std::string temporary_;  // empty when writing directly or after the rename
  int fd_ = -1;
  struct sigaction savedActions_[kCleanupSignalCount] = {};
  bool installed_[kCleanupSignalCount] = {};
  struct sigaction savedFileSizeAction_ = {};
  struct sigaction savedPipeAction_ = {};
};

void readInput(Formula& input, const std::string& fileName) {
  // A directory opens as a stream on Linux and fails only at the first read.
  struct stat status;
  if (::stat(fileName.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw Exception("QBF File not open.");
  }
  // The reader takes the text in large blocks, which the stream reads straight from the
  // file past its own small buffer.
  std::ifstream in(fileName, std::ios::in | std::ios::binary);
  if (!input.readQdimacs(in)) throw Exception(input.error);
}

}  // namespace

bool writeNegation(Formula& input, std::ostream& out) {
  NegationGraph negation(input);
  QdimacsWriter writer(out);
  negation.write(input, writer);
  const bool written = writer.finish();
  negation.reportCheck();
  return written;
}

std::string negationThroughFormula(const Formula& input) {
  checkNegationFits(input);
  const std::uint32_t n = input.maxVar + 1;
  CubeArray cubes;
  input.complementedClauses(cubes);
  ClauseIndex index;
  index.defineDnf(n, std::move(cubes));
  const std::vector<std::uint32_t> inputVariables = input.quantifierOf.sortedKeys();
  const std::vector<std::uint32_t> outputVariables = {n};

  Formula output;
  for (const Quantification& element : input.prefix) {
    Quantification& entry = output.quantifierOf[element.variable];
    entry.kind = exchanged(element.kind);
    entry.variable = element.variable;
    const std::uint32_t* position = input.positionOf.find(element.variable);
    output.positionOf[element.variable] = position ? *position : 0;
    output.prefix.push_back(entry);
  }
  encodeDefinitions(index, inputVariables, outputVariables, n + 1, output);
  assertNegationVariable(output, n);
  std::ostringstream text;
  output.writeQdimacs(text);
  return text.str();
}

void assertNegationVariable(Formula& output, std::uint32_t n) {
  const Literal unit = makeLiteral(n, false);
  output.appendClause(std::span<const Literal>(&unit, 1));
  for (std::uint64_t v = n; v <= output.maxVar; ++v) {
    const auto variable = static_cast<std::uint32_t>(v);
    output.quantifierOf[variable] = {Exists, variable};
    output.positionOf[variable] = static_cast<std::uint32_t>(output.quantifierOf.size());
    output.prefix.push_back({Exists, variable});
  }
}

bool invertFile(Formula& input, const std::string& fileName) {
  readInput(input, fileName);
  NegationGraph negation(input);
  OutputFile file(outputNameFor(fileName));
  bool written = false;
  {
    FileBlockWriter blocks(file.descriptor(), cleanupSignals());
    QdimacsWriter writer(blocks);
    negation.write(input, writer);
    written = writer.finish();
  }
  negation.reportCheck();
  file.commit(written);
  return true;
}

}  // namespace ZEFI
