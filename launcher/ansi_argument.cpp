#include "launcher/ansi_argument.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "link/platform.h"

namespace {

constexpr wchar_t kSeparators[] = L"\\/";

[[noreturn]] void Refuse() {
  platform::MessageBoxA(
      "The name of this document, or of a folder in its path, holds characters that cannot be "
      "passed on to Orbedo.\n\nRename the document, or move it to a folder with a plain name, "
      "and open it again.",
      "Orbedo Launcher");
  throw std::runtime_error("Unsupported characters in document name");
}

// No file name holds a wildcard, but the system might expand one while looking up a short name:
// besides * and ?, file lookups take < > and " as patterns too (C:\Data\β<.pdb would find
// β-sheet.pdb). The "\\?\" that begins an extended-length path is not one.
bool HoldsWildcard(const std::wstring& path) {
  const std::size_t from = path.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
  return path.find_first_of(L"*?<>\"", from) != std::wstring::npos;
}

// The extension, from the last dot on, with ASCII letters in capitals: short names are.
std::wstring Extension(const std::wstring& name) {
  const std::size_t dot = name.rfind(L'.');
  std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
  for (wchar_t& character : extension) {
    if (character >= L'a' && character <= L'z') {
      character = static_cast<wchar_t>(character - L'a' + L'A');
    }
  }
  return extension;
}

// The short name of the last component of `path`, `name`, in the ANSI code page. Empty when it has
// none the code page holds (short names may be turned off for the volume: then the system gives
// back the long name), or when, for the file name, it would change the extension.
std::optional<std::string> ShortName(const std::wstring& path, const std::wstring& name,
                                     bool is_file_name) {
  const std::optional<std::wstring> short_path = platform::GetShortPathNameW(path);
  if (!short_path) {
    return std::nullopt;
  }
  // npos + 1 is 0: a path without a separator is a name of its own.
  const std::wstring short_name = short_path->substr(short_path->find_last_of(kSeparators) + 1);
  if (is_file_name && Extension(short_name) != Extension(name)) {
    return std::nullopt;
  }
  return platform::WideCharToMultiByte(short_name);
}

}  // namespace

std::string AnsiArgument(const std::wstring& argument) {
  if (std::optional<std::string> exact = platform::WideCharToMultiByte(argument)) {
    return *std::move(exact);
  }
  if (HoldsWildcard(argument) || !platform::GetShortPathNameW(argument)) {
    Refuse();
  }
  // Component by component, so that those the code page holds stay as the user wrote them.
  std::string ansi;
  for (std::size_t start = 0;;) {
    const std::size_t end = argument.find_first_of(kSeparators, start);
    const std::wstring name = argument.substr(start, end - start);
    std::optional<std::string> held = platform::WideCharToMultiByte(name);
    if (!held) {
      held = ShortName(argument.substr(0, end), name, end == std::wstring::npos);
      if (!held) {
        Refuse();
      }
    }
    ansi += *held;
    if (end == std::wstring::npos) {
      return ansi;
    }
    ansi += static_cast<char>(argument[end]);
    start = end + 1;
  }
}
