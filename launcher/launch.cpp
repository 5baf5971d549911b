#include "launcher/launch.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "launcher/ansi_argument.h"
#include "launcher/launch_request.h"
#include "link/launcher_client.h"

namespace {

// Only the length of the launcher's own file name matters: it is cut off its path by count.
constexpr std::size_t kLauncherFileNameLength = sizeof("Orbedo-Launcher.exe") - 1;

// What the request carries of one argument.
#ifdef _WIN32
std::string RequestArgument(const wchar_t* argument) { return AnsiArgument(argument); }
#else
std::string RequestArgument(const char* argument) { return argument; }
#endif

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
  const platform::NativeString module = platform::GetModuleFileNameW();
  // npos + 1 is 0: an unknown path gives an empty prefix, from which nothing is started.
  return module.substr(0, module.find_last_of(platform::kPathSeparators) + 1);
}

int Launch(int argc, const platform::NativeChar* const* argv) {
  // A POSIX caller may pass no arguments at all, not even the program's path.
  const platform::NativeString install_prefix = InstallPrefix(argc > 0 ? argv[0] : NATIVE_TEXT(""));

  // An argument that cannot be passed on is refused before anything is started or sent.
  std::vector<std::string> arguments;
  try {
    for (int i = 1; i < argc; ++i) {
      arguments.push_back(RequestArgument(argv[i]));
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
