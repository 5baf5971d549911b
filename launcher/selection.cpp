#include "launcher/selection.h"

#include "link/platform.h"

// After the Windows Sockets headers, which link/platform.h includes.
#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "launcher/caller_deadlines.h"
#include "launcher/drop_formats.h"
#include "link/system_library.h"

namespace {

// The class that every document type's shell\open\DropTarget names; its server is the launcher.
constexpr CLSID kLauncherClass = {
    0xAB4AAF10, 0x92E1, 0x4AD1, {0xA0, 0x51, 0x62, 0x25, 0xD8, 0x3B, 0xEE, 0x1A}};

// CFSTR_SHELLIDLIST, the format of the shell's own ID lists, which every drop from Explorer offers.
constexpr wchar_t kIdListFormat[] = L"Shell IDList Array";

// What COM, the shell and the clipboard offer, from ole32, shell32 and user32: loaded on demand
// from the system folder, so that the launcher's imports stay those of a command-line start.
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
        CoDisconnectObject(
            FunctionNamed<decltype(&::CoDisconnectObject)>(ole32, "CoDisconnectObject")),
        CoWaitForMultipleHandles(FunctionNamed<decltype(&::CoWaitForMultipleHandles)>(
            ole32, "CoWaitForMultipleHandles")),
        CoTaskMemFree(FunctionNamed<decltype(&::CoTaskMemFree)>(ole32, "CoTaskMemFree")),
        ReleaseStgMedium(FunctionNamed<decltype(&::ReleaseStgMedium)>(ole32, "ReleaseStgMedium")),
        SHGetNameFromIDList(
            FunctionNamed<decltype(&::SHGetNameFromIDList)>(shell32, "SHGetNameFromIDList")),
        RegisterClipboardFormatW(FunctionNamed<decltype(&::RegisterClipboardFormatW)>(
            user32, "RegisterClipboardFormatW")) {}

  bool Complete() const {
    return CoInitializeEx && CoUninitialize && CoRegisterClassObject && CoRevokeClassObject &&
           CoDisconnectObject && CoWaitForMultipleHandles && CoTaskMemFree && ReleaseStgMedium &&
           SHGetNameFromIDList && RegisterClipboardFormatW;
  }

  // Loaded for the rest of the run: COM keeps its own references to them.
  const platform::Module ole32;
  const platform::Module shell32;
  const platform::Module user32;
  decltype(&::CoInitializeEx) const CoInitializeEx;
  decltype(&::CoUninitialize) const CoUninitialize;
  decltype(&::CoRegisterClassObject) const CoRegisterClassObject;
  decltype(&::CoRevokeClassObject) const CoRevokeClassObject;
  decltype(&::CoDisconnectObject) const CoDisconnectObject;
  decltype(&::CoWaitForMultipleHandles) const CoWaitForMultipleHandles;
  decltype(&::CoTaskMemFree) const CoTaskMemFree;
  decltype(&::ReleaseStgMedium) const ReleaseStgMedium;
  decltype(&::SHGetNameFromIDList) const SHGetNameFromIDList;
  decltype(&::RegisterClipboardFormatW) const RegisterClipboardFormatW;
};

// An item as its drop brought it: a path, or an absolute ID list for the shell to name.
using Item = std::variant<std::wstring, IdList>;

class DropTarget;

// What the callers brought and until when the launcher serves them. Calls come in on this one
// thread, only while it waits in COM.
class Service {
 public:
  Service(const ShellFunctions& functions, HANDLE changed, CLIPFORMAT id_lists)
      : shell(functions),
        id_list_format(id_lists),
        changed_(changed),
        deadlines_(::GetTickCount64()) {}
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  CallerDeadlines::Caller Activated() {
    const CallerDeadlines::Caller caller = deadlines_.Activated(::GetTickCount64());
    ::SetEvent(changed_);
    return caller;
  }
  void Dropped(CallerDeadlines::Caller caller) {
    deadlines_.Dropped(caller, ::GetTickCount64());
    ::SetEvent(changed_);
  }
  void Released(CallerDeadlines::Caller caller) {
    deadlines_.Released(caller, ::GetTickCount64());
    ::SetEvent(changed_);
  }

  // Answers COM's calls until every caller's deadline has passed.
  void Serve() const {
    for (ULONGLONG now = ::GetTickCount64(); now < deadlines_.End(); now = ::GetTickCount64()) {
      DWORD signalled = 0;
      HANDLE changed = changed_;
      shell.CoWaitForMultipleHandles(0, static_cast<DWORD>(deadlines_.End() - now), 1, &changed,
                                     &signalled);
    }
  }

  const ShellFunctions& shell;
  const CLIPFORMAT id_list_format;
  std::vector<DropTarget*> held;  // The drop targets that callers still hold.
  std::vector<Item> items;        // Every drop's, drop after drop.
  bool unreadable = false;        // A drop whose items could not be read.
  bool ended = false;             // Nothing is taken from here on.

 private:
  const HANDLE changed_;  // Set whenever a deadline moves, to wake Serve.
  CallerDeadlines deadlines_;
};

// QueryInterface of an object that is an `Interface` and nothing more.
template <typename Interface>
HRESULT QueryOnly(Interface* self, REFIID interface_id, void** object) {
  if (!object) {
    return E_POINTER;
  }
  if (!IsEqualIID(interface_id, __uuidof(IUnknown)) &&
      !IsEqualIID(interface_id, __uuidof(Interface))) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = self;
  self->AddRef();
  return S_OK;
}

// The block of `format` that `data` offers in global memory, copied; empty where it offers none.
std::optional<std::string> CopyBlock(const ShellFunctions& shell, IDataObject* data,
                                     CLIPFORMAT format) {
  FORMATETC wanted = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(data->GetData(&wanted, &medium))) {
    return std::nullopt;
  }
  std::optional<std::string> block;
  if (medium.tymed == TYMED_HGLOBAL) {
    if (const void* bytes = ::GlobalLock(medium.hGlobal)) {
      block.emplace(static_cast<const char*>(bytes), ::GlobalSize(medium.hGlobal));
      ::GlobalUnlock(medium.hGlobal);
    }
  }
  shell.ReleaseStgMedium(&medium);
  return block;
}

std::u16string FromAnsi(std::string_view name) {
  const int size = static_cast<int>(name.size());
  std::u16string text(
      static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0)),
      u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, name.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        static_cast<int>(text.size()));
  return text;
}

// Every item of `data`, taken whole: Windows holds a data object passed to a drop target valid only
// until the drop completes, and a shell item array made from it would go on reading it. The shell's
// ID lists where it offers them, else the file names of the classic format; empty where it offers
// neither or they cannot be read.
std::optional<std::vector<Item>> TakeItems(const Service& service, IDataObject* data) {
  std::vector<Item> items;
  if (const std::optional<std::string> block =
          CopyBlock(service.shell, data, service.id_list_format)) {
    std::optional<std::vector<IdList>> lists = ReadIdListArray(*block);
    if (!lists) {
      return std::nullopt;
    }
    items.assign(std::make_move_iterator(lists->begin()), std::make_move_iterator(lists->end()));
  } else if (const std::optional<std::string> files = CopyBlock(service.shell, data, CF_HDROP)) {
    const std::optional<std::vector<std::u16string>> names = ReadDropFiles(*files, FromAnsi);
    if (!names) {
      return std::nullopt;
    }
    for (const std::u16string& name : *names) {
      items.emplace_back(std::wstring(name.begin(), name.end()));
    }
  } else {
    return std::nullopt;
  }
  return items;
}

// The drop target of one caller: Explorer activates the class once per type of a selection, and
// any other caller may activate it meanwhile. It lives as long as its caller holds it.
class DropTarget final : public IDropTarget {
 public:
  explicit DropTarget(Service* service) : service_(service), caller_(service->Activated()) {
    service_->held.push_back(this);
  }
  ~DropTarget() {
    service_->held.erase(std::remove(service_->held.begin(), service_->held.end(), this),
                         service_->held.end());
  }
  DropTarget(const DropTarget&) = delete;
  DropTarget& operator=(const DropTarget&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    return QueryOnly<IDropTarget>(this, interface_id, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      service_->Released(caller_);
      delete this;
    }
    return left;
  }

  // Every selection is taken, with whatever effect is offered (none would make the shell leave
  // instead of dropping): the launcher decides about its items only once they are dropped.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    service_->Dropped(caller_);
    return S_OK;
  }
  // The caller waits while Drop runs: it copies the items, and the shell names them once the
  // launcher serves no more.
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    if (!data || !effect) {
      return E_INVALIDARG;
    }
    // A call that COM dispatches while the launcher shuts its service down would be lost: it is
    // told so, as COM tells a caller once the target is disconnected.
    if (service_->ended) {
      return CO_E_OBJNOTCONNECTED;
    }
    // The documents are opened, neither moved nor copied: a source told "move" may delete them.
    *effect = DROPEFFECT_NONE;
    if (std::optional<std::vector<Item>> items = TakeItems(*service_, data)) {
      service_->items.insert(service_->items.end(), std::make_move_iterator(items->begin()),
                             std::make_move_iterator(items->end()));
    } else {
      service_->unreadable = true;
    }
    service_->Dropped(caller_);
    return S_OK;
  }

 private:
  Service* const service_;
  const CallerDeadlines::Caller caller_;
  ULONG references_ = 0;
};

// The launcher's class object, registered for many uses: each activation gets a drop target of
// its own, and the service lasts until every caller is done.
class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(Service* service) : service_(service) {}
  ClassObject(const ClassObject&) = delete;
  ClassObject& operator=(const ClassObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    return QueryOnly<IClassFactory>(this, interface_id, object);
  }
  // It lives as long as the service, whatever COM counts.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id,
                                           void** object) override {
    if (!object) {
      return E_POINTER;
    }
    *object = nullptr;
    if (outer) {
      return CLASS_E_NOAGGREGATION;
    }
    if (service_->ended) {
      return CO_E_SERVER_STOPPING;
    }
    DropTarget* const target = new (std::nothrow) DropTarget(service_);
    if (!target) {
      return E_OUTOFMEMORY;
    }
    target->AddRef();
    const HRESULT result = target->QueryInterface(interface_id, object);
    target->Release();
    return result;
  }
  // COM locks the server for a caller that holds the class object: it is waited for as for a
  // caller that holds a drop target.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      if (locks_++ == 0) {
        lock_caller_ = service_->Activated();
      }
    } else if (locks_ > 0 && --locks_ == 0) {
      service_->Released(lock_caller_);
    }
    return S_OK;
  }

 private:
  Service* const service_;
  ULONG locks_ = 0;
  CallerDeadlines::Caller lock_caller_ = 0;
};

// The paths of the items, in order, the ID lists as the shell names them in the file system; empty
// when one has no such name (an item of a zip folder, a phone, a search connector).
std::optional<std::vector<std::wstring>> ItemPaths(const ShellFunctions& shell,
                                                   std::vector<Item>& items) {
  std::vector<std::wstring> paths;
  paths.reserve(items.size());
  for (Item& item : items) {
    if (std::wstring* path = std::get_if<std::wstring>(&item)) {
      paths.push_back(std::move(*path));
      continue;
    }
    wchar_t* name = nullptr;
    if (FAILED(shell.SHGetNameFromIDList(
            reinterpret_cast<PCIDLIST_ABSOLUTE>(std::get<IdList>(item).data()), SIGDN_FILESYSPATH,
            &name))) {
      return std::nullopt;
    }
    paths.emplace_back(name);
    shell.CoTaskMemFree(name);
  }
  return paths;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

[[noreturn]] void CannotServe() { throw std::runtime_error("Couldn't serve the selection"); }

}  // namespace

bool StartedToServeSelection(int argc, const wchar_t* const* argv) {
  return argc == 2 &&
         (::lstrcmpiW(argv[1], L"-Embedding") == 0 || ::lstrcmpiW(argv[1], L"/Embedding") == 0);
}

std::optional<std::vector<std::wstring>> ReceiveSelection() {
  const ShellFunctions shell;
  const Event changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const UINT id_list_format = shell.Complete() ? shell.RegisterClipboardFormatW(kIdListFormat) : 0;
  if (!id_list_format || !changed) {
    CannotServe();
  }
  // An apartment of this one thread: COM's calls come in only while it waits in COM, one at a
  // time.
  if (FAILED(shell.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    CannotServe();
  }
  Service service(shell, changed.get(), static_cast<CLIPFORMAT>(id_list_format));
  ClassObject class_object(&service);
  DWORD registration = 0;
  const HRESULT registered = shell.CoRegisterClassObject(
      kLauncherClass, &class_object, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &registration);
  if (SUCCEEDED(registered)) {
    service.Serve();
    // Revoking the class stops new activations only: a caller that holds the class object or a
    // drop target could still call it, even while COM shuts down (CoUninitialize dispatches what
    // is pending). Disconnected, their calls fail in COM itself; what is dispatched before that
    // finds the service ended.
    service.ended = true;
    shell.CoRevokeClassObject(registration);
    shell.CoDisconnectObject(&class_object, 0);
    while (!service.held.empty()) {
      DropTarget* const target = service.held.back();
      service.held.pop_back();
      shell.CoDisconnectObject(target, 0);
    }
  }
  // The shell names the ID lists while COM still runs, and nothing can be added any more.
  std::optional<std::vector<std::wstring>> paths;
  if (!service.unreadable) {
    paths = ItemPaths(shell, service.items);
  }
  shell.CoUninitialize();
  if (FAILED(registered)) {
    CannotServe();
  }

  if (service.unreadable) {
    platform::MessageBoxA(
        "The documents selected in Explorer could not be read, so none of them was opened.\n\n"
        "Open them again; if this happens again, open them from within Orbedo.",
        "Orbedo Launcher");
    throw std::runtime_error("Couldn't read the selection");
  }
  if (!paths) {
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
