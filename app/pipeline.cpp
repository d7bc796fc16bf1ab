#include "app/pipeline.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <ostream>
#include <string>
#include <thread>
#include <utility>

#include "app/block_writer.hpp"
#include "app/exception.hpp"
#include "app/pipeline_testing.hpp"
#include "app/thread.hpp"

namespace ZEFI {

namespace {

// Gate records from this size on have their pages prepared on another core.
constexpr std::size_t kPreparedBytes = std::size_t{8} << 20;

PipelineThresholds thresholds{kPreparedBytes, false};

bool helpersWanted() {
  return thresholds.helpersOnOneCore || severalCores();
}

// Has the pages of the block that build() fills made ready (the kernel zeroing them) on
// another core, a little ahead of the filling: far enough to spare it the page faults, not so
// far that they are held long before the input's memory they replace is handed back.
// Contents are not touched, so both threads may work on the block at once. Where no thread
// can be started, or the kernel cannot populate pages, the filling thread takes the page
// faults itself.
class PagePreparer {
 public:
  PagePreparer(const OutputForm::Pages& pages, const BuildProgress& progress) {
#ifdef MADV_POPULATE_WRITE
    if (pages.block == nullptr || pages.bytes < thresholds.preparedBytes || !helpersWanted()) {
      return;
    }
    thread_ = startThreadWithout("zefi-pages", cleanupSignals(),
                                 [this, pages, &progress] { prepare(pages, progress); });
#else
    (void)pages;
    (void)progress;
#endif
  }
  ~PagePreparer() {
    stop();
  }
  PagePreparer(const PagePreparer&) = delete;
  PagePreparer& operator=(const PagePreparer&) = delete;

  // The caller tells progress to wake the thread (finish or abandon) after this.
  void stopping() {
    stopping_.store(true, std::memory_order_release);
  }
  void stop() {
    stopping();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void prepare(const OutputForm::Pages& pages, const BuildProgress& progress) {
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t step = thresholds.preparedBytes / 4;
    const std::uintptr_t lead = thresholds.preparedBytes;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(pages.block);
    const std::uintptr_t end = (start + pages.bytes) & ~(page - 1);
    std::uintptr_t at = (start + page - 1) & ~(page - 1);
    while (at < end) {
      // Wait until the filling is within the lead of at.
      const std::uintptr_t ahead = at - start + 1 > lead ? at - start + 1 - lead : 0;
      const auto needed = static_cast<std::uint32_t>(std::min<std::uintptr_t>(
          (ahead + pages.recordBytes - 1) / pages.recordBytes, std::uint32_t{0xFFFFFFFFu}));
      if (!progress.waitFor(needed) || stopping_.load(std::memory_order_acquire)) return;
      const std::uintptr_t filled = start + std::uintptr_t{progress.current()} * pages.recordBytes;
      // Where the filling has caught up, its own faults have readied the pages behind it: go
      // on a step ahead of it instead.
      if (at < filled + step) at = std::min(end, (filled + step) & ~(page - 1));
      if (at >= end) return;
      const std::uintptr_t length = std::min<std::uintptr_t>(step, end - at);
      // Not supported here, or no memory: the filling thread faults as usual.
      if (madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0) return;
      at += length;
    }
#else
    (void)pages;
    (void)progress;
#endif
  }

  std::atomic<bool> stopping_ = false;
  std::thread thread_;
};

// The form's check, on a thread of its own beside the writing. What it finds is printed
// before anything else is, also when the writing is abandoned by an exception (the
// destructor). Memory running out in the check (its search stack, its message) is thrown
// again by report().
class FormCheck {
 public:
  FormCheck(const OutputForm& form, std::ostream& messages) : form_(form), messages_(messages) {}
  ~FormCheck() { print(); }
  FormCheck(const FormCheck&) = delete;
  FormCheck& operator=(const FormCheck&) = delete;

  void start() {
    if (!form_.checked()) return;
    thread_ = startThreadWithout("zefi-check", cleanupSignals(), [this] {
      const BatchScheduling batch(severalCores());
      run();
    });
    if (!thread_.joinable()) run();
  }
  void report() {
    print();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  void run() {
    try {
      problem_ = form_.check();
    } catch (...) {
      failure_ = std::current_exception();
    }
  }
  void print() {
    if (thread_.joinable()) thread_.join();
    if (!problem_.empty()) messages_ << problem_ << std::endl;
    problem_.clear();
  }

  const OutputForm& form_;
  std::ostream& messages_;
  std::thread thread_;
  std::string problem_;
  std::exception_ptr failure_;
};

// Forms the pieces of a bounded form into the writer's blocks, on the threads that call
// form(); the writing thread joins them in order. A piece waits for the progress of the build
// it needs; abandoned, the forming stops.
class PieceFormer {
 public:
  PieceFormer(const OutputForm& form, FileBlockWriter& blocks, const BuildProgress& progress)
      : form_(form), blocks_(blocks), progress_(progress), pieces_(form.pieceCount()) {
    static_assert(OutputForm::kPieceBytes <= FileBlockWriter::kBlockSize);
  }

  // Forms pieces until none is left; false when one outgrew its block (it is then written
  // as nothing, so that the pieces after it still follow in order).
  bool form() {
    const BatchScheduling batch(severalCores());  // the writing thread is the one all wait for
    bool fitted = true;
    for (;;) {
      const FileBlockWriter::Taken taken = blocks_.take();
      if (taken.sequence >= pieces_ || !progress_.waitFor(form_.progressNeededBy(taken.sequence))) {
        blocks_.giveBack(taken.block);
        return fitted;
      }
      OneBlockSink sink(taken.block, OutputForm::kPieceBytes);
      {
        QdimacsWriter writer(sink);
        form_.writePiece(taken.sequence, writer);
        fitted = writer.finish() && fitted;
      }
      blocks_.put(taken.sequence, taken.block, sink.finish() ? sink.used() : 0);
    }
  }

  std::size_t pieceCount() const { return pieces_; }

 private:
  const OutputForm& form_;
  FileBlockWriter& blocks_;
  const BuildProgress& progress_;
  const std::size_t pieces_;
};

// One run of the pipeline. Its helpers are stopped in an order of their own, whatever the
// order of the members: the progress is abandoned first, so that nothing waits for a build
// that will not go on, then each helper is joined, the check last, and the writer's blocks
// go when every thread that forms them is gone.
class Pipeline {
 public:
  Pipeline(OutputForm& form, OutputFile& file, std::ostream& messages)
      : form_(form),
        blocks_(file.descriptor(), cleanupSignals(), file.ownFile()),
        flowing_(file.ownFile()),
        former_(form, blocks_, progress_),
        check_(form, messages) {}
  ~Pipeline() { stop(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  bool run() {
    if (!form_.bounded()) {
      form_.build(nullptr);
      check_.start();
      QdimacsWriter writer(blocks_);
      const std::size_t pieces = form_.pieceCount();
      for (std::size_t piece = 0; piece < pieces; ++piece) form_.writePiece(piece, writer);
      const bool written = writer.finish();
      check_.report();
      return written;
    }
    const bool helped = blocks_.threaded() && former_.pieceCount() > 1 && helpersWanted();
    const auto startHelper = [&] {
      if (!helped) return;
      helper_ = startThreadWithout("zefi-format", cleanupSignals(),
                                   [this] { helperFitted_ = former_.form(); });
    };
    {
      PagePreparer pages(form_.pagesToPrepare(), progress_);
      // Standard output gets nothing before the form is complete.
      if (flowing_) startHelper();
      try {
        form_.build(&progress_);
      } catch (...) {
        progress_.abandon();  // before the helpers are joined
        throw;
      }
      pages.stopping();
      progress_.finish();
    }
    if (!flowing_) startHelper();
    // Started once the build is complete, so that no exception leaves it running alone.
    check_.start();
    const bool fitted = former_.form();
    if (helper_.joinable()) helper_.join();
    const bool written = blocks_.finish();
    check_.report();
    if (!fitted || !helperFitted_) {
      throw Exception("Internal error: a piece of the output outgrew its block.");
    }
    return written;
  }

 private:
  void stop() {
    progress_.abandon();
    if (helper_.joinable()) helper_.join();
  }

  OutputForm& form_;
  FileBlockWriter blocks_;
  const bool flowing_;  // a file of our own: kept whole or not at all, so text may flow early
  BuildProgress progress_;
  PieceFormer former_;  // what the helper runs: it lives until stop() has joined it
  FormCheck check_;
  std::thread helper_;
  bool helperFitted_ = true;  // read after the join
};

}  // namespace

void setPipelineThresholds(const PipelineThresholds& wanted) {
  thresholds = wanted;
}

PipelineThresholds pipelineThresholds() {
  return thresholds;
}

bool writeForm(OutputForm& form, OutputFile& file, std::ostream& messages) {
  Pipeline pipeline(form, file, messages);
  return pipeline.run();
}

}  // namespace ZEFI
