// The package's custom action NotifyShell: tells the shell that file associations changed, as the
// shell asks of whoever creates or changes one. Windows Installer does not for plain registry
// rows, so without it Explorer may show the types' old icons and handlers until the next sign-in.
#include <windows.h>

// After windows.h, which they build on.
#include <msi.h>
#include <shlobj.h>

// A DLL custom action's entry. The package ignores what it returns: telling the shell must never
// fail an install.
extern "C" __declspec(dllexport) UINT __stdcall NotifyShell(MSIHANDLE) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ERROR_SUCCESS;
}
