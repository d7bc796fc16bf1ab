#include "formula/decompress.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <new>

#ifdef ZEFI_HAVE_ZLIB
#define ZLIB_CONST
#include <zlib.h>
#endif
#ifdef ZEFI_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef ZEFI_HAVE_BZIP2
#include <bzlib.h>
#endif
#ifdef ZEFI_HAVE_ZSTD
#include <zstd.h>
#include <zstd_errors.h>
#endif

namespace ZEFI {

// One format's decompression, a step at a time between the caller's buffers.
class InputBuffer::Decoder {
 public:
  enum class Outcome { Going, StreamEnd, Damaged };
  Decoder() = default;
  virtual ~Decoder() = default;
  Decoder(const Decoder&) = delete;  // the libraries' states point back at their streams
  Decoder& operator=(const Decoder&) = delete;
  // Decompresses from [in, inEnd) into [out, outEnd) and advances both; inputEnds tells that
  // no byte follows inEnd. StreamEnd: a member, stream or frame is complete and every byte of
  // it delivered. Throws std::bad_alloc when the library runs out of memory.
  virtual Outcome step(const unsigned char*& in, const unsigned char* inEnd, bool inputEnds,
                       char*& out, char* outEnd) = 0;
  // Makes ready for a further member or stream after StreamEnd.
  virtual void restart() = 0;
};

namespace {

using Outcome = InputBuffer::Decoder::Outcome;

// Compressed bytes are read from the descriptor in blocks of this size.
constexpr std::size_t kStagedSize = std::size_t{1} << 18;
// The longest magic, xz's.
constexpr std::size_t kMagicSize = 6;

// The libraries count their buffers in unsigned int; a longer buffer is taken in parts.
[[maybe_unused]] unsigned part(const void* begin, const void* end) {
  const auto size =
      static_cast<std::size_t>(static_cast<const char*>(end) - static_cast<const char*>(begin));
  return static_cast<unsigned>(std::min<std::size_t>(size, UINT_MAX));
}

#ifdef ZEFI_HAVE_ZLIB
class GzipDecoder final : public InputBuffer::Decoder {
 public:
  GzipDecoder() {
    // A gzip header and trailer around a window of the largest size.
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~GzipDecoder() override { inflateEnd(&stream_); }

  Outcome step(const unsigned char*& in, const unsigned char* inEnd, bool, char*& out,
               char* outEnd) override {
    stream_.next_in = in;
    stream_.avail_in = part(in, inEnd);
    stream_.next_out = reinterpret_cast<unsigned char*>(out);
    stream_.avail_out = part(out, outEnd);
    const int result = inflate(&stream_, Z_NO_FLUSH);
    in = stream_.next_in;
    out = reinterpret_cast<char*>(stream_.next_out);
    switch (result) {
      case Z_STREAM_END:
        return Outcome::StreamEnd;
      case Z_OK:
      case Z_BUF_ERROR:  // no progress possible with these buffers
        return Outcome::Going;
      case Z_MEM_ERROR:
        throw std::bad_alloc();
      default:
        return Outcome::Damaged;
    }
  }
  void restart() override { inflateReset(&stream_); }

 private:
  z_stream stream_{};
};
#endif

#ifdef ZEFI_HAVE_LZMA
class XzDecoder final : public InputBuffer::Decoder {
 public:
  XzDecoder() { start(); }
  ~XzDecoder() override { lzma_end(&stream_); }

  Outcome step(const unsigned char*& in, const unsigned char* inEnd, bool inputEnds, char*& out,
               char* outEnd) override {
    stream_.next_in = in;
    stream_.avail_in = static_cast<std::size_t>(inEnd - in);
    stream_.next_out = reinterpret_cast<std::uint8_t*>(out);
    stream_.avail_out = static_cast<std::size_t>(outEnd - out);
    // With concatenated streams, only the finishing call can tell the input is complete.
    const lzma_ret result = lzma_code(&stream_, inputEnds ? LZMA_FINISH : LZMA_RUN);
    in = stream_.next_in;
    out = reinterpret_cast<char*>(stream_.next_out);
    switch (result) {
      case LZMA_STREAM_END:
        return Outcome::StreamEnd;
      case LZMA_OK:
      case LZMA_BUF_ERROR:
        return Outcome::Going;
      case LZMA_MEM_ERROR:
        throw std::bad_alloc();
      default:
        return Outcome::Damaged;
    }
  }
  void restart() override { start(); }

 private:
  void start() {
    // As xz reads: every stream of the file, checksums verified, no limit on memory but the
    // system's.
    if (lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) {
      throw std::bad_alloc();
    }
  }
  lzma_stream stream_ = LZMA_STREAM_INIT;
};
#endif

#ifdef ZEFI_HAVE_BZIP2
class Bzip2Decoder final : public InputBuffer::Decoder {
 public:
  Bzip2Decoder() { start(); }
  ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&stream_); }

  Outcome step(const unsigned char*& in, const unsigned char* inEnd, bool, char*& out,
               char* outEnd) override {
    // The library takes its input through a pointer to non-const and never writes to it.
    char* const from = const_cast<char*>(reinterpret_cast<const char*>(in));
    stream_.next_in = from;
    stream_.avail_in = part(in, inEnd);
    stream_.next_out = out;
    stream_.avail_out = part(out, outEnd);
    const int result = BZ2_bzDecompress(&stream_);
    in += stream_.next_in - from;
    out = stream_.next_out;
    switch (result) {
      case BZ_STREAM_END:
        return Outcome::StreamEnd;
      case BZ_OK:
        return Outcome::Going;
      case BZ_MEM_ERROR:
        throw std::bad_alloc();
      default:
        return Outcome::Damaged;
    }
  }
  void restart() override {
    BZ2_bzDecompressEnd(&stream_);
    start();
  }

 private:
  void start() {
    stream_ = bz_stream{};
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) throw std::bad_alloc();
  }
  bz_stream stream_{};
};
#endif

#ifdef ZEFI_HAVE_ZSTD
class ZstdDecoder final : public InputBuffer::Decoder {
 public:
  ZstdDecoder() : stream_(ZSTD_createDCtx()) {
    if (stream_ == nullptr) throw std::bad_alloc();
    // Frames written with a long window (zstd --long) are read too, as xz's are.
    const ZSTD_bounds window = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
    if (!ZSTD_isError(window.error)) {
      ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, window.upperBound);
    }
  }
  ~ZstdDecoder() override { ZSTD_freeDCtx(stream_); }

  Outcome step(const unsigned char*& in, const unsigned char* inEnd, bool, char*& out,
               char* outEnd) override {
    ZSTD_inBuffer input{in, static_cast<std::size_t>(inEnd - in), 0};
    ZSTD_outBuffer output{out, static_cast<std::size_t>(outEnd - out), 0};
    const std::size_t result = ZSTD_decompressStream(stream_, &output, &input);
    in += input.pos;
    out += output.pos;
    if (ZSTD_isError(result)) {
      if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation) throw std::bad_alloc();
      return Outcome::Damaged;
    }
    // 0: the frame is complete and flushed; the next call starts the next frame.
    return result == 0 ? Outcome::StreamEnd : Outcome::Going;
  }
  void restart() override {}

 private:
  ZSTD_DCtx* stream_;
};
#endif

Compression recognise(const unsigned char* bytes, std::size_t size) {
  const auto starts = [&](std::initializer_list<unsigned char> magic) {
    return size >= magic.size() && std::equal(magic.begin(), magic.end(), bytes);
  };
  if (starts({0x1F, 0x8B})) return Compression::Gzip;
  if (starts({0xFD, '7', 'z', 'X', 'Z', 0x00})) return Compression::Xz;
  if (starts({'B', 'Z', 'h'}) && size >= 4 && bytes[3] >= '1' && bytes[3] <= '9') {
    return Compression::Bzip2;
  }
  if (starts({0x28, 0xB5, 0x2F, 0xFD})) return Compression::Zstd;
  // A zstd file may begin with a skippable frame, magic 0x184D2A50 to 0x184D2A5F.
  if (size >= 4 && (bytes[0] & 0xF0) == 0x50 && bytes[1] == 0x2A && bytes[2] == 0x4D &&
      bytes[3] == 0x18) {
    return Compression::Zstd;
  }
  return Compression::Plain;
}

const char* formatName(Compression compression) {
  switch (compression) {
    case Compression::Gzip:
      return "gzip";
    case Compression::Xz:
      return "xz";
    case Compression::Bzip2:
      return "bzip2";
    case Compression::Zstd:
      return "zstd";
    case Compression::Plain:
      break;
  }
  return "plain";
}

// The decoder of the format, or null when this build has no library for it.
std::unique_ptr<InputBuffer::Decoder> makeDecoder(Compression compression) {
  switch (compression) {
#ifdef ZEFI_HAVE_ZLIB
    case Compression::Gzip:
      return std::make_unique<GzipDecoder>();
#endif
#ifdef ZEFI_HAVE_LZMA
    case Compression::Xz:
      return std::make_unique<XzDecoder>();
#endif
#ifdef ZEFI_HAVE_BZIP2
    case Compression::Bzip2:
      return std::make_unique<Bzip2Decoder>();
#endif
#ifdef ZEFI_HAVE_ZSTD
    case Compression::Zstd:
      return std::make_unique<ZstdDecoder>();
#endif
    default:
      return nullptr;
  }
}

}  // namespace

InputBuffer::InputBuffer(int fd) : fd_(fd), staged_(new unsigned char[kStagedSize]) {
  struct stat status;
  if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    if (start >= 0) {
      startOffset_ = start;
      fileSize_ = status.st_size;
    }
  }
  // Only the magic's bytes: plain text goes on straight into the reader's blocks.
  while (stagedEnd_ < kMagicSize && !sourceEnded_) readMore(kMagicSize);
  compression_ = recognise(staged_.get(), stagedEnd_);
  if (compression_ == Compression::Plain) return;
  decoder_ = makeDecoder(compression_);
  if (decoder_ == nullptr) {
    error_ = std::string("QBF File: Compressed with ") + formatName(compression_) +
             ", which this build cannot read.";
    finished_ = true;
  }
}

InputBuffer::~InputBuffer() = default;

void InputBuffer::drain() {
  if (compression_ == Compression::Plain) return;
  constexpr std::size_t kSinkSize = std::size_t{1} << 16;
  const std::unique_ptr<char[]> sink(new char[kSinkSize]);
  while (!finished_) decode(sink.get(), kSinkSize);
}

std::streamsize InputBuffer::xsgetn(char* destination, std::streamsize count) {
  if (count <= 0) return 0;
  auto wanted = static_cast<std::size_t>(count);
  const auto buffered = std::min(wanted, static_cast<std::size_t>(egptr() - gptr()));
  if (buffered > 0) {
    std::memcpy(destination, gptr(), buffered);
    gbump(static_cast<int>(buffered));  // at most the size of single_
  }
  const std::size_t got = buffered + fill(destination + buffered, wanted - buffered);
  return static_cast<std::streamsize>(got);
}

InputBuffer::int_type InputBuffer::underflow() {
  if (gptr() == egptr()) {
    const std::size_t got = fill(single_, sizeof single_);
    if (got == 0) return traits_type::eof();
    setg(single_, single_, single_ + got);
  }
  return traits_type::to_int_type(*gptr());
}

std::size_t InputBuffer::read(char* destination, std::size_t size) {
  return static_cast<std::size_t>(xsgetn(destination, static_cast<std::streamsize>(size)));
}

std::int64_t InputBuffer::sizeLeft() const {
  // Only a plain regular file's size tells how much text is left.
  if (fileSize_ < 0 || compression_ != Compression::Plain) return -1;
  const std::int64_t here = position();
  return fileSize_ >= here ? fileSize_ - here : -1;
}

std::int64_t InputBuffer::position() const {
  return startOffset_ + static_cast<std::int64_t>(delivered_) - (egptr() - gptr());
}

std::size_t InputBuffer::fill(char* destination, std::size_t count) {
  if (count == 0) return 0;
  const std::size_t got = compression_ == Compression::Plain ? readPlain(destination, count)
                                                             : decode(destination, count);
  delivered_ += got;
  return got;
}

std::size_t InputBuffer::readPlain(char* destination, std::size_t count) {
  std::size_t got = std::min(count, stagedEnd_ - stagedBegin_);
  std::memcpy(destination, staged_.get() + stagedBegin_, got);
  stagedBegin_ += got;
  while (got < count && !sourceEnded_) {
    const ssize_t result = ::read(fd_, destination + got, count - got);
    if (result > 0) {
      got += static_cast<std::size_t>(result);
    } else if (result == 0 || errno != EINTR) {
      sourceEnded_ = true;
    }
  }
  return got;
}

std::size_t InputBuffer::decode(char* destination, std::size_t count) {
  char* out = destination;
  char* const outEnd = destination + count;
  while (out != outEnd && !finished_) {
    if (stagedBegin_ == stagedEnd_ && !sourceEnded_) {
      readMore(kStagedSize);
      continue;
    }
    if (atStreamEnd_) {
      if (stagedBegin_ == stagedEnd_) {
        finished_ = true;  // the last stream ended with the input
        break;
      }
      decoder_->restart();  // the bytes after a stream must be another stream
      atStreamEnd_ = false;
    }
    const unsigned char* const inBegin = staged_.get() + stagedBegin_;
    const unsigned char* in = inBegin;
    char* const outBegin = out;
    const Outcome outcome =
        decoder_->step(in, staged_.get() + stagedEnd_, sourceEnded_, out, outEnd);
    stagedBegin_ += static_cast<std::size_t>(in - inBegin);
    if (outcome == Outcome::Damaged) {
      damaged();
    } else if (outcome == Outcome::StreamEnd) {
      atStreamEnd_ = true;
    } else if (in == inBegin && out == outBegin && (stagedBegin_ != stagedEnd_ || sourceEnded_)) {
      damaged();  // the stream wants bytes that the input does not have: it was cut short
    }
  }
  return static_cast<std::size_t>(out - destination);
}

void InputBuffer::readMore(std::size_t limit) {
  if (stagedBegin_ == stagedEnd_) stagedBegin_ = stagedEnd_ = 0;
  while (!sourceEnded_) {
    const ssize_t result = ::read(fd_, staged_.get() + stagedEnd_, limit - stagedEnd_);
    if (result > 0) {
      stagedEnd_ += static_cast<std::size_t>(result);
      return;
    }
    if (result == 0 || errno != EINTR) sourceEnded_ = true;
  }
}

void InputBuffer::damaged() {
  error_ = std::string("QBF File: Damaged ") + formatName(compression_) + " data.";
  finished_ = true;
}

std::string readQdimacsFrom(Formula& formula, int fd) {
  // A directory opens on Linux and fails only at the first read.
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) return "QBF File not open.";
  // The reader takes the text in large blocks, which the buffer reads straight from the
  // descriptor or decompresses into.
  InputBuffer buffer(fd);
  const bool read = buffer.error().empty() && formula.readQdimacs(buffer);
  // Damaged compressed input is reported as such, also where the reader stopped early at
  // text that the damage garbled, before the library could tell.
  if (!read) buffer.drain();
  if (!buffer.error().empty()) return buffer.error();
  return read ? std::string() : formula.error;
}

std::string readQdimacsFile(Formula& formula, const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "QBF File not open.";
  std::string error = readQdimacsFrom(formula, fd);
  ::close(fd);
  return error;
}

}  // namespace ZEFI
