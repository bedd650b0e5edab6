#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"

using namespace qor::platform;

TEST(Clock, SleepWaitsAtLeastTheGivenTime) {
  std::uint32_t start = tick_ms();
  sleep_ms(50);
  std::uint32_t elapsed = tick_ms() - start;
  // The Windows tick has a resolution of 10-16 ms.
  EXPECT_GE(elapsed, 34u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(Event, AutoResetLetsOneWaiterThroughPerSet) {
  Event event(false, false);
  EXPECT_FALSE(event.wait(0));
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_FALSE(event.wait(0)) << "an auto-reset event clears when a wait succeeds";
}

TEST(Event, ManualResetStaysSetUntilReset) {
  Event event(true, true);
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0));
  event.reset();
  EXPECT_FALSE(event.wait(20));
}

TEST(Event, WakesAWaiterOnAnotherThread) {
  Event event;
  std::atomic<bool> woke{false};
  std::thread waiter([&] { woke = event.wait(10000); });
  sleep_ms(20);
  event.set();
  waiter.join();
  EXPECT_TRUE(woke);
}

TEST(Event, TimedWaitGivesUpAfterItsTime) {
  Event event;
  std::uint32_t start = tick_ms();
  EXPECT_FALSE(event.wait(60));
  EXPECT_GE(tick_ms() - start, 44u);
}
