#include "client_check.h"

#include <cstdint>
#include <optional>

#include "link/system_tables.h"

bool MayHandOverDocuments(platform::Socket connection) {
  const Peer client = PeerOf(connection);
  switch (client.state) {
    case Peer::State::kUnknown:
      // What cannot be told counts as ours, as in the launcher's check of its server: refusing
      // then would refuse the user's own launcher wherever the table cannot be read.
      return true;
    case Peer::State::kClosed:
      // A launcher keeps its side open until it has read the reply. A client that had closed
      // before it was looked at (or whose process has ended) could not be told, and would get
      // past the check by doing so.
      return false;
    case Peer::State::kEstablished:
      break;
  }
  if (!client.owner) {
    return true;  // No owner named (Wine names none): as above, it counts as ours.
  }
  // The system's list of processes, which anyone may read, names every process that runs: one
  // that is not in it has ended since the table was read, and its connection with it.
  const std::optional<std::uint32_t> theirs = SessionOf(*client.owner);
  if (!theirs) {
    return false;
  }
  const std::optional<std::uint32_t> ours = SessionOf(platform::GetCurrentProcessId());
  if (ours && *theirs != *ours) {
    return false;
  }
  // Another user's program may run in this session (started with "Run as different user").
  return platform::RunsAsOurUser(*client.owner).value_or(true);
}
