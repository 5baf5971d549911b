// The launcher's system calls on Windows: Windows Sockets 2, CreateProcessA and MessageBoxA.

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

bool CreateProcessA(const char* application, char* command_line, ProcessHandles* started) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(application, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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

}  // namespace platform
