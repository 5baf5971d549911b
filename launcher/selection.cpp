#include "launcher/selection.h"

#include "link/platform.h"

// After the Windows Sockets headers, which link/platform.h includes.
#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

// What one activation's drop target was given.
struct DropEntry {
  bool dropped = false;
  std::size_t order = 0;  // Drops go on in the order they came, whoever activated first.
  std::optional<Refusal> refused;
  std::vector<Item> items;
};

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

  bool TakesActivations() const { return deadlines_.TakesActivations(::GetTickCount64()); }
  std::optional<CallerDeadlines::Caller> Activated() {
    const std::optional<CallerDeadlines::Caller> caller = deadlines_.Activated(::GetTickCount64());
    ::SetEvent(changed_);
    return caller;
  }
  bool Dropped(CallerDeadlines::Caller caller) {
    const bool first = deadlines_.Dropped(caller, ::GetTickCount64());
    ::SetEvent(changed_);
    return first;
  }
  void Left(CallerDeadlines::Caller caller) {
    deadlines_.Left(caller, ::GetTickCount64());
    ::SetEvent(changed_);
  }
  void Released(CallerDeadlines::Caller caller) {
    deadlines_.Released(caller, ::GetTickCount64());
    ::SetEvent(changed_);
  }

  // Answers COM's calls until every caller's deadline has passed, and takes the class `registered`
  // off COM's table once activations are no longer taken: from then on a new activation starts a
  // launcher of its own, and the calls of callers that hold the class object fail. Everything
  // runs in this one apartment, whose calls COM hands over one at a time, so no activation can
  // come in between a decision to stop and the revoke: the single-threaded server that "Out-of-
  // Process Server Implementation Helpers" describes, which needs no CoAddRefServerProcess.
  void Serve(DWORD registered) const {
    bool revoked = false;
    for (ULONGLONG now = ::GetTickCount64();; now = ::GetTickCount64()) {
      if (!revoked && !deadlines_.TakesActivations(now)) {
        shell.CoRevokeClassObject(registered);
        revoked = true;
      }
      if (now >= deadlines_.End()) {
        break;
      }
      const ULONGLONG until =
          revoked ? deadlines_.End() : std::min(deadlines_.End(), deadlines_.ActivationsEnd());
      DWORD signalled = 0;
      HANDLE changed = changed_;
      const HRESULT waited = shell.CoWaitForMultipleHandles(0, static_cast<DWORD>(until - now), 1,
                                                            &changed, &signalled);
      // Signalled, or timed out (RPC_S_CALLPENDING); a wait that fails otherwise would fail
      // again at once, and spin: the service ends as at its deadline.
      if (waited != S_OK && waited != RPC_S_CALLPENDING) {
        break;
      }
    }
    if (!revoked) {
      shell.CoRevokeClassObject(registered);
    }
  }

  const ShellFunctions& shell;
  const CLIPFORMAT id_list_format;
  std::vector<DropTarget*> held;  // The drop targets that callers still hold.
  std::vector<DropEntry> drops;   // One per drop target made, in the order they were.
  std::size_t dropped = 0;        // How many drops came.
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

// What a data object offered in one format.
enum class Offered { kNothing, kTooLarge, kCopied };

// The block of `format` that `data` offers in global memory, copied into `block`; a block larger
// than any drop may bring is not copied.
Offered CopyBlock(const ShellFunctions& shell, IDataObject* data, CLIPFORMAT format,
                  std::string* block) {
  FORMATETC wanted = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(data->GetData(&wanted, &medium))) {
    return Offered::kNothing;
  }
  const struct Release {
    ~Release() { shell.ReleaseStgMedium(filled); }
    const ShellFunctions& shell;
    STGMEDIUM* filled;
  } release = {shell, &medium};
  if (medium.tymed != TYMED_HGLOBAL) {
    return Offered::kNothing;
  }
  const SIZE_T size = ::GlobalSize(medium.hGlobal);
  if (size > kMaxDropBytes) {
    return Offered::kTooLarge;
  }
  const void* bytes = ::GlobalLock(medium.hGlobal);
  if (!bytes) {
    return Offered::kNothing;
  }
  const struct Unlock {
    ~Unlock() { ::GlobalUnlock(locked); }
    HGLOBAL locked;
  } unlock = {medium.hGlobal};
  block->assign(static_cast<const char*>(bytes), size);
  return Offered::kCopied;
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

// Every item of `data`, taken whole into `items`: Windows holds a data object passed to a drop
// target valid only until the drop completes, and a shell item array made from it would go on
// reading it. The shell's ID lists where it offers them, else the file names of the classic
// format. Why it is refused, if it is.
std::optional<Refusal> TakeItems(const Service& service, IDataObject* data,
                                 std::vector<Item>* items) {
  std::string block;
  DropRead read = DropRead::kMalformed;  // Where it offers neither format.
  Offered offered = CopyBlock(service.shell, data, service.id_list_format, &block);
  if (offered == Offered::kCopied) {
    std::vector<IdList> lists;
    read = ReadIdListArray(block, &lists);
    items->assign(std::make_move_iterator(lists.begin()), std::make_move_iterator(lists.end()));
  } else if (offered == Offered::kNothing &&
             (offered = CopyBlock(service.shell, data, CF_HDROP, &block)) == Offered::kCopied) {
    std::vector<std::u16string> names;
    read = ReadDropFiles(block, FromAnsi, &names);
    for (const std::u16string& name : names) {
      items->emplace_back(std::wstring(name.begin(), name.end()));
    }
  }
  if (offered == Offered::kTooLarge || read == DropRead::kTooLarge) {
    return Refusal::kTooLarge;
  }
  if (read == DropRead::kMalformed) {
    return Refusal::kUnreadable;
  }
  return std::nullopt;
}

// The drop target of one caller: Explorer activates the class once per type of a selection, and
// any other caller may activate it meanwhile. It lives as long as its caller holds it, and takes
// one drop, whose entry in the service outlives it.
class DropTarget final : public IDropTarget {
 public:
  explicit DropTarget(Service* service) : service_(service), drop_(service->drops.size()) {
    service_->drops.emplace_back();
    service_->held.push_back(this);
  }
  ~DropTarget() {
    service_->held.erase(std::remove(service_->held.begin(), service_->held.end(), this),
                         service_->held.end());
  }
  DropTarget(const DropTarget&) = delete;
  DropTarget& operator=(const DropTarget&) = delete;

  // Makes it a caller with a deadline of its own: the last step of its making that may fail, so
  // that a target that fails adds no deadline. False once activations are no longer taken.
  bool Activate() {
    const std::optional<CallerDeadlines::Caller> caller = service_->Activated();
    if (caller) {
      caller_ = *caller;
    }
    return caller.has_value();
  }

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
    service_->Left(caller_);
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
    // A drag that reached its drop target drops once; another drop takes nothing, and gets one of
    // the errors IDropTarget::Drop documents.
    if (!service_->Dropped(caller_)) {
      return E_UNEXPECTED;
    }
    // The documents are opened, neither moved nor copied: a source told "move" may delete them.
    *effect = DROPEFFECT_NONE;
    DropEntry& drop = service_->drops[drop_];
    drop.dropped = true;
    drop.order = service_->dropped++;
    // Nothing may be thrown to COM's stub, which would fail the call with RPC_E_SERVERFAULT:
    // memory, all that can run out here, refuses this drop alone.
    try {
      drop.refused = TakeItems(*service_, data, &drop.items);
    } catch (...) {
      drop.refused = Refusal::kOutOfMemory;
      std::vector<Item>().swap(drop.items);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  Service* const service_;
  const std::size_t drop_;
  CallerDeadlines::Caller caller_ = 0;
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

  // Once activations are no longer taken, a caller that still holds the class object is told the
  // server is stopping, as COM tells one that activates a revoked class, and activates again:
  // COM then starts a new launcher.
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
    DropTarget* target = nullptr;
    try {
      std::unique_ptr<DropTarget> made(new DropTarget(service_));
      if (!made->Activate()) {
        return CO_E_SERVER_STOPPING;
      }
      target = made.release();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    target->AddRef();
    const HRESULT result = target->QueryInterface(interface_id, object);
    target->Release();
    return result;
  }
  // A caller that locks the server (most need not, says IClassFactory::LockServer) is waited for
  // as one that holds a drop target.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (!lock) {
      if (locks_ > 0 && --locks_ == 0) {
        service_->Released(lock_caller_);
      }
      return S_OK;
    }
    if (service_->ended || !service_->TakesActivations()) {
      return CO_E_SERVER_STOPPING;
    }
    if (locks_ == 0) {
      // A deadline is added last, or not at all.
      try {
        const std::optional<CallerDeadlines::Caller> caller = service_->Activated();
        if (!caller) {
          return CO_E_SERVER_STOPPING;
        }
        lock_caller_ = *caller;
      } catch (...) {
        return E_OUTOFMEMORY;
      }
    }
    ++locks_;
    return S_OK;
  }

 private:
  Service* const service_;
  ULONG locks_ = 0;
  CallerDeadlines::Caller lock_caller_ = 0;
};

// Cuts off every caller of `object`: their later calls fail in COM itself. COM's reference may be
// the last one, let go of inside the call, so the launcher holds one of its own across it ("Rules
// for Managing Reference Counts": a copy of a pointer that another may destroy).
void Disconnect(const ShellFunctions& shell, IUnknown* object) {
  object->AddRef();
  shell.CoDisconnectObject(object, 0);
  object->Release();
}

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
    wchar_t* named = nullptr;
    if (FAILED(shell.SHGetNameFromIDList(
            reinterpret_cast<PCIDLIST_ABSOLUTE>(std::get<IdList>(item).data()), SIGDN_FILESYSPATH,
            &named))) {
      return std::nullopt;
    }
    const std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> name(named, shell.CoTaskMemFree);
    paths.emplace_back(name.get());
  }
  return paths;
}

// The documents of every drop taken, drop after drop, and why the others were refused.
Selection Received(const ShellFunctions& shell, std::vector<DropEntry>& drops) {
  std::vector<DropEntry*> dropped;
  for (DropEntry& drop : drops) {
    if (drop.dropped) {
      dropped.push_back(&drop);
    }
  }
  std::sort(dropped.begin(), dropped.end(),
            [](const DropEntry* a, const DropEntry* b) { return a->order < b->order; });
  Selection selection;
  for (DropEntry* drop : dropped) {
    if (!drop->refused) {
      std::optional<std::vector<std::wstring>> paths = ItemPaths(shell, drop->items);
      if (paths) {
        selection.documents.insert(selection.documents.end(),
                                   std::make_move_iterator(paths->begin()),
                                   std::make_move_iterator(paths->end()));
        continue;
      }
      drop->refused = Refusal::kNotAFile;
    }
    selection.refused.insert(*drop->refused);
  }
  return selection;
}

// COM in this thread, for as long as it lives.
class Apartment {
 public:
  // An apartment of this one thread: COM's calls come in only while it waits in COM, one at a
  // time. Nothing here needs OLE 1's DDE, which COM then leaves out, as Microsoft's "Initializing
  // the COM Library" recommends.
  explicit Apartment(const ShellFunctions& shell)
      : shell_(shell),
        entered_(SUCCEEDED(
            shell.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~Apartment() {
    if (entered_) {
      shell_.CoUninitialize();
    }
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  bool Entered() const { return entered_; }

 private:
  const ShellFunctions& shell_;
  const bool entered_;
};

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

[[noreturn]] void CannotServe() { throw std::runtime_error("Couldn't serve the selection"); }

// What the user is told of a refused drop, after a sentence on the documents as a whole, and the
// runtime error it is reported as.
struct Reason {
  const char* text;
  const char* error;
};

Reason ReasonFor(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNotAFile:
      return {
          " were selected with an item that is not a file or folder on this computer (an item of a "
          "zip folder, a phone or a search connector). Select only documents that are in a "
          "folder on a drive, and open them again.",
          "Selection holds an item that is not a file"};
    case Refusal::kTooLarge:
      // The most that a drop may bring (launcher/drop_formats.h).
      return {
          " were more than can be opened at once. Select at most 100,000 documents at a time, and "
          "open them again.",
          "Selection too large"};
    case Refusal::kUnreadable:
      return {
          " could not be read. Open them again; if this happens again, open them from within "
          "Orbedo.",
          "Couldn't read the selection"};
    case Refusal::kOutOfMemory:
      return {" could not be taken, as memory ran out. Close other programs, and open them again.",
              "Out of memory"};
  }
  return {"", ""};
}

}  // namespace

bool StartedToServeSelection(int argc, const wchar_t* const* argv) {
  return argc == 2 &&
         (::lstrcmpiW(argv[1], L"-Embedding") == 0 || ::lstrcmpiW(argv[1], L"/Embedding") == 0);
}

Selection ReceiveSelection() {
  const ShellFunctions shell;
  const Event changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const UINT id_list_format = shell.Complete() ? shell.RegisterClipboardFormatW(kIdListFormat) : 0;
  if (!id_list_format || !changed) {
    CannotServe();
  }
  // The objects outlive the apartment: COM may let go of them as late as CoUninitialize.
  Service service(shell, changed.get(), static_cast<CLIPFORMAT>(id_list_format));
  ClassObject class_object(&service);
  const Apartment apartment(shell);
  DWORD registration = 0;
  if (!apartment.Entered() ||
      FAILED(shell.CoRegisterClassObject(kLauncherClass, &class_object, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &registration))) {
    CannotServe();
  }
  service.Serve(registration);
  // A caller that holds the class object or a drop target could still call it, even while COM
  // shuts down (CoUninitialize dispatches what is pending). Disconnected, their calls fail in COM
  // itself; what is dispatched before that finds the service ended.
  service.ended = true;
  Disconnect(shell, &class_object);
  while (!service.held.empty()) {
    DropTarget* const target = service.held.back();
    service.held.pop_back();
    Disconnect(shell, target);
  }
  // The shell names the ID lists while COM still runs, and nothing can be added any more.
  return Received(shell, service.drops);
}

void ReportRefusedDrops(const Selection& selection) {
  if (selection.refused.empty()) {
    return;
  }
  const bool only_reason = selection.documents.empty() && selection.refused.size() == 1;
  std::string text = selection.documents.empty()
                         ? "None of the documents selected in Explorer was opened."
                         : "Some of the documents selected in Explorer were not opened.";
  for (const Refusal refusal : selection.refused) {
    text += only_reason ? "\n\nThey" : "\n\nSome";
    text += ReasonFor(refusal).text;
  }
  platform::MessageBoxA(text.c_str(), "Orbedo Launcher");
  throw std::runtime_error(ReasonFor(*selection.refused.begin()).error);
}
