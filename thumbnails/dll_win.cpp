#include "thumbnails/dll_win.h"

#include <algorithm>

#include "thumbnails/structure.h"
#include "thumbnails/whole_stream.h"

LONG server_references = 0;

namespace {

// The classes; the package registers them: never change them.
constexpr CLSID kThumbnailClass = {
    0xF5CA85C4, 0x2AE0, 0x444B, {0xB8, 0x67, 0x08, 0x54, 0x34, 0x0D, 0x9B, 0x16}};
constexpr CLSID kPreviewClass = {
    0x84A929D4, 0xD181, 0x4333, {0xAD, 0x8F, 0xAE, 0x3F, 0x9D, 0xA8, 0x62, 0xE0}};

HINSTANCE module = nullptr;

// A class object, one for the DLL's life: each reference to it keeps the DLL loaded.
class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(HRESULT (*create)(REFIID, void**)) : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    if (!object) {
      return E_POINTER;
    }
    if (!IsEqualIID(interface_id, __uuidof(IUnknown)) &&
        !IsEqualIID(interface_id, __uuidof(IClassFactory))) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&server_references));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    return static_cast<ULONG>(InterlockedDecrement(&server_references));
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id,
                                           void** object) override {
    if (!object) {
      return E_POINTER;
    }
    *object = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : create_(interface_id, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&server_references);
    } else {
      InterlockedDecrement(&server_references);
    }
    return S_OK;
  }

 private:
  HRESULT (*const create_)(REFIID, void**);
};

ClassObject thumbnail_class_object(CreateThumbnailProvider);
ClassObject preview_class_object(CreatePreviewHandler);

}  // namespace

HINSTANCE Module() { return module; }

HRESULT ReadAll(IStream* stream, std::string* bytes) {
  STATSTG status = {};
  if (SUCCEEDED(stream->Stat(&status, STATFLAG_NONAME))) {
    bytes->reserve(static_cast<std::size_t>(
        std::min<ULONGLONG>(status.cbSize.QuadPart, kMaxFileBytes + kStreamPiece)));
  }
  HRESULT result = S_OK;
  const auto read = [&](char* buffer, std::size_t size, std::size_t* got) {
    ULONG count = 0;
    result = stream->Read(buffer, static_cast<ULONG>(size), &count);
    *got = count;
    return SUCCEEDED(result);
  };
  return ReadWhole(read, bytes) == StreamEnd::kFailed ? result : S_OK;
}

// The system keeps the window classes of a DLL that unloads (FreeLibrary, `reserved` null), with a
// window procedure where nothing is any longer: the preview's is taken away here. At the end of the
// process (`reserved` set), nothing is.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    module = instance;
  } else if (reason == DLL_PROCESS_DETACH && !reserved) {
    UnregisterPreviewWindowClass();
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID class_id, REFIID interface_id, void** object) {
  if (!object) {
    return E_POINTER;
  }
  *object = nullptr;
  ClassObject* const class_object = IsEqualCLSID(class_id, kThumbnailClass)
                                        ? &thumbnail_class_object
                                    : IsEqualCLSID(class_id, kPreviewClass) ? &preview_class_object
                                                                            : nullptr;
  return class_object ? class_object->QueryInterface(interface_id, object)
                      : CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return server_references == 0 ? S_OK : S_FALSE; }
