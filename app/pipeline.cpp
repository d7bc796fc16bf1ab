#include "app/pipeline.hpp"

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

PipelineThresholds thresholds{false};

bool helpersWanted() {
  return thresholds.helpersOnOneCore || severalCores();
}

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
    thread_ = startThreadWithout("zefi-check", cleanupSignals(), [this] { run(); });
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
    // Standard output gets nothing before the form is complete. A build that throws leaves
    // the helper to stop(), which abandons the progress it waits for.
    if (flowing_) startHelper();
    form_.build(&progress_);
    progress_.finish();
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
