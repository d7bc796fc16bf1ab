// The QDIMACS reader's input from a file descriptor: plain text, or text compressed with gzip,
// xz, bzip2 or zstd, told apart by the first bytes and never by a file's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>

#include "formula/formula.hpp"
#include "formula/qdimacs_input.hpp"

namespace ZEFI {

enum class Compression : std::uint8_t { Plain, Gzip, Xz, Bzip2, Zstd };

// The reader's input, and a stream buffer for clients that read it as a stream (their block
// reads, sgetn, take the same way). Plain text goes from the descriptor
// straight into the caller's block, as a file stream's large reads do. Compressed text is
// decompressed into the caller's block through the format's library, from a fixed buffer of
// compressed bytes, so that memory does not grow with the input; concatenated gzip members,
// xz and bzip2 streams and zstd frames are read one after the other, as their tools do.
//
// Damage (corrupt data, a stream cut short, a bad checksum, bytes after the last stream) and
// a format this build has no library for end the input early: the reader sees an end of
// input, and error() tells what happened, so the caller reports that instead of whatever the
// reader made of the text. Read errors of the descriptor count as its end, as for a file
// stream. The descriptor is neither opened nor closed here.
class InputBuffer final : public std::streambuf, public QdimacsInput {
 public:
  explicit InputBuffer(int fd);  // reads the first bytes to recognise the format
  ~InputBuffer() override;
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  Compression compression() const { return compression_; }
  // Empty while all is well; else the message, e.g. "QBF File: Damaged gzip data.".
  const std::string& error() const { return error_; }
  // Decompresses and drops the rest of a compressed input, so that damage behind the point
  // where the reader stopped still shows in error().
  void drain();

  // The reader's block reads, the same bytes as sgetn's.
  std::size_t read(char* destination, std::size_t size) override;
  // Known for plain regular files only: a stream's length says nothing of its text.
  std::int64_t sizeLeft() const override;

  class Decoder;  // one per format, in the implementation

 protected:
  std::streamsize xsgetn(char* destination, std::streamsize count) override;
  int_type underflow() override;

 private:
  std::size_t fill(char* destination, std::size_t count);
  std::size_t readPlain(char* destination, std::size_t count);
  std::size_t decode(char* destination, std::size_t count);
  void readMore(std::size_t limit);  // reads into the staged bytes, up to limit in all
  void damaged();
  std::int64_t position() const;

  int fd_;
  Compression compression_ = Compression::Plain;
  std::string error_;
  std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<unsigned char[]> staged_;  // compressed bytes, or the first plain ones
  std::size_t stagedBegin_ = 0;
  std::size_t stagedEnd_ = 0;
  bool sourceEnded_ = false;  // the descriptor has no more bytes
  bool atStreamEnd_ = false;  // a compressed stream has just ended
  bool finished_ = false;     // no byte more will come
  std::uint64_t delivered_ = 0;
  std::int64_t startOffset_ = 0;
  std::int64_t fileSize_ = -1;  // of a plain regular file
  char single_[4096];           // the get area, for reads other than sgetn's
};

// Reads formula (new, empty) from the descriptor, plain or compressed. Returns the empty text
// when the formula was read, else the message: the reader's, or the damage of compressed
// input, which counts first.
std::string readQdimacsFrom(Formula& formula, int fd);
// The same for the file at path, opened here; "QBF File not open." when it cannot be opened
// or is a directory.
std::string readQdimacsFile(Formula& formula, const std::string& path);

}  // namespace ZEFI
