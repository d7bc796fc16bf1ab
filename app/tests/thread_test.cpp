// A thread marked as batch work for a while gets its own policy back: the caller of the
// negation (a test process, say) is left as it was.
#include "app/thread.hpp"

#include <gtest/gtest.h>

namespace ZEFI {
namespace {

int policyNow() {
  int policy = -1;
  sched_param parameters{};
  pthread_getschedparam(pthread_self(), &policy, &parameters);
  return policy;
}

TEST(BatchScheduling, TheThreadsPolicyComesBack) {
  const int before = policyNow();
  {
    const BatchScheduling batch(true);
#ifdef SCHED_BATCH
    EXPECT_EQ(policyNow(), SCHED_BATCH);
#endif
  }
  EXPECT_EQ(policyNow(), before);
  {
    const BatchScheduling none(false);
    EXPECT_EQ(policyNow(), before);
  }
}

}  // namespace
}  // namespace ZEFI
