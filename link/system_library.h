// The launcher loads the system DLLs it needs only now and then (user32 for a message box, iphlpapi
// for the table of connections) when they are due, and only the system's own copies: never one
// placed beside the launcher or in the current folder.

#ifndef LINK_SYSTEM_LIBRARY_H_
#define LINK_SYSTEM_LIBRARY_H_

#include <string>

#include "link/platform.h"

// Loads the system DLL `name` from the system folder; 0 when it cannot be loaded.
platform::Module LoadSystemLibrary(const std::wstring& name);

#endif  // LINK_SYSTEM_LIBRARY_H_
