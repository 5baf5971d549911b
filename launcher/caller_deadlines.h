// How long the launcher serves its class for a selection. Explorer opens a selection of several
// types by each one's association: it activates the class once per type, each right after the
// previous one is let go of, and several callers (two Explorer windows, any program) may hold a
// drop target at once. Each caller has a deadline of its own, which moves with what that caller
// does, and the launcher serves until the latest has passed: no caller's drop or release ever
// shortens another's wait.

#ifndef LAUNCHER_CALLER_DEADLINES_H_
#define LAUNCHER_CALLER_DEADLINES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

class CallerDeadlines {
 public:
  using Caller = std::size_t;
  using Milliseconds = std::uint64_t;  // On a monotonic clock.

  // COM starts the launcher for an activation that is still to come: the first caller, which is
  // waited for as for a drop.
  explicit CallerDeadlines(Milliseconds started);

  // A caller activated the class, or holds the class object (COM locks the server for it): it has
  // 30 seconds to drop.
  Caller Activated(Milliseconds now);
  // It dropped, or left without dropping: Explorer waits in its release until the launcher has
  // answered, so 2 seconds are ample for it to let go.
  void Dropped(Caller caller, Milliseconds now);
  // It let go. The next type of the same selection is activated at once: half a second is ample,
  // and every selection's launch waits that long.
  void Released(Caller caller, Milliseconds now);

  // When the last deadline passes.
  Milliseconds End() const;

 private:
  std::vector<Milliseconds> deadlines_;
  bool first_caller_came_ = false;
};

#endif  // LAUNCHER_CALLER_DEADLINES_H_
