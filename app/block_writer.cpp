#include "app/block_writer.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace ZEFI {

namespace {

// How far ahead of the writing an own file's blocks are reserved.
constexpr std::uint64_t kReserveAhead = std::uint64_t{16} << 20;
// The blocks' alignment: a huge page, of which their storage is a whole number.
constexpr std::size_t kHugePage = std::size_t{1} << 21;
static_assert(FileBlockWriter::kBlockSize * FileBlockWriter::kBlockCount % kHugePage == 0);

}  // namespace

FileBlockWriter::FileBlockWriter(int fd, const std::vector<int>& signalsToBlock, bool ownFile)
    : fd_(fd),
      reserving_(ownFile),
      storage_(static_cast<char*>(std::aligned_alloc(kHugePage, kBlockSize * kBlockCount))) {
  if (storage_ == nullptr) throw std::bad_alloc();
  // The blocks are filled over and over: on huge pages they cost three page faults instead
  // of 1,536, and the formatting misses the TLB less. A hint only; small outputs pay a huge
  // page or two of memory for it.
  madvise(storage_.get(), kBlockSize * kBlockCount, MADV_HUGEPAGE);
  free_.reserve(kBlockCount);
  full_.reserve(kBlockCount);
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

FileBlockWriter::Taken FileBlockWriter::takeLocked(std::unique_lock<std::mutex>& lock) {
  if (thread_.joinable()) changed_.wait(lock, [this] { return !free_.empty(); });
  char* const block = free_.back();
  free_.pop_back();
  return Taken{block, nextTaken_++};
}

FileBlockWriter::Taken FileBlockWriter::take() {
  std::unique_lock<std::mutex> lock(mutex_);
  return takeLocked(lock);
}

void FileBlockWriter::put(std::size_t sequence, char* block, std::size_t used) {
  if (!thread_.joinable()) {
    // Only the caller's thread fills blocks, in order.
    if (used > 0 && !failed_ && !writeAll(block, used)) failed_ = true;
    ++nextWritten_;
    free_.push_back(block);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    full_.push_back(Pending{sequence, block, used});
  }
  changed_.notify_all();
}

void FileBlockWriter::giveBack(char* block) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(block);
  }
  changed_.notify_all();
}

char* FileBlockWriter::exchange(char* full, std::size_t used) {
  if (full != nullptr) put(filling_, full, used);
  std::unique_lock<std::mutex> lock(mutex_);
  const Taken next = takeLocked(lock);
  filling_ = next.sequence;
  return next.block;
}

bool FileBlockWriter::finish() {
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return full_.empty() && !writing_; });
  }
  // Blocks reserved past the end go back (the size stays what was written); a reservation
  // that failed may have taken some. A failure here leaves them to the file, which is as
  // long as it should be all the same.
  if (!failed_ && reservedAny_) {
    while (::ftruncate(fd_, static_cast<off_t>(written_)) != 0 && errno == EINTR) {
    }
  }
  return !failed_;
}

void FileBlockWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::vector<Pending>::iterator next;
    changed_.wait(lock, [this, &next] {
      next = std::find_if(full_.begin(), full_.end(),
                          [this](const Pending& p) { return p.sequence == nextWritten_; });
      return stop_ || next != full_.end();
    });
    if (stop_) return;
    const Pending pending = *next;
    full_.erase(next);
    writing_ = true;
    const bool skip = failed_;
    lock.unlock();
    const bool written = skip || pending.used == 0 || writeAll(pending.block, pending.used);
    lock.lock();
    if (!written) failed_ = true;
    writing_ = false;
    ++nextWritten_;
    free_.push_back(pending.block);
    changed_.notify_all();
  }
}

bool FileBlockWriter::writeAll(const char* data, std::size_t count) {
#ifdef FALLOC_FL_KEEP_SIZE
  if (reserving_ && written_ + count > reserved_) {
    // Reserved without changing the size: a reader of the file (there is none before the
    // rename) would see only what was written.
    const std::uint64_t from = std::max(reserved_, written_);
    const std::uint64_t length = written_ + count - from + kReserveAhead;
    reservedAny_ = true;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                    static_cast<off_t>(length)) == 0) {
      reserved_ = from + length;
    } else {
      reserving_ = false;  // not supported here, or no room: written as usual
    }
  }
#endif
  while (count > 0) {
    const ssize_t written = ::write(fd_, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    count -= static_cast<std::size_t>(written);
    written_ += static_cast<std::uint64_t>(written);
  }
  return true;
}

}  // namespace ZEFI
