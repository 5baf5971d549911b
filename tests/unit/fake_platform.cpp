#include "fake_platform.h"

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

std::unique_ptr<FakePlatform> g_fake = std::make_unique<FakePlatform>();

constexpr platform::Socket kFirstSocket = 100;
constexpr platform::Handle kProcessHandle = 11;
constexpr platform::Handle kThreadHandle = 12;

template <typename T>
T TakeFront(std::deque<T>& queue, T otherwise) {
  if (queue.empty()) {
    return otherwise;
  }
  T front = queue.front();
  queue.pop_front();
  return front;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// What `map` holds for `key`, if anything.
template <typename Key, typename Value>
std::optional<Value> Find(const std::map<Key, Value>& map, const Key& key) {
  const auto found = map.find(key);
  if (found == map.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

platform::TcpConnection TcpRow(std::uint16_t local_port, std::uint16_t remote_port,
                               std::optional<std::uint32_t> owner) {
  return {Loopback(local_port), Loopback(remote_port), owner};
}

platform::TcpConnection ListenerRow(std::uint32_t address, std::uint16_t port) {
  platform::TcpConnection row = {Loopback(port), {}, 777};
  row.local.sin_addr.s_addr = htonl(address);
  return row;
}

bool ScriptedTableSize::Fits(std::uint32_t* offered_size) {
  offered.push_back(*offered_size);
  size += growth;
  if (*offered_size >= size) {
    return true;
  }
  *offered_size = says_size ? size : 0;
  return false;
}

int FakePlatform::Count(const std::string& prefix) const {
  int count = 0;
  for (const std::string& call : calls) {
    count += call.compare(0, prefix.size(), prefix) == 0;
  }
  return count;
}

FakePlatform& Fake() { return *g_fake; }

void ResetFake() { g_fake = std::make_unique<FakePlatform>(); }

namespace platform {

int WSAStartup() {
  Fake().calls.push_back("WSAStartup");
  if (Fake().out_of_memory) {
    throw std::bad_alloc();
  }
  const int result = TakeFront(Fake().wsa_startup_results, 0);
  Fake().started_libraries += result == 0;
  return result;
}

int WSACleanup() {
  Fake().calls.push_back("WSACleanup");
  --Fake().started_libraries;
  return 0;
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  Fake().calls.push_back(std::string("getaddrinfo ") + node + " " + service);
  Fake().hints = *hints;
  if (Fake().getaddrinfo_result != 0) {
    return Fake().getaddrinfo_result;
  }
  addrinfo* list = nullptr;
  for (int i = Fake().resolved_addresses; i > 0; --i) {
    auto* address = new addrinfo{};
    address->ai_family = AF_INET;
    address->ai_socktype = SOCK_STREAM;
    address->ai_protocol = IPPROTO_TCP;
    address->ai_addrlen = sizeof(sockaddr_in);
    address->ai_addr = reinterpret_cast<sockaddr*>(new sockaddr_in(Loopback(kApplicationPort)));
    address->ai_next = list;
    list = address;
  }
  ++Fake().unfreed_address_lists;
  *result = list;
  return 0;
}

void freeaddrinfo(addrinfo* list) {
  Fake().calls.push_back("freeaddrinfo");
  --Fake().unfreed_address_lists;
  while (list) {
    addrinfo* next = list->ai_next;
    delete reinterpret_cast<sockaddr_in*>(list->ai_addr);
    delete list;
    list = next;
  }
}

Socket socket(int family, int type, int protocol) {
  Fake().calls.push_back("socket " + std::to_string(family) + " " + std::to_string(type) + " " +
                         std::to_string(protocol));
  if (!TakeFront(Fake().socket_results, true)) {
    return kInvalidSocket;
  }
  ++Fake().open_sockets;
  return kFirstSocket;
}

int connect(Socket socket, const sockaddr* address, std::size_t length) {
  Fake().calls.push_back("connect");
  if (socket != kFirstSocket || address == nullptr || length != sizeof(sockaddr_in)) {
    return kSocketError;
  }
  return TakeFront(Fake().connect_results, false) ? 0 : kSocketError;
}

int send(Socket socket, const char* data, int length) {
  Fake().calls.push_back("send " + std::to_string(length));
  const int limit = TakeFront(Fake().send_limits, length);
  if (socket != kFirstSocket || limit < 0) {
    return kSocketError;
  }
  const int taken = limit < length ? limit : length;
  Fake().sent.append(data, static_cast<std::size_t>(taken));
  return taken;
}

int recv(Socket socket, char* buffer, int length) {
  Fake().calls.push_back("recv " + std::to_string(length));
  std::deque<std::string>& replies = Fake().replies;
  if (socket != kFirstSocket) {
    return kSocketError;
  }
  if (replies.empty()) {
    return Fake().recv_fails_at_end ? kSocketError : 0;
  }
  // More than fits in the buffer stays for the next call, as in a socket's receive queue.
  std::string& piece = replies.front();
  const std::size_t count = std::min(piece.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, piece.data(), count);
  piece.erase(0, count);
  if (piece.empty()) {
    replies.pop_front();
  }
  return static_cast<int>(count);
}

int closesocket(Socket socket) {
  Fake().calls.push_back("closesocket");
  Fake().open_sockets -= socket == kFirstSocket;
  return 0;
}

int getsockname(Socket socket, sockaddr_in* address) {
  Fake().calls.push_back("getsockname");
  *address = Loopback(kLauncherPort);
  return socket == kFirstSocket && Fake().socket_names_known ? 0 : kSocketError;
}

int getpeername(Socket socket, sockaddr_in* address) {
  Fake().calls.push_back("getpeername");
  *address = Loopback(kApplicationPort);
  return socket == kFirstSocket && Fake().socket_names_known ? 0 : kSocketError;
}

int WSAIoctlNoSynRetransmissions(Socket socket) {
  Fake().calls.push_back("WSAIoctlNoSynRetransmissions");
  return socket == kFirstSocket ? Fake().ioctl_result : kSocketError;
}

TableRead GetExtendedTcpTable(TcpRows kind, const sockaddr_in&, const sockaddr_in&,
                              std::uint32_t* size, std::vector<TcpConnection>* table) {
  const bool listeners = kind == TcpRows::kListeners;
  Fake().calls.push_back(listeners ? "GetExtendedTcpTable listeners"
                                   : "GetExtendedTcpTable connections");
  if (!Fake().tcp_table) {
    return TableRead::kFailed;
  }
  if (!Fake().tcp_table_size.Fits(size)) {
    return TableRead::kTooSmall;
  }
  for (const TcpConnection& row : *Fake().tcp_table) {
    if ((row.remote.sin_port == 0) == listeners) {
      table->push_back(row);
    }
  }
  return TableRead::kRead;
}

std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner) {
  Fake().calls.push_back("ProcessIdToSessionId " + std::to_string(owner));
  return Find(Fake().sessions, owner);
}

TableRead NtQuerySystemInformationSessionId(std::uint32_t owner, std::uint32_t* size,
                                            std::optional<std::uint32_t>* session) {
  Fake().calls.push_back("NtQuerySystemInformationSessionId " + std::to_string(owner));
  if (!Fake().process_list_size.Fits(size)) {
    return TableRead::kTooSmall;
  }
  *session = Find(Fake().listed_sessions, owner);
  return TableRead::kRead;
}

std::uint32_t GetCurrentProcessId() { return kLauncherProcess; }

NativeString GetModuleFileNameW() {
  Fake().calls.push_back("GetModuleFileNameW");
  return Fake().module_file_name;
}

bool IsProcessInJob() { return Fake().in_job; }

ProcessStart CreateProcessW(const char* application, char* command_line, const char* current_folder,
                            bool break_away_from_job, ProcessHandles* started) {
  Fake().calls.push_back(std::string("CreateProcessW ") + application + " " + command_line +
                         (break_away_from_job ? " breaking away from the job" : ""));
  Fake().start_folders.push_back(current_folder ? current_folder : "");
  if (current_folder && Fake().refused_folders.count(current_folder)) {
    return ProcessStart::kFolderRefused;
  }
  if (!Fake().create_process_result || (break_away_from_job && !Fake().job_allows_breakaway)) {
    return ProcessStart::kFailed;
  }
  started->process = kProcessHandle;
  started->thread = kThreadHandle;
  started->id = kStartedProcess;
  Fake().open_handles += 2;
  return ProcessStart::kStarted;
}

void CloseHandle(Handle handle) {
  Fake().calls.push_back(handle == kProcessHandle  ? "CloseHandle process"
                         : handle == kThreadHandle ? "CloseHandle thread"
                                                   : "CloseHandle ?");
  --Fake().open_handles;
}

void AllowSetForegroundWindow(std::uint32_t process) {
  Fake().calls.push_back("AllowSetForegroundWindow " + std::to_string(process));
}

void MessageBoxA(const char* text, const char* caption) {
  Fake().calls.push_back(std::string("MessageBoxA ") + caption + ": " + text);
}

Clock::time_point MonotonicNow() { return Fake().now; }

void SleepFor(Clock::duration duration) {
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(duration);
  Fake().calls.push_back("SleepFor " + std::to_string(milliseconds.count()) + "ms");
  Fake().now += TakeFront(Fake().sleep_cut_short_to, duration);
}

std::optional<std::string> WideCharToMultiByte(const std::wstring& text) {
  std::string bytes;
  for (const wchar_t character : text) {
    if (character < 0 || character > 0xFF) {
      return std::nullopt;
    }
    bytes += static_cast<char>(character);
  }
  return bytes;
}

std::optional<std::wstring> GetShortPathNameW(const std::wstring& path) {
  ++Fake().short_path_lookups;
  return Find(Fake().short_paths, path);
}

Module LoadLibraryExW(const std::wstring& file, LibrarySearch search) {
  // Module 1 is the system's own copy, found either way; anything else is found nowhere.
  if (search == LibrarySearch::kSystemFolder) {
    Fake().calls.push_back("LoadLibraryExW system folder: " + Narrow(file));
    return Fake().system_folder_search_known ? 1 : 0;
  }
  Fake().calls.push_back("LoadLibraryExW full path: " + Narrow(file));
  const std::wstring& folder = Fake().system_directory;
  return !folder.empty() && file.rfind(folder + L'\\', 0) == 0 ? 1 : 0;
}

std::wstring GetSystemDirectoryW() {
  Fake().calls.push_back("GetSystemDirectoryW");
  return Fake().system_directory;
}

}  // namespace platform
