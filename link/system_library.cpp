#include "link/system_library.h"

platform::Module LoadSystemLibrary(const std::wstring& name) {
  if (const platform::Module module =
          platform::LoadLibraryExW(name, platform::LibrarySearch::kSystemFolder)) {
    return module;
  }
  // Windows Vista and 7 without the loader update (KB2533623) do not know that search and fail
  // it: there the full path in the system folder names the same file. Never the ordinary search,
  // which looks beside the launcher first.
  const std::wstring folder = platform::GetSystemDirectoryW();
  if (folder.empty()) {
    return 0;
  }
  return platform::LoadLibraryExW(folder + L'\\' + name, platform::LibrarySearch::kFullPath);
}
