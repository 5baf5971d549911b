#include "launcher/launch.h"

#include <cstdio>
#include <stdexcept>

#include "launcher/launch_request.h"
#include "link/launcher_client.h"

namespace {

// Only the length of the launcher's own file name matters: it is cut off its path by count.
constexpr std::size_t kLauncherFileNameLength = sizeof("Orbedo-Launcher.exe") - 1;

}  // namespace

std::string InstallPrefix(const std::string& launcher_path) {
  if (launcher_path.size() <= kLauncherFileNameLength) {
    return "./";
  }
  return launcher_path.substr(0, launcher_path.size() - kLauncherFileNameLength);
}

int Launch(int argc, const char* const* argv) {
  // A POSIX caller may pass no arguments at all, not even the program's path.
  const std::string install_prefix = InstallPrefix(argc > 0 ? argv[0] : "");
  const std::string body = BuildRequestBody(argc, argv);

  LauncherClient client;
  try {
    client.Connect(install_prefix);
    client.Send(body);
  } catch (const std::runtime_error& error) {
    std::fputs("An exception occured: ", stderr);
    std::fputs(error.what(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    return kLaunchFailed;
  }
  return kLaunchDelivered;
}
