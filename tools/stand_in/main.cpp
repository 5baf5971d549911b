// A stand-in for the main application, for the tests and the demonstration, and the reference
// for the main application's own side of the launch protocol (docs/protocol.md): what it does
// and the settings it takes are in kUsage.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client_check.h"
#include "request_decoder.h"

namespace {

constexpr char kUsage[] = R"(Usage: orbedo-stand-in

A stand-in for the main application, Orbedo.exe, for the tests and the demonstration: it listens
on 127.0.0.1:46157, takes one launch request per connection, records it, answers and closes the
connection. It serves up to 4 connections at once; the others wait in the listener's queue. It
closes at once, reading nothing, a connection from a process of another user or of another
session, and one whose client has already closed its side or ended: no launcher does that. The
launcher starts the main application without arguments, so the settings come from the
environment:
  STAND_IN_DELAY      seconds to wait before listening, or "never" (default 0)
  STAND_IN_REQUESTS   connections to serve before exiting (default 1)
  STAND_IN_LIFETIME   seconds after which it exits, served or not (default 120)
  STAND_IN_READY      a file to create once it listens, holding the folder it was started in
  STAND_IN_RECORD     a file to which the raw bytes of each request are appended
  STAND_IN_ARGUMENTS  a file to which each request's decoded arguments are appended, each
                      followed by NUL
  STAND_IN_REPLY      the reply (default "OK <number of arguments>")
  STAND_IN_BEHAVIOUR  how each connection is served, for the tests of a broken or hostile peer:
    answer            read the request, answer, close (the default)
    close-unread      close at once, reading nothing
    reset-after-read  read the request, then reset the connection instead of answering
    trickle           answer one byte at a time, 10 ms apart
    flood             answer with 10 MiB: the reply over and over
    slow-read         read the request 256 bytes at a time, 5 ms apart, through a small
                      receive buffer, then answer
A connection that has not sent a whole request within 5 seconds of its accept is dropped
unanswered, so that stalled peers cannot keep the launchers queued behind them waiting for long;
so is one that sends what no launcher sends.

Exit status: 0 when every connection was served as configured, 1 otherwise (one refused or
dropped among them). A copy started while another one holds the port exits at once, quietly and
with 0: when several documents are opened together, each launcher starts the main application,
and all but the first copy are redundant. Any other failure to listen is reported on standard
error and in STAND_IN_RECORD, with status 1.
)";

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kInvalidSocket = INVALID_SOCKET;
void CloseSocket(Socket socket) { closesocket(socket); }
int Receive(Socket socket, char* buffer, int length) { return recv(socket, buffer, length, 0); }
int SendSome(Socket socket, const char* data, int length) { return send(socket, data, length, 0); }
int LastError() { return WSAGetLastError(); }
// A second copy binds as this one does, exclusively to 127.0.0.1, and Microsoft's table of bind
// results ("Using SO_REUSEADDR and SO_EXCLUSIVEADDRUSE") gives it WSAEADDRINUSE. WSAEACCES comes
// from a port in a range that Windows reserves, from another program holding the port
// exclusively on every address, or from a permission problem: no copy is serving then.
constexpr int kAddressInUse = WSAEADDRINUSE;
// A connection reset while it waited in the backlog fails its own accept, and only that.
constexpr int kResetBeforeAccept = WSAECONNRESET;
std::string Described(int error) {
  if (error == WSAEACCES) {
    return "access denied (WSAEACCES): the port lies in a range that Windows reserves, for "
           "Hyper-V or WinNAT (netsh interface ipv4 show excludedportrange protocol=tcp lists "
           "them), or another program holds it on every address, or this program may not use it";
  }
  return "Windows Sockets error " + std::to_string(error);
}
#else
using Socket = int;
constexpr Socket kInvalidSocket = -1;
void CloseSocket(Socket socket) { close(socket); }
int Receive(Socket socket, char* buffer, int length) {
  return static_cast<int>(recv(socket, buffer, static_cast<std::size_t>(length), 0));
}
int SendSome(Socket socket, const char* data, int length) {
  return static_cast<int>(send(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL));
}
int LastError() { return errno; }
constexpr int kAddressInUse = EADDRINUSE;
constexpr int kResetBeforeAccept = ECONNABORTED;
std::string Described(int error) { return std::strerror(error); }
#endif

constexpr unsigned short kPort = 46157;
using Clock = std::chrono::steady_clock;

enum class Behaviour { kAnswer, kCloseUnread, kResetAfterRead, kTrickle, kFlood, kSlowRead };

constexpr std::size_t kFloodSize = 10 << 20;
constexpr auto kTricklePause = std::chrono::milliseconds(10);
constexpr int kSlowReadPiece = 256;
constexpr auto kSlowReadPause = std::chrono::milliseconds(5);
// Long enough for the longest command line's request (about 98 KB) even read slowly, in under 3
// seconds, and for a selection of thousands of documents; short enough that the launchers queued
// behind a stalled peer are not kept waiting long.
constexpr auto kRequestTimeLimit = std::chrono::seconds(5);
// More than any selection's request: a peer that sends more is not a launcher.
constexpr std::size_t kLargestRequest = std::size_t{256} << 20;
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);
// So many connections are served at once, each within the bounds above. A few keep a stalled peer
// from holding up the launchers behind it; more would let a flood of connections take as much
// memory as it likes, while the rest wait in the listener's queue, where they cost nothing.
constexpr int kConnectionsAtOnce = 4;

struct Settings {
  bool listen = true;
  std::chrono::seconds delay{0};
  long requests = 1;
  std::chrono::seconds lifetime{120};
  std::string ready_file;
  std::string record_file;
  std::string arguments_file;
  const char* reply = nullptr;
  Behaviour behaviour = Behaviour::kAnswer;
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

long NumberFromEnvironment(const char* name, long fallback) {
  const std::string text = Environment(name);
  return text.empty() ? fallback : std::strtol(text.c_str(), nullptr, 10);
}

// Returns false for a name that is none of the behaviours.
bool BehaviourNamed(const std::string& name, Behaviour* behaviour) {
  const std::pair<const char*, Behaviour> kNames[] = {
      {"", Behaviour::kAnswer},
      {"answer", Behaviour::kAnswer},
      {"close-unread", Behaviour::kCloseUnread},
      {"reset-after-read", Behaviour::kResetAfterRead},
      {"trickle", Behaviour::kTrickle},
      {"flood", Behaviour::kFlood},
      {"slow-read", Behaviour::kSlowRead},
  };
  for (const auto& [known, value] : kNames) {
    if (name == known) {
      *behaviour = value;
      return true;
    }
  }
  return false;
}

// Empty when STAND_IN_BEHAVIOUR names no behaviour.
std::optional<Settings> ReadSettings() {
  Settings settings;
  if (!BehaviourNamed(Environment("STAND_IN_BEHAVIOUR"), &settings.behaviour)) {
    return std::nullopt;
  }
  settings.listen = Environment("STAND_IN_DELAY") != "never";
  if (settings.listen) {
    settings.delay = std::chrono::seconds(NumberFromEnvironment("STAND_IN_DELAY", 0));
  }
  settings.requests = NumberFromEnvironment("STAND_IN_REQUESTS", 1);
  settings.lifetime = std::chrono::seconds(NumberFromEnvironment("STAND_IN_LIFETIME", 120));
  settings.ready_file = Environment("STAND_IN_READY");
  settings.record_file = Environment("STAND_IN_RECORD");
  settings.arguments_file = Environment("STAND_IN_ARGUMENTS");
  settings.reply = std::getenv("STAND_IN_REPLY");
  return settings;
}

void AppendToFile(const std::string& path, const std::string& bytes) {
  static std::mutex writing;  // Each connection's bytes whole, one after the other.
  if (!path.empty()) {
    const std::lock_guard<std::mutex> lock(writing);
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
  }
}

template <typename Value>
void SetOption(Socket socket, int level, int name, const Value& value) {
  setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

enum class Listening { kYes, kPortTaken, kFailed };

// Listens on the launcher's port, leaving the socket in `*listener`, or says in `*failure` why it
// cannot.
Listening Listen(Behaviour behaviour, Socket* listener, std::string* failure) {
  const auto failed = [&](bool opened) {
    *failure = Described(LastError());
    if (opened) {
      CloseSocket(*listener);
    }
    return Listening::kFailed;
  };
  *listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (*listener == kInvalidSocket) {
    return failed(false);
  }
  if (behaviour == Behaviour::kSlowRead) {
    // Accepted connections inherit it: a small window, so that the sender has to wait for us.
    const int size = 1024;
    SetOption(*listener, SOL_SOCKET, SO_RCVBUF, size);
  }
#ifdef _WIN32
  // On Windows SO_REUSEADDR would let a second program bind the port beside a listening one (and
  // take launch requests meant for this one); exclusive use keeps every other program off it.
  const int exclusive = 1;
  SetOption(*listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, exclusive);
#else
  // Each served connection leaves this side in TIME_WAIT (it closes first); without this a new
  // copy could not listen again for a minute. On POSIX it never lets two sockets listen on the
  // same port.
  const int reuse = 1;
  SetOption(*listener, SOL_SOCKET, SO_REUSEADDR, reuse);
#endif
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(*listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (LastError() == kAddressInUse) {
      CloseSocket(*listener);
      return Listening::kPortTaken;
    }
    return failed(true);
  }
  // The backlog holds a burst of launchers, one per document opened together.
  if (listen(*listener, SOMAXCONN) != 0) {
    return failed(true);
  }
  return Listening::kYes;
}

// Whether `socket` has something to read (a connection, for a listener) before `deadline`.
bool ReadableBefore(Socket socket, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() <= 0) {
    return false;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout = {static_cast<long>(left.count() / 1000000),
                     static_cast<long>(left.count() % 1000000)};
  return select(static_cast<int>(socket + 1), &readable, nullptr, nullptr, &timeout) == 1;
}

// Waits for a connection until `deadline`; returns kInvalidSocket when none came.
Socket Accept(Socket listener, Clock::time_point deadline) {
  while (ReadableBefore(listener, deadline)) {
    const Socket connection = accept(listener, nullptr, nullptr);
    if (connection != kInvalidSocket) {
      return connection;
    }
    // A reset concerns that connection alone; a lack of sockets or memory passes, and the
    // connection stays queued. Giving up would close the listener on the launchers queued behind.
    if (LastError() != kResetBeforeAccept) {
      std::this_thread::sleep_for(kAcceptRetryPause);
    }
  }
  return kInvalidSocket;
}

// Reads one request, `piece` bytes at most at a time with `pause` after each: up to its
// terminator, or whatever came before the peer closed, the request turned out malformed or too
// large, or `deadline` passed.
std::string ReceiveRequest(Socket connection, int piece, Clock::duration pause,
                           Clock::time_point deadline, DecodedRequest* decoded) {
  std::string received;
  char buffer[4096];
  while (decoded->status == DecodedRequest::Status::kIncomplete &&
         received.size() <= kLargestRequest && ReadableBefore(connection, deadline)) {
    const int count = Receive(connection, buffer, std::min<int>(piece, sizeof buffer));
    if (count <= 0) {
      break;
    }
    received.append(buffer, static_cast<std::size_t>(count));
    // A request can end only with the read that brings the last byte of its terminator: parsing
    // after every read would cost the square of a large selection's size.
    if (std::memchr(buffer, '>', static_cast<std::size_t>(count))) {
      *decoded = DecodeRequest(received);
    }
    std::this_thread::sleep_for(pause);
  }
  return received;
}

std::string ReplyTo(const DecodedRequest& decoded, const char* configured) {
  return configured ? configured : "OK " + std::to_string(decoded.arguments.size());
}

// Sends `bytes` in pieces of `piece` bytes with `pause` between them; false when the peer stopped
// taking them.
bool SendAll(Socket connection, const std::string& bytes, std::size_t piece,
             Clock::duration pause) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    if (sent > 0) {
      std::this_thread::sleep_for(pause);
    }
    const std::size_t length = std::min(piece, bytes.size() - sent);
    for (std::size_t end = sent + length; sent < end;) {
      const int count = SendSome(connection, bytes.data() + sent, static_cast<int>(end - sent));
      if (count <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(count);
    }
  }
  return true;
}

// Serves one connection the configured way; the caller closes it. Returns whether the exchange
// went as the behaviour intends.
bool Serve(Socket connection, const Settings& settings) {
  if (settings.behaviour == Behaviour::kCloseUnread) {
    return true;
  }
  const bool slow = settings.behaviour == Behaviour::kSlowRead;
  // A total, not a time per read: a peer sending a byte now and then must not hold us either.
  const auto deadline = Clock::now() + kRequestTimeLimit;
  DecodedRequest decoded;
  const std::string request = ReceiveRequest(
      connection, slow ? kSlowReadPiece : 4096,
      slow ? Clock::duration(kSlowReadPause) : Clock::duration::zero(), deadline, &decoded);
  AppendToFile(settings.record_file, request);
  std::string arguments;
  for (const std::string& argument : decoded.arguments) {
    arguments += argument;
    arguments += '\0';
  }
  AppendToFile(settings.arguments_file, arguments);
  // What is not a launcher's request, whole, gets no answer: a reply (a flood, say) could hold us
  // again, and whatever sent it may not be a launcher at all.
  if (decoded.status != DecodedRequest::Status::kComplete) {
    return false;
  }

  const std::string reply = ReplyTo(decoded, settings.reply);
  switch (settings.behaviour) {
    case Behaviour::kResetAfterRead: {
      // Lingering for no time turns the caller's close into a reset.
      const linger abortive = {1, 0};
      SetOption(connection, SOL_SOCKET, SO_LINGER, abortive);
      return true;
    }
    case Behaviour::kTrickle: {
      // Each byte in a segment of its own, not held back until the previous one is acknowledged.
      const int no_delay = 1;
      SetOption(connection, IPPROTO_TCP, TCP_NODELAY, no_delay);
      return SendAll(connection, reply, 1, kTricklePause);
    }
    case Behaviour::kFlood: {
      std::string flood;
      while (!reply.empty() && flood.size() < kFloodSize) {
        flood += reply;
      }
      flood.resize(std::min(flood.size(), kFloodSize));
      return SendAll(connection, flood, flood.size(), {});
    }
    default:
      return SendAll(connection, reply, reply.size(), {});
  }
}

// Serves the connections on kConnectionsAtOnce threads: each waits for a connection in turn, and
// serves it alone.
class Service {
 public:
  Service(Socket listener, const Settings& settings, Clock::time_point deadline)
      : listener_(listener), settings_(settings), deadline_(deadline) {}

  // Returns once `settings.requests` connections have been served, or at the deadline. True when
  // every one of them was served as configured.
  bool Run() {
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnectionsAtOnce; ++i) {
      threads.emplace_back([this] { ServeConnections(); });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    return all_served_ && accepted_ == settings_.requests;
  }

 private:
  void ServeConnections() {
    for (;;) {
      std::unique_lock<std::timed_mutex> turn(accepting_, deadline_);
      if (!turn.owns_lock() || accepted_ == settings_.requests) {
        return;
      }
      const Socket connection = Accept(listener_, deadline_);
      if (connection == kInvalidSocket) {
        return;
      }
      ++accepted_;
      turn.unlock();
      if (!MayHandOverDocuments(connection) || !Serve(connection, settings_)) {
        all_served_ = false;
      }
      CloseSocket(connection);
    }
  }

  const Socket listener_;
  const Settings& settings_;
  const Clock::time_point deadline_;
  std::timed_mutex accepting_;
  long accepted_ = 0;  // Under `accepting_`.
  std::atomic<bool> all_served_{true};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::optional<Settings> read = ReadSettings();
  if (!read) {
    std::fputs("stand-in: unknown STAND_IN_BEHAVIOUR\n", stderr);
    return 1;
  }
  const Settings& settings = *read;
  const auto deadline = Clock::now() + settings.lifetime;
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    return 1;
  }
#endif
  if (!settings.listen) {
    std::this_thread::sleep_until(deadline);
    return 1;
  }
  std::this_thread::sleep_for(std::min<Clock::duration>(settings.delay, settings.lifetime));

  Socket listener = kInvalidSocket;
  std::string failure;
  switch (Listen(settings.behaviour, &listener, &failure)) {
    case Listening::kYes:
      break;
    case Listening::kPortTaken:
      return 0;  // Another copy serves the launchers.
    case Listening::kFailed: {
      const std::string report =
          "stand-in: cannot listen on 127.0.0.1:" + std::to_string(kPort) + ": " + failure + "\n";
      std::fputs(report.c_str(), stderr);
      AppendToFile(settings.record_file, report);
      return 1;
    }
  }
  std::error_code unknown;
  AppendToFile(settings.ready_file, std::filesystem::current_path(unknown).string());

  const bool all_served = Service(listener, settings, deadline).Run();
  CloseSocket(listener);
  return all_served ? 0 : 1;
}
