// libFuzzer entry point: the checks of checkAigerRoundTrip on each input; a failed property aborts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = ZEFI::fuzz::checkAigerRoundTrip(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "==fuzz== property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
