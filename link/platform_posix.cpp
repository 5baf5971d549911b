// The launcher's system calls on the Linux host: POSIX sockets and posix_spawn, with the message
// box written as one line on standard error.

#include <fcntl.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "link/platform.h"

extern char** environ;

namespace platform {

int WSAStartup() { return 0; }

int WSACleanup() { return 0; }

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  return ::getaddrinfo(node, service, hints, result);
}

void freeaddrinfo(addrinfo* list) { ::freeaddrinfo(list); }

Socket socket(int family, int type, int protocol) {
  // Like a Windows socket, not inherited by the main application.
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int connect(Socket socket, const sockaddr* address, std::size_t length) {
  return ::connect(socket, address, static_cast<socklen_t>(length));
}

int send(Socket socket, const char* data, int length) {
  // A peer that closed early must fail the send, not kill the process with SIGPIPE.
  return static_cast<int>(::send(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL));
}

int recv(Socket socket, char* buffer, int length) {
  return static_cast<int>(::recv(socket, buffer, static_cast<std::size_t>(length), 0));
}

int closesocket(Socket socket) { return ::close(socket); }

bool CreateProcessW(const char* application, char* command_line, ProcessHandles* started) {
  // Windows starts the main application without the launcher's handles; here its standard
  // streams go to /dev/null, so that it never holds the launcher's output open.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return false;
  }
  bool ready = true;
  for (int stream = 0; stream <= 2 && ready; ++stream) {
    ready = posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                             stream == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
  }
  pid_t pid = 0;
  char* const argv[] = {command_line, nullptr};
  const bool spawned =
      ready && posix_spawn(&pid, application, &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (spawned) {
    started->process = static_cast<Handle>(pid);
  }
  return spawned;
}

void CloseHandle(Handle) {
  // A pid needs no closing; the started program is not waited for.
}

void MessageBoxA(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}

Clock::time_point MonotonicNow() { return Clock::now(); }

void SleepFor(Clock::duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
  const timespec request{static_cast<time_t>(seconds.count()),
                         static_cast<long>(nanoseconds.count())};
  // A signal may end the sleep early; the caller sleeps again for the rest.
  nanosleep(&request, nullptr);
}

}  // namespace platform
