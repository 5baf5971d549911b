// Writes to standard output the request body that its own command line makes, twice, each
// followed by a NUL: first from the runtime's narrow argument vector, as the launcher once took
// its arguments, then as the launcher takes them now, from the wide vector, converted one by one.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/ansi_argument.h"
#include "launcher/launch_request.h"

extern "C" {
// The Microsoft runtime's own parser of the narrow command line, which a narrow main() is given.
struct StartupInformation {
  int new_mode;
};
int __getmainargs(int* argc, char*** argv, char*** environment, int expand_wildcards,
                  StartupInformation* information);

int _dowildcard = 0;
}

namespace {

void WriteBody(const std::vector<std::string>& arguments) {
  const std::string body = BuildRequestBody(arguments);
  std::fwrite(body.data(), 1, body.size(), stdout);
  std::fputc('\0', stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Bytes as they are: a text-mode stream would write each line feed as CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  int narrow_count = 0;
  char** narrow = nullptr;
  char** environment = nullptr;
  StartupInformation information = {};
  if (__getmainargs(&narrow_count, &narrow, &environment, 0, &information) != 0) {
    return 2;
  }
  WriteBody(std::vector<std::string>(narrow + 1, narrow + narrow_count));

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(AnsiArgument(argv[i]));
  }
  WriteBody(arguments);
  return 0;
}
