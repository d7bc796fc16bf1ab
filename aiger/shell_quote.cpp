// Quoting of file names for the command text of the writer's gzip pipe.
//
// The writer hands ".gz" names to the system shell as the target of a redirection (so a
// leading "-" is no option there), and a name holding shell syntax (";", "$(...)", quotes,
// spaces) would otherwise run commands. Names made only of characters that the shell never
// treats specially keep their bytes, so ordinary names produce exactly the plain command
// texts; every other name becomes one single-quoted word, in which the shell interprets
// nothing. A single quote cannot appear inside single quotes, so each one closes the quoted
// run, adds an escaped quote and opens a new run: ' becomes '\''.
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

}  // namespace ZEFI
