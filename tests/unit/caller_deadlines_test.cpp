#include "launcher/caller_deadlines.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <sstream>
#include <string>

namespace {

// A service on a scripted clock (the launcher started at 0), as the steps "<caller><does>@<ms>"
// of its callers, who activate, drop, leave or release; "!" where an activation or a drop is to be
// refused. And when the service is to end.
struct Service {
  const char* name;
  const char* steps;
  CallerDeadlines::Milliseconds end;
};

// Named in test listings by its name, not by the bytes of its pointers.
void PrintTo(const Service& service, std::ostream* out) { *out << service.name; }

class CallerDeadlinesTest : public testing::TestWithParam<Service> {};

TEST_P(CallerDeadlinesTest, ServesUntilTheLastCallersDeadline) {
  CallerDeadlines deadlines(0);
  std::istringstream steps(GetParam().steps);
  for (std::string step; steps >> step;) {
    CallerDeadlines::Caller caller = 0;
    CallerDeadlines::Milliseconds at = 0;
    char does = 0, at_sign = 0;
    std::istringstream(step) >> caller >> does >> at_sign >> at;
    const bool taken = step.back() != '!';
    if (does == 'a') {
      EXPECT_EQ(deadlines.Activated(at), taken ? std::optional(caller) : std::nullopt) << step;
    } else if (does == 'd') {
      EXPECT_EQ(deadlines.Dropped(caller, at), taken) << step;
    } else if (does == 'l') {
      deadlines.Left(caller, at);
    } else {
      deadlines.Released(caller, at);
    }
  }
  EXPECT_EQ(deadlines.End(), GetParam().end);
}

// Last: a drop after the caller's own deadline, while others are served, is taken and moves
// nothing; the last activation, its first answer and its release bound the service.
INSTANTIATE_TEST_SUITE_P(
    Callers, CallerDeadlinesTest,
    testing::Values(
        Service{"NoActivationCame", "", 30000},
        Service{"ExplorersTwoTypes", "0a@1100 0d@1110 0r@1120 1a@1130 1d@1140 1r@1150", 1650},
        Service{"HeldWithoutADrop", "0a@1000", 31000},
        Service{"LetGoWithoutADrop", "0a@1000 0r@1500", 2000},
        Service{"ASecondDropIsRefusedAndMovesNothing", "0a@0 0d@100 0d@1000!", 2100},
        Service{"LeavingAgainMovesNothingAndADropAfterIsTaken", "0a@0 0l@100 0l@1000 0d@1500",
                2100},
        Service{"AnotherCallersWaitOutlastsARelease", "0a@0 1a@100 0d@200 0r@300", 30100},
        Service{"ActivationsAreTakenForThirtySeconds", "0a@29999 1a@30000!", 59999},
        Service{"AReleaseWaitsForAnActivationOnlyWhileOneIsTaken",
                "0a@0 1a@29000 0r@29800 1d@40000 1r@41000", 41000},
        Service{"WhateverCallersDoTheServiceEndsWithin62Seconds",
                "0a@20000 1a@29999 2a@29999 1l@59998 2d@59999 1d@61000 2d@61500! 0d@61900 "
                "1r@61990 3a@61995!",
                61999}),
    [](const auto& service) { return std::string(service.param.name); });

}  // namespace
