// Who may hand the main application documents: a process of its own user in its own session.
// Loopback is shared by every session of a machine, so without this check any user of a Remote
// Desktop server could have this user's application open a path of their choosing.

#ifndef TOOLS_STAND_IN_CLIENT_CHECK_H_
#define TOOLS_STAND_IN_CLIENT_CHECK_H_

#include "link/platform.h"

// Whether the client of `connection`, just accepted and not yet read, may hand over documents.
// When it may not, close the connection without reading from it.
bool MayHandOverDocuments(platform::Socket connection);

#endif  // TOOLS_STAND_IN_CLIENT_CHECK_H_
