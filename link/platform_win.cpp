// The launcher's system calls on Windows: Windows Sockets 2, CreateProcessW, MessageBoxA, and the
// conversions of the wide command line's arguments.

#include <windows.h>

#include "link/platform.h"

namespace platform {

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

void MessageBoxA(const char* text, const char* caption) {
  // user32 is loaded only when a box is due: a launch that shows none, the usual case, then does
  // not pay for starting it (under Wine, over a third of such a launch's time). Only the system's
  // own copy is loaded, whatever lies beside the launcher.
  using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
  const HMODULE user32 = ::LoadLibraryExA("user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!user32) {
    return;
  }
  if (const FARPROC found = ::GetProcAddress(user32, "MessageBoxA")) {
    // -Wcast-function-type accepts a cast between unrelated function types through void (*)().
    const auto show = reinterpret_cast<MessageBoxFunction>(reinterpret_cast<void (*)()>(found));
    show(nullptr, text, caption, MB_ICONERROR);
  }
  ::FreeLibrary(user32);
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

}  // namespace platform
