#include "launcher/selection.h"

#include "link/platform.h"

// After the Windows Sockets headers, which link/platform.h includes.
#include <ole2.h>
#include <shlobj.h>

#include <memory>
#include <stdexcept>
#include <type_traits>

#include "link/system_library.h"

namespace {

// The class that every document type's shell\open\DropTarget names; its server is the launcher.
constexpr CLSID kLauncherClass = {
    0xAB4AAF10, 0x92E1, 0x4AD1, {0xA0, 0x51, 0x62, 0x25, 0xD8, 0x3B, 0xEE, 0x1A}};

// How long the launcher waits for what comes next. Once activated, for the drop. After a drop, for
// Explorer to let go of the drop target: Explorer waits in Release until the server has answered.
// After that, for a further activation: Explorer opens a selection of several types by each one's
// association, activating the class once per type, each time at once after the previous release;
// waiting longer would only delay every selection's launch, and a later activation still gets a
// launcher of its own.
constexpr DWORD kWaitForDrop = 30000;
constexpr DWORD kWaitForRelease = 2000;
constexpr DWORD kWaitForActivation = 500;

// What COM and the shell offer, from ole32 and shell32: loaded on demand from the system folder,
// as user32 and iphlpapi are, so that the launcher's imports stay those of a command-line start.
struct ShellFunctions {
  ShellFunctions()
      : ole32(LoadSystemLibrary(L"ole32.dll")),
        shell32(LoadSystemLibrary(L"shell32.dll")),
        CoInitializeEx(FunctionNamed<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx")),
        CoUninitialize(FunctionNamed<decltype(&::CoUninitialize)>(ole32, "CoUninitialize")),
        CoRegisterClassObject(
            FunctionNamed<decltype(&::CoRegisterClassObject)>(ole32, "CoRegisterClassObject")),
        CoRevokeClassObject(
            FunctionNamed<decltype(&::CoRevokeClassObject)>(ole32, "CoRevokeClassObject")),
        CoWaitForMultipleHandles(FunctionNamed<decltype(&::CoWaitForMultipleHandles)>(
            ole32, "CoWaitForMultipleHandles")),
        CoTaskMemFree(FunctionNamed<decltype(&::CoTaskMemFree)>(ole32, "CoTaskMemFree")),
        SHCreateShellItemArrayFromDataObject(
            FunctionNamed<decltype(&::SHCreateShellItemArrayFromDataObject)>(
                shell32, "SHCreateShellItemArrayFromDataObject")) {}

  bool Complete() const {
    return CoInitializeEx && CoUninitialize && CoRegisterClassObject && CoRevokeClassObject &&
           CoWaitForMultipleHandles && CoTaskMemFree && SHCreateShellItemArrayFromDataObject;
  }

  // Loaded for the rest of the run: COM keeps its own references to them.
  const platform::Module ole32;
  const platform::Module shell32;
  decltype(&::CoInitializeEx) const CoInitializeEx;
  decltype(&::CoUninitialize) const CoUninitialize;
  decltype(&::CoRegisterClassObject) const CoRegisterClassObject;
  decltype(&::CoRevokeClassObject) const CoRevokeClassObject;
  decltype(&::CoWaitForMultipleHandles) const CoWaitForMultipleHandles;
  decltype(&::CoTaskMemFree) const CoTaskMemFree;
  decltype(&::SHCreateShellItemArrayFromDataObject) const SHCreateShellItemArrayFromDataObject;
};

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, ComReleaser>;

// The paths of the items of every drop, drop after drop, each in its order, as the shell names them
// in the file system; empty when one of them has none (an item of a zip folder, a phone, a search
// connector).
std::optional<std::vector<std::wstring>> ItemPaths(
    const ShellFunctions& shell, const std::vector<ComPointer<IShellItemArray>>& drops) {
  std::vector<std::wstring> paths;
  for (const ComPointer<IShellItemArray>& items : drops) {
    DWORD count = 0;
    if (FAILED(items->GetCount(&count))) {
      return std::nullopt;
    }
    for (DWORD i = 0; i < count; ++i) {
      IShellItem* found = nullptr;
      if (FAILED(items->GetItemAt(i, &found))) {
        return std::nullopt;
      }
      const ComPointer<IShellItem> item(found);
      wchar_t* path = nullptr;
      if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        return std::nullopt;
      }
      paths.emplace_back(path);
      shell.CoTaskMemFree(path);
    }
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

// What the drops brought, and until when the launcher serves its class.
struct Selection {
  std::vector<ComPointer<IShellItemArray>> drops;
  bool unreadable = false;  // A drop whose items the shell could not take.
  ULONGLONG serve_until = 0;
};

// The drop target that Explorer drops the selection on, one part per activation. It lives on the
// stack of ReceiveSelection, which outlives COM's use of it: counting references tells only when
// Explorer has let go of it.
class DropTarget final : public IDropTarget {
 public:
  DropTarget(const ShellFunctions& shell, Selection* selection, HANDLE changed)
      : shell_(shell), selection_(selection), changed_(changed) {
    ServeFor(kWaitForDrop);
  }
  DropTarget(const DropTarget&) = delete;
  DropTarget& operator=(const DropTarget&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    return QueryOnly<IDropTarget>(this, interface_id, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    if (references_++ == 0) {
      ServeFor(kWaitForDrop);  // Activated.
    }
    return references_;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--references_ == 0) {
      ServeFor(kWaitForActivation);
    }
    return references_;
  }

  // Every selection is taken, with whatever effect is offered (none would make the shell leave
  // instead of dropping): the launcher decides about its items only once they are dropped.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    ServeFor(kWaitForRelease);
    return S_OK;
  }
  // Explorer waits while Drop runs: it takes the items, in one read of the data object, and
  // returns. Naming them takes the shell a while for each, and comes later, as does the launch.
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    if (!data || !effect) {
      return E_INVALIDARG;
    }
    // The documents are opened, neither moved nor copied: a source told "move" may delete them.
    *effect = DROPEFFECT_NONE;
    IShellItemArray* items = nullptr;
    if (SUCCEEDED(shell_.SHCreateShellItemArrayFromDataObject(data, IID_PPV_ARGS(&items)))) {
      selection_->drops.emplace_back(items);
    } else {
      selection_->unreadable = true;
    }
    ServeFor(kWaitForRelease);
    return S_OK;
  }

 private:
  void ServeFor(DWORD milliseconds) {
    selection_->serve_until = ::GetTickCount64() + milliseconds;
    ::SetEvent(changed_);
  }

  const ShellFunctions& shell_;
  Selection* const selection_;
  const HANDLE changed_;
  ULONG references_ = 0;
};

// The launcher's class object, registered for many uses: every activation while the launcher
// serves gets the same drop target, so that a selection of several types makes one request.
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

// Answers COM's calls on this thread, whose apartment takes them only while it waits in COM, until
// the time the calls leave it has passed; `changed` is set whenever they move it.
void Serve(const ShellFunctions& shell, HANDLE changed, const Selection& selection) {
  for (ULONGLONG now = ::GetTickCount64(); now < selection.serve_until; now = ::GetTickCount64()) {
    DWORD signalled = 0;
    shell.CoWaitForMultipleHandles(0, static_cast<DWORD>(selection.serve_until - now), 1, &changed,
                                   &signalled);
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
      kLauncherClass, &class_object, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &registration);
  if (SUCCEEDED(registered)) {
    Serve(shell, changed.get(), selection);
    shell.CoRevokeClassObject(registration);
  }
  // The items, which are COM's, are named and let go of before COM is shut down.
  std::optional<std::vector<std::wstring>> paths = ItemPaths(shell, selection.drops);
  selection.drops.clear();
  shell.CoUninitialize();
  if (FAILED(registered)) {
    CannotServe();
  }

  if (!paths || selection.unreadable) {
    platform::MessageBoxA(
        "One of the selected items is not a file or folder on this computer, so none of them was "
        "opened.\n\nSelect only documents that are in a folder on a drive, and open them again.",
        "Orbedo Launcher");
    throw std::runtime_error("Selection holds an item that is not a file");
  }
  if (paths->empty()) {
    return std::nullopt;
  }
  return paths;
}
