// The whole launch, from the process's arguments to a delivered request or a reported failure.

#ifndef LAUNCHER_LAUNCH_H_
#define LAUNCHER_LAUNCH_H_

#include <vector>

#include "link/platform.h"

// Exit statuses of the launcher.
inline constexpr int kLaunchDelivered = 0;
inline constexpr int kLaunchFailed = 1;

// The folder the main application is installed in: the launcher's path as it was invoked, less
// the 19 characters of "Orbedo-Launcher.exe"; when the path is no longer than that, the folder of
// the launcher's own file, or "" when that cannot be told.
platform::NativeString InstallPrefix(const platform::NativeString& launcher_path);

// Where the main application starts, when the launcher starts it.
enum class StartFolder {
  kLaunchers,   // The launcher's current folder, which the shell's open command makes the
                // document's own.
  kSelections,  // SelectionFolder's: COM starts the launcher for a selection in a folder of its
                // own (on Windows, the system folder).
};

// Hands `documents` to the main application, which `launcher_path`, the launcher's path as it was
// invoked, tells where to start from. Returns the exit status; nothing is thrown. The documents
// are the system's own text: UTF-16 on Windows, bytes on POSIX.
int Launch(const platform::NativeString& launcher_path,
           const std::vector<platform::NativeString>& documents, StartFolder start_folder);

// Hands arguments 1 to argc - 1 of the command line to the main application.
int Launch(int argc, const platform::NativeChar* const* argv);

// The folder the main application starts in for a selection whose first document is
// `first_document`: that document's folder, as from the open command, where it can be current
// (shorter than MAX_PATH); else the installation folder that `launcher_path` names.
platform::NativeString SelectionFolder(const platform::NativeString& launcher_path,
                                       const platform::NativeString& first_document);

#ifdef _WIN32
// Hands the documents of a selection dropped on the launcher's class to the main application
// (launcher/selection.h), then tells the user of the drops it refused: the launch for COM's
// start of the launcher.
int LaunchSelection(const wchar_t* launcher_path);
#endif

#endif  // LAUNCHER_LAUNCH_H_
