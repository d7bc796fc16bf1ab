// Writing large output to a file descriptor on a second thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/thread.hpp"
#include "formula/formula.hpp"
#include "formula/qdimacs_writer.hpp"

namespace ZEFI {

// A BlockSink that writes its blocks to a file descriptor in the order they come, on a
// thread of its own, so that formatting the next block and copying the last one into the
// kernel overlap. A few blocks circulate between the two threads; the formatting thread
// waits only when all of them are full. Where no thread can be started, blocks are written
// at once, on the caller's thread.
//
// The first failed write is remembered; later blocks are then dropped instead of written,
// and finish() reports the failure. The descriptor is neither opened nor closed here.
class FileBlockWriter final : public BlockSink {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
  static constexpr std::size_t kBlockCount = 4;

  // signalsToBlock: signals the writing thread never receives (so that their handlers run
  // on the caller's thread, which can block them around its own critical steps).
  FileBlockWriter(int fd, const std::vector<int>& signalsToBlock);
  ~FileBlockWriter() override;  // stops the thread; blocks not yet written are dropped
  FileBlockWriter(const FileBlockWriter&) = delete;
  FileBlockWriter& operator=(const FileBlockWriter&) = delete;

  std::size_t blockSize() const override { return kBlockSize; }
  char* exchange(char* full, std::size_t used) override;
  bool finish() override;

  // Whether blocks are written on a thread of their own (false after a failed start).
  bool threaded() const { return thread_.joinable(); }

 private:
  struct Pending {
    char* block;
    std::size_t used;
  };

  void run();
  bool writeAll(const char* data, std::size_t count) const;

  int fd_;
  std::unique_ptr<char[]> storage_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<char*> free_;   // blocks ready to be filled
  std::deque<Pending> full_;  // blocks waiting to be written, oldest first
  bool writing_ = false;      // the thread holds a block it took from full_
  bool stop_ = false;
  bool failed_ = false;  // guarded by mutex_ while the thread runs
  std::thread thread_;
};

}  // namespace ZEFI
