// The output file of zefi: complete, or not there at all.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ZEFI {

// Signals whose handler removes an unfinished output file; helper threads never take them,
// so that the handler runs on the thread that blocks them around its critical steps.
std::vector<int> cleanupSignals();

// A regular file is written under a temporary name beside its target and renamed into place
// only when every byte was written and the file was closed without error; until then an
// existing file of that name stays as it was, and on failure or on SIGINT, SIGTERM or SIGHUP
// the temporary file is removed. A name that is a symbolic link is written through to the
// link's target. An existing device or pipe is written directly, since it cannot be
// replaced. Every failure throws Exception("Cannot write <name>.").
//
// The standard output (standardOutput set, no name) is written in place as it comes, and
// "Cannot write standard output." is its failure. For every output a file-size limit or a
// pipe whose reader went away is a write error, not a death by signal.
class OutputFile {
 public:
  explicit OutputFile(std::string outputName, bool standardOutput = false);
  ~OutputFile() { cleanup(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int descriptor() const { return fd_; }
  // Whether descriptor() is a new file of this process's own (the temporary one), which
  // nothing else reads or writes before the rename.
  bool ownFile() const { return !temporary_.empty(); }

  // Completes the output, whose every byte was written to descriptor() when written is
  // true; throws Exception when any part of it could not be written.
  void commit(bool written);

  static constexpr std::size_t kCleanupSignalCount = 3;  // SIGINT, SIGTERM, SIGHUP

 private:
  void createTemporary(const std::string& target, mode_t mode);
  void installCleanupHandlers();
  void cleanup();
  [[noreturn]] void fail();

  std::string outputName_;
  bool standardOutput_;
  std::string target_;
  std::string temporary_;  // empty when writing directly or after the rename
  int fd_ = -1;
  struct sigaction savedActions_[kCleanupSignalCount] = {};
  bool installed_[kCleanupSignalCount] = {};
  struct sigaction savedFileSizeAction_ = {};
  struct sigaction savedPipeAction_ = {};
};

}  // namespace ZEFI
