// Opens documents as Explorer opens a selection through a DropTarget verb, one type after the
// other: for each ProgID, in the order the documents' types first appear, reads the class id it
// names (HKEY_CLASSES_ROOT\<ProgID>\shell\open\DropTarget, value Clsid), activates that class in
// a local server, drops the shell's data object of that type's documents on it, and lets go of it.
// With --no-drop it lets go without dropping.
//   drop_files [--no-drop] LIST
// LIST is a file of document paths, one a line, in UTF-8. Prints a line per type: the milliseconds
// that the activation, the Drop and the Release took, and the effect the drop left, as
// "activation drop release effect".

#include <ole2.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

// The ProgID that the type of `document` names, as Explorer finds it; empty where there is none.
std::wstring ProgId(const std::wstring& document) {
  const std::wstring extension = document.substr(document.rfind(L'.'));
  wchar_t progid[256] = {};
  DWORD size = sizeof progid;
  RegGetValueW(HKEY_CLASSES_ROOT, extension.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, progid,
               &size);
  return progid;
}

// The class id of the open verb's DropTarget of `progid`.
bool VerbClass(const std::wstring& progid, CLSID* verb_class) {
  wchar_t text[64] = {};
  DWORD size = sizeof text;
  return RegGetValueW(HKEY_CLASSES_ROOT, (progid + L"\\shell\\open\\DropTarget").c_str(), L"Clsid",
                      RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS &&
         SUCCEEDED(CLSIDFromString(text, verb_class));
}

// The shell's data object for `paths`, as Explorer drops it: the items' ID lists (here relative to
// the desktop, whose own list is empty), which the shell also offers as CF_HDROP.
IDataObject* ShellDataObject(const std::vector<std::wstring>& paths) {
  std::vector<PIDLIST_ABSOLUTE> items;
  for (const std::wstring& path : paths) {
    items.push_back(ILCreateFromPathW(path.c_str()));
  }
  const SHITEMID desktop = {};
  IDataObject* data = nullptr;
  const bool named = std::find(items.begin(), items.end(), nullptr) == items.end();
  const HRESULT created =
      !named ? E_INVALIDARG
             : CIDLData_CreateFromIDArray(
                   reinterpret_cast<PCIDLIST_ABSOLUTE>(&desktop), static_cast<UINT>(items.size()),
                   const_cast<PCUIDLIST_RELATIVE_ARRAY>(
                       reinterpret_cast<const PCUIDLIST_RELATIVE*>(items.data())),
                   &data);
  for (PIDLIST_ABSOLUTE item : items) {
    ILFree(item);
  }
  return SUCCEEDED(created) ? data : nullptr;
}

double Milliseconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

int Fail(const char* what, long code) {
  std::fprintf(stderr, "drop_files: %s (0x%08lx)\n", what, code);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const bool drop = !(argc == 3 && std::strcmp(argv[1], "--no-drop") == 0);
  if (argc != (drop ? 2 : 3)) {
    std::fputs("usage: drop_files [--no-drop] LIST\n", stderr);
    return 2;
  }
  // The documents by type, the types in the order they first appear.
  std::ifstream list(argv[argc - 1]);
  std::vector<std::pair<std::wstring, std::vector<std::wstring>>> groups;
  for (std::string line; std::getline(list, line);) {
    const std::wstring path = Wide(line);
    const std::wstring progid = ProgId(path);
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const auto& known) { return known.first == progid; });
    if (group == groups.end()) {
      group = groups.insert(groups.end(), {progid, {}});
    }
    group->second.push_back(path);
  }
  if (groups.empty()) {
    return Fail("no documents", 0);
  }
  // Explorer's threads are apartments of their own.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (const auto& [progid, paths] : groups) {
    CLSID verb_class;
    IDataObject* const documents = ShellDataObject(paths);
    if (!VerbClass(progid, &verb_class) || !documents) {
      return Fail("no DropTarget class or no data object for a type", 0);
    }
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    IDropTarget* target = nullptr;
    HRESULT result = CoCreateInstance(verb_class, nullptr, CLSCTX_LOCAL_SERVER,
                                      __uuidof(IDropTarget), reinterpret_cast<void**>(&target));
    if (FAILED(result)) {
      return Fail("activation failed", result);
    }
    const double activation = Milliseconds(started);
    double dropping = 0;
    // Every effect a source may offer; what the target leaves is what happened to the documents.
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    if (drop) {
      QueryPerformanceCounter(&started);
      const POINTL point = {0, 0};
      result = target->DragEnter(documents, MK_LBUTTON, point, &effect);
      if (SUCCEEDED(result) && effect == DROPEFFECT_NONE) {
        return Fail("DragEnter takes no effect", 0);
      }
      if (SUCCEEDED(result)) {
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
        result = target->Drop(documents, MK_LBUTTON, point, &effect);
      }
      dropping = Milliseconds(started);
      if (FAILED(result)) {
        return Fail("drop failed", result);
      }
    }
    QueryPerformanceCounter(&started);
    target->Release();
    const double releasing = Milliseconds(started);
    documents->Release();
    std::printf("%.1f %.1f %.1f %lu\n", activation, dropping, releasing, effect);
  }
  CoUninitialize();
  return 0;
}
