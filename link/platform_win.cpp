// The launcher's system calls on Windows: Windows Sockets 2, CreateProcessW, MessageBoxA, the
// table of TCP connections, and the conversions of the wide command line's arguments.

#include "link/platform.h"

// After the Windows Sockets headers, which link/platform.h includes.
#include <iphlpapi.h>
#include <mstcpip.h>
#include <windows.h>
#include <winternl.h>

#include "link/system_library.h"

namespace platform {
namespace {

// A system DLL, loaded for one use and freed after it.
class SystemLibrary {
 public:
  explicit SystemLibrary(const wchar_t* name) : module_(LoadSystemLibrary(name)) {}
  ~SystemLibrary() {
    if (module_) {
      ::FreeLibrary(reinterpret_cast<HMODULE>(module_));
    }
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The function `name` as a `Function`; null when the DLL or the function is missing.
  template <typename Function>
  Function Find(const char* name) const {
    return FunctionNamed<Function>(module_, name);
  }

 private:
  const Module module_;
};

// A handle of a process or a token, closed with its owner.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_) {
      ::CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  const HANDLE handle_;
};

sockaddr_in IPv4End(DWORD address, DWORD port) {
  sockaddr_in result = {};
  result.sin_family = AF_INET;
  result.sin_addr.s_addr = address;
  // In network byte order in the low 16 bits; the system leaves the others undefined.
  result.sin_port = static_cast<u_short>(port);
  return result;
}

// getsockname or getpeername of an IPv4 socket.
template <typename Name>
int IPv4Name(Name name, Socket socket, sockaddr_in* address) {
  int length = sizeof *address;
  if (name(socket, reinterpret_cast<sockaddr*>(address), &length) != 0 ||
      length != sizeof *address || address->sin_family != AF_INET) {
    return SOCKET_ERROR;
  }
  return 0;
}

}  // namespace

int WSAStartup() {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data);
}

int WSACleanup() { return ::WSACleanup(); }

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  return ::getaddrinfo(node, service, hints, result);
}

void freeaddrinfo(addrinfo* list) { ::freeaddrinfo(list); }

Socket socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }

int connect(Socket socket, const sockaddr* address, std::size_t length) {
  return ::connect(socket, address, static_cast<int>(length));
}

int send(Socket socket, const char* data, int length) { return ::send(socket, data, length, 0); }

int recv(Socket socket, char* buffer, int length) { return ::recv(socket, buffer, length, 0); }

int closesocket(Socket socket) { return ::closesocket(socket); }

int getsockname(Socket socket, sockaddr_in* address) {
  return IPv4Name(::getsockname, socket, address);
}

int getpeername(Socket socket, sockaddr_in* address) {
  return IPv4Name(::getpeername, socket, address);
}

int WSAIoctlNoSynRetransmissions(Socket socket) {
  TCP_INITIAL_RTO_PARAMETERS parameters = {TCP_INITIAL_RTO_UNSPECIFIED_RTT,
                                           TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
  DWORD returned = 0;
  return ::WSAIoctl(socket, SIO_TCP_INITIAL_RTO, &parameters, sizeof parameters, nullptr, 0,
                    &returned, nullptr, nullptr);
}

TableRead GetExtendedTcpTable(TcpRows kind, const sockaddr_in&, const sockaddr_in&,
                              std::uint32_t* size, std::vector<TcpConnection>* table) {
  // iphlpapi is loaded on demand, as user32 is: an import would be looked up beside the launcher.
  // Once loaded it stays, as a launch may read the table several times.
  using GetTableFunction = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
  static const Module iphlpapi = LoadSystemLibrary(L"iphlpapi.dll");
  const auto get_table = FunctionNamed<GetTableFunction>(iphlpapi, "GetExtendedTcpTable");
  if (!get_table) {
    return TableRead::kFailed;
  }
  // In DWORDs, which the rows are made of, for their alignment.
  std::vector<DWORD> buffer(*size / sizeof(DWORD) + 1);
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
  const DWORD result = get_table(
      buffer.data(), &bytes, FALSE, AF_INET,
      kind == TcpRows::kListeners ? TCP_TABLE_OWNER_PID_LISTENER : TCP_TABLE_OWNER_PID_CONNECTIONS,
      0);
  if (result == ERROR_INSUFFICIENT_BUFFER) {
    *size = bytes;
    return TableRead::kTooSmall;
  }
  if (result != NO_ERROR) {
    return TableRead::kFailed;
  }
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    table->push_back(
        {IPv4End(row.dwLocalAddr, row.dwLocalPort), IPv4End(row.dwRemoteAddr, row.dwRemotePort),
         row.dwOwningPid ? std::optional<std::uint32_t>(row.dwOwningPid) : std::nullopt,
         row.dwState == MIB_TCP_STATE_ESTAB});
  }
  return TableRead::kRead;
}

std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner) {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(owner, &session)) {
    return std::nullopt;
  }
  return session;
}

TableRead NtQuerySystemInformationSessionId(std::uint32_t owner, std::uint32_t* size,
                                            std::optional<std::uint32_t>* session) {
  // ntdll is in every process from its start: nothing is loaded.
  using QueryFunction = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query = FunctionNamed<QueryFunction>(
      reinterpret_cast<Module>(::GetModuleHandleW(L"ntdll.dll")), "NtQuerySystemInformation");
  if (!query) {
    return TableRead::kFailed;
  }
  constexpr NTSTATUS kTooSmall = static_cast<NTSTATUS>(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH
  // In 8-byte units, for the alignment of its entries.
  std::vector<std::uint64_t> buffer(*size / sizeof(std::uint64_t) + 1);
  ULONG needed = 0;
  const NTSTATUS status = query(SystemProcessInformation, buffer.data(),
                                static_cast<ULONG>(buffer.size() * sizeof buffer[0]), &needed);
  if (status == kTooSmall) {
    *size = needed;
    return TableRead::kTooSmall;
  }
  if (status < 0) {
    return TableRead::kFailed;
  }
  const auto* entry = reinterpret_cast<const unsigned char*>(buffer.data());
  for (;;) {
    const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(entry);
    if (reinterpret_cast<std::uintptr_t>(process->UniqueProcessId) == owner) {
      *session = process->SessionId;
      return TableRead::kRead;
    }
    if (process->NextEntryOffset == 0) {
      *session = std::nullopt;
      return TableRead::kRead;
    }
    entry += process->NextEntryOffset;
  }
}

std::uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::optional<bool> RunsAsOurUser(std::uint32_t owner) {
  // advapi32 is loaded on demand, as iphlpapi is: an import would be looked up beside the program.
  using OpenTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  using GetInformationFunction =
      BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  using EqualSidFunction = BOOL(WINAPI*)(PSID, PSID);
  static const Module advapi32 = LoadSystemLibrary(L"advapi32.dll");
  const auto open_token = FunctionNamed<OpenTokenFunction>(advapi32, "OpenProcessToken");
  const auto get_information =
      FunctionNamed<GetInformationFunction>(advapi32, "GetTokenInformation");
  const auto equal_sid = FunctionNamed<EqualSidFunction>(advapi32, "EqualSid");
  if (!open_token || !get_information || !equal_sid) {
    return std::nullopt;
  }
  // The TOKEN_USER of `process`, in pointer-sized units for its alignment; empty when unreadable.
  const auto user_of = [&](HANDLE process) {
    std::vector<void*> user;
    HANDLE token = nullptr;
    if (process && open_token(process, TOKEN_QUERY, &token)) {
      const OwnedHandle owned(token);
      DWORD size = 0;
      get_information(token, TokenUser, nullptr, 0, &size);
      user.resize(size / sizeof(void*) + 1);
      if (!get_information(token, TokenUser, user.data(),
                           static_cast<DWORD>(user.size() * sizeof(void*)), &size)) {
        user.clear();
      }
    }
    return user;
  };
  const OwnedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
  const std::vector<void*> theirs = user_of(process.get());
  const std::vector<void*> ours = user_of(::GetCurrentProcess());
  if (theirs.empty() || ours.empty()) {
    return std::nullopt;
  }
  return equal_sid(reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid,
                   reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid) != FALSE;
}

bool IsProcessInJob() {
  BOOL in_job = FALSE;
  return ::IsProcessInJob(::GetCurrentProcess(), nullptr, &in_job) && in_job;
}

ProcessStart CreateProcessW(const wchar_t* application, wchar_t* command_line,
                            const wchar_t* current_folder, bool break_away_from_job,
                            ProcessHandles* started) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(application, command_line, nullptr, nullptr, FALSE,
                        break_away_from_job ? CREATE_BREAKAWAY_FROM_JOB : 0, nullptr,
                        current_folder, &startup, &process)) {
    // ERROR_DIRECTORY: the folder is gone, or too long to be current (the SetCurrentDirectory
    // page: one of MAX_PATH or more makes CreateProcessW fail).
    return ::GetLastError() == ERROR_DIRECTORY ? ProcessStart::kFolderRefused
                                               : ProcessStart::kFailed;
  }
  started->process = reinterpret_cast<Handle>(process.hProcess);
  started->thread = reinterpret_cast<Handle>(process.hThread);
  started->id = process.dwProcessId;
  return ProcessStart::kStarted;
}

void CloseHandle(Handle handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

NativeString GetModuleFileNameW() {
  // Room for the longest path Windows has, so that it is never cut short.
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    return {};
  }
  path.resize(length);
  return path;
}

void MessageBoxA(const char* text, const char* caption) {
  // user32 is loaded only when a box is due: a launch that shows none, the usual case, then does
  // not pay for starting it (under Wine, over a third of such a launch's time).
  using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
  const SystemLibrary user32(L"user32.dll");
  if (const auto show = user32.Find<MessageBoxFunction>("MessageBoxA")) {
    // A failure may come half a minute after the double-click, when the user looks at other
    // windows: the box comes to the front and stays there, still without an owner.
    show(nullptr, text, caption, MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
  }
}

void AllowSetForegroundWindow(std::uint32_t process) {
  using AllowFunction = BOOL(WINAPI*)(DWORD);
  const SystemLibrary user32(L"user32.dll");
  if (const auto allow = user32.Find<AllowFunction>("AllowSetForegroundWindow")) {
    allow(process);
  }
}

Clock::time_point MonotonicNow() { return Clock::now(); }

void SleepFor(Clock::duration duration) {
  // Rounded up: a sleep that ends a little early costs a second, needless call.
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(duration);
  ::Sleep(static_cast<DWORD>(milliseconds.count()));
}

std::optional<std::string> WideCharToMultiByte(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  // Without WC_NO_BEST_FIT_CHARS a character the code page lacks becomes a look-alike (α becomes
  // a, a fullwidth quote a real one) and nothing tells. With it, it becomes the default character
  // and the conversion says so. UTF-8, where every character has its bytes, takes neither and
  // fails only on unpaired surrogates, which a file name may hold.
  const UINT code_page = ::GetACP();
  const bool utf8 = code_page == CP_UTF8;
  // At most 3 bytes for each UTF-16 unit (in UTF-8; a double-byte code page needs 2), so that
  // one call converts.
  std::string bytes(text.size() * 3, '\0');
  BOOL lossy = FALSE;
  const int length =
      ::WideCharToMultiByte(code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                            text.data(), static_cast<int>(text.size()), bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, utf8 ? nullptr : &lossy);
  if (length <= 0 || lossy) {
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

std::optional<std::wstring> GetShortPathNameW(const std::wstring& path) {
  const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) {
    return std::nullopt;
  }
  std::wstring short_path(needed, L'\0');
  const DWORD length = ::GetShortPathNameW(path.c_str(), short_path.data(), needed);
  // A length of `needed` or more means the path changed between the two calls.
  if (length == 0 || length >= needed) {
    return std::nullopt;
  }
  short_path.resize(length);
  return short_path;
}

Module LoadLibraryExW(const std::wstring& file, LibrarySearch search) {
  const DWORD flags = search == LibrarySearch::kSystemFolder ? LOAD_LIBRARY_SEARCH_SYSTEM32
                                                             : LOAD_WITH_ALTERED_SEARCH_PATH;
  return reinterpret_cast<Module>(::LoadLibraryExW(file.c_str(), nullptr, flags));
}

std::wstring GetSystemDirectoryW() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return {};
  }
  return std::wstring(folder, length);
}

}  // namespace platform
