// A scripted operating system for the launch logic: each test sets what the calls answer, runs
// the launcher's code and then reads the calls it made, in order, and what is still held.

#ifndef TESTS_UNIT_FAKE_PLATFORM_H_
#define TESTS_UNIT_FAKE_PLATFORM_H_

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/platform.h"

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

  // Calls whose text begins with `prefix`.
  int Count(const std::string& prefix) const;
};

// The fake that the platform calls answer from, fresh for every test.
FakePlatform& Fake();
void ResetFake();

#endif  // TESTS_UNIT_FAKE_PLATFORM_H_
