// Writing large output to a file descriptor on a second thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/thread.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"

namespace ZEFI {

// A BlockSink that writes its blocks to a file descriptor in order, on a thread of its
// own, so that formatting the next block and copying the last one into the kernel overlap.
// A few blocks circulate between the threads; a formatting thread waits only when all of
// them are full. Where no thread can be started, blocks are written at once, on the
// caller's thread.
//
// Blocks can also be filled apart, on several threads: take() hands out an empty block with
// the next sequence number, put() hands it back filled, and blocks are written in the order
// of their numbers whatever the order they come back in. The thread filling the lowest
// number taken always holds its block, so the others, waiting for free blocks, never keep
// it from finishing. A block taken and not to be filled goes back by giveBack(); no number
// after it may be put then. (Without the writing thread, blocks must be put in order.)
//
// The first failed write is remembered; later blocks are then dropped instead of written,
// and finish() reports the failure. The descriptor is neither opened nor closed here.
class FileBlockWriter final : public BlockSink {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
  static constexpr std::size_t kBlockCount = 6;

  // signalsToBlock: signals the writing thread never receives (so that their handlers run
  // on the caller's thread, which can block them around its own critical steps).
  //
  // ownFile: fd is a new file of the caller's own, written from its start by this writer
  // alone. Its blocks on disk are then reserved a stretch ahead of the writing (a file
  // system allocating page by page costs a third more), and what was reserved past the
  // end is handed back by finish(). A file system that cannot reserve is written as usual.
  FileBlockWriter(int fd, const std::vector<int>& signalsToBlock, bool ownFile = false);
  ~FileBlockWriter() override;  // stops the thread; blocks not yet written are dropped
  FileBlockWriter(const FileBlockWriter&) = delete;
  FileBlockWriter& operator=(const FileBlockWriter&) = delete;

  std::size_t blockSize() const override { return kBlockSize; }
  char* exchange(char* full, std::size_t used) override;
  bool finish() override;

  struct Taken {
    char* block;
    std::size_t sequence;
  };
  Taken take();
  void put(std::size_t sequence, char* block, std::size_t used);
  void giveBack(char* block);

  // Whether blocks are written on a thread of their own (false after a failed start).
  bool threaded() const { return thread_.joinable(); }

 private:
  struct Pending {
    std::size_t sequence;
    char* block;
    std::size_t used;
  };

  Taken takeLocked(std::unique_lock<std::mutex>& lock);
  void run();
  bool writeAll(const char* data, std::size_t count);

  int fd_;
  // Of an own file, used by the thread that writes (finish() reads them when it is idle).
  bool reserving_;
  bool reservedAny_ = false;    // some reservation was asked for (maybe only in part)
  std::uint64_t written_ = 0;   // bytes written, from the start of the file
  std::uint64_t reserved_ = 0;  // bytes reserved on disk, from the start
  struct Free {
    void operator()(char* block) const { std::free(block); }
  };
  std::unique_ptr<char, Free> storage_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<char*> free_;      // blocks ready to be filled
  std::vector<Pending> full_;    // filled blocks waiting to be written, in any order
  std::size_t nextTaken_ = 0;    // the number the next block taken gets
  std::size_t nextWritten_ = 0;  // the number of the block to write next
  std::size_t filling_ = 0;      // the number of the block exchange() handed out last
  bool writing_ = false;         // the thread holds a block it took from full_
  bool stop_ = false;
  bool failed_ = false;  // guarded by mutex_ while the thread runs
  std::thread thread_;
};

// A BlockSink over one block that must hold all that is written to it: for forming a piece
// of known bounded size into a block taken from a FileBlockWriter.
class OneBlockSink final : public BlockSink {
 public:
  OneBlockSink(char* block, std::size_t size) : block_(block), size_(size) {}
  std::size_t blockSize() const override { return size_; }
  char* exchange(char* full, std::size_t used) override {
    if (full != nullptr) used_ += used;
    overflowed_ = overflowed_ || (full != nullptr && used_ != used);
    return block_;
  }
  bool finish() override { return !overflowed_; }
  std::size_t used() const { return used_; }

 private:
  char* block_;
  std::size_t size_;
  std::size_t used_ = 0;
  bool overflowed_ = false;  // handed over twice: the piece did not fit
};

}  // namespace ZEFI
