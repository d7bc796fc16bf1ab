// For the tests only: where the pipeline's helpers start, so that the paths a large input on
// two cores takes are run on any runner. No command sets them.
#pragma once

namespace ZEFI {

struct PipelineThresholds {
  bool helpersOnOneCore;  // start the helpers where only one core is there to run them
};

void setPipelineThresholds(const PipelineThresholds& wanted);
PipelineThresholds pipelineThresholds();

}  // namespace ZEFI
