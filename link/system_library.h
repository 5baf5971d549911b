// The launcher loads the system DLLs it needs only now and then (user32 for a message box, iphlpapi
// for the table of connections, ole32 and shell32 for a selection from Explorer) when they are due,
// and only the system's own copies: never one placed beside the launcher or in the current folder.

#ifndef LINK_SYSTEM_LIBRARY_H_
#define LINK_SYSTEM_LIBRARY_H_

#include <string>

#include "link/platform.h"

// Loads the system DLL `name` from the system folder; 0 when it cannot be loaded.
platform::Module LoadSystemLibrary(const std::wstring& name);

#ifdef _WIN32
// The function `name` of `module` as a `Function`; null when either is missing.
template <typename Function>
Function FunctionNamed(platform::Module module, const char* name) {
  const FARPROC found =
      module ? ::GetProcAddress(reinterpret_cast<HMODULE>(module), name) : nullptr;
  // -Wcast-function-type accepts a cast between unrelated function types through void (*)().
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
#endif

#endif  // LINK_SYSTEM_LIBRARY_H_
