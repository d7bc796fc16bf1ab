#include "app/invert.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "aiger/aiger.hpp"
#include "app/block_writer.hpp"
#include "app/output_file.hpp"
#include "app/thread.hpp"
#include "formula/decompress.hpp"
#include "negation/negation_graph.hpp"

namespace ZEFI {

std::string outputNameFor(const std::string& inputName) {
  const std::size_t dot = inputName.rfind('.');
  const std::string stem = dot == std::string::npos ? inputName : inputName.substr(0, dot);
  return stem + ".inverted.qdimacs";
}

namespace {

// The consistency check of the graph, on a thread of its own beside the writing of the
// output: it only marks the variable table, the writing only reads the gates. What it finds
// is printed before anything else is, also when the negation is abandoned by an exception
// (the destructor), before the message that explains why.
class GraphCheck {
 public:
  GraphCheck(AigStore& store, std::ostream& messages) : store_(store), messages_(messages) {
    thread_ =
        startThreadWithout("zefi-check", cleanupSignals(), [this] { problem_ = store_.check(); });
    if (!thread_.joinable()) problem_ = store_.check();
  }
  ~GraphCheck() { report(); }
  GraphCheck(const GraphCheck&) = delete;
  GraphCheck& operator=(const GraphCheck&) = delete;

  void report() {
    if (thread_.joinable()) thread_.join();
    if (problem_ != nullptr) messages_ << "AIGER ERROR: " << problem_ << std::endl;
    problem_ = nullptr;
  }

 private:
  AigStore& store_;
  std::ostream& messages_;
  std::thread thread_;
  const char* problem_ = nullptr;
};

// Closes a descriptor that was opened here.
struct OwnedDescriptor {
  int fd;
  ~OwnedDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

void readInput(Formula& input, const std::string& fileName) {
  const bool standardInput = isStandardStreams(fileName);
  const int fd = standardInput ? STDIN_FILENO : ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Exception("QBF File not open.");
  const OwnedDescriptor owned{standardInput ? -1 : fd};
  // A directory opens on Linux and fails only at the first read.
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    throw Exception("QBF File not open.");
  }
  // The reader takes the text in large blocks, which the buffer reads straight from the
  // descriptor or decompresses into.
  InputBuffer buffer(fd);
  std::istream in(&buffer);
  const bool read = buffer.error().empty() && input.readQdimacs(in);
  // Damaged compressed input is reported as such, also where the reader stopped early at
  // text that the damage garbled, before the library could tell.
  if (!read) buffer.drain();
  if (!buffer.error().empty()) throw Exception(buffer.error());
  if (!read) throw Exception(input.error);
}

// Standard output as the output of "zefi -": written in place, as it comes. A reader that
// went away (a closed pipe) or a file-size limit is a write error with its message and
// status, not a death by signal.
class StandardOutput {
 public:
  StandardOutput() {
    ignore(SIGPIPE, savedPipeAction_);
    ignore(SIGXFSZ, savedFileSizeAction_);
  }
  ~StandardOutput() {
    ::sigaction(SIGPIPE, &savedPipeAction_, nullptr);
    ::sigaction(SIGXFSZ, &savedFileSizeAction_, nullptr);
  }
  StandardOutput(const StandardOutput&) = delete;
  StandardOutput& operator=(const StandardOutput&) = delete;

  // Closing tells what a file system kept back until then (NFS does).
  void commit(bool written) {
    if (!written || (::close(STDOUT_FILENO) != 0 && errno != EINTR)) {
      throw Exception("Cannot write standard output.");
    }
  }

 private:
  static void ignore(int signalNumber, struct sigaction& saved) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, &saved);
  }

  struct sigaction savedPipeAction_ = {};
  struct sigaction savedFileSizeAction_ = {};
};

// Writes the negation to the descriptor; false when some part of it could not be written.
bool writeNegation(int fd, const Formula& input, const NegationGraph& negation) {
  FileBlockWriter blocks(fd, cleanupSignals());
  QdimacsWriter writer(blocks);
  negation.write(input, writer);
  return writer.finish();
}

}  // namespace

bool invertFile(Formula& input, const std::string& fileName) {
  const bool standardStreams = isStandardStreams(fileName);
  readInput(input, fileName);
  if (!negationFits(input)) throw Exception(kNegationTooLarge);
  const AigStorePtr store(AigStore::createDefault());
  const NegationGraph negation(input, *store, true);
  // Started last, so that no exception leaves it running alone.
  GraphCheck check(*store, standardStreams ? std::cerr : std::cout);
  if (standardStreams) {
    StandardOutput output;
    const bool written = writeNegation(STDOUT_FILENO, input, negation);
    check.report();
    output.commit(written);
  } else {
    OutputFile file(outputNameFor(fileName));
    const bool written = writeNegation(file.descriptor(), input, negation);
    check.report();
    file.commit(written);
  }
  return true;
}

}  // namespace ZEFI
