// Compressed formulas: the text compressed by the harness must read as the text itself, cut
// short it must be rejected as damage, and any bytes behind a format's magic number must be
// read or rejected cleanly.
#include <sys/mman.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "formula/decompress.hpp"
#include "fuzz/checks.hpp"
#include "negation/negation_graph.hpp"

#ifdef ZEFI_HAVE_ZLIB
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
#endif

namespace ZEFI::fuzz {
namespace {

struct Format {
  const char* name;
  std::string_view magic;
  // The text compressed, or nothing when this build has no library for the format.
  std::string (*compress)(std::string_view text);
};

std::string gzipped([[maybe_unused]] std::string_view text) {
  std::string out;
#ifdef ZEFI_HAVE_ZLIB
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return out;
  out.resize(deflateBound(&stream, text.size()) + 32);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
#endif
  return out;
}

std::string xzed([[maybe_unused]] std::string_view text) {
  std::string out;
#ifdef ZEFI_HAVE_LZMA
  out.resize(lzma_stream_buffer_bound(text.size()));
  std::size_t used = 0;
  if (lzma_easy_buffer_encode(
          1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
          text.size(), reinterpret_cast<std::uint8_t*>(out.data()), &used, out.size()) != LZMA_OK) {
    used = 0;
  }
  out.resize(used);
#endif
  return out;
}

std::string bzipped([[maybe_unused]] std::string_view text) {
  std::string out;
#ifdef ZEFI_HAVE_BZIP2
  unsigned int used = static_cast<unsigned int>(text.size() + text.size() / 100 + 700);
  out.resize(used);
  if (BZ2_bzBuffToBuffCompress(out.data(), &used, const_cast<char*>(text.data()),
                               static_cast<unsigned int>(text.size()), 1, 0, 0) != BZ_OK) {
    used = 0;
  }
  out.resize(used);
#endif
  return out;
}

std::string zstded([[maybe_unused]] std::string_view text) {
  std::string out;
#ifdef ZEFI_HAVE_ZSTD
  out.resize(ZSTD_compressBound(text.size()));
  const std::size_t used = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 1);
  out.resize(ZSTD_isError(used) ? 0 : used);
#endif
  return out;
}

const Format kFormats[] = {
    {"gzip", std::string_view("\x1f\x8b", 2), gzipped},
    {"xz",
     std::string_view("\xfd"
                      "7zXZ\0",
                      6),
     xzed},
    {"bzip2", "BZh1", bzipped},
    {"zstd", std::string_view("\x28\xb5\x2f\xfd", 4), zstded},
};

// What reading bytes (as a file holding them) gives: the message, or "" and the negation.
struct Outcome {
  std::string error;
  std::string negation;
};

Outcome readBytes(std::string_view bytes) {
  Outcome outcome;
  const int fd = memfd_create("zefi-fuzz", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0) {
    if (fd >= 0) ::close(fd);
    outcome.error = "(no memory file)";
    return outcome;
  }
  Formula formula;
  outcome.error = readQdimacsFrom(formula, fd);
  ::close(fd);
  if (!outcome.error.empty()) return outcome;
  std::ostringstream negation;
  try {
    writeNegation(formula, negation);
    outcome.negation = negation.str();
  } catch (const std::invalid_argument& tooLarge) {
    outcome.error = tooLarge.what();
  }
  return outcome;
}

}  // namespace

std::string checkCompressedQdimacs(std::string_view bytes) {
  if (bytes.size() < 2) return {};
  const Format& format = kFormats[static_cast<unsigned char>(bytes[1]) % 4];
  const std::string damaged = std::string("QBF File: Damaged ") + format.name + " data.";
  const std::string_view rest = bytes.substr(2);
  if (bytes[0] % 2 == 0) {
    // Raw bytes behind the magic number: a clean answer, whatever they are.
    const Outcome raw = readBytes(std::string(format.magic) + std::string(rest));
    if (raw.error.empty() || raw.error.rfind("QBF File", 0) == 0) return {};
    return std::string(format.name) + " data read with the message \"" + raw.error + "\"";
  }
  // Text that starts as compressed data is read as such, not as text: left out.
  for (const Format& other : kFormats) {
    if (rest.starts_with(other.magic.substr(0, 3))) return {};
  }
  const std::string packed = format.compress(rest);
  if (packed.empty()) return {};
  const Outcome plain = readBytes(rest);
  if (plain.error == "(no memory file)") return {};
  const Outcome unpacked = readBytes(packed);
  if (unpacked.error != plain.error || unpacked.negation != plain.negation) {
    return std::string(format.name) + " data read as \"" + unpacked.error + "\", the text as \"" +
           plain.error + "\"";
  }
  // Cut short anywhere past its magic number, the stream is damage, whatever came before.
  const std::size_t cut = format.magic.size() + static_cast<unsigned char>(bytes[0]) %
                                                    (packed.size() - format.magic.size());
  const Outcome shortened = readBytes(std::string_view(packed).substr(0, cut));
  if (shortened.error != damaged) {
    return std::string(format.name) + " data cut at " + std::to_string(cut) + " of " +
           std::to_string(packed.size()) + " read as \"" + shortened.error + "\"";
  }
  return {};
}

}  // namespace ZEFI::fuzz
