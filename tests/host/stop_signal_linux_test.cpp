// A stop signal that arrives before the runner starts waiting is kept, not fatal.
#include <gtest/gtest.h>

#include <csignal>

#include "stop_signal.h"

TEST(StopSignal, ASignalBeforeTheWaitEndsTheWaitAtOnce) {
  vhost::armStopSignals();
  // Without the handler armed, SIGTERM's default action would end this test program.
  ASSERT_EQ(std::raise(SIGTERM), 0);
  vhost::waitForStop(std::nullopt);  // returns because the signal was kept
  SUCCEED();
}
