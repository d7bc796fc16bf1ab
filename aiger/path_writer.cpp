// Writing a store to a named file: plain, or through "gzip -c > NAME" in the system shell.
// A ".gz" name is the target of a redirection there (so a leading "-" is no option), and a
// name holding shell syntax is quoted so that the shell interprets none of it.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "aiger/aiger.hpp"

namespace ZEFI {

namespace {

bool isPlainNameByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  return std::strchr("_./+,:@%=-", c) != nullptr && c != '\0';
}

}  // namespace

int shellQuote(const char* name, char* out, std::size_t capacity) {
  const std::size_t length = std::strlen(name);
  bool plain = length > 0;  // an empty word must be quoted or the shell drops it
  std::size_t needed = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!isPlainNameByte(c)) plain = false;
    needed += c == '\'' ? 4 : 1;
  }
  if (!plain) needed += 2;
  // The length is returned as an int; a name that long is refused like a small buffer.
  if (needed >= capacity || needed > 0x7fffffffu) return -1;
  if (plain) {
    std::memcpy(out, name, length + 1);
    return static_cast<int>(length);
  }
  char* cursor = out;
  *cursor++ = '\'';
  for (std::size_t i = 0; i < length; ++i) {
    if (name[i] == '\'') {
      std::memcpy(cursor, "'\\''", 4);
      cursor += 4;
    } else {
      *cursor++ = name[i];
    }
  }
  *cursor++ = '\'';
  *cursor = '\0';
  return static_cast<int>(needed);
}

std::FILE* AigStore::openShellPipe(const char* command, const char* path, const char* mode) {
  static const char kSuffix[] = " 2>/dev/null";
  const std::size_t commandLength = std::strlen(command);
  // Quoting at most quadruples the name and adds two quotes and a terminator.
  const std::size_t quotedCapacity = 4 * std::strlen(path) + 3;
  const std::size_t bytes = commandLength + 1 + quotedCapacity + sizeof kSuffix - 1;
  char* text = static_cast<char*>(allocate(bytes));
  std::memcpy(text, command, commandLength);
  text[commandLength] = ' ';
  std::FILE* pipe = nullptr;
  const int quoted = shellQuote(path, text + commandLength + 1, quotedCapacity);
  if (quoted >= 0) {
    std::memcpy(text + commandLength + 1 + quoted, kSuffix, sizeof kSuffix);
    pipe = popen(text, mode);
  }
  release(text, bytes);
  return pipe;
}

namespace {

// Ignores SIGPIPE for its lifetime and then restores the previous disposition: gzip may end
// early (say, its redirection failed), and the path may name a FIFO whose reader goes away;
// a write into such a pipe must then fail with EPIPE instead of killing the process.
class PipeSignalIgnored {
 public:
  PipeSignalIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~PipeSignalIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }
  PipeSignalIgnored(const PipeSignalIgnored&) = delete;
  PipeSignalIgnored& operator=(const PipeSignalIgnored&) = delete;

 private:
  struct sigaction previous_ {};
};

}  // namespace

int AigStore::writeToPath(const char* path) {
  const bool compressed = hasSuffix(path, ".gz");
  const PipeSignalIgnored pipeSignalIgnored;
  std::FILE* file = compressed ? openShellPipe("gzip -c >", path, "w") : std::fopen(path, "w");
  if (file == nullptr) return 0;
  // gzip's exit status tells whether the file was really written.
  const auto closed = [compressed, file] {
    if (!compressed) return std::fclose(file) == 0;
    const int status = pclose(file);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  // Only a regular file is removed: a failed write to a device such as /dev/full must not
  // take the device node with it.
  const auto removeRegular = [path] {
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode)) unlink(path);
  };

  // The writer hands over 64 KiB blocks itself; a second buffer would only copy them again.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const AigWriteMode mode = hasSuffix(path, ".aag") || hasSuffix(path, ".aag.gz") ? ascii : 0;
  int result = 0;
  try {
    result = writeToFile(mode, file);
  } catch (...) {  // memory ran out while renumbering: neither the stream nor the file stays
    closed();
    removeRegular();
    throw;
  }
  if (!closed()) result = 0;
  if (result == 0) removeRegular();
  return result;
}

}  // namespace ZEFI
