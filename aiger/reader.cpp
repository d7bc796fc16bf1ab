// AIGER reader: one templated parser serves a byte callback, a stdio stream (read under one
// lock, left where a byte-by-byte read would leave it), and descriptors read in 64 KiB
// blocks: a file, or the pipe of a "gzip -d -c" started without a shell for ".gz" names.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "aiger/aiger.hpp"
#include "aiger/page_table.hpp"

namespace ZEFI {

namespace {

constexpr std::uint32_t kReservedRecords = std::uint32_t{1} << 18;

constexpr std::size_t kReadBufferBytes = 64 * 1024;

// The character classes of the C locale; the end of input (-1) is in neither.
inline bool isWhiteSpace(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

class CallbackSource {
 public:
  CallbackSource(void* state, AigGetFn get) : state_(state), get_(get) {}
  int get() {
    const int c = get_(state_);
    return c < 0 ? -1 : (c & 0xff);
  }

 private:
  void* state_;
  AigGetFn get_;
};

// Caller's stream: the lock is taken once around the whole read.
class StreamSource {
 public:
  explicit StreamSource(std::FILE* file) : file_(file) {}
  int get() { return getc_unlocked(file_); }

 private:
  std::FILE* file_;
};

// A file the reader opened, or the decompressor's pipe: whole blocks as they arrive. ended()
// tells whether the reader took everything the decompressor wrote, so that its exit status
// speaks for these bytes.
class DescriptorSource {
 public:
  explicit DescriptorSource(int descriptor) : descriptor_(descriptor) {}
  int get() {
    if (next_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(buffer_[next_++]);
  }
  bool ended() const { return ended_; }
  bool failed() const { return failed_; }

 private:
  bool refill() {
    if (ended_) return false;
    ssize_t got = 0;
    do {
      got = ::read(descriptor_, buffer_, sizeof buffer_);
    } while (got < 0 && errno == EINTR);
    next_ = 0;
    end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    ended_ = got <= 0;
    failed_ = got < 0;
    return !ended_;
  }

  int descriptor_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  char buffer_[kReadBufferBytes];
};

// Moves a descriptor to 3 or above: a process started with a standard descriptor closed
// gets it back from open or pipe, and placing it as the child's 0 or 1 would then clobber
// another one.
int aboveStandardDescriptors(int descriptor) {
  if (descriptor < 0 || descriptor > 2) return descriptor;
  const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  close(descriptor);
  return moved;
}

// Starts "gzip -d -c" reading input and writing into a new pipe, whose read end is stored in
// output; returns the child's id, or -1. Its messages go to /dev/null: the reader reports.
// SIGPIPE is restored to its default for gzip alone, so that it stops at once when the
// reader stops early, whatever disposition the caller chose for itself.
pid_t startDecompressor(int input, int& output) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  ends[0] = aboveStandardDescriptors(ends[0]);
  ends[1] = aboveStandardDescriptors(ends[1]);
  pid_t child = -1;
  if (ends[0] >= 0 && ends[1] >= 0) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char program[] = "gzip";
    char decompress[] = "-d";
    char toStandardOutput[] = "-c";
    char* const arguments[] = {program, decompress, toStandardOutput, nullptr};
    if (posix_spawnp(&child, program, &actions, &attributes, arguments, environ) != 0) child = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  if (ends[1] >= 0) close(ends[1]);
  if (child < 0 && ends[0] >= 0) close(ends[0]);
  if (child >= 0) output = ends[0];
  return child;
}

// Reaps the child; true when it exited with status 0.
bool endedCleanly(pid_t child) {
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

struct AigReader {
  template <class Source>
  static const char* read(AigStore& store, Source& source);
  template <class Source>
  static bool parse(AigStore& store, Source& source);
  static const char* readCompressed(AigStore& store, const char* path);

  template <class Source>
  class Parser;
};

template <class Source>
class AigReader::Parser {
 public:
  Parser(AigStore& store, Source& source) : store_(store), source_(source) {}
  ~Parser() { store_.release(text_, textCapacity_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool run() {
    if (!readHeader()) return false;
    if (isAscii_ ? !readAsciiAnds() : !readBinaryAnds()) return false;
    return readSymbols() && readComments();
  }

 private:
  // Every byte is obtained here.
  void nextChar() {
    const int c = source_.get();
    if (isWhiteSpace(current_) && !isWhiteSpace(c)) tokenLine_ = lineNumber_;
    current_ = c;
    if (c == '\n') ++lineNumber_;
    if (c != -1) ++charCount_;
  }

  // The error helpers record the message in the store and return false.
  bool fail(const char* format, std::uint32_t number) {
    store_.setError(format, number);
    return false;
  }
  bool fail(const char* format, std::uint32_t first, std::uint32_t second) {
    store_.setError(format, first, second);
    return false;
  }
  bool fail(const char* format, std::uint32_t first, const char* text, std::uint32_t second) {
    store_.setError(format, first, text, second);
    return false;
  }

  // Digits accumulate modulo 2^32: an overlong number wraps and then meets the same
  // validity tests as any other.
  std::uint32_t readNumber() {
    std::uint32_t value = static_cast<std::uint32_t>(current_ - '0');
    for (;;) {
      nextChar();
      if (!isDigit(current_)) return value;
      value = value * 10 + static_cast<std::uint32_t>(current_ - '0');
    }
  }

  bool readLiteral(char terminator, std::uint32_t& value) {
    if (!isDigit(current_)) return fail("line %u: expected literal", lineNumber_);
    value = readNumber();
    literalLine_ = tokenLine_;
    if (current_ != terminator) {
      return fail(terminator == ' ' ? "line %u: expected space after literal %u"
                                    : "line %u: expected new line after literal %u",
                  literalLine_, value);
    }
    nextChar();
    return true;
  }

  bool checkUndefined(AigLiteral literal) {
    const std::uint32_t variable = literal >> 1;
    if (variable > store_.maxVar) return true;
    const AigVariable entry = store_.variableAt(variable);
    if (entry.isInput)
      return fail("line %u: literal %u already defined as input", literalLine_, literal);
    if (entry.isLatch)
      return fail("line %u: literal %u already defined as latch", literalLine_, literal);
    if (entry.isAnd)
      return fail("line %u: literal %u already defined as AND", literalLine_, literal);
    return true;
  }

  // A literal that may define a variable: even, not constant, within the header's M.
  bool isDefinable(AigLiteral literal) const {
    return literal != 0 && (literal & 1u) == 0 && (literal >> 1) <= maxVariable_;
  }
  bool isWithinRange(AigLiteral literal) const { return (literal >> 1) <= maxVariable_; }

  bool readHeader() {
    nextChar();
    if (current_ != 'a') return fail("line %u: expected 'a' as first character", lineNumber_);
    nextChar();
    if (current_ != 'i' && current_ != 'a') {
      return fail("line %u: expected 'i' or 'a' after 'a'", lineNumber_);
    }
    isAscii_ = current_ == 'a';
    nextChar();
    if (current_ != 'g') return fail("line %u: expected 'g' after 'a[ai]'", lineNumber_);
    nextChar();
    if (current_ != ' ') return fail("line %u: expected ' ' after 'a[ai]g'", lineNumber_);
    nextChar();
    if (!readLiteral(' ', maxVariable_) || !readLiteral(' ', inputs_) ||
        !readLiteral(' ', latches_) || !readLiteral(' ', outputs_) || !readLiteral('\n', ands_)) {
      return false;
    }
    // The sum is taken modulo 2^32 as the format defines it; counts that wrap it cannot be
    // reserved below, which then fails through the memory manager.
    if (!isAscii_ && inputs_ + latches_ + ands_ != maxVariable_) {
      return fail("line %u: invalid maximal variable index", lineNumber_);
    }
    // Counts of records that take bytes of the file are a hint until those bytes arrive: a
    // tiny file announcing a hundred million gates must not cost gigabytes up front, so at
    // most kReservedRecords are reserved and larger files grow by doubling. Inputs of the
    // binary form take no bytes; they are all made below, so they are reserved in full.
    const auto hint = [](std::uint32_t count) { return std::min(count, kReservedRecords); };
    store_.reserve(maxVariable_, isAscii_ ? hint(inputs_) : inputs_, hint(latches_), hint(outputs_),
                   hint(ands_));

    for (std::uint32_t k = 0; k < inputs_; ++k) {
      AigLiteral literal = 2 * (k + 1);
      if (isAscii_) {
        if (!readLiteral('\n', literal)) return false;
        if (!isDefinable(literal)) {
          return fail("line %u: literal %u is not a valid input", literalLine_, literal);
        }
        if (!checkUndefined(literal)) return false;
      }
      store_.addInput(literal, nullptr);
    }
    for (std::uint32_t k = 0; k < latches_; ++k) {
      AigLiteral literal = 2 * (inputs_ + k + 1);
      if (isAscii_) {
        if (!readLiteral(' ', literal)) return false;
        if (!isDefinable(literal)) {
          return fail("line %u: literal %u is not a valid latch", literalLine_, literal);
        }
        if (!checkUndefined(literal)) return false;
      }
      AigLiteral next = 0;
      if (!readLiteral('\n', next)) return false;
      if (!isWithinRange(next)) {
        return fail("line %u: literal %u is not a valid literal", literalLine_, next);
      }
      store_.addLatch(literal, next, nullptr);
    }
    for (std::uint32_t k = 0; k < outputs_; ++k) {
      AigLiteral literal = 0;
      if (!readLiteral('\n', literal)) return false;
      if (!isWithinRange(literal)) {
        return fail("line %u: literal %u is not a valid output", literalLine_, literal);
      }
      store_.addOutput(literal, nullptr);
    }
    return true;
  }

  bool readAsciiAnds() {
    for (std::uint32_t k = 0; k < ands_; ++k) {
      AigLiteral lhs = 0;
      AigLiteral rhs0 = 0;
      AigLiteral rhs1 = 0;
      if (!readLiteral(' ', lhs)) return false;
      if (!isDefinable(lhs)) {
        return fail("line %u: literal %u is not a valid LHS of AND", literalLine_, lhs);
      }
      if (!checkUndefined(lhs)) return false;
      if (!readLiteral(' ', rhs0)) return false;
      if (!isWithinRange(rhs0)) {
        return fail("line %u: literal %u is not a valid literal", literalLine_, rhs0);
      }
      if (!readLiteral('\n', rhs1)) return false;
      if (!isWithinRange(rhs1)) {
        return fail("line %u: literal %u is not a valid literal", literalLine_, rhs1);
      }
      store_.addAnd(lhs, rhs0, rhs1);
    }
    return true;
  }

  // One delta code. The checks follow the byte stream: at most five bytes with bit 7 set,
  // and after five such bytes a last byte of at most 7. Codes of up to five bytes whose
  // value fits 32 bits decode exactly; the longer or wider codes that are tolerated keep
  // the low 32 bits of the first five groups.
  bool readDelta(std::uint32_t& value) {
    if (current_ == -1) return fail("character %u: unexpected end of file", charCount_);
    const std::uint32_t start = charCount_;
    unsigned char code[6];
    unsigned length = 0;
    while ((current_ & 0x80) != 0) {
      if (length == 5) return fail("character %u: invalid code", start);
      code[length++] = static_cast<unsigned char>(current_);
      nextChar();
      if (current_ == -1) return fail("character %u: unexpected end of file", charCount_);
    }
    if (length == 5 && current_ > 7) return fail("character %u: invalid code", start);
    code[length++] = static_cast<unsigned char>(current_);
    nextChar();
    if (decodeDelta(code, length, &value) == 0) {
      value = 0;
      for (unsigned k = 0; k < length && k < 5; ++k) {
        value |= static_cast<std::uint32_t>(code[k] & 0x7f) << (7 * k);
      }
    }
    return true;
  }

  bool readBinaryAnds() {
    AigLiteral lhs = maxInputOrLatchLiteral(store_);
    for (std::uint32_t k = 0; k < ands_; ++k) {
      lhs += 2;
      std::uint32_t position = charCount_;
      std::uint32_t delta = 0;
      if (!readDelta(delta)) return false;
      // A first delta equal to lhs gives the constant false, which the writer produces for a
      // gate over two false operands; only a larger one leaves the range of literals.
      if (delta > lhs) return fail("character %u: invalid delta", position);
      const AigLiteral rhs0 = lhs - delta;
      position = charCount_;
      if (!readDelta(delta)) return false;
      if (delta > rhs0) return fail("character %u: invalid delta", position);
      store_.addAnd(lhs, rhs0, rhs0 - delta);
    }
    return true;
  }

  void appendText(char byte) {
    if (textLength_ == textCapacity_) {
      const std::size_t capacity = textCapacity_ == 0 ? 1 : 2 * textCapacity_;
      char* grown = static_cast<char*>(store_.allocate(capacity));
      if (textLength_ > 0) std::memcpy(grown, text_, textLength_);
      store_.release(text_, textCapacity_);
      text_ = grown;
      textCapacity_ = capacity;
    }
    text_[textLength_++] = byte;
  }

  // Collects bytes up to (not including) the next newline or the end of input.
  void collectLine() {
    while (current_ != '\n' && current_ != -1) {
      appendText(static_cast<char>(current_));
      nextChar();
    }
  }

  bool readSymbols() {
    for (;;) {
      if (current_ == -1 || current_ == 'c') return true;
      const char* kind = nullptr;
      AigSymbol* symbols = nullptr;
      std::uint32_t count = 0;
      switch (current_) {
        case 'i':
          kind = "input", symbols = store_.inputs, count = store_.inputCount;
          break;
        case 'l':
          kind = "latch", symbols = store_.latches, count = store_.latchCount;
          break;
        case 'o':
          kind = "output", symbols = store_.outputs, count = store_.outputCount;
          break;
        default:
          return fail("line %u: invalid symbol table entry", lineNumber_);
      }
      nextChar();
      std::uint32_t position = 0;
      if (!readLiteral(' ', position)) return false;
      if (position >= count) {
        return fail("line %u: %s symbol table entry position %u too large", literalLine_, kind,
                    position);
      }
      if (symbols[position].name != nullptr) {
        return fail("line %u: %s %u has multiple symbols", literalLine_, kind, position);
      }
      textLength_ = 0;
      collectLine();
      if (current_ == -1) return fail("line %u: new line missing", lineNumber_);
      nextChar();
      appendText('\0');
      symbols[position].name = store_.copyText(text_);
      textLength_ = 0;
    }
  }

  bool readComments() {
    if (current_ == -1) return true;
    nextChar();
    if (current_ != '\n') return fail("line %u: expected new line after 'c'", lineNumber_);
    nextChar();
    while (current_ != -1) {
      textLength_ = 0;
      collectLine();
      if (current_ == -1) return fail("line %u: new line after comment missing", lineNumber_);
      nextChar();
      appendText('\0');
      store_.addComment(text_);
      textLength_ = 0;
    }
    return true;
  }

  AigStore& store_;
  Source& source_;
  int current_ = ' ';  // before the first byte: white space
  std::uint32_t lineNumber_ = 1;
  std::uint32_t charCount_ = 0;
  std::uint32_t tokenLine_ = 1;
  // tokenLine as it stood when the last number ended: the line on which that literal began.
  // Consuming a newline terminator obtains the first byte of the next line, which moves
  // tokenLine on when that byte is not white space (or is the end of input); messages about
  // a literal's value must still name the literal's own line.
  std::uint32_t literalLine_ = 1;
  bool isAscii_ = false;
  std::uint32_t maxVariable_ = 0;
  std::uint32_t inputs_ = 0;
  std::uint32_t latches_ = 0;
  std::uint32_t outputs_ = 0;
  std::uint32_t ands_ = 0;
  char* text_ = nullptr;  // one name or comment line at a time, grown by doubling
  std::size_t textLength_ = 0;
  std::size_t textCapacity_ = 0;
};

template <class Source>
bool AigReader::parse(AigStore& store, Source& source) {
  Parser<Source> parser(store, source);
  return parser.run();
}  // the text buffer is handed back here

template <class Source>
const char* AigReader::read(AigStore& store, Source& source) {
  return parse(store, source) ? store.check() : store.error;
}

const char* AigReader::readCompressed(AigStore& store, const char* path) {
  const int input = aboveStandardDescriptors(open(path, O_RDONLY | O_CLOEXEC));
  if (input < 0) return store.setError("can not read '%s'", path);
  int output = -1;
  const pid_t child = startDecompressor(input, output);
  close(input);
  if (child < 0) return store.setError("can not decompress '%s'", path);

  bool parsed = false;
  bool ended = false;
  bool failed = false;
  {
    DescriptorSource source(output);
    try {
      parsed = parse(store, source);
    } catch (...) {  // out of memory: the decompressor goes too
      close(output);
      kill(child, SIGKILL);
      endedCleanly(child);
      throw;
    }
    ended = source.ended();
    failed = source.failed();
  }
  close(output);
  // A parser that stopped before the end has its own message; what gzip would make of the
  // rest does not matter, so it is stopped rather than left to decompress it.
  if (!ended) kill(child, SIGKILL);
  const bool clean = endedCleanly(child) && !failed;
  if (ended && !clean) {
    // The bytes seen were not the whole file: whatever the parser made of them (often an
    // end in mid-line), the cause is the damaged stream.
    store.releaseText(store.error);
    store.error = nullptr;
    return store.setError("can not decompress '%s'", path);
  }
  return parsed ? store.check() : store.error;
}

unsigned decodeDelta(const unsigned char* bytes, std::size_t size, std::uint32_t* value) {
  std::uint32_t result = 0;
  for (unsigned k = 0; k < 5; ++k) {
    if (k == size) return 0;
    const unsigned byte = bytes[k];
    // The fifth byte carries bits 28..31: anything above 15 is a sixth byte or lost bits.
    if (k == 4 && byte > 0x0f) return 0;
    result |= static_cast<std::uint32_t>(byte & 0x7f) << (7 * k);
    if ((byte & 0x80) == 0) {
      *value = result;
      return k + 1;
    }
  }
  return 0;
}

const char* AigStore::read(void* sourceState, AigGetFn get) {
  CallbackSource source(sourceState, get);
  return AigReader::read(*this, source);
}

const char* AigStore::readFromFile(std::FILE* file) {
  flockfile(file);
  StreamSource source(file);
  const char* result = nullptr;
  try {
    result = AigReader::read(*this, source);
  } catch (...) {
    funlockfile(file);
    throw;
  }
  funlockfile(file);
  return result;
}

const char* AigStore::readFromPath(const char* path) {
  if (hasSuffix(path, ".gz")) return AigReader::readCompressed(*this, path);
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return setError("can not read '%s'", path);
  const char* result = nullptr;
  {
    DescriptorSource source(file);
    try {
      result = AigReader::read(*this, source);
    } catch (...) {
      close(file);
      throw;
    }
  }
  close(file);
  return result;
}

}  // namespace ZEFI
