// The whole launch, from the process's arguments to a delivered request or a reported failure.

#ifndef LAUNCHER_LAUNCH_H_
#define LAUNCHER_LAUNCH_H_

#include "link/platform.h"

// Exit statuses of the launcher.
inline constexpr int kLaunchDelivered = 0;
inline constexpr int kLaunchFailed = 1;

// The folder the main application is installed in: the launcher's path as it was invoked, less
// the 19 characters of "Orbedo-Launcher.exe"; when the path is no longer than that, the folder of
// the launcher's own file, or "" when that cannot be told.
platform::NativeString InstallPrefix(const platform::NativeString& launcher_path);

// Hands arguments 1 to argc - 1 to the main application. Returns the exit status. The arguments
// are the system's own: UTF-16 on Windows, bytes on POSIX.
int Launch(int argc, const platform::NativeChar* const* argv);

#endif  // LAUNCHER_LAUNCH_H_
