#include "launcher/caller_deadlines.h"

#include <algorithm>

namespace {

constexpr CallerDeadlines::Milliseconds kWaitForActivations = 30000;
constexpr CallerDeadlines::Milliseconds kWaitForDrop = 30000;
constexpr CallerDeadlines::Milliseconds kWaitForRelease = 2000;
constexpr CallerDeadlines::Milliseconds kWaitForActivation = 500;

}  // namespace

CallerDeadlines::CallerDeadlines(Milliseconds started)
    : activations_end_(started + kWaitForActivations),
      deadlines_{{started + kWaitForDrop, false, false}} {}

bool CallerDeadlines::TakesActivations(Milliseconds now) const { return now < activations_end_; }

std::optional<CallerDeadlines::Caller> CallerDeadlines::Activated(Milliseconds now) {
  if (!TakesActivations(now)) {
    return std::nullopt;
  }
  const Deadline waiting = {now + kWaitForDrop, false, false};
  if (!first_caller_came_) {
    deadlines_.front() = waiting;
    first_caller_came_ = true;
    return 0;
  }
  deadlines_.push_back(waiting);
  return deadlines_.size() - 1;
}

void CallerDeadlines::Answered(Deadline& deadline, Milliseconds now) {
  if (!deadline.answered && now <= deadline.at) {
    deadline.at = now + kWaitForRelease;
  }
  deadline.answered = true;
}

bool CallerDeadlines::Dropped(Caller caller, Milliseconds now) {
  Deadline& deadline = deadlines_.at(caller);
  if (deadline.dropped) {
    return false;
  }
  Answered(deadline, now);
  deadline.dropped = true;
  return true;
}

void CallerDeadlines::Left(Caller caller, Milliseconds now) {
  Answered(deadlines_.at(caller), now);
}

void CallerDeadlines::Released(Caller caller, Milliseconds now) {
  // Once activations are no longer taken there is none to wait for.
  deadlines_.at(caller).at =
      TakesActivations(now) ? std::min(now + kWaitForActivation, activations_end_) : now;
}

CallerDeadlines::Milliseconds CallerDeadlines::End() const {
  return std::max_element(deadlines_.begin(), deadlines_.end(),
                          [](const Deadline& a, const Deadline& b) { return a.at < b.at; })
      ->at;
}
