// libFuzzer entry point of one check (ZEFI_FUZZ_CHECK, set per target): a failed property aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure =
      ZEFI::fuzz::ZEFI_FUZZ_CHECK({reinterpret_cast<const char*>(data), size});
  if (!failure.empty()) {
    std::fprintf(stderr, "==fuzz== property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
