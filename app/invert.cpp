#include "app/invert.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <thread>
#include <utility>

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

// Whether this process may run on more than one core (taskset, cgroups).
bool severalCores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  return sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 1;
}

// The consistency check of the graph, on a thread of its own beside the writing of the
// output: it only marks the variable table, the writing only reads the gates. What it finds
// is printed before anything else is, also when the negation is abandoned by an exception
// (the destructor), before the message that explains why. Memory running out in the check
// (its search stack, its message) is thrown again by report().
class GraphCheck {
 public:
  GraphCheck(AigStore& store, std::ostream& messages) : store_(store), messages_(messages) {
    thread_ = startThreadWithout("zefi-check", cleanupSignals(), [this] {
      const BatchScheduling batch(severalCores());
      run();
    });
    if (!thread_.joinable()) run();
  }
  ~GraphCheck() { print(); }
  GraphCheck(const GraphCheck&) = delete;
  GraphCheck& operator=(const GraphCheck&) = delete;

  void report() {
    print();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  void run() {
    try {
      problem_ = store_.check();
    } catch (...) {
      failure_ = std::current_exception();
    }
  }
  void print() {
    if (thread_.joinable()) thread_.join();
    if (problem_ != nullptr) messages_ << "AIGER ERROR: " << problem_ << std::endl;
    problem_ = nullptr;
  }

  AigStore& store_;
  std::ostream& messages_;
  std::thread thread_;
  const char* problem_ = nullptr;
  std::exception_ptr failure_;
};

// Gate records from this size on have their pages prepared on another core.
constexpr std::size_t kPreparedBytes = std::size_t{8} << 20;

// Has the pages of the gate records made ready (the kernel zeroing them) on another core,
// a little ahead of the thread that fills them: far enough to spare it the page faults, not
// so far that they are held long before the input's memory they replace is handed back.
// Contents are not touched, so both threads may work on the block at once. Where no thread
// can be started, or the kernel cannot populate pages, the filling thread takes the page
// faults itself.
class PagePreparer final : public GateFilling {
 public:
  PagePreparer() = default;
  ~PagePreparer() override { stop(); }
  PagePreparer(const PagePreparer&) = delete;
  PagePreparer& operator=(const PagePreparer&) = delete;

  void reserved(void* block, std::size_t bytes) override {
#ifdef MADV_POPULATE_WRITE
    if (bytes < kPreparedBytes || !severalCores()) return;
    thread_ = startThreadWithout("zefi-pages", cleanupSignals(), [this, block, bytes] {
      constexpr std::size_t kStep = std::size_t{2} << 20;
      constexpr std::size_t kLead = std::size_t{8} << 20;
      const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
      const auto start = reinterpret_cast<std::uintptr_t>(block);
      const std::uintptr_t end = (start + bytes) & ~(page - 1);
      std::uintptr_t at = (start + page - 1) & ~(page - 1);
      while (at < end && !stopping_.load(std::memory_order_relaxed)) {
        const std::uintptr_t filled =
            start + std::uintptr_t{built.load(std::memory_order_acquire)} * sizeof(AigAnd);
        if (at >= filled + kLead) {
          std::this_thread::sleep_for(std::chrono::microseconds(50));
          continue;
        }
        // Where the filling has caught up, its own faults have readied the pages behind it:
        // go on a step ahead of it instead.
        if (at < filled + kStep) at = std::min(end, (filled + kStep) & ~(page - 1));
        const std::uintptr_t step = std::min<std::uintptr_t>(kStep, end - at);
        // Not supported here, or no memory: the filling thread faults as usual.
        if (madvise(reinterpret_cast<void*>(at), step, MADV_POPULATE_WRITE) != 0) return;
        at += step;
      }
    });
#else
    (void)block;
    (void)bytes;
#endif
  }

  void stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
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
  // A large plain file's clauses are read in two parts where a second core can take one.
  const Formula::ThreadStarter helper = [](std::function<void()> work) {
    return severalCores() ? startThreadWithout("zefi-read", cleanupSignals(), std::move(work))
                          : std::thread();
  };
  const bool read = buffer.error().empty() && input.readQdimacs(in, helper);
  // Damaged compressed input is reported as such, also where the reader stopped early at
  // text that the damage garbled, before the library could tell.
  if (!read) buffer.drain();
  if (!buffer.error().empty()) throw Exception(buffer.error());
  if (!read) throw Exception(input.error);
}

// Forms the negation's text piece by piece into the writer's blocks, on the thread that
// calls finish() and, where a second core is there to run it, on a helper thread as well;
// the writing thread joins the pieces in order.
//
// The helper may be started while the gates are still being built (progress: how far):
// it forms the pieces before the gates at once and each piece of gates once its gates are
// there. Whoever ends first, the destructor stops it.
class NegationText {
 public:
  NegationText(const NegationGraph& negation, const Formula& input, FileBlockWriter& blocks)
      : negation_(negation), input_(input), blocks_(blocks), pieces_(negation.pieceCount(input)) {
    static_assert(NegationGraph::kPieceBytes <= FileBlockWriter::kBlockSize);
  }
  ~NegationText() { stopHelper(); }
  NegationText(const NegationText&) = delete;
  NegationText& operator=(const NegationText&) = delete;

  // Whether a helper can take part at all.
  bool helped() const { return blocks_.threaded() && pieces_ > 1 && severalCores(); }

  void startHelper(const std::atomic<std::uint32_t>* progress) {
    if (!helped()) return;
    helper_ = startThreadWithout("zefi-format", cleanupSignals(),
                                 [this, progress] { form(helperFitted_, progress); });
  }

  // Forms what is left (every gate built by now) and waits for the rest to be written; true
  // when every byte was.
  bool finish() {
    form(fitted_, nullptr);
    if (helper_.joinable()) helper_.join();
    return blocks_.finish() && fitted_ && helperFitted_;
  }

 private:
  void form(bool& fits, const std::atomic<std::uint32_t>* progress) {
    const BatchScheduling batch(severalCores());  // the writing thread is the one all wait for
    for (;;) {
      const FileBlockWriter::Taken taken = blocks_.take();
      if (taken.sequence >= pieces_) {
        blocks_.giveBack(taken.block);
        return;
      }
      if (progress != nullptr) {
        const std::uint32_t needed = negation_.gatesNeededBy(taken.sequence, input_);
        while (progress->load(std::memory_order_acquire) < needed) {
          if (stopping_.load(std::memory_order_relaxed)) {
            blocks_.giveBack(taken.block);
            return;
          }
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      }
      // Every piece fits its block (by the pieces' bounds); a sink that overflowed says so.
      OneBlockSink sink(taken.block, blocks_.blockSize());
      {
        QdimacsWriter writer(sink);
        negation_.writePiece(taken.sequence, input_, writer);
        fits = writer.finish() && fits;
      }
      blocks_.put(taken.sequence, taken.block, sink.used());
    }
  }

  void stopHelper() {
    stopping_ = true;
    if (helper_.joinable()) helper_.join();
  }

  const NegationGraph& negation_;
  const Formula& input_;
  FileBlockWriter& blocks_;
  const std::size_t pieces_;
  std::atomic<bool> stopping_ = false;
  bool fitted_ = true;
  bool helperFitted_ = true;  // read after the join
  std::thread helper_;
};

}  // namespace

bool invertFile(Formula& input, const std::string& fileName) {
  const bool standardStreams = isStandardStreams(fileName);
  readInput(input, fileName);
  if (!negationFits(input)) throw Exception(kNegationTooLarge);
  const AigStorePtr store(AigStore::createDefault());
  NegationGraph negation(input, *store, true, NegationGraph::Deferred{});
  // The text needs nothing more of the input than its prefix: the maps of the prefix go before
  // the graph's memory comes.
  input.quantifierOf.clear();
  input.positionOf.clear();
  OutputFile file(standardStreams ? std::string() : outputNameFor(fileName), standardStreams);
  bool written = false;
  {
    FileBlockWriter blocks(file.descriptor(), cleanupSignals(), file.ownFile());
    PagePreparer pages;
    NegationText text(negation, input, blocks);  // its helper follows pages.built
    // A file of our own is kept whole or not at all, so its text may flow while the gates are
    // built; standard output gets nothing before the graph is complete.
    const bool flowing = file.ownFile();
    if (flowing) text.startHelper(&pages.built);
    negation.build(&pages);
    pages.stop();
    if (!flowing) text.startHelper(nullptr);
    // Started once the graph is complete, so that no exception leaves it running alone.
    GraphCheck check(*store, standardStreams ? std::cerr : std::cout);
    written = text.finish();
    check.report();
  }
  file.commit(written);
  return true;
}

}  // namespace ZEFI
