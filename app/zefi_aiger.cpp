// zefi-aiger: converts, checks and draws AIGER files, and writes the graph that negating a
// QDIMACS formula builds. Statuses: 0 success, 1 a file could not be read or written, 2 bad
// arguments.

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "aiger/aiger.hpp"
#include "formula/decompress.hpp"
#include "formula/formula.hpp"
#include "formula/literal.hpp"
#include "negation/aig_dot.hpp"
#include "negation/negation_graph.hpp"

namespace {

using namespace ZEFI;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "Usage: zefi-aiger convert IN OUT [--strip]\n"
    "       zefi-aiger check IN\n"
    "       zefi-aiger dot IN\n"
    "       zefi-aiger graph IN.qdimacs OUT\n"
    "       zefi-aiger --help\n"
    "\n"
    "  convert  read the AIGER file IN and write it to OUT: ASCII when OUT ends in\n"
    "           \".aag\" or \".aag.gz\", binary otherwise (\".gz\" names go through gzip);\n"
    "           OUT \"-\" writes ASCII to standard output; --strip drops names and comments\n"
    "  check    read IN, check it and print its header counts \"M I L O A\"\n"
    "  dot      print the graph of IN as Graphviz text on standard output\n"
    "  graph    write the graph that negating the QDIMACS formula IN builds to OUT,\n"
    "           chosen by name as for convert\n"
    "\n"
    "Names of AIGER inputs ending in \".gz\" are read through gunzip.\n";

// Running out of memory is thrown by the store as std::bad_alloc and reported by main.
AigStorePtr newStore() {
  return AigStorePtr(AigStore::createDefault());
}

int fail(std::string_view message) {
  std::fflush(stdout);
  std::fprintf(stderr, "zefi-aiger: %.*s\n", static_cast<int>(message.size()), message.data());
  return kFailure;
}

int usageError() {
  std::fputs(kUsage, stderr);
  return kUsageError;
}

bool isStandardStream(const std::string& name) {
  return name == "-";
}

// Reads an AIGER file into a fresh store; on failure prints the reader's (or the
// consistency check's) message and leaves status set.
AigStorePtr readAiger(const std::string& path, int& status) {
  AigStorePtr store = newStore();
  const char* error = store->readFromPath(path.c_str());
  if (error != nullptr) {
    status = fail(error);
    return nullptr;
  }
  status = kSuccess;
  return store;
}

bool finishStandardOutput() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

// Writes the store by the name of out: "-" is ASCII on standard output, any other name
// picks its form by suffix as AigStore::writeToPath does (".aag" and ".aag.gz" ASCII, else
// binary). Plain files are opened here rather than by writeToPath so that an error that
// only shows when the buffer is flushed or the file closed (a full disk) is reported too.
int writeAiger(AigStore& store, const std::string& out) {
  if (isStandardStream(out)) {
    if (store.writeToFile(ascii, stdout) == 0 || !finishStandardOutput())
      return fail("cannot write standard output");
    return kSuccess;
  }
  if (hasSuffix(out.c_str(), ".gz")) {
    if (store.writeToPath(out.c_str()) == 0) return fail("cannot write " + out);
    return kSuccess;
  }
  std::FILE* file = std::fopen(out.c_str(), "w");
  if (file == nullptr) return fail("cannot write " + out);
  // Opened, the file was truncated: half-written (memory ran out while renumbering for the
  // binary form, or a write failed), it is removed if regular (never a device such as /dev/full).
  const auto removePartial = [&out] {
    struct stat status {};
    if (::stat(out.c_str(), &status) == 0 && S_ISREG(status.st_mode)) ::unlink(out.c_str());
  };
  const AigWriteMode mode = hasSuffix(out.c_str(), ".aag") ? ascii : 0;
  bool written = false;
  try {
    written = store.writeToFile(mode, file) != 0;
  } catch (const std::bad_alloc&) {  // reported by main
    std::fclose(file);
    removePartial();
    throw;
  }
  written = std::fflush(file) == 0 && std::ferror(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written) {
    removePartial();
    return fail("cannot write " + out);
  }
  return kSuccess;
}

// Standard output in large blocks of our own, so that a failed write shows in finish().
class BlockBuffer : public std::streambuf {
 public:
  explicit BlockBuffer(std::FILE* file) : file_(file), block_(1u << 16) {
    setp(block_.data(), block_.data() + block_.size());
  }
  bool finish() { return drain() && std::fflush(file_) == 0 && std::ferror(file_) == 0; }

 protected:
  int_type overflow(int_type ch) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return failed_ ? -1 : 0; }  // held until the block is full

 private:
  bool drain() {
    const std::size_t used = static_cast<std::size_t>(pptr() - pbase());
    if (used != 0 && !failed_ && std::fwrite(pbase(), 1, used, file_) != used) failed_ = true;
    setp(block_.data(), block_.data() + block_.size());
    return !failed_;
  }
  std::FILE* file_;
  std::vector<char> block_;
  bool failed_ = false;
};

int runConvert(const std::string& in, const std::string& out, bool strip) {
  int status = kSuccess;
  AigStorePtr store = readAiger(in, status);
  if (!store) return status;
  if (strip) store->stripSymbolsAndComments();
  return writeAiger(*store, out);
}

int runCheck(const std::string& in) {
  int status = kSuccess;
  AigStorePtr store = readAiger(in, status);
  if (!store) return status;
  std::printf("%u %u %u %u %u\n", store->maxVar, store->inputCount, store->latchCount,
              store->outputCount, store->andCount);
  if (!finishStandardOutput()) return fail("cannot write standard output");
  return kSuccess;
}

int runDot(const std::string& in) {
  int status = kSuccess;
  AigStorePtr store = readAiger(in, status);
  if (!store) return status;
  BlockBuffer buffer(stdout);
  std::ostream out(&buffer);
  writeAigDot(*store, out);
  if (!buffer.finish()) return fail("cannot write standard output");
  return kSuccess;
}

int runGraph(const std::string& in, const std::string& out) {
  Formula formula;
  if (const std::string error = readQdimacsFile(formula, in); !error.empty()) return fail(error);
  if (!negationFits(formula)) return fail(kNegationTooLarge);
  AigStorePtr store = newStore();
  const NegationGraph graph(formula, *store, false);
  if (const char* error = store->check()) return fail(error);
  return writeAiger(*store, out);
}

struct Arguments {
  std::vector<std::string> operands;
  bool strip = false;
  bool help = false;
  bool version = false;
  bool unknownOption = false;
};

Arguments parseArguments(int argc, char** argv) {
  Arguments arguments;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      arguments.operands.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      arguments.help = true;
    } else if (argument == "--version") {
      arguments.version = true;
    } else if (argument == "--strip") {
      arguments.strip = true;
    } else {
      arguments.unknownOption = true;
    }
  }
  return arguments;
}

int dispatch(const Arguments& arguments) {
  if (arguments.help) {
    std::fputs(kUsage, stdout);
    return finishStandardOutput() ? kSuccess : fail("cannot write standard output");
  }
  if (arguments.version) {
    std::fputs("zefi-aiger " ZEFI_VERSION "\n", stdout);
    return finishStandardOutput() ? kSuccess : fail("cannot write standard output");
  }
  const std::vector<std::string>& operands = arguments.operands;
  if (arguments.unknownOption || operands.empty()) return usageError();
  const std::string& command = operands[0];
  const std::size_t count = operands.size() - 1;

  if (command == "convert" && count == 2)
    return runConvert(operands[1], operands[2], arguments.strip);
  if (arguments.strip) return usageError();  // --strip belongs to convert alone
  if (command == "check" && count == 1) return runCheck(operands[1]);
  if (command == "dot" && count == 1) return runDot(operands[1]);
  if (command == "graph" && count == 2) return runGraph(operands[1], operands[2]);
  return usageError();
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away early (zefi-aiger dot big.aig | head) must show as a write
  // error with its message and status, not as a silent death by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return dispatch(parseArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    // From the formula's containers and the graph store alike; a file being written is
    // already removed.
    std::fputs("zefi-aiger: out of memory\n", stderr);
    return kFailure;
  }
}
