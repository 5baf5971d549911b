// Prints the session of its own process as the launcher's platform calls tell it: from
// ProcessIdToSessionId, and from the system's list of processes, which the launcher reads for the
// processes it may not open; then what that list says of a process that does not exist; then
// whether its own process, and one that does not exist, run as its user (1 or 0). "-" stands for
// no answer. The list is read as a growing one is: a first buffer far too small must
// be told what the list needs.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <optional>

#include "link/platform.h"

namespace {

void Print(const std::optional<std::uint32_t>& session) {
  if (session) {
    std::printf("%u ", *session);
  } else {
    std::printf("- ");
  }
}

void Print(const std::optional<bool>& same) {
  Print(same ? std::optional<std::uint32_t>(*same) : std::nullopt);
}

std::optional<std::uint32_t> Listed(std::uint32_t process) {
  std::uint32_t size = 16;
  std::optional<std::uint32_t> session;
  if (platform::NtQuerySystemInformationSessionId(process, &size, &session) !=
          platform::TableRead::kTooSmall ||
      size <= 16) {
    return std::nullopt;
  }
  size += size / 2;
  if (platform::NtQuerySystemInformationSessionId(process, &size, &session) !=
      platform::TableRead::kRead) {
    return std::nullopt;
  }
  return session;
}

}  // namespace

int main() {
  const std::uint32_t self = platform::GetCurrentProcessId();
  Print(platform::ProcessIdToSessionId(self));
  Print(Listed(self));
  // Process ids are multiples of 4.
  Print(Listed(0xFFFFFFF1));
  Print(platform::RunsAsOurUser(self));
  Print(platform::RunsAsOurUser(0xFFFFFFF1));
  return 0;
}
