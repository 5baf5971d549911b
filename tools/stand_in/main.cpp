// A stand-in for the main application, for the tests and the demonstration, and a reference for
// the main application's own side of the launch protocol: it listens on the loopback port, takes
// one launch request per connection, records it, answers and closes the connection.
//
// The launcher starts the main application without arguments, so the settings come from the
// environment:
//   STAND_IN_DELAY      seconds to wait before listening, or "never" (default 0)
//   STAND_IN_REQUESTS   connections to serve before exiting (default 1)
//   STAND_IN_LIFETIME   seconds after which it exits, served or not (default 120)
//   STAND_IN_READY      a file to create once it listens
//   STAND_IN_RECORD     a file to receive the raw bytes of each request
//   STAND_IN_ARGUMENTS  a file to receive each request's decoded arguments, each followed by NUL
//   STAND_IN_REPLY      the reply (default "OK <number of arguments>", or "ERROR malformed request")
// Exit status: 0 when every connection was served, 1 otherwise.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "request_decoder.h"

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kInvalidSocket = INVALID_SOCKET;
void CloseSocket(Socket socket) {
  closesocket(socket);
}
int Receive(Socket socket, char* buffer, int length) {
  return recv(socket, buffer, length, 0);
}
int SendSome(Socket socket, const char* data, int length) {
  return send(socket, data, length, 0);
}
#else
using Socket = int;
constexpr Socket kInvalidSocket = -1;
void CloseSocket(Socket socket) {
  close(socket);
}
int Receive(Socket socket, char* buffer, int length) {
  return static_cast<int>(recv(socket, buffer, static_cast<std::size_t>(length), 0));
}
int SendSome(Socket socket, const char* data, int length) {
  return static_cast<int>(send(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL));
}
#endif

constexpr unsigned short kPort = 46157;
using Clock = std::chrono::steady_clock;

struct Settings {
  bool listen = true;
  std::chrono::seconds delay{0};
  long requests = 1;
  std::chrono::seconds lifetime{120};
  std::string ready_file;
  std::string record_file;
  std::string arguments_file;
  const char* reply = nullptr;
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

long NumberFromEnvironment(const char* name, long fallback) {
  const std::string text = Environment(name);
  return text.empty() ? fallback : std::strtol(text.c_str(), nullptr, 10);
}

Settings ReadSettings() {
  Settings settings;
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

void WriteFile(const std::string& path, const std::string& bytes) {
  if (!path.empty()) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
}

Socket Listen() {
  const Socket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == kInvalidSocket) {
    return kInvalidSocket;
  }
  // Each served connection leaves this side in TIME_WAIT (it closes first); without this a new
  // stand-in could not listen again for a minute. A real main application on Windows would take
  // SO_EXCLUSIVEADDRUSE instead, so that no other program can bind the port beside it.
  const int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
             sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0) {
    CloseSocket(listener);
    return kInvalidSocket;
  }
  return listener;
}

// Waits for a connection until `deadline`; returns kInvalidSocket when none came.
Socket Accept(Socket listener, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() <= 0) {
    return kInvalidSocket;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval timeout = {static_cast<long>(left.count() / 1000000),
                     static_cast<long>(left.count() % 1000000)};
  if (select(static_cast<int>(listener + 1), &readable, nullptr, nullptr, &timeout) != 1) {
    return kInvalidSocket;
  }
  return accept(listener, nullptr, nullptr);
}

// Reads one request: up to its terminator, or whatever came before the peer closed or the
// request turned out malformed.
std::string ReceiveRequest(Socket connection, DecodedRequest* decoded) {
  std::string received;
  char buffer[4096];
  while (decoded->status == DecodedRequest::Status::kIncomplete) {
    const int count = Receive(connection, buffer, sizeof buffer);
    if (count <= 0) {
      break;
    }
    received.append(buffer, static_cast<std::size_t>(count));
    *decoded = DecodeRequest(received);
  }
  return received;
}

std::string ReplyTo(const DecodedRequest& decoded, const char* configured) {
  if (configured) {
    return configured;
  }
  if (decoded.status != DecodedRequest::Status::kComplete) {
    return "ERROR malformed request";
  }
  return "OK " + std::to_string(decoded.arguments.size());
}

bool Serve(Socket connection, const Settings& settings) {
  DecodedRequest decoded;
  const std::string request = ReceiveRequest(connection, &decoded);
  WriteFile(settings.record_file, request);
  std::string arguments;
  for (const std::string& argument : decoded.arguments) {
    arguments += argument;
    arguments += '\0';
  }
  WriteFile(settings.arguments_file, arguments);

  const std::string reply = ReplyTo(decoded, settings.reply);
  for (std::size_t sent = 0; sent < reply.size();) {
    const int count =
        SendSome(connection, reply.data() + sent, static_cast<int>(reply.size() - sent));
    if (count <= 0) {
      return false;
    }
    sent += static_cast<std::size_t>(count);
  }
  return decoded.status == DecodedRequest::Status::kComplete;
}

}  // namespace

int main() {
  const Settings settings = ReadSettings();
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

  const Socket listener = Listen();
  if (listener == kInvalidSocket) {
    std::fputs("stand-in: cannot listen on 127.0.0.1:46157\n", stderr);
    return 1;
  }
  WriteFile(settings.ready_file, "");

  bool all_served = true;
  long served = 0;
  for (; served < settings.requests; ++served) {
    const Socket connection = Accept(listener, deadline);
    if (connection == kInvalidSocket) {
      break;
    }
    all_served = Serve(connection, settings) && all_served;
    CloseSocket(connection);
  }
  CloseSocket(listener);
  return all_served && served == settings.requests ? 0 : 1;
}
