#include "formula/qdimacs_scanner.hpp"

namespace ZEFI::qdimacs {

Scanner::Scanner(QdimacsInput& source) : source_(source), buffer_(new char[kBlockSize]) {}

void Scanner::next(Token& token) {
  token = Token();
  const char* cur = cur_;
  const char* end = end_;
  for (;;) {
    while (cur != end && kSpace[static_cast<unsigned char>(*cur)]) ++cur;
    if (cur != end) break;
    cur_ = cur;
    if (!refill()) return;
    cur = cur_;
    end = end_;
  }
  token.present = true;
  std::size_t length = 0;
  char head[3] = {0, 0, 0};
  // 0: at the start, 1: after a sign, 2: inside the digits, 3: the number has ended.
  unsigned phase = 0;
  std::uint64_t value = 0;
  bool overflow = false;
  for (;;) {
    while (cur != end) {
      const unsigned char c = static_cast<unsigned char>(*cur);
      if (kSpace[c]) goto done;
      if (length < 3) head[length] = static_cast<char>(c);
      ++length;
      ++cur;
      if (phase == 3) continue;
      const unsigned digit = static_cast<unsigned>(c) - '0';
      if (digit < 10) {
        phase = 2;
        if (!overflow) {
          value = value * 10 + digit;
          if (value > kUnsignedMax) overflow = true;
        }
      } else if (phase == 0 && (c == '+' || c == '-')) {
        phase = 1;
        token.negative = c == '-';
      } else {
        phase = 3;
      }
    }
    cur_ = cur;
    const bool more = refill();
    cur = cur_;
    end = end_;
    if (!more) break;
  }
done:
  cur_ = cur;
  token.value = value;
  token.overflow = overflow;
  if (length == 1) {
    switch (head[0]) {
      case 'c':
        token.keyword = Keyword::C;
        break;
      case 'p':
        token.keyword = Keyword::P;
        break;
      case 'e':
        token.keyword = Keyword::E;
        break;
      case 'a':
        token.keyword = Keyword::A;
        break;
      default:
        break;
    }
  } else if (length == 3 && head[0] == 'c' && head[1] == 'n' && head[2] == 'f') {
    token.keyword = Keyword::Cnf;
  }
}

void Scanner::skipLine() {
  for (;;) {
    const void* newline = std::memchr(cur_, '\n', static_cast<std::size_t>(end_ - cur_));
    if (newline != nullptr) {
      cur_ = static_cast<const char*>(newline) + 1;
      return;
    }
    cur_ = end_;
    if (!refill()) return;
  }
}

bool Scanner::refill() {
  if (eof_) return false;
  consumedBefore_ += static_cast<std::uint64_t>(end_ - begin_);
  const std::size_t got = source_.read(buffer_.get(), kBlockSize);
  begin_ = cur_ = buffer_.get();
  end_ = begin_ + got;
  if (got == 0) eof_ = true;
  return got > 0;
}

}  // namespace ZEFI::qdimacs
