// The launcher's system calls on the Linux host: POSIX sockets and posix_spawn, /proc for the table
// of TCP connections, with the message box written as one line on standard error.

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "link/platform.h"

extern char** environ;

namespace platform {
namespace {

// The whole of a file that the kernel makes up as it is read; empty when it cannot be read.
std::optional<std::string> ReadProcFile(const char* path) {
  const int file = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  ssize_t count;
  while ((count = ::read(file, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(file);
  if (count < 0) {
    return std::nullopt;
  }
  return text;
}

// The next field of `line` (which loses it), fields being separated by spaces.
std::string_view NextField(std::string_view& line) {
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  const std::string_view field = line.substr(0, line.find(' '));
  line.remove_prefix(field.size());
  return field;
}

template <typename Number>
bool ParseNumber(std::string_view text, int base, Number* number) {
  const char* end = text.data() + text.size();
  return !text.empty() && std::from_chars(text.data(), end, *number, base).ptr == end;
}

// An end of a connection as /proc/net/tcp writes it: the address as the 32-bit value of its
// network-order bytes, then the port, both in hexadecimal ("0100007F:B44D" for 127.0.0.1:46157
// on a little-endian machine).
bool ParseEnd(std::string_view text, sockaddr_in* end) {
  const std::size_t colon = text.find(':');
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (colon == std::string_view::npos || !ParseNumber(text.substr(0, colon), 16, &address) ||
      !ParseNumber(text.substr(colon + 1), 16, &port)) {
    return false;
  }
  end->sin_family = AF_INET;
  end->sin_addr.s_addr = address;
  end->sin_port = htons(port);
  return true;
}

template <typename Name>
int IPv4Name(Name name, Socket socket, sockaddr_in* address) {
  socklen_t length = sizeof *address;
  if (name(socket, reinterpret_cast<sockaddr*>(address), &length) != 0 ||
      length != sizeof *address || address->sin_family != AF_INET) {
    return -1;
  }
  return 0;
}

}  // namespace

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

int getsockname(Socket socket, sockaddr_in* address) {
  return IPv4Name(::getsockname, socket, address);
}

int getpeername(Socket socket, sockaddr_in* address) {
  return IPv4Name(::getpeername, socket, address);
}

int WSAIoctlNoSynRetransmissions(Socket) { return 0; }

std::optional<std::vector<TcpConnection>> GetExtendedTcpTable() {
  const std::optional<std::string> text = ReadProcFile("/proc/net/tcp");
  if (!text) {
    return std::nullopt;
  }
  // After a line of headings, one line per socket:
  //   sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
  std::vector<TcpConnection> connections;
  std::string_view lines = *text;
  lines.remove_prefix(std::min(lines.find('\n'), lines.size()));
  while (!lines.empty()) {
    lines.remove_prefix(1);
    std::string_view line = lines.substr(0, lines.find('\n'));
    lines.remove_prefix(line.size());
    std::string_view fields[8];
    for (std::string_view& field : fields) {
      field = NextField(line);
    }
    TcpConnection connection = {};
    std::uint32_t uid = 0;
    if (ParseEnd(fields[1], &connection.local) && ParseEnd(fields[2], &connection.remote) &&
        ParseNumber(fields[7], 10, &uid)) {
      connection.owner = uid;
      connections.push_back(connection);
    }
  }
  return connections;
}

std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner) { return owner; }

std::optional<std::uint32_t> NtQuerySystemInformationSessionId(std::uint32_t) {
  return std::nullopt;
}

std::uint32_t GetCurrentProcessId() { return ::geteuid(); }

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

NativeString GetModuleFileNameW() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
    return {};
  }
  return NativeString(path, static_cast<std::size_t>(length));
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
