#include "app/block_writer.hpp"

#include <unistd.h>

#include <cerrno>

namespace ZEFI {

FileBlockWriter::FileBlockWriter(int fd, const std::vector<int>& signalsToBlock)
    : fd_(fd), storage_(new char[kBlockSize * kBlockCount]) {
  free_.reserve(kBlockCount);
  for (std::size_t i = kBlockCount; i-- > 0;) free_.push_back(storage_.get() + i * kBlockSize);
  thread_ = startThreadWithout("zefi-write", signalsToBlock, [this] { run(); });
}

FileBlockWriter::~FileBlockWriter() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

char* FileBlockWriter::exchange(char* full, std::size_t used) {
  if (!thread_.joinable()) {
    if (full != nullptr && used > 0 && !failed_ && !writeAll(full, used)) failed_ = true;
    return full != nullptr ? full : free_.back();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (full != nullptr) {
    if (used > 0 && !failed_) {
      full_.push_back(Pending{full, used});
      changed_.notify_all();
    } else {
      free_.push_back(full);  // nothing to write, or nothing worth writing after a failure
    }
  }
  changed_.wait(lock, [this] { return !free_.empty(); });
  char* const next = free_.back();
  free_.pop_back();
  return next;
}

bool FileBlockWriter::finish() {
  if (!thread_.joinable()) return !failed_;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return full_.empty() && !writing_; });
  return !failed_;
}

void FileBlockWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !full_.empty(); });
    if (stop_) return;
    const Pending next = full_.front();
    full_.pop_front();
    writing_ = true;
    const bool skip = failed_;
    lock.unlock();
    const bool written = skip || writeAll(next.block, next.used);
    lock.lock();
    if (!written) failed_ = true;
    writing_ = false;
    free_.push_back(next.block);
    changed_.notify_all();
  }
}

bool FileBlockWriter::writeAll(const char* data, std::size_t count) const {
  while (count > 0) {
    const ssize_t written = ::write(fd_, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace ZEFI
