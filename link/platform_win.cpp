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

// The function `name` of `module` as a `Function`; null when either is missing.
template <typename Function>
Function FunctionNamed(HMODULE module, const char* name) {
  const FARPROC found = module ? ::GetProcAddress(module, name) : nullptr;
  // -Wcast-function-type accepts a cast between unrelated function types through void (*)().
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// A system DLL, loaded for one use and freed after it.
class SystemLibrary {
 public:
  explicit SystemLibrary(const wchar_t* name)
      : module_(reinterpret_cast<HMODULE>(LoadSystemLibrary(name))) {}
  ~SystemLibrary() {
    if (module_) {
      ::FreeLibrary(module_);
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
  const HMODULE module_;
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

std::optional<std::vector<TcpConnection>> GetExtendedTcpTable(const sockaddr_in&,
                                                              const sockaddr_in&) {
  // iphlpapi is loaded on demand, as user32 is: an import would be looked up beside the launcher.
  using GetTableFunction = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
  const SystemLibrary iphlpapi(L"iphlpapi.dll");
  const auto get_table = iphlpapi.Find<GetTableFunction>("GetExtendedTcpTable");
  if (!get_table) {
    return std::nullopt;
  }
  // The table may grow between being measured and being read: then it is measured again. In
  // DWORDs, which the rows are made of, for their alignment.
  std::vector<DWORD> buffer;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    buffer.resize(size / sizeof(DWORD) + 1);
    size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    result = get_table(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
  }
  if (result != NO_ERROR) {
    return std::nullopt;
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  std::vector<TcpConnection> connections;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    connections.push_back(
        {IPv4End(row.dwLocalAddr, row.dwLocalPort), IPv4End(row.dwRemoteAddr, row.dwRemotePort),
         row.dwOwningPid ? std::optional<std::uint32_t>(row.dwOwningPid) : std::nullopt});
  }
  return connections;
}

std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner) {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(owner, &session)) {
    return std::nullopt;
  }
  return session;
}

std::optional<std::uint32_t> NtQuerySystemInformationSessionId(std::uint32_t owner) {
  // ntdll is in every process from its start: nothing is loaded.
  using QueryFunction = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query =
      FunctionNamed<QueryFunction>(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
  if (!query) {
    return std::nullopt;
  }
  // The list grows with every process started between being measured and being read: room for
  // more then. In 8-byte units, for the alignment of its entries.
  constexpr NTSTATUS kTooSmall = static_cast<NTSTATUS>(0xC0000004);  // STATUS_INFO_LENGTH_MISMATCH
  std::vector<std::uint64_t> buffer(1 << 15);
  NTSTATUS status = kTooSmall;
  for (int tries = 0; tries < 3 && status == kTooSmall; ++tries) {
    ULONG needed = 0;
    status = query(SystemProcessInformation, buffer.data(),
                   static_cast<ULONG>(buffer.size() * sizeof buffer[0]), &needed);
    if (status == kTooSmall) {
      buffer.resize(needed / sizeof buffer[0] + (1 << 12));
    }
  }
  if (status < 0) {
    return std::nullopt;
  }
  const auto* entry = reinterpret_cast<const unsigned char*>(buffer.data());
  for (;;) {
    const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(entry);
    if (reinterpret_cast<std::uintptr_t>(process->UniqueProcessId) == owner) {
      return process->SessionId;
    }
    if (process->NextEntryOffset == 0) {
      return std::nullopt;
    }
    entry += process->NextEntryOffset;
  }
}

std::uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

bool CreateProcessW(const wchar_t* application, wchar_t* command_line, ProcessHandles* started) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(application, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  started->process = reinterpret_cast<Handle>(process.hProcess);
  started->thread = reinterpret_cast<Handle>(process.hThread);
  return true;
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
    show(nullptr, text, caption, MB_ICONERROR);
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
