#include "launcher/selection.h"

#include "link/platform.h"

// After the Windows Sockets headers, which link/platform.h includes.
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <stdexcept>
#include <type_traits>

#include "link/system_library.h"

namespace {

// The class that every document type's shell\open\DropTarget names; its server is the launcher.
constexpr CLSID kLauncherClass = {
    0xAB4AAF10, 0x92E1, 0x4AD1, {0xA0, 0x51, 0x62, 0x25, 0xD8, 0x3B, 0xEE, 0x1A}};

// How long the launcher waits for a drop after its start, and for Explorer to let go of the drop
// target afterwards: Explorer waits in Release until the server has answered.
constexpr DWORD kWaitForDrop = 30000;
constexpr DWORD kWaitForRelease = 2000;

// What COM and the shell offer, from ole32 and shell32: loaded on demand from the system folder,
// as user32 and iphlpapi are, so that the launcher's imports stay those of a command-line start.
struct ShellFunctions {
  ShellFunctions()
      : ole32(LoadSystemLibrary(L"ole32.dll")),
        shell32(LoadSystemLibrary(L"shell32.dll")),
        user32(LoadSystemLibrary(L"user32.dll")),
        CoInitializeEx(FunctionNamed<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx")),
        CoUninitialize(FunctionNamed<decltype(&::CoUninitialize)>(ole32, "CoUninitialize")),
        CoRegisterClassObject(
            FunctionNamed<decltype(&::CoRegisterClassObject)>(ole32, "CoRegisterClassObject")),
        CoRevokeClassObject(
            FunctionNamed<decltype(&::CoRevokeClassObject)>(ole32, "CoRevokeClassObject")),
        CoWaitForMultipleHandles(FunctionNamed<decltype(&::CoWaitForMultipleHandles)>(
            ole32, "CoWaitForMultipleHandles")),
        ReleaseStgMedium(FunctionNamed<decltype(&::ReleaseStgMedium)>(ole32, "ReleaseStgMedium")),
        DragQueryFileW(FunctionNamed<decltype(&::DragQueryFileW)>(shell32, "DragQueryFileW")),
        ILCombine(FunctionNamed<decltype(&::ILCombine)>(shell32, "ILCombine")),
        ILFree(FunctionNamed<decltype(&::ILFree)>(shell32, "ILFree")),
        SHGetPathFromIDListEx(
            FunctionNamed<decltype(&::SHGetPathFromIDListEx)>(shell32, "SHGetPathFromIDListEx")),
        RegisterClipboardFormatW(FunctionNamed<decltype(&::RegisterClipboardFormatW)>(
            user32, "RegisterClipboardFormatW")) {}

  bool Complete() const {
    return CoInitializeEx && CoUninitialize && CoRegisterClassObject && CoRevokeClassObject &&
           CoWaitForMultipleHandles && ReleaseStgMedium && DragQueryFileW && ILCombine && ILFree &&
           SHGetPathFromIDListEx && RegisterClipboardFormatW;
  }

  // Loaded for the rest of the run: COM keeps its own references to them.
  const platform::Module ole32;
  const platform::Module shell32;
  const platform::Module user32;
  decltype(&::CoInitializeEx) const CoInitializeEx;
  decltype(&::CoUninitialize) const CoUninitialize;
  decltype(&::CoRegisterClassObject) const CoRegisterClassObject;
  decltype(&::CoRevokeClassObject) const CoRevokeClassObject;
  decltype(&::CoWaitForMultipleHandles) const CoWaitForMultipleHandles;
  decltype(&::ReleaseStgMedium) const ReleaseStgMedium;
  decltype(&::DragQueryFileW) const DragQueryFileW;
  decltype(&::ILCombine) const ILCombine;
  decltype(&::ILFree) const ILFree;
  decltype(&::SHGetPathFromIDListEx) const SHGetPathFromIDListEx;
  decltype(&::RegisterClipboardFormatW) const RegisterClipboardFormatW;
};

// The data of one format of a data object, released with it.
class Medium {
 public:
  Medium(const ShellFunctions& shell, IDataObject* data, CLIPFORMAT format) : shell_(shell) {
    FORMATETC wanted = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    held_ = SUCCEEDED(data->GetData(&wanted, &medium_));
    if (held_ && medium_.tymed == TYMED_HGLOBAL) {
      global_ = medium_.hGlobal;
      bytes_ = static_cast<const BYTE*>(::GlobalLock(global_));
      size_ = bytes_ ? ::GlobalSize(global_) : 0;
    }
  }
  ~Medium() {
    if (bytes_) {
      ::GlobalUnlock(global_);
    }
    if (held_) {
      shell_.ReleaseStgMedium(&medium_);
    }
  }
  Medium(const Medium&) = delete;
  Medium& operator=(const Medium&) = delete;

  // Null where the data object does not have the format in global memory.
  HGLOBAL global() const { return global_; }
  const BYTE* bytes() const { return bytes_; }
  SIZE_T size() const { return size_; }

 private:
  const ShellFunctions& shell_;
  STGMEDIUM medium_ = {};
  bool held_ = false;
  HGLOBAL global_ = nullptr;
  const BYTE* bytes_ = nullptr;
  SIZE_T size_ = 0;
};

// The paths of a CF_HDROP, in order.
std::vector<std::wstring> DroppedFiles(const ShellFunctions& shell, const Medium& drop) {
  const auto files = static_cast<HDROP>(drop.global());
  std::vector<std::wstring> paths(shell.DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0));
  for (UINT i = 0; i < paths.size(); ++i) {
    paths[i].resize(shell.DragQueryFileW(files, i, nullptr, 0) + 1);
    paths[i].resize(
        shell.DragQueryFileW(files, i, paths[i].data(), static_cast<UINT>(paths[i].size())));
  }
  return paths;
}

// The paths of the items of the shell's ID-list array (CIDA: a folder, then items in it), in
// order; empty when one of them has no path in the file system.
std::optional<std::vector<std::wstring>> ItemPaths(const ShellFunctions& shell,
                                                   const Medium& items) {
  const auto* array = reinterpret_cast<const CIDA*>(items.bytes());
  // The count and the offsets must lie inside the data, and so must what they point at.
  if (!array || items.size() < sizeof(UINT) ||
      (items.size() - sizeof(UINT)) / sizeof(UINT) < array->cidl + 1ull) {
    return std::nullopt;
  }
  const auto id_list = [&](UINT index) {
    return array->aoffset[index] < items.size() ? items.bytes() + array->aoffset[index] : nullptr;
  };
  const auto folder = reinterpret_cast<PCIDLIST_ABSOLUTE>(id_list(0));
  std::vector<std::wstring> paths;
  for (UINT i = 1; folder && i <= array->cidl; ++i) {
    const auto item = reinterpret_cast<PCUIDLIST_RELATIVE>(id_list(i));
    const PIDLIST_ABSOLUTE full = item ? shell.ILCombine(folder, item) : nullptr;
    std::wstring path(32768, L'\0');
    const bool in_file_system =
        full && shell.SHGetPathFromIDListEx(full, path.data(), static_cast<DWORD>(path.size()),
                                            GPFIDL_DEFAULT);
    shell.ILFree(full);
    if (!in_file_system) {
      return std::nullopt;
    }
    path.resize(path.find(L'\0'));
    paths.push_back(std::move(path));
  }
  if (paths.size() != array->cidl) {
    return std::nullopt;
  }
  return paths;
}

// QueryInterface of an object that is an `Interface` and nothing more.
template <typename Interface>
HRESULT QueryOnly(Interface* self, REFIID interface_id, void** object) {
  if (!IsEqualIID(interface_id, __uuidof(IUnknown)) &&
      !IsEqualIID(interface_id, __uuidof(Interface))) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = self;
  self->AddRef();
  return S_OK;
}

// What was dropped, and what became of the drop target.
struct Selection {
  std::optional<std::vector<std::wstring>> paths;  // Empty for a refused selection.
  bool dropped = false;
  bool left = false;      // DragLeave: the drop was called off.
  bool released = false;  // Explorer let go of the drop target.
};

// The drop target that Explorer drops the selection on. It lives on the stack of
// ReceiveSelection, which outlives COM's use of it: counting references tells only when Explorer
// has let go of it.
class DropTarget final : public IDropTarget {
 public:
  DropTarget(const ShellFunctions& shell, Selection* selection, HANDLE changed)
      : shell_(shell), selection_(selection), changed_(changed) {}
  DropTarget(const DropTarget&) = delete;
  DropTarget& operator=(const DropTarget&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    return QueryOnly<IDropTarget>(this, interface_id, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--references_ == 0) {
      Tell(&Selection::released);
    }
    return references_;
  }

  // Every selection is taken: the launcher decides about its items only once it is dropped.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    Tell(&Selection::left);
    return S_OK;
  }
  // Explorer waits while Drop runs: it copies the paths and returns; the launch comes later.
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD*) override {
    if (!data) {
      return E_INVALIDARG;
    }
    // Every file-system item is in CF_HDROP; the ID-list array also names items that are not.
    if (const Medium files(shell_, data, CF_HDROP); files.global()) {
      selection_->paths = DroppedFiles(shell_, files);
    } else {
      const Medium items(
          shell_, data,
          static_cast<CLIPFORMAT>(shell_.RegisterClipboardFormatW(L"Shell IDList Array")));
      selection_->paths = ItemPaths(shell_, items);
    }
    Tell(&Selection::dropped);
    return S_OK;
  }

 private:
  void Tell(bool Selection::*happened) {
    selection_->*happened = true;
    ::SetEvent(changed_);
  }

  const ShellFunctions& shell_;
  Selection* const selection_;
  const HANDLE changed_;
  ULONG references_ = 0;
};

// The launcher's class object, registered for one use: a second activation starts another
// launcher, which sends a request of its own.
class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(DropTarget* target) : target_(target) {}
  ClassObject(const ClassObject&) = delete;
  ClassObject& operator=(const ClassObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    return QueryOnly<IClassFactory>(this, interface_id, object);
  }
  // It lives as long as the registration, whatever COM counts.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id,
                                           void** object) override {
    if (outer) {
      *object = nullptr;
      return CLASS_E_NOAGGREGATION;
    }
    return target_->QueryInterface(interface_id, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  DropTarget* const target_;
};

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Answers COM's calls on this thread, whose apartment takes them only while it waits in COM,
// until `done` or `milliseconds` have passed.
template <typename Done>
void Serve(const ShellFunctions& shell, HANDLE changed, DWORD milliseconds, Done done) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (ULONGLONG now = ::GetTickCount64(); !done() && now < deadline; now = ::GetTickCount64()) {
    DWORD signalled = 0;
    shell.CoWaitForMultipleHandles(0, static_cast<DWORD>(deadline - now), 1, &changed, &signalled);
  }
}

[[noreturn]] void CannotServe() { throw std::runtime_error("Couldn't serve the selection"); }

}  // namespace

bool StartedToServeSelection(int argc, const wchar_t* const* argv) {
  return argc == 2 &&
         (::lstrcmpiW(argv[1], L"-Embedding") == 0 || ::lstrcmpiW(argv[1], L"/Embedding") == 0);
}

std::optional<std::vector<std::wstring>> ReceiveSelection() {
  const ShellFunctions shell;
  const Event changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!shell.Complete() || !changed) {
    CannotServe();
  }
  // An apartment of this one thread: COM's calls come in only while it waits in Serve, one at a
  // time.
  if (FAILED(shell.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    CannotServe();
  }
  Selection selection;
  DropTarget target(shell, &selection, changed.get());
  ClassObject class_object(&target);
  DWORD registration = 0;
  const HRESULT registered = shell.CoRegisterClassObject(
      kLauncherClass, &class_object, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &registration);
  if (SUCCEEDED(registered)) {
    Serve(shell, changed.get(), kWaitForDrop,
          [&] { return selection.dropped || selection.left || selection.released; });
    // Explorer returns from its Release only once this apartment has answered it.
    if (selection.dropped || selection.left) {
      Serve(shell, changed.get(), kWaitForRelease, [&] { return selection.released; });
    }
    shell.CoRevokeClassObject(registration);
  }
  shell.CoUninitialize();
  if (FAILED(registered)) {
    CannotServe();
  }

  if (!selection.dropped || selection.left) {
    return std::nullopt;
  }
  if (!selection.paths) {
    platform::MessageBoxA(
        "One of the selected items is not a file or folder on this computer, so none of them was "
        "opened.\n\nSelect only documents that are in a folder on a drive, and open them again.",
        "Orbedo Launcher");
    throw std::runtime_error("Selection holds an item that is not a file");
  }
  if (selection.paths->empty()) {
    return std::nullopt;
  }
  return selection.paths;
}
