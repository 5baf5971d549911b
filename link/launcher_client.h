// The launcher's only link to the main application: one connection to its loopback port, one
// launch request, the reply copied to standard output.

#ifndef LINK_LAUNCHER_CLIENT_H_
#define LINK_LAUNCHER_CLIENT_H_

#include <cstdint>
#include <string>

#include "link/platform.h"

class LauncherClient {
 public:
  LauncherClient();
  LauncherClient(const LauncherClient&) = delete;
  LauncherClient& operator=(const LauncherClient&) = delete;

  // Returns once a connection to the main application stands. When nothing listens, starts the
  // main application from `install_prefix` (none when it is empty) after the first failed attempt
  // and waits 10 seconds after each of the first three; gives up after the fourth. The main
  // application starts in `start_folder`, or in the launcher's current folder where that is empty;
  // where Windows refuses the folder (gone, or too long), in the installation folder. Refuses a
  // connection that the application of another session accepted. Every failure is shown in a
  // message box and then thrown as std::runtime_error.
  void Connect(const platform::NativeString& install_prefix,
               const platform::NativeString& start_folder = {});

  // Sends `body` and the request terminator, copies each received chunk of the reply to standard
  // output followed by a line end, and closes the connection once the main application closes its
  // side. A failed send is shown in a message box and thrown as std::runtime_error.
  void Send(const std::string& body);

 private:
  // One connection attempt. Returns true with the socket library started and the socket
  // connected, false with the socket library cleaned up when nothing accepted the connection.
  bool TryConnect();
  void StartMainApplication(const platform::NativeString& install_prefix,
                            const platform::NativeString& start_folder);

  addrinfo hints_;
  platform::Socket socket_ = platform::kInvalidSocket;
  std::int32_t failed_attempts_ = 0;
};

#endif  // LINK_LAUNCHER_CLIENT_H_
