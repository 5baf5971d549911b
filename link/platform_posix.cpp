// The launcher's system calls on the Linux host: POSIX sockets and posix_spawn, the kernel's socket
// diagnostics for who owns a connection, with the message box written as one line on standard
// error.

#include <fcntl.h>
#include <limits.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "link/platform.h"

extern char** environ;

namespace platform {
namespace {

sockaddr_in IPv4End(std::uint32_t address, std::uint16_t port) {
  sockaddr_in end = {};
  end.sin_family = AF_INET;
  end.sin_addr.s_addr = address;
  end.sin_port = port;
  return end;
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

TableRead GetExtendedTcpTable(TcpRows, const sockaddr_in& local, const sockaddr_in& remote,
                              std::uint32_t*, std::vector<TcpConnection>* table) {
  // The kernel looks up this one socket (sock_diag), a listener where `remote` is 0.0.0.0:0. The
  // whole table, /proc/net/tcp, would cost in proportion to every connection of the machine,
  // those in TIME_WAIT included: a thousand launches a minute made each one ten times slower.
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } query = {};
  query.header.nlmsg_len = sizeof query;
  query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  query.header.nlmsg_flags = NLM_F_REQUEST;
  query.request.sdiag_family = AF_INET;
  query.request.sdiag_protocol = IPPROTO_TCP;
  query.request.idiag_states = ~0u;
  query.request.id.idiag_sport = local.sin_port;
  query.request.id.idiag_dport = remote.sin_port;
  query.request.id.idiag_src[0] = local.sin_addr.s_addr;
  query.request.id.idiag_dst[0] = remote.sin_addr.s_addr;
  query.request.id.idiag_cookie[0] = query.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

  const int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag < 0) {
    return TableRead::kFailed;
  }
  alignas(nlmsghdr) char reply[512];
  ssize_t length = -1;
  if (::send(diag, &query, sizeof query, 0) == static_cast<ssize_t>(sizeof query)) {
    length = ::recv(diag, reply, sizeof reply, 0);
  }
  ::close(diag);
  // One message: the socket found, or an error (ENOENT: no such socket, a table without it).
  const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
  if (length >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) &&
      header->nlmsg_type == NLMSG_ERROR &&
      reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(header))->error == -ENOENT) {
    return TableRead::kRead;
  }
  if (length < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(inet_diag_msg))) ||
      header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return TableRead::kFailed;
  }
  const auto* found = reinterpret_cast<const inet_diag_msg*>(reply + NLMSG_HDRLEN);
  table->push_back({IPv4End(found->id.idiag_src[0], found->id.idiag_sport),
                    IPv4End(found->id.idiag_dst[0], found->id.idiag_dport), found->idiag_uid,
                    found->idiag_state == TCP_ESTABLISHED});
  return TableRead::kRead;
}

std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner) { return owner; }

TableRead NtQuerySystemInformationSessionId(std::uint32_t, std::uint32_t*,
                                            std::optional<std::uint32_t>*) {
  return TableRead::kFailed;
}

std::uint32_t GetCurrentProcessId() { return ::geteuid(); }

std::optional<bool> RunsAsOurUser(std::uint32_t owner) { return owner == ::geteuid(); }

bool IsProcessInJob() { return false; }

ProcessStart CreateProcessW(const char* application, char* command_line, const char* current_folder,
                            bool, ProcessHandles* started) {
  // Windows starts the main application without the launcher's handles; here its standard
  // streams go to /dev/null, so that it never holds the launcher's output open.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return ProcessStart::kFailed;
  }
  bool ready = true;
  for (int stream = 0; stream <= 2 && ready; ++stream) {
    ready = posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                             stream == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
  }
  if (ready && current_folder) {
    ready = posix_spawn_file_actions_addchdir_np(&actions, current_folder) == 0;
  }
  pid_t pid = 0;
  char* const argv[] = {command_line, nullptr};
  const bool spawned =
      ready && posix_spawn(&pid, application, &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    // posix_spawn tells a folder that cannot be entered from a program that cannot be run by
    // neither: a selection, the only launch that names a folder, is Windows' alone.
    return ProcessStart::kFailed;
  }
  started->process = static_cast<Handle>(pid);
  started->id = static_cast<std::uint32_t>(pid);
  return ProcessStart::kStarted;
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

void AllowSetForegroundWindow(std::uint32_t) {
  // No foreground to give: a desktop's window manager decides.
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
