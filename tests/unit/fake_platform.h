// A scripted operating system for the launch logic: each test sets what the calls answer, runs
// the launcher's code and then reads the calls it made, in order, and what is still held.

#ifndef TESTS_UNIT_FAKE_PLATFORM_H_
#define TESTS_UNIT_FAKE_PLATFORM_H_

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/platform.h"

// The ends of the connection the launcher makes: its own, and the main application's.
inline constexpr std::uint16_t kLauncherPort = 50000;
inline constexpr std::uint16_t kApplicationPort = 46157;
inline constexpr std::uint32_t kLauncherProcess = 4242;
inline constexpr std::uint32_t kLauncherSession = 1;
inline constexpr std::uint32_t kStartedProcess = 900;  // The main application the launcher starts.

// The row of the TCP table for one end of a connection between two loopback ports.
platform::TcpConnection TcpRow(std::uint16_t local_port, std::uint16_t remote_port,
                               std::optional<std::uint32_t> owner);
// The row of a socket listening on `port` of the IPv4 address `address` (in host byte order).
platform::TcpConnection ListenerRow(std::uint32_t address, std::uint16_t port);

// What a table that needs `size` bytes, and grows by `growth` at every call, answers a call that
// offers `*offered` bytes: false, with `*offered` set to the size needed (or 0 where the system
// does not say it), when they are too few.
struct ScriptedTableSize {
  std::uint32_t size = 0;
  std::uint32_t growth = 0;
  bool says_size = true;
  std::vector<std::uint32_t> offered;  // What each call offered.

  bool Fits(std::uint32_t* offered_size);
};

struct FakePlatform {
  // What the calls answer.
  std::deque<int> wsa_startup_results;  // Per WSAStartup call; then 0.
  int getaddrinfo_result = 0;
  int resolved_addresses = 1;
  std::deque<bool> socket_results;   // Per socket call, whether it succeeds; then true.
  std::deque<bool> connect_results;  // Per connect call, whether it succeeds; then false.
  bool create_process_result = true;
  std::deque<int> send_limits;      // Per send call, bytes taken or -1 for an error; then all.
  std::deque<std::string> replies;  // Per recv call, what arrives; then the peer closes.
  bool recv_fails_at_end = false;   // Whether the end of the reply is an error, not a close.
  std::deque<platform::Clock::duration> sleep_cut_short_to;  // Per sleep; then full sleeps.
  int ioctl_result = 0;
  bool out_of_memory = false;  // Whether WSAStartup runs out of memory, as a new would.
  bool socket_names_known = true;
  // The table of TCP sockets (empty: it cannot be read), with the server side of the launcher's
  // connection owned by the launcher's own session, and the sessions of the processes.
  std::optional<std::vector<platform::TcpConnection>> tcp_table = std::vector{
      TcpRow(kApplicationPort, kLauncherPort, 777), TcpRow(kLauncherPort, kApplicationPort, 0)};
  ScriptedTableSize tcp_table_size;
  std::map<std::uint32_t, std::uint32_t> sessions = {{777, kLauncherSession},
                                                     {kLauncherProcess, kLauncherSession}};
  // The sessions in the system's list of processes, for those that may not be opened.
  std::map<std::uint32_t, std::uint32_t> listed_sessions;
  ScriptedTableSize process_list_size;
  bool in_job = false;
  bool job_allows_breakaway = true;
  std::string module_file_name = "/opt/orbedo/Orbedo-Launcher.exe";
  std::set<std::string> refused_folders;   // What CreateProcessW refuses as current folder.
  bool system_folder_search_known = true;  // Whether LoadLibraryExW takes kSystemFolder.
  std::wstring system_directory = L"C:\\Windows\\System32";
  // The existing paths and their short forms. The code page is Latin-1: it holds U+0000-U+00FF.
  std::map<std::wstring, std::wstring> short_paths;

  // What the calls did.
  std::vector<std::string> calls;
  std::string sent;
  addrinfo hints = {};
  platform::Clock::time_point now;  // The monotonic clock, moved only by SleepFor.
  int started_libraries = 0;        // WSAStartup successes less WSACleanup calls.
  int open_sockets = 0;
  int unfreed_address_lists = 0;
  int open_handles = 0;
  int short_path_lookups = 0;
  std::vector<std::string> start_folders;  // Each CreateProcessW's, "" for the launcher's own.

  // Calls whose text begins with `prefix`.
  int Count(const std::string& prefix) const;
};

// The fake that the platform calls answer from, fresh for every test.
FakePlatform& Fake();
void ResetFake();

#endif  // TESTS_UNIT_FAKE_PLATFORM_H_
