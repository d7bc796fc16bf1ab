// The one exception type of the program: its message is printed after "Error: ".
#pragma once

#include <string>
#include <utility>

namespace ZEFI {

class Exception {
 public:
  explicit Exception(std::string message) : message(std::move(message)) {}
  std::string message;
};

}  // namespace ZEFI
