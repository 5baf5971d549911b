// The whole launch, from the process's arguments to a delivered request or a reported failure.

#ifndef LAUNCHER_LAUNCH_H_
#define LAUNCHER_LAUNCH_H_

#include <string>

// Exit statuses of the launcher.
inline constexpr int kLaunchDelivered = 0;
inline constexpr int kLaunchFailed = 1;

// The folder the main application is installed in: the launcher's path as it was invoked, less
// the 19 bytes of "Orbedo-Launcher.exe", or "./" when the path is no longer than that.
std::string InstallPrefix(const std::string& launcher_path);

// Hands arguments 1 to argc - 1 to the main application. Returns the exit status.
int Launch(int argc, const char* const* argv);

#endif  // LAUNCHER_LAUNCH_H_
