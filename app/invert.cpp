#include "app/invert.hpp"

#include <sys/stat.h>

#include <fstream>
#include <iostream>

#include "aiger/aiger.hpp"
#include "app/block_writer.hpp"
#include "app/output_file.hpp"
#include "app/thread.hpp"
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
  explicit GraphCheck(AigStore& store) : store_(store) {
    thread_ =
        startThreadWithout("zefi-check", cleanupSignals(), [this] { problem_ = store_.check(); });
    if (!thread_.joinable()) problem_ = store_.check();
  }
  ~GraphCheck() { report(); }
  GraphCheck(const GraphCheck&) = delete;
  GraphCheck& operator=(const GraphCheck&) = delete;

  void report() {
    if (thread_.joinable()) thread_.join();
    if (problem_ != nullptr) std::cout << "AIGER ERROR: " << problem_ << std::endl;
    problem_ = nullptr;
  }

 private:
  AigStore& store_;
  std::thread thread_;
  const char* problem_ = nullptr;
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

bool invertFile(Formula& input, const std::string& fileName) {
  readInput(input, fileName);
  if (!negationFits(input)) throw Exception(kNegationTooLarge);
  const AigStorePtr store(AigStore::createDefault());
  const NegationGraph negation(input, *store, true);
  GraphCheck check(*store);  // started last, so that no exception leaves it running alone
  OutputFile file(outputNameFor(fileName));
  bool written = false;
  {
    FileBlockWriter blocks(file.descriptor(), cleanupSignals());
    QdimacsWriter writer(blocks);
    negation.write(input, writer);
    written = writer.finish();
  }
  check.report();
  file.commit(written);
  return true;
}

}  // namespace ZEFI
