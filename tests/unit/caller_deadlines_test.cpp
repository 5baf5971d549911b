#include "launcher/caller_deadlines.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

namespace {

// What a caller does at a moment of the scripted clock (the launcher started at 0): activates,
// drops, leaves or releases; and whether its activation or drop is to be taken.
struct Step {
  CallerDeadlines::Milliseconds at;
  char does;
  CallerDeadlines::Caller caller;
  bool taken = true;
};

struct Service {
  const char* name;
  std::vector<Step> steps;
  CallerDeadlines::Milliseconds end;
};

void PrintTo(const Service& service, std::ostream* out) { *out << service.name; }

class CallerDeadlinesTest : public testing::TestWithParam<Service> {};

TEST_P(CallerDeadlinesTest, ServesUntilTheLastCallersDeadline) {
  CallerDeadlines deadlines(0);
  for (const Step& step : GetParam().steps) {
    if (step.does == 'a') {
      EXPECT_EQ(deadlines.Activated(step.at),
                step.taken ? std::optional(step.caller) : std::nullopt)
          << step.at;
    } else if (step.does == 'd') {
      EXPECT_EQ(deadlines.Dropped(step.caller, step.at), step.taken) << step.at;
    } else if (step.does == 'l') {
      deadlines.Left(step.caller, step.at);
    } else {
      deadlines.Released(step.caller, step.at);
    }
  }
  EXPECT_EQ(deadlines.End(), GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Callers, CallerDeadlinesTest,
    testing::Values(
        Service{"NoActivationCame", {}, 30000},
        Service{"ExplorersTwoTypes",
                {{1100, 'a', 0},
                 {1110, 'd', 0},
                 {1120, 'r', 0},
                 {1130, 'a', 1},
                 {1140, 'd', 1},
                 {1150, 'r', 1}},
                1650},
        Service{"HeldWithoutADrop", {{1000, 'a', 0}}, 31000},
        Service{"LetGoWithoutADrop", {{1000, 'a', 0}, {1500, 'r', 0}}, 2000},
        Service{"ASecondDropIsRefusedAndMovesNothing",
                {{0, 'a', 0}, {100, 'd', 0}, {1000, 'd', 0, false}},
                2100},
        Service{"LeavingAgainMovesNothingAndADropAfterLeavingIsTaken",
                {{0, 'a', 0}, {100, 'l', 0}, {1000, 'l', 0}, {1500, 'd', 0}},
                2100},
        Service{"AnotherCallersWaitOutlastsARelease",
                {{0, 'a', 0}, {100, 'a', 1}, {200, 'd', 0}, {300, 'r', 0}},
                30100},
        Service{"ActivationsAreTakenForThirtySeconds",
                {{29999, 'a', 0}, {30000, 'a', 1, false}},
                59999},
        Service{"AReleaseWaitsForAnActivationOnlyWhileOneIsTaken",
                {{0, 'a', 0}, {29000, 'a', 1}, {29800, 'r', 0}, {40000, 'd', 1}, {41000, 'r', 1}},
                41000},
        // A drop after the caller's own deadline, while others are served, is taken and moves
        // nothing; the last activation, its first answer and its release bound the service.
        Service{"WhateverCallersDoTheServiceEndsWithin62Seconds",
                {{20000, 'a', 0},
                 {29999, 'a', 1},
                 {29999, 'a', 2},
                 {59998, 'l', 1},
                 {59999, 'd', 2},
                 {61000, 'd', 1},
                 {61500, 'd', 2, false},
                 {61900, 'd', 0},
                 {61990, 'r', 1},
                 {61995, 'a', 3, false}},
                61999}));

}  // namespace
