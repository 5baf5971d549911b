// Runs the command line that the file named by the first argument holds, in UTF-8, exactly as it
// is written there, with this program's standard handles; exits with its exit status. (Wine
// rebuilds a program's command line from Unix arguments in its own way, and the tests need exact
// ones, with characters of any code page.) A second argument names the program to run: for an
// unquoted command line with a space in the program's path, Windows runs the program it finds and
// hands it the command line unchanged, where Wine would put quotes around that path.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: start_exactly FILE [PROGRAM]\n", stderr);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string utf8((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::wstring command_line(utf8.size() + 1, L'\0');
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          command_line.data(), static_cast<int>(command_line.size()));
  if (utf8.empty() || length <= 0) {
    std::fputs("start_exactly: no command line, or not UTF-8\n", stderr);
    return 2;
  }
  command_line.resize(static_cast<std::size_t>(length));

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::wstring program;
  if (argc == 3) {
    program.assign(argv[2], argv[2] + std::char_traits<char>::length(argv[2]));
  }
  if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), command_line.data(), nullptr,
                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "start_exactly: CreateProcessW failed (%lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 2;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
