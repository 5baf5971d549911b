#include "launcher/launch.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/ansi_argument.h"
#include "launcher/launch_request.h"
#include "link/launcher_client.h"
#ifdef _WIN32
#include "launcher/selection.h"
#endif

namespace {

// Only the length of the launcher's own file name matters: it is cut off its path by count.
constexpr std::size_t kLauncherFileNameLength = sizeof("Orbedo-Launcher.exe") - 1;

// What the request carries of one document.
#ifdef _WIN32
std::string RequestArgument(const std::wstring& document) { return AnsiArgument(document); }
#else
std::string RequestArgument(const std::string& document) { return document; }
#endif

// The folder part of `path`, with its trailing separator; empty for a path without one (npos + 1
// is 0).
platform::NativeString FolderOf(const platform::NativeString& path) {
  return path.substr(0, path.find_last_of(platform::kPathSeparators) + 1);
}

int Failed(const std::runtime_error& error) {
  std::fputs("An exception occured: ", stderr);
  std::fputs(error.what(), stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  return kLaunchFailed;
}

}  // namespace

platform::NativeString InstallPrefix(const platform::NativeString& launcher_path) {
  if (launcher_path.size() > kLauncherFileNameLength) {
    return launcher_path.substr(0, launcher_path.size() - kLauncherFileNameLength);
  }
  // A bare name typed in a console, or an unquoted open command cut at a space ("C:\Program"):
  // the folder the launcher was loaded from. Never the current folder, which for a document opened
  // from the shell is the document's own, where anything may have been put beside it.
  // An unknown path gives an empty prefix, from which nothing is started.
  return FolderOf(platform::GetModuleFileNameW());
}

int Launch(const platform::NativeString& launcher_path,
           const std::vector<platform::NativeString>& documents) {
  const platform::NativeString install_prefix = InstallPrefix(launcher_path);

  // A document that cannot be passed on is refused before anything is started or sent.
  std::vector<std::string> arguments;
  try {
    for (const platform::NativeString& document : documents) {
      arguments.push_back(RequestArgument(document));
    }
  } catch (const std::runtime_error& error) {
    return Failed(error);
  }
  const std::string body = BuildRequestBody(arguments);

  LauncherClient client;
  try {
    client.Connect(install_prefix);
    client.Send(body);
  } catch (const std::runtime_error& error) {
    return Failed(error);
  }
  return kLaunchDelivered;
}

int Launch(int argc, const platform::NativeChar* const* argv) {
  // A POSIX caller may pass no arguments at all, not even the program's path.
  if (argc == 0) {
    return Launch(NATIVE_TEXT(""), {});
  }
  return Launch(argv[0], {argv + 1, argv + argc});
}

void EnterSelectionFolder(const platform::NativeString& launcher_path,
                          const platform::NativeString& first_document) {
  if (!platform::SetCurrentDirectoryW(FolderOf(first_document))) {
    platform::SetCurrentDirectoryW(InstallPrefix(launcher_path));
  }
}

#ifdef _WIN32
int LaunchSelection(const wchar_t* launcher_path) {
  std::optional<std::vector<std::wstring>> documents;
  try {
    documents = ReceiveSelection();
  } catch (const std::runtime_error& error) {
    return Failed(error);
  }
  // Activated and let go of without a drop: there is nothing to open.
  if (!documents) {
    return kLaunchDelivered;
  }
  // COM started the launcher in a folder of its own (on Windows the system folder), which
  // Orbedo.exe would inherit. From a command line both start in the document's folder, where the
  // shell starts every command: so here too.
  EnterSelectionFolder(launcher_path, documents->front());
  return Launch(launcher_path, *documents);
}
#endif
