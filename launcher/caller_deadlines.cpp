#include "launcher/caller_deadlines.h"

#include <algorithm>

namespace {

constexpr CallerDeadlines::Milliseconds kWaitForDrop = 30000;
constexpr CallerDeadlines::Milliseconds kWaitForRelease = 2000;
constexpr CallerDeadlines::Milliseconds kWaitForActivation = 500;

}  // namespace

CallerDeadlines::CallerDeadlines(Milliseconds started) : deadlines_{started + kWaitForDrop} {}

CallerDeadlines::Caller CallerDeadlines::Activated(Milliseconds now) {
  if (!first_caller_came_) {
    first_caller_came_ = true;
    deadlines_.front() = now + kWaitForDrop;
    return 0;
  }
  deadlines_.push_back(now + kWaitForDrop);
  return deadlines_.size() - 1;
}

void CallerDeadlines::Dropped(Caller caller, Milliseconds now) {
  deadlines_.at(caller) = now + kWaitForRelease;
}

void CallerDeadlines::Released(Caller caller, Milliseconds now) {
  deadlines_.at(caller) = now + kWaitForActivation;
}

CallerDeadlines::Milliseconds CallerDeadlines::End() const {
  return *std::max_element(deadlines_.begin(), deadlines_.end());
}
