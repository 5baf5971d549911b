// Prints the session of its own process as the launcher's platform calls tell it: from
// ProcessIdToSessionId, and from the system's list of processes, which the launcher reads for the
// processes it may not open; then what that list says of a process that does not exist. "-"
// stands for no answer.

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

}  // namespace

int main() {
  const std::uint32_t self = platform::GetCurrentProcessId();
  Print(platform::ProcessIdToSessionId(self));
  Print(platform::NtQuerySystemInformationSessionId(self));
  // Process ids are multiples of 4.
  Print(platform::NtQuerySystemInformationSessionId(0xFFFFFFF1));
  return 0;
}
