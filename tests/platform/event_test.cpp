#include <gtest/gtest.h>

#include "platform/sync.h"
#include "platform/system.h"

namespace korvo {
namespace {

TEST(EventTest, SignalBeforeWaitIsKeptAndTakenOnceThenWaitTimesOut) {
  Event event;
  event.Signal();
  event.Signal();  // collapses with the first
  EXPECT_TRUE(event.Wait(0));
  uint32_t start = TickCount();
  EXPECT_FALSE(event.Wait(50));
  EXPECT_GE(TickCount() - start, 45u);
}

}  // namespace
}  // namespace korvo
