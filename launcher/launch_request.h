// The launch request body: the forwarded arguments as a bracketed list of quoted, escaped
// strings, e.g. ["C:\\Data\\1crn.pdb","x\/y"]. The terminator is added when it is sent.

#ifndef LAUNCHER_LAUNCH_REQUEST_H_
#define LAUNCHER_LAUNCH_REQUEST_H_

#include <string>
#include <vector>

// Puts a backslash in front of every backslash, double quote, slash, line feed, carriage return
// and tab; every other byte is copied as it is.
std::string EscapeArgument(const std::string& argument);

// The body for the forwarded arguments, in order.
std::string BuildRequestBody(const std::vector<std::string>& arguments);

#endif  // LAUNCHER_LAUNCH_REQUEST_H_
