// What the output pipeline asks of a form of the negation: its text, in pieces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "formula/qdimacs_writer.hpp"

namespace ZEFI {

// How far a form's build() has come, for threads that form pieces while it runs: a count
// that only grows, published with release order and waited for without polling.
class BuildProgress {
 public:
  // What has been built so far may be read on another thread from here on.
  void publish(std::uint32_t count) {
    count_.store(count, std::memory_order_release);
    count_.notify_all();
  }
  // Waits until count is reached; false when abandon() came first.
  bool waitFor(std::uint32_t count) const {
    for (;;) {
      const std::uint32_t now = count_.load(std::memory_order_acquire);
      if (abandoned_.load(std::memory_order_acquire)) return false;
      if (now >= count) return true;
      count_.wait(now, std::memory_order_acquire);
    }
  }
  // The build is complete: every waiter may go on.
  void finish() { publish(std::numeric_limits<std::uint32_t>::max()); }
  // Wakes every waiter for good: what it waits for will not come.
  void abandon() {
    abandoned_.store(true, std::memory_order_release);
    count_.store(std::numeric_limits<std::uint32_t>::max(), std::memory_order_release);
    count_.notify_all();
  }

 private:
  std::atomic<std::uint32_t> count_{0};
  std::atomic<bool> abandoned_{false};
};

// A form of the negation as text. The pipeline calls build() once, and forms the pieces
// 0 .. pieceCount() - 1, each on its own (on any thread, into a block of its own), joining
// them in order.
//
// A bounded form promises that no piece takes more than kPieceBytes; its pieces may be formed
// on several threads at once, and those that need nothing of build() (progressNeededBy 0)
// even while it runs. A piece that breaks the promise is an internal error: nothing of the
// output is kept. An unbounded form is written piece after piece on one thread, as a stream.
class OutputForm {
 public:
  static constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

  virtual ~OutputForm() = default;

  // Whether every piece fits kPieceBytes.
  virtual bool bounded() const = 0;
  // Known before build(), and never changed by it.
  virtual std::size_t pieceCount() const = 0;
  // What progress of build() the piece needs before it can be formed.
  virtual std::uint32_t progressNeededBy(std::size_t /*piece*/) const { return 0; }
  // Readies what the pieces read, telling progress (when given) how far it came.
  virtual void build(BuildProgress* /*progress*/) {}
  virtual void writePiece(std::size_t piece, QdimacsWriter& writer) const = 0;

  // A check of what build() made, run beside the writing, on the form as writePiece sees it
  // (const: it may read what the pieces read and change none of it; scratch of its own, such
  // as a graph's marks and error text, is the check's alone); the line to report, empty when
  // all is well.
  virtual bool checked() const { return false; }
  virtual std::string check() const { return {}; }
};

}  // namespace ZEFI
