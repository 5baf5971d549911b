// What the system's tables say about the main application's port: which process accepted a
// connection, which session a process runs in, and whether anything listens. On a busy machine
// (a Remote Desktop server) connections and processes come and go between two calls, so each
// table is read with room to spare.

#ifndef LINK_SYSTEM_TABLES_H_
#define LINK_SYSTEM_TABLES_H_

#include <cstdint>
#include <optional>

#include "link/platform.h"

// The process that accepted the connection on `socket`: the owner of its server side. Empty when
// the system does not say.
std::optional<std::uint32_t> AcceptingProcess(platform::Socket socket);

// The session the process `process` runs in; empty when it cannot be told.
std::optional<std::uint32_t> SessionOf(std::uint32_t process);

// Whether a socket listens on the port of `address`, on its address or on any address. False
// also when the table cannot be read.
bool SomethingListensOn(const sockaddr_in& address);

#endif  // LINK_SYSTEM_TABLES_H_
