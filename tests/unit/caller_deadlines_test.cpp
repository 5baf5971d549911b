#include "launcher/caller_deadlines.h"

#include <gtest/gtest.h>

namespace {

TEST(CallerDeadlinesTest, ServesUntilEveryCallerIsDone) {
  // Started at 0: the first activation is waited for 30 seconds.
  CallerDeadlines deadlines(0);
  EXPECT_EQ(deadlines.End(), 30000u);
  // Explorer's first type: activated, dropped, let go of; the next type is activated at once.
  const CallerDeadlines::Caller gro = deadlines.Activated(1000);
  deadlines.Dropped(gro, 1010);
  EXPECT_EQ(deadlines.End(), 3010u);
  deadlines.Released(gro, 1020);
  EXPECT_EQ(deadlines.End(), 1520u);
  const CallerDeadlines::Caller xtc = deadlines.Activated(1030);
  EXPECT_EQ(deadlines.End(), 31030u);

  // Another caller that activated meanwhile and drops later keeps its own 30 seconds, whatever
  // the first does; its release ends the service half a second later.
  const CallerDeadlines::Caller other = deadlines.Activated(1040);
  deadlines.Dropped(xtc, 1050);
  deadlines.Released(xtc, 1060);
  EXPECT_EQ(deadlines.End(), 31040u);
  deadlines.Dropped(other, 3540);
  deadlines.Released(other, 3600);
  EXPECT_EQ(deadlines.End(), 4100u);
}

TEST(CallerDeadlinesTest, ACallerThatNeverDropsIsWaitedForThirtySeconds) {
  CallerDeadlines deadlines(0);
  deadlines.Activated(500);
  EXPECT_EQ(deadlines.End(), 30500u);
  // Leaving without a drop is waited for as a drop is.
  const CallerDeadlines::Caller left = deadlines.Activated(600);
  deadlines.Dropped(left, 700);
  EXPECT_EQ(deadlines.End(), 30500u);
}

}  // namespace
