// The launch request body: the forwarded arguments as a bracketed list of quoted, escaped
// strings, e.g. ["C:\\Data\\1crn.pdb","x\/y"]. The terminator is added when it is sent.

#ifndef LAUNCHER_LAUNCH_REQUEST_H_
#define LAUNCHER_LAUNCH_REQUEST_H_

#include <string>

// Puts a backslash in front of every backslash, double quote, slash, line feed, carriage return
// and tab; every other byte is copied as it is.
std::string EscapeArgument(const std::string& argument);

// The body for arguments 1 to argc - 1; argument 0 is the launcher's own path.
std::string BuildRequestBody(int argc, const char* const* argv);

#endif  // LAUNCHER_LAUNCH_REQUEST_H_
