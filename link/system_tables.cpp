#include "link/system_tables.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// A busy machine's TCP table fits at once: 2,730 rows of 24 bytes. The process list, read only
// for another user's process, is larger but rarely needed.
constexpr std::uint32_t kFirstTcpTableSize = 64 * 1024;
constexpr std::uint32_t kFirstProcessListSize = 256 * 1024;
constexpr int kTableTries = 5;

// Reads a table that may grow between calls: `read(&size)` makes one call with a buffer of `size`
// bytes. After a call that found it too small, the next one asks for half as much again as the
// larger of what was asked and what the table needed, so that rows added meanwhile still fit.
template <typename Read>
platform::TableRead ReadGrowingTable(std::uint32_t size, Read read) {
  for (int tries = 0; tries < kTableTries; ++tries) {
    std::uint32_t needed = size;
    const platform::TableRead result = read(&needed);
    if (result != platform::TableRead::kTooSmall) {
      return result;
    }
    // A size of 0, or less than before, says nothing of what the table needs now.
    const std::uint64_t larger = std::max(size, needed);
    size = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(larger + larger / 2, std::numeric_limits<std::uint32_t>::max()));
  }
  return platform::TableRead::kFailed;
}

std::optional<std::vector<platform::TcpConnection>> TcpTable(platform::TcpRows kind,
                                                             const sockaddr_in& local,
                                                             const sockaddr_in& remote) {
  std::vector<platform::TcpConnection> table;
  const platform::TableRead result = ReadGrowingTable(kFirstTcpTableSize, [&](std::uint32_t* size) {
    table.clear();
    return platform::GetExtendedTcpTable(kind, local, remote, size, &table);
  });
  if (result != platform::TableRead::kRead) {
    return std::nullopt;
  }
  return table;
}

bool SameEnd(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

Peer PeerOf(platform::Socket socket) {
  sockaddr_in ours = {};
  sockaddr_in theirs = {};
  if (platform::getsockname(socket, &ours) != 0 || platform::getpeername(socket, &theirs) != 0) {
    return {};
  }
  // The other end of this very connection: its local end is our peer, its remote end is us.
  const auto table = TcpTable(platform::TcpRows::kConnections, theirs, ours);
  if (!table) {
    return {};
  }
  const auto row = std::find_if(table->begin(), table->end(), [&](const auto& connection) {
    return SameEnd(connection.local, theirs) && SameEnd(connection.remote, ours);
  });
  if (row == table->end()) {
    return {Peer::State::kClosed, std::nullopt};
  }
  return {row->established ? Peer::State::kEstablished : Peer::State::kClosed, row->owner};
}

std::optional<std::uint32_t> SessionOf(std::uint32_t process) {
  if (const std::optional<std::uint32_t> session = platform::ProcessIdToSessionId(process)) {
    return session;
  }
  // Windows tells only those who may open the process, which another user's process does not
  // allow a standard user: its list of processes, which anyone may read, tells then.
  std::optional<std::uint32_t> listed;
  const platform::TableRead result =
      ReadGrowingTable(kFirstProcessListSize, [&](std::uint32_t* size) {
        return platform::NtQuerySystemInformationSessionId(process, size, &listed);
      });
  return result == platform::TableRead::kRead ? listed : std::nullopt;
}

bool SomethingListensOn(const sockaddr_in& address) {
  const sockaddr_in any_remote = {};
  const auto listeners = TcpTable(platform::TcpRows::kListeners, address, any_remote);
  return listeners && std::any_of(listeners->begin(), listeners->end(), [&](const auto& listener) {
           return listener.local.sin_port == address.sin_port &&
                  (listener.local.sin_addr.s_addr == address.sin_addr.s_addr ||
                   listener.local.sin_addr.s_addr == INADDR_ANY);
         });
}
