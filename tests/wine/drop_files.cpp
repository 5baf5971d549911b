// Opens documents as Explorer opens a selection through a DropTarget verb, one type after the
// other: for each ProgID, in the order the documents' types first appear, reads the class id it
// names (HKEY_CLASSES_ROOT\<ProgID>\shell\open\DropTarget, value Clsid), activates that class in
// a local server, drops the shell's data object of that type's documents on it, and lets go of it.
//   drop_files [MODE] LIST
// MODE --no-drop lets go without dropping. --callers-at-once activates every type's class first,
// as callers that hold the class at the same time, and drops each 2.5 seconds after the previous
// one was let go of. --hdrop-only drops a data object that offers the classic CF_HDROP and nothing
// else, --ansi-hdrop one whose names are in the ANSI code page. --fail-after-drop cuts the data
// object off once Drop has returned, so that every later call on it fails, as Windows holds a
// dropped one valid only until then (Wine's shell copies what it needs at once). --drop-again
// leaves twice before its drop, and fails unless a second drop on the same target fails.
// --with-refused adds three callers of the first type's class, which drop the shell's data object
// of My Computer (no file), 100,001 file names, and a CF_HDROP block whose names lie past its end.
// LIST is a file of document paths, one a line, in UTF-8. Prints a line per caller: the
// milliseconds that the activation, the Drop and the Release took, and the effect the drop left,
// as "activation drop release effect".

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

// The data object of a drop source that offers the classic CF_HDROP and nothing else: a DROPFILES
// header, then the names, UTF-16 or in the ANSI code page, each ended by a NUL, and one more NUL.
// Only a faulty or hostile source says they begin elsewhere than after the header (`names_at`).
class FileList final : public IDataObject {
 public:
  FileList(const std::vector<std::wstring>& paths, bool wide, DWORD names_at = sizeof(DROPFILES))
      : block_(sizeof(DROPFILES), '\0') {
    const DROPFILES header = {names_at, {}, FALSE, wide};
    std::memcpy(block_.data(), &header, sizeof header);
    for (const std::wstring& path : paths) {
      if (wide) {
        block_.append(reinterpret_cast<const char*>(path.c_str()), (path.size() + 1) * 2);
      } else {
        char name[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, name, MAX_PATH, nullptr, nullptr);
        block_.append(name, std::strlen(name) + 1);
      }
    }
    block_.append(wide ? 2 : 1, '\0');
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    *object = IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IDataObject))
                  ? static_cast<IDataObject*>(this)
                  : nullptr;
    return *object ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (QueryGetData(format) != S_OK) {
      return DV_E_FORMATETC;
    }
    *medium = {};
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = GlobalAlloc(GHND, block_.size());
    void* const block = GlobalLock(medium->hGlobal);
    if (!block) {
      return E_OUTOFMEMORY;
    }
    std::memcpy(block, block_.data(), block_.size());
    GlobalUnlock(medium->hGlobal);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  std::string block_;
  ULONG references_ = 1;
};

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
  const std::string mode = argc == 3 ? argv[1] : "";
  if (argc != (mode.empty() ? 2 : 3) ||
      !(mode.empty() || mode == "--no-drop" || mode == "--callers-at-once" ||
        mode == "--hdrop-only" || mode == "--ansi-hdrop" || mode == "--fail-after-drop" ||
        mode == "--drop-again" || mode == "--with-refused")) {
    std::fputs(
        "usage: drop_files [--no-drop | --callers-at-once | --hdrop-only | --ansi-hdrop | "
        "--fail-after-drop | --drop-again | --with-refused] LIST\n",
        stderr);
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
  struct Caller {
    CLSID verb_class;
    IDataObject* documents;
    IDropTarget* target;
    double activation;
  };
  std::vector<Caller> callers;
  for (const auto& [progid, paths] : groups) {
    Caller caller = {};
    caller.documents = mode == "--hdrop-only" || mode == "--ansi-hdrop"
                           ? new FileList(paths, mode == "--hdrop-only")
                           : ShellDataObject(paths);
    if (!VerbClass(progid, &caller.verb_class) || !caller.documents) {
      return Fail("no DropTarget class or no data object for a type", 0);
    }
    callers.push_back(caller);
  }
  if (mode == "--with-refused") {
    Caller no_file = callers.front(), too_many = callers.front(), unreadable = callers.front();
    no_file.documents = ShellDataObject({L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"});
    too_many.documents = new FileList(std::vector<std::wstring>(100001, L"C:\\x"), true);
    unreadable.documents = new FileList({}, true, 0xFFFF);
    if (!no_file.documents) {
      return Fail("no data object for My Computer", 0);
    }
    callers.insert(callers.end(), {no_file, too_many, unreadable});
  }
  const auto activate = [](Caller& caller) {
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    const HRESULT result =
        CoCreateInstance(caller.verb_class, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IDropTarget),
                         reinterpret_cast<void**>(&caller.target));
    caller.activation = Milliseconds(started);
    return result;
  };
  if (mode == "--callers-at-once") {
    for (Caller& caller : callers) {
      if (const HRESULT result = activate(caller); FAILED(result)) {
        return Fail("activation failed", result);
      }
    }
  }
  for (Caller& caller : callers) {
    if (mode == "--callers-at-once" && &caller != &callers.front()) {
      Sleep(2500);
    } else if (mode != "--callers-at-once") {
      if (const HRESULT result = activate(caller); FAILED(result)) {
        return Fail("activation failed", result);
      }
    }
    LARGE_INTEGER started;
    double dropping = 0;
    // Every effect a source may offer; what the target leaves is what happened to the documents.
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    if (mode != "--no-drop") {
      QueryPerformanceCounter(&started);
      const POINTL point = {0, 0};
      HRESULT result = caller.target->DragEnter(caller.documents, MK_LBUTTON, point, &effect);
      if (SUCCEEDED(result) && effect == DROPEFFECT_NONE) {
        return Fail("DragEnter takes no effect", 0);
      }
      if (SUCCEEDED(result) && mode == "--drop-again") {
        caller.target->DragLeave();
        caller.target->DragLeave();
      }
      if (SUCCEEDED(result)) {
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
        result = caller.target->Drop(caller.documents, MK_LBUTTON, point, &effect);
      }
      dropping = Milliseconds(started);
      if (FAILED(result)) {
        return Fail("drop failed", result);
      }
      DWORD again = DROPEFFECT_COPY;
      if (mode == "--drop-again" &&
          SUCCEEDED(caller.target->Drop(caller.documents, MK_LBUTTON, point, &again))) {
        return Fail("a second drop on one target was taken", 0);
      }
    }
    if (mode == "--fail-after-drop") {
      CoDisconnectObject(caller.documents, 0);
    }
    QueryPerformanceCounter(&started);
    caller.target->Release();
    const double releasing = Milliseconds(started);
    caller.documents->Release();
    std::printf("%.1f %.1f %.1f %lu\n", caller.activation, dropping, releasing, effect);
    std::fflush(stdout);
  }
  CoUninitialize();
  return 0;
}
