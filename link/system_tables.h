// What the system's tables say about the main application's port: which process is at the other
// end of a connection, which session a process runs in, and whether anything listens. On a busy
// machine (a Remote Desktop server) connections and processes come and go between two calls, so
// each table is read with room to spare.

#ifndef LINK_SYSTEM_TABLES_H_
#define LINK_SYSTEM_TABLES_H_

#include <cstdint>
#include <optional>

#include "link/platform.h"

// What the TCP table says of the socket at the other end of the connection on `socket`: the server
// side, the process that accepted, seen from the launcher; the client's, seen from the main
// application.
struct Peer {
  enum class State {
    kUnknown,      // The table, or the connection's own ends, cannot be read.
    kClosed,       // The table has no such socket, or one that has closed its side.
    kEstablished,  // Connected: neither end has closed.
  };
  State state = State::kUnknown;
  std::optional<std::uint32_t> owner;  // Where the table names one.
};
Peer PeerOf(platform::Socket socket);

// The session the process `process` runs in; empty when it cannot be told.
std::optional<std::uint32_t> SessionOf(std::uint32_t process);

// Whether a socket listens on the port of `address`, on its address or on any address. False
// also when the table cannot be read.
bool SomethingListensOn(const sockaddr_in& address);

#endif  // LINK_SYSTEM_TABLES_H_
