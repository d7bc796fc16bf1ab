// Stream buffers that exercise the reader and writer the way files and pipes can.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <streambuf>
#include <string>

namespace ZEFI::testing {

// Serves a string in pieces of at most `piece` bytes per request (sizes drawn at random
// when `randomPieces`), and cannot seek: like a pipe that delivers a little at a time.
class TricklingBuffer : public std::streambuf {
 public:
  TricklingBuffer(std::string text, std::size_t piece, bool randomPieces = false)
      : text_(std::move(text)), piece_(piece), random_(randomPieces) {}

 protected:
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(n), piece_);
    if (random_) want = std::min<std::size_t>(want, 1 + rng_() % piece_);
    const std::size_t got = std::min(want, text_.size() - pos_);
    std::memcpy(out, text_.data() + pos_, got);
    pos_ += got;
    return static_cast<std::streamsize>(got);
  }
  int_type underflow() override {
    return pos_ < text_.size() ? traits_type::to_int_type(text_[pos_]) : traits_type::eof();
  }
  int_type uflow() override {
    return pos_ < text_.size() ? traits_type::to_int_type(text_[pos_++]) : traits_type::eof();
  }

 private:
  std::string text_;
  std::size_t piece_;
  bool random_;
  std::size_t pos_ = 0;
  std::mt19937 rng_{12345};
};

// Serves `head`, then `fillCount` copies of `fill`, then `tail`, without holding the
// filler: for inputs far larger than a test should keep in memory.
class GeneratedBuffer : public std::streambuf {
 public:
  GeneratedBuffer(std::string head, char fill, std::size_t fillCount, std::string tail)
      : head_(std::move(head)), tail_(std::move(tail)), fill_(fill), fillCount_(fillCount) {}

 protected:
  std::streamsize xsgetn(char* out, std::streamsize n) override {
    std::size_t done = 0;
    const auto want = static_cast<std::size_t>(n);
    const std::size_t total = head_.size() + fillCount_ + tail_.size();
    while (done < want && pos_ < total) {
      std::size_t take;
      if (pos_ < head_.size()) {
        take = std::min(want - done, head_.size() - pos_);
        std::memcpy(out + done, head_.data() + pos_, take);
      } else if (pos_ < head_.size() + fillCount_) {
        take = std::min(want - done, head_.size() + fillCount_ - pos_);
        std::memset(out + done, fill_, take);
      } else {
        const std::size_t at = pos_ - head_.size() - fillCount_;
        take = std::min(want - done, tail_.size() - at);
        std::memcpy(out + done, tail_.data() + at, take);
      }
      done += take;
      pos_ += take;
    }
    return static_cast<std::streamsize>(done);
  }
  int_type underflow() override {
    char c;
    const std::size_t saved = pos_;
    if (xsgetn(&c, 1) != 1) return traits_type::eof();
    pos_ = saved;
    return traits_type::to_int_type(c);
  }
  int_type uflow() override {
    char c;
    return xsgetn(&c, 1) == 1 ? traits_type::to_int_type(c) : traits_type::eof();
  }

 private:
  std::string head_;
  std::string tail_;
  char fill_;
  std::size_t fillCount_;
  std::size_t pos_ = 0;
};

// Accepts at most `capacity` bytes, then refuses: a full disk.
class LimitedSink : public std::streambuf {
 public:
  explicit LimitedSink(std::size_t capacity) : capacity_(capacity) {}
  const std::string& text() const { return text_; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::size_t room = capacity_ - text_.size();
    const std::size_t take = std::min(room, static_cast<std::size_t>(n));
    text_.append(s, take);
    return static_cast<std::streamsize>(take);
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (text_.size() >= capacity_) return traits_type::eof();
    text_ += traits_type::to_char_type(c);
    return c;
  }

 private:
  std::size_t capacity_;
  std::string text_;
};

}  // namespace ZEFI::testing
