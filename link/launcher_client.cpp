#include "link/launcher_client.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr char kService[] = "46157";
constexpr int kRetryLimit = 3;  // Four attempts in all.
constexpr auto kWaitBetweenAttempts = std::chrono::seconds(10);
constexpr platform::NativeChar kMainApplication[] = NATIVE_TEXT("Orbedo.exe");
constexpr char kRequestTerminator[] = "<EOF>";
constexpr int kReceiveBufferSize = 512;

constexpr char kLauncherCaption[] = "Orbedo Launcher";

// Tells the user first, then raises the failure to the entry.
[[noreturn]] void Fail(const char* text, const char* caption, const char* error) {
  platform::MessageBoxA(text, caption);
  throw std::runtime_error(error);
}

// The session the process `owner` runs in. Windows tells only those who may open the process,
// which another user's process does not allow a standard user: its list of processes, which
// anyone may read, tells then.
std::optional<std::uint32_t> SessionOf(std::uint32_t owner) {
  if (const std::optional<std::uint32_t> session = platform::ProcessIdToSessionId(owner)) {
    return session;
  }
  return platform::NtQuerySystemInformationSessionId(owner);
}

// Whether the program that accepted the connection on `socket` positively runs in another session
// than the launcher (on the host build: as another user), where it would get the document and the
// user who opened it would see nothing. Whatever cannot be told counts as not: a wrong answer must
// never refuse the user's own application.
bool AcceptedInAnotherSession(platform::Socket socket) {
  sockaddr_in ours = {};
  sockaddr_in theirs = {};
  if (platform::getsockname(socket, &ours) != 0 || platform::getpeername(socket, &theirs) != 0) {
    return false;
  }
  // The server side of this very connection: its local end is our peer, its remote end is us.
  const std::optional<std::vector<platform::TcpConnection>> table =
      platform::GetExtendedTcpTable(theirs, ours);
  if (!table) {
    return false;
  }
  const auto same = [](const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
  };
  const auto accepted = std::find_if(table->begin(), table->end(), [&](const auto& connection) {
    return same(connection.local, theirs) && same(connection.remote, ours);
  });
  if (accepted == table->end() || !accepted->owner) {
    return false;
  }
  const std::optional<std::uint32_t> their_session = SessionOf(*accepted->owner);
  const std::optional<std::uint32_t> our_session = SessionOf(platform::GetCurrentProcessId());
  return their_session && our_session && *their_session != *our_session;
}

// Sleeps until the monotonic clock has advanced by `duration`, however often the sleep is cut
// short.
void Wait(platform::Clock::duration duration) {
  const auto deadline = platform::MonotonicNow() + duration;
  for (auto left = duration; left > left.zero(); left = deadline - platform::MonotonicNow()) {
    platform::SleepFor(left);
  }
}

struct AddressListDeleter {
  void operator()(addrinfo* list) const { platform::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

}  // namespace

LauncherClient::LauncherClient() : hints_{} {
  hints_.ai_family = AF_UNSPEC;
  hints_.ai_socktype = SOCK_STREAM;
  hints_.ai_protocol = IPPROTO_TCP;
}

void LauncherClient::Connect(const platform::NativeString& install_prefix) {
  while (!TryConnect()) {
    if (failed_attempts_ >= kRetryLimit) {
      Fail("Orbedo launcher failed to communicate with Orbedo.exe",
           "Couldn't communicate with Orbedo", "Couldn't communicate with Orbedo");
    }
    if (failed_attempts_++ == 0) {
      StartMainApplication(install_prefix);
    }
    Wait(kWaitBetweenAttempts);
  }
  if (AcceptedInAnotherSession(socket_)) {
    platform::closesocket(socket_);
    platform::WSACleanup();
    Fail(
        "Orbedo is already running in another user's session on this computer, so the document "
        "was not opened.\n\nA document can only be opened in Orbedo from the session it runs in: "
        "open it there, or ask that user to close Orbedo, and open it again.",
        kLauncherCaption, "Orbedo is running in another session");
  }
}

bool LauncherClient::TryConnect() {
  if (platform::WSAStartup() != 0) {
    Fail("Socket error", kLauncherCaption, "Failed to initialize socket");
  }

  addrinfo* resolved = nullptr;
  if (platform::getaddrinfo(kHost, kService, &hints_, &resolved) != 0) {
    platform::WSACleanup();
    Fail("Socket error", kLauncherCaption, "Failed to resolve address");
  }
  AddressList addresses(resolved);

  for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
    socket_ = platform::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket_ == platform::kInvalidSocket) {
      addresses.reset();
      platform::WSACleanup();
      Fail("Socket error", kLauncherCaption, "Socket failed");
    }
    // Where the system does not take it, a refusal is only reported later: nothing else changes.
    platform::WSAIoctlNoSynRetransmissions(socket_);
    if (platform::connect(socket_, address->ai_addr, address->ai_addrlen) !=
        platform::kSocketError) {
      return true;  // The socket library stays started for Send.
    }
    platform::closesocket(socket_);
    socket_ = platform::kInvalidSocket;
  }

  addresses.reset();
  platform::WSACleanup();
  return false;
}

void LauncherClient::StartMainApplication(const platform::NativeString& install_prefix) {
  // The program is named explicitly and its path quoted: from an unquoted command line with no
  // application name, Windows would try C:\Program.exe first for an installation under
  // C:\Program Files.
  const platform::NativeString application = install_prefix + kMainApplication;
  platform::NativeString command_line = NATIVE_TEXT('"') + application + NATIVE_TEXT('"');

  // An empty prefix names no folder: the program is never looked for in the current one.
  platform::ProcessHandles started;
  if (install_prefix.empty() ||
      !platform::CreateProcessW(application.c_str(), command_line.data(), &started)) {
    Fail("Orbedo launcher failed to start Orbedo.exe", "Couldn't start Orbedo",
         "Couldn't start Orbedo");
  }
  platform::CloseHandle(started.process);
  platform::CloseHandle(started.thread);
}

void LauncherClient::Send(const std::string& body) {
  const std::string request = body + kRequestTerminator;

  // A send may take only part of what it is given; a request is never cut short.
  for (std::size_t sent = 0; sent < request.size();) {
    const int length = static_cast<int>(std::min<std::size_t>(request.size() - sent, INT_MAX));
    const int result = platform::send(socket_, request.data() + sent, length);
    if (result <= 0) {
      platform::closesocket(socket_);
      platform::WSACleanup();
      Fail("Socket send error", kLauncherCaption, "Send failed");
    }
    sent += static_cast<std::size_t>(result);
  }

  char buffer[kReceiveBufferSize] = {};
  for (int received; (received = platform::recv(socket_, buffer, sizeof buffer)) > 0;) {
    // Output that cannot be written (no console attached) is of no consequence.
    std::fwrite(buffer, 1, static_cast<std::size_t>(received), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
  }

  platform::closesocket(socket_);
  platform::WSACleanup();
}
