// Opens documents as Explorer opens a selection through a DropTarget verb: reads the class id that
// the first document's type names (HKEY_CLASSES_ROOT\<ProgID>\shell\open\DropTarget, value Clsid),
// activates that class in a local server, and drops a data object listing every document (wide
// CF_HDROP) on it, then lets go of it. With --no-drop it lets go without dropping.
//   drop_files [--no-drop] LIST
// LIST is a file of document paths, one a line, in UTF-8. Prints the milliseconds that the
// activation, the Drop and the Release took, as "activation drop release".

#include <ole2.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

// A data object with one format: the documents as a wide CF_HDROP.
class Documents final : public IDataObject {
 public:
  explicit Documents(const std::vector<std::wstring>& paths) {
    std::wstring list;
    for (const std::wstring& path : paths) {
      list += path + L'\0';
    }
    list += L'\0';
    drop_.resize(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    DROPFILES header = {};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    std::memcpy(drop_.data(), &header, sizeof header);
    std::memcpy(drop_.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (!IsEqualIID(id, __uuidof(IUnknown)) && !IsEqualIID(id, __uuidof(IDataObject))) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (QueryGetData(format) != S_OK) {
      return DV_E_FORMATETC;
    }
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, drop_.size());
    std::memcpy(GlobalLock(global), drop_.data(), drop_.size());
    GlobalUnlock(global);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = global;
    medium->pUnkForRelease = nullptr;
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
  std::vector<char> drop_;
};

// The class id of the open verb's DropTarget for the type of `document`, as Explorer finds it.
bool VerbClass(const std::wstring& document, CLSID* verb_class) {
  const std::wstring extension = document.substr(document.rfind(L'.'));
  wchar_t progid[256] = {};
  DWORD size = sizeof progid;
  wchar_t text[64] = {};
  DWORD text_size = sizeof text;
  return RegGetValueW(HKEY_CLASSES_ROOT, extension.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, progid,
                      &size) == ERROR_SUCCESS &&
         RegGetValueW(HKEY_CLASSES_ROOT,
                      (std::wstring(progid) + L"\\shell\\open\\DropTarget").c_str(), L"Clsid",
                      RRF_RT_REG_SZ, nullptr, text, &text_size) == ERROR_SUCCESS &&
         SUCCEEDED(CLSIDFromString(text, verb_class));
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
  std::ifstream list(argv[argc - 1]);
  std::vector<std::wstring> paths;
  for (std::string line; std::getline(list, line);) {
    paths.push_back(Wide(line));
  }
  CLSID verb_class;
  if (paths.empty() || !VerbClass(paths.front(), &verb_class)) {
    return Fail("no DropTarget class for the first document's type", 0);
  }
  // Explorer's threads are apartments of their own.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Documents documents(paths);

  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  IDropTarget* target = nullptr;
  HRESULT result = CoCreateInstance(verb_class, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IDropTarget),
                                    reinterpret_cast<void**>(&target));
  if (FAILED(result)) {
    return Fail("activation failed", result);
  }
  const double activation = Milliseconds(started);
  double dropping = 0;
  if (drop) {
    QueryPerformanceCounter(&started);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
    const POINTL point = {0, 0};
    result = target->DragEnter(&documents, MK_LBUTTON, point, &effect);
    if (SUCCEEDED(result)) {
      effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
      result = target->Drop(&documents, MK_LBUTTON, point, &effect);
    }
    dropping = Milliseconds(started);
    if (FAILED(result)) {
      return Fail("drop failed", result);
    }
  }
  QueryPerformanceCounter(&started);
  target->Release();
  const double releasing = Milliseconds(started);
  CoUninitialize();
  std::printf("%.1f %.1f %.1f\n", activation, dropping, releasing);
  return 0;
}
