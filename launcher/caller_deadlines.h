// How long the launcher serves its class for a selection. Explorer opens a selection of several
// types by each one's association: it activates the class once per type, each right after the
// previous one is let go of, and several callers (two Explorer windows, any program) may hold a
// drop target at once. Each caller has a deadline of its own, which moves with what that caller
// does, and the launcher serves until the latest has passed: no caller's drop or release ever
// shortens another's wait.
//
// No caller can lengthen the service without bound either: activations are taken for 30 seconds
// from the start, each caller answers once, and nothing it does later moves its deadline past
// where its answer put it. So the service ends at the latest 62 seconds after the start (the last
// activation's 30 seconds, then 2 for the release), whatever the callers do.

#ifndef LAUNCHER_CALLER_DEADLINES_H_
#define LAUNCHER_CALLER_DEADLINES_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class CallerDeadlines {
 public:
  using Caller = std::size_t;
  using Milliseconds = std::uint64_t;  // On a monotonic clock.

  // COM starts the launcher for an activation that is still to come: the first caller, which is
  // waited for as for a drop.
  explicit CallerDeadlines(Milliseconds started);

  // Whether an activation at `now` is taken: for 30 seconds from the start.
  bool TakesActivations(Milliseconds now) const;
  // When activations are no longer taken.
  Milliseconds ActivationsEnd() const { return activations_end_; }

  // A caller activated the class, or holds the class object (COM locks the server for it): it has
  // 30 seconds to drop. Empty once activations are no longer taken. Adds nothing when it throws.
  std::optional<Caller> Activated(Milliseconds now);
  // It dropped: true when this is its first drop, which is taken. Explorer waits in its release
  // until the launcher has answered, so 2 seconds from its first answer (a drop, or leaving
  // without one) are ample for it to let go; an answer after its deadline moves nothing.
  bool Dropped(Caller caller, Milliseconds now);
  // It left without dropping: its first answer, unless it answered before.
  void Left(Caller caller, Milliseconds now);
  // It let go. The next type of the same selection is activated at once: half a second is ample,
  // and every selection's launch waits that long, but never past the end of activations.
  void Released(Caller caller, Milliseconds now);

  // When the last deadline passes.
  Milliseconds End() const;

 private:
  struct Deadline {
    Milliseconds at;
    bool answered;
    bool dropped;
  };
  // The caller's first answer.
  void Answered(Deadline& deadline, Milliseconds now);

  const Milliseconds activations_end_;
  std::vector<Deadline> deadlines_;
  bool first_caller_came_ = false;
};

#endif  // LAUNCHER_CALLER_DEADLINES_H_
