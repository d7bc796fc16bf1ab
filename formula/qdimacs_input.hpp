// Where the QDIMACS reader takes its text from: blocks of bytes, and how many are left where
// that is known, so that the clause arrays can be reserved once instead of growing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZEFI {

class QdimacsInput {
 public:
  virtual ~QdimacsInput() = default;
  // Copies up to size bytes (size > 0) to destination and returns their count; 0 only at the
  // end of the input, after which the reader asks no more.
  virtual std::size_t read(char* destination, std::size_t size) = 0;
  // The bytes still to come, when known (a plain regular file); -1 otherwise, as for a pipe.
  virtual std::int64_t sizeLeft() const = 0;

 protected:
  QdimacsInput() = default;
  QdimacsInput(const QdimacsInput&) = default;
  QdimacsInput& operator=(const QdimacsInput&) = default;
};

}  // namespace ZEFI
