// zefi <filename>: writes the negation of a QDIMACS formula to <name>.inverted.qdimacs.
#include <exception>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>

#include "app/invert.hpp"
#include "formula/formula.hpp"

namespace {

constexpr int kRejected = 30;

int report(const std::string& message) {
  std::cout << "Error: " << message << std::endl;
  return kRejected;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cout << "Usage: zefi <filename>" << std::endl;
    return 0;
  }
  // The input formula lives inside the try block, so that on every failure its memory is
  // given back before the message is printed.
  try {
    ZEFI::Formula input;
    ZEFI::invertFile(input, argv[1]);
  } catch (const ZEFI::Exception& failure) {
    return report(failure.message);
  } catch (const std::bad_alloc&) {
    return report("Out of memory.");
  } catch (const std::length_error&) {  // a container asked for more than it can address
    return report("Out of memory.");
  } catch (const std::exception& failure) {
    return report(failure.what());
  }
  return 0;
}
