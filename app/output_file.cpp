#include "app/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "app/exception.hpp"

namespace ZEFI {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file's path, where a signal handler can reach it without allocating.
constexpr std::size_t kTempPathCapacity = 4096;
char pendingTempPath[kTempPathCapacity];
volatile std::sig_atomic_t pendingTempPathSet = 0;

// Only async-signal-safe calls: the handler was installed with SA_RESETHAND, so the signal
// raised again takes its default action once the handler returns.
void removeTempAndReraise(int signalNumber) {
  const int savedErrno = errno;
  if (pendingTempPathSet) ::unlink(pendingTempPath);
  ::raise(signalNumber);
  errno = savedErrno;
}

// Blocks the cleanup signals for its lifetime, so that the temporary file and the record of
// its path are created and removed together.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kCleanupSignals) sigaddset(&set, signalNumber);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

std::string directoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool readLink(const std::string& path, std::string& target) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target.assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
    if (buffer.size() >= (std::size_t{1} << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Follows the symbolic links that the name ends in, so that the link's target receives the
// output and the link stays. Directories along the way are resolved by the system.
bool resolveLinks(const std::string& name, std::string& target) {
  constexpr int kMaxLinkDepth = 40;
  target = name;
  for (int depth = 0;; ++depth) {
    struct stat status;
    if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    if (depth == kMaxLinkDepth) return false;
    std::string link;
    if (!readLink(target, link) || link.empty()) return false;
    target = link.front() == '/' ? link : directoryPart(target) + link;
  }
}

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void ignoreSignal(int signalNumber, struct sigaction& saved) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(signalNumber, &action, &saved);
}

}  // namespace

std::vector<int> cleanupSignals() {
  return std::vector<int>(std::begin(kCleanupSignals), std::end(kCleanupSignals));
}

static_assert(std::size(kCleanupSignals) == OutputFile::kCleanupSignalCount);

OutputFile::OutputFile(std::string outputName, bool standardOutput)
    : outputName_(std::move(outputName)), standardOutput_(standardOutput) {
  ignoreSignal(SIGXFSZ, savedFileSizeAction_);  // a file-size limit is a write error
  ignoreSignal(SIGPIPE, savedPipeAction_);      // so is a pipe without a reader
  if (standardOutput_) {
    fd_ = STDOUT_FILENO;  // closed by commit: closing tells what a file system kept back
    return;
  }
  std::string target;
  if (!resolveLinks(outputName_, target)) fail();
  struct stat status;
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) fail();
  if (exists && !S_ISREG(status.st_mode)) {
    fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) fail();
  } else {
    createTemporary(target, exists ? status.st_mode & 0777 : 0666 & ~currentUmask());
  }
}

void OutputFile::commit(bool written) {
  if (!written) fail();
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) fail();
  if (!temporary_.empty()) {
    SignalBlock block;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail();
    pendingTempPathSet = 0;
    temporary_.clear();
  }
}

void OutputFile::createTemporary(const std::string& target, mode_t mode) {
  constexpr std::size_t kMaxBaseInTempName = 200;  // room for the affixes within NAME_MAX
  const std::string directory = directoryPart(target);
  const std::string base = target.substr(directory.size()).substr(0, kMaxBaseInTempName);
  std::string temporary = directory + "." + base + ".XXXXXX";
  if (temporary.size() >= kTempPathCapacity) fail();
  installCleanupHandlers();
  {
    SignalBlock block;
    fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd_ < 0) fail();
    temporary_ = temporary;
    target_ = target;
    std::memcpy(pendingTempPath, temporary.c_str(), temporary.size() + 1);
    pendingTempPathSet = 1;
  }
  if (::fchmod(fd_, mode) != 0) fail();
}

void OutputFile::installCleanupHandlers() {
  for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeTempAndReraise;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    if (::sigaction(kCleanupSignals[i], nullptr, &savedActions_[i]) != 0) continue;
    if (savedActions_[i].sa_handler == SIG_IGN) continue;  // ignored signals stay ignored
    if (::sigaction(kCleanupSignals[i], &action, nullptr) == 0) installed_[i] = true;
  }
}

void OutputFile::cleanup() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    SignalBlock block;
    ::unlink(temporary_.c_str());
    pendingTempPathSet = 0;
    temporary_.clear();
  }
  for (std::size_t i = 0; i < kCleanupSignalCount; ++i) {
    if (installed_[i]) ::sigaction(kCleanupSignals[i], &savedActions_[i], nullptr);
    installed_[i] = false;
  }
  ::sigaction(SIGXFSZ, &savedFileSizeAction_, nullptr);
  ::sigaction(SIGPIPE, &savedPipeAction_, nullptr);
}

void OutputFile::fail() {
  cleanup();
  throw Exception(standardOutput_ ? std::string("Cannot write standard output.")
                                  : "Cannot write " + outputName_ + ".");
}

}  // namespace ZEFI
