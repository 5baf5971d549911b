// The operating-system calls the launcher makes, under their Windows names. The Windows build
// implements them on the system itself (platform_win.cpp); the Linux host build maps them onto
// POSIX (platform_posix.cpp) so that the same launch logic runs, and is tested, at native speed.
// The unit tests link a scripted stand-in for this file's functions instead.

#ifndef LINK_PLATFORM_H_
#define LINK_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace platform {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket kInvalidSocket = INVALID_SOCKET;
#else
using Socket = int;
inline constexpr Socket kInvalidSocket = -1;
#endif
inline constexpr int kSocketError = -1;

// Text that the launcher hands to the system (the main application's path and command line):
// UTF-16 on Windows, bytes on POSIX.
#ifdef _WIN32
using NativeChar = wchar_t;
#define NATIVE_TEXT(text) L##text
#else
using NativeChar = char;
#define NATIVE_TEXT(text) text
#endif
using NativeString = std::basic_string<NativeChar>;

// What separates the folders of a path.
#ifdef _WIN32
inline constexpr NativeChar kPathSeparators[] = L"\\/";
#else
inline constexpr NativeChar kPathSeparators[] = "/";
#endif

// A process or thread handle of a started program; 0 stands for none.
using Handle = std::uintptr_t;

struct ProcessHandles {
  Handle process = 0;
  Handle thread = 0;
  std::uint32_t id = 0;
};

using Clock = std::chrono::steady_clock;

// Windows Sockets. WSAStartup asks for version 2.2 and returns 0 on success.
int WSAStartup();
int WSACleanup();
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);
Socket socket(int family, int type, int protocol);
int connect(Socket socket, const sockaddr* address, std::size_t length);
int send(Socket socket, const char* data, int length);
int recv(Socket socket, char* buffer, int length);
int closesocket(Socket socket);
// The two ends of a connected IPv4 socket; nonzero when they cannot be told.
int getsockname(Socket socket, sockaddr_in* address);
int getpeername(Socket socket, sockaddr_in* address);

// When a closed port answers its SYN with a reset, Windows sends the SYN again, for about 2
// seconds, before connect reports the refusal. WSAIoctl with SIO_TCP_INITIAL_RTO and no SYN
// retransmissions makes it report at once. Returns nonzero where the system does not know the
// control (before Windows 8, Wine); POSIX, which reports a refusal at once, does nothing.
int WSAIoctlNoSynRetransmissions(Socket socket);

// How one call that fills a buffer with a system table went. A table can grow between two calls:
// kTooSmall says what it needed at that moment.
enum class TableRead { kRead, kTooSmall, kFailed };

// Who is at the other end of a connection, and whether anything listens: the owners of sockets,
// from the system's table of IPv4 TCP sockets. Where Windows has sessions the host build has
// users: there the owner is the user id of the socket, ProcessIdToSessionId gives back that same
// id, and GetCurrentProcessId the caller's effective user id.
struct TcpConnection {
  sockaddr_in local;
  sockaddr_in remote;  // 0.0.0.0:0 for a listening socket.
  // The owning process id; empty where the system does not say (Wine says 0 for every row).
  std::optional<std::uint32_t> owner;
  // Whether the connection is established: neither end has closed it yet. The sockets of a
  // process that has ended are closed.
  bool established = false;
};
enum class TcpRows { kConnections, kListeners };
// One call of GetExtendedTcpTable for the rows of `kind` with a buffer of `*size` bytes: the rows
// in `table`, or kTooSmall with `*size` set to the bytes the table needs now. Among the rows is
// the socket from `local` to `remote` if it exists: the host build asks the kernel for that one
// only, and finds a listener on `local` where `remote` is 0.0.0.0:0.
TableRead GetExtendedTcpTable(TcpRows kind, const sockaddr_in& local, const sockaddr_in& remote,
                              std::uint32_t* size, std::vector<TcpConnection>* table);
// The session the process `owner` runs in; empty when it cannot be told. Windows answers only
// callers that may open the process, which another user's process does not allow a standard user.
std::optional<std::uint32_t> ProcessIdToSessionId(std::uint32_t owner);
// One call of NtQuerySystemInformation for the system's list of processes, which any user may
// read, with a buffer of `*size` bytes: the session of `owner` in `session` (empty when it is not
// in the list), or kTooSmall with `*size` set to the bytes the list needs now (0 where the system
// does not say). Never needed on POSIX, where the owner is a user already.
TableRead NtQuerySystemInformationSessionId(std::uint32_t owner, std::uint32_t* size,
                                            std::optional<std::uint32_t>* session);
std::uint32_t GetCurrentProcessId();
// Whether the process `owner` runs as the user this one runs as: the users of their tokens.
// Empty when it cannot be told (a process this one may not open, or one that has ended). The host
// build's owner is a user id already.
std::optional<bool> RunsAsOurUser(std::uint32_t owner);

// Whether the launcher runs in a job object, whose processes may all be ended together.
bool IsProcessInJob();
enum class ProcessStart {
  kStarted,
  kFolderRefused,  // The current folder was refused (ERROR_DIRECTORY: gone, or too long).
  kFailed,
};
// Starts `application` with `command_line` (a writable buffer, as Windows wants it) and no
// inherited handles, in `current_folder` (null: the launcher's own); outside the launcher's job
// with `break_away_from_job`, which the job may refuse.
ProcessStart CreateProcessW(const NativeChar* application, NativeChar* command_line,
                            const NativeChar* current_folder, bool break_away_from_job,
                            ProcessHandles* started);
void CloseHandle(Handle handle);

// The path of the launcher's own executable file as the system loaded it; empty when it cannot be
// told.
NativeString GetModuleFileNameW();

// A modal error box with an OK button and no owner window, brought in front of the user's other
// windows; returns once it is dismissed.
void MessageBoxA(const char* text, const char* caption);

// Lets the process `process` bring its window to the foreground, a right that Windows gives only
// to the foreground process and those it names. Nothing where it fails.
void AllowSetForegroundWindow(std::uint32_t process);

// The wait between connection attempts. SleepFor may return early; callers that need the full
// duration compare MonotonicNow with their deadline and sleep again.
Clock::time_point MonotonicNow();
void SleepFor(Clock::duration duration);

// The Windows build's arguments come from the wide command line (launcher/ansi_argument.h); the
// Linux host build forwards its arguments as bytes and never calls these.
//
// `text` in the process's ANSI code page, character for character; empty when the code page has
// no exact equivalent for one of its characters (never a best-fit look-alike).
std::optional<std::string> WideCharToMultiByte(const std::wstring& text);
// The short (8.3) form of the existing file or folder `path`: each component that has a short name
// replaced by it. Empty when `path` names nothing.
std::optional<std::wstring> GetShortPathNameW(const std::wstring& path);

// A DLL loaded on demand (link/system_library.h); 0 stands for none. Windows only, as above.
using Module = std::uintptr_t;
enum class LibrarySearch {
  kSystemFolder,  // LOAD_LIBRARY_SEARCH_SYSTEM32: the name is looked up in the system folder only.
  kFullPath,      // LOAD_WITH_ALTERED_SEARCH_PATH: the file at a full path, with its own
                  // dependencies looked up in its folder, not the launcher's.
};
Module LoadLibraryExW(const std::wstring& file, LibrarySearch search);
// The system folder, C:\Windows\System32; empty when it cannot be told.
std::wstring GetSystemDirectoryW();

}  // namespace platform

#endif  // LINK_PLATFORM_H_
