// For the tests only: the thresholds from which the pipeline's helpers start, so that the
// paths a large input on two cores takes are run on small inputs and on any runner. No
// command sets them.
#pragma once

#include <cstddef>

namespace ZEFI {

struct PipelineThresholds {
  std::size_t preparedBytes;  // blocks from this size on have their pages readied ahead
  bool helpersOnOneCore;      // start the helpers where only one core is there to run them
};

void setPipelineThresholds(const PipelineThresholds& wanted);
PipelineThresholds pipelineThresholds();

}  // namespace ZEFI
