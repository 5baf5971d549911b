#include "link/launcher_client.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "link/system_tables.h"

namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr char kService[] = "46157";
constexpr int kRetryLimit = 3;  // Four attempts in all.
constexpr auto kWaitBetweenAttempts = std::chrono::seconds(10);
constexpr platform::NativeChar kMainApplication[] = NATIVE_TEXT("Orbedo.exe");
constexpr char kRequestTerminator[] = "<EOF>";
constexpr int kReceiveBufferSize = 512;
// When a listener's queue is full Windows refuses with a reset, and the retransmissions that would
// have got through within about 2 seconds are turned off: so many tries, this far apart, instead.
constexpr int kFullQueueRetries = 4;
constexpr auto kFullQueuePause = std::chrono::milliseconds(500);

constexpr char kLauncherCaption[] = "Orbedo Launcher";

// Tells the user first, then raises the failure to the entry.
[[noreturn]] void Fail(const char* text, const char* caption, const char* error) {
  platform::MessageBoxA(text, caption);
  throw std::runtime_error(error);
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

// One connection to each address in turn, until one is accepted, into `socket`.
bool ConnectToAny(AddressList& addresses, platform::Socket& socket) {
  for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
    socket = platform::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket == platform::kInvalidSocket) {
      addresses.reset();
      platform::WSACleanup();
      Fail("Socket error", kLauncherCaption, "Socket failed");
    }
    // Where the system does not take it, a refusal is only reported later: nothing else changes.
    platform::WSAIoctlNoSynRetransmissions(socket);
    if (platform::connect(socket, address->ai_addr, address->ai_addrlen) !=
        platform::kSocketError) {
      return true;
    }
    platform::closesocket(socket);
    socket = platform::kInvalidSocket;
  }
  return false;
}

// Whether something listens on one of the addresses: the table of TCP sockets says.
bool ListenerAmong(const addrinfo* addresses) {
  for (const addrinfo* address = addresses; address; address = address->ai_next) {
    if (address->ai_family == AF_INET &&
        SomethingListensOn(*reinterpret_cast<const sockaddr_in*>(address->ai_addr))) {
      return true;
    }
  }
  return false;
}

}  // namespace

LauncherClient::LauncherClient() : hints_{} {
  hints_.ai_family = AF_UNSPEC;
  hints_.ai_socktype = SOCK_STREAM;
  hints_.ai_protocol = IPPROTO_TCP;
}

void LauncherClient::Connect(const platform::NativeString& install_prefix,
                             const platform::NativeString& start_folder) {
  while (!TryConnect()) {
    if (failed_attempts_ >= kRetryLimit) {
      Fail("Orbedo launcher failed to communicate with Orbedo.exe",
           "Couldn't communicate with Orbedo", "Couldn't communicate with Orbedo");
    }
    if (failed_attempts_++ == 0) {
      StartMainApplication(install_prefix, start_folder);
    }
    Wait(kWaitBetweenAttempts);
  }
  // Where the application of another session accepted, it would get the document and the user
  // who opened it would see nothing. Whatever cannot be told counts as ours: a wrong answer must
  // never refuse the user's own application.
  const std::optional<std::uint32_t> owner = PeerOf(socket_).owner;
  const std::optional<std::uint32_t> their_session = owner ? SessionOf(*owner) : std::nullopt;
  const std::optional<std::uint32_t> our_session =
      their_session ? SessionOf(platform::GetCurrentProcessId()) : std::nullopt;
  if (their_session && our_session && *their_session != *our_session) {
    platform::closesocket(socket_);
    platform::WSACleanup();
    Fail(
        "Orbedo is already running in another user's session on this computer, so the document "
        "was not opened.\n\nA document can only be opened in Orbedo from the session it runs in: "
        "open it there, or ask that user to close Orbedo, and open it again.",
        kLauncherCaption, "Orbedo is running in another session");
  }
  // Windows lets a program take the foreground only when the foreground program allows it, and
  // the application was not started by the program the user is looking at; the launcher was.
  if (owner) {
    platform::AllowSetForegroundWindow(*owner);
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

  bool connected = ConnectToAny(addresses, socket_);
  // A refusal while the application listens is a full queue, not an absent application.
  for (int retry = 0; !connected && retry < kFullQueueRetries && ListenerAmong(addresses.get());
       ++retry) {
    if (retry > 0) {
      Wait(kFullQueuePause);
    }
    connected = ConnectToAny(addresses, socket_);
  }

  addresses.reset();
  if (!connected) {
    platform::WSACleanup();
  }
  return connected;  // When connected, the socket library stays started for Send.
}

void LauncherClient::StartMainApplication(const platform::NativeString& install_prefix,
                                          const platform::NativeString& start_folder) {
  // The program is named explicitly and its path quoted: from an unquoted command line with no
  // application name, Windows would try C:\Program.exe first for an installation under
  // C:\Program Files.
  const platform::NativeString application = install_prefix + kMainApplication;
  const auto start = [&](bool break_away_from_job, const platform::NativeString& folder,
                         platform::ProcessHandles* started) {
    platform::NativeString command_line = NATIVE_TEXT('"') + application + NATIVE_TEXT('"');
    return platform::CreateProcessW(application.c_str(), command_line.data(),
                                    folder.empty() ? nullptr : folder.c_str(), break_away_from_job,
                                    started);
  };
  // A program that runs its children in a job that ends them all when it closes would end Orbedo,
  // and the user's unsaved work, with the launcher: it leaves the job where the job allows it.
  const bool in_job = platform::IsProcessInJob();
  const auto start_in = [&](const platform::NativeString& folder,
                            platform::ProcessHandles* started) {
    const platform::ProcessStart outside =
        in_job ? start(true, folder, started) : platform::ProcessStart::kFailed;
    return outside == platform::ProcessStart::kStarted ? outside : start(false, folder, started);
  };

  // An empty prefix names no folder: the program is never looked for in the current one.
  platform::ProcessHandles started;
  platform::ProcessStart result =
      install_prefix.empty() ? platform::ProcessStart::kFailed : start_in(start_folder, &started);
  // The folder of a selection's first document, gone since the drop: where Orbedo.exe is, rather
  // than none, which would be the folder COM started the launcher in.
  if (result == platform::ProcessStart::kFolderRefused && !start_folder.empty() &&
      start_folder != install_prefix) {
    result = start_in(install_prefix, &started);
  }
  if (result != platform::ProcessStart::kStarted) {
    Fail("Orbedo launcher failed to start Orbedo.exe", "Couldn't start Orbedo",
         "Couldn't start Orbedo");
  }
  // The right to the foreground, which the launcher has from the program the user works with, ends
  // with the user's next input: passed on only once Orbedo accepts, after its start-up, it may be
  // gone by then.
  platform::AllowSetForegroundWindow(started.id);
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
