// OrbedoThumbnails.dll, the in-process COM server of the shell's two handlers of the structure
// types: the thumbnail class (thumbnail_provider_win.cpp) and the preview class
// (preview_handler_win.cpp). What the two share: the count that keeps the DLL loaded, their
// life as COM objects given the document's stream, the reading of that stream, and the making of
// an object.

#ifndef THUMBNAILS_DLL_WIN_H_
#define THUMBNAILS_DLL_WIN_H_

#include <windows.h>

// After windows.h, which they build on.
#include <objidl.h>
#include <propsys.h>

#include <new>
#include <string>

// The objects, class object references and server locks that keep the DLL loaded: COM unloads it
// (DllCanUnloadNow) only when there are none. Apartment-threaded objects may live on several
// threads of the host at once, so it is counted with interlocked operations.
extern LONG server_references;

class ServerReference {
 public:
  ServerReference() { InterlockedIncrement(&server_references); }
  ~ServerReference() { InterlockedDecrement(&server_references); }
  ServerReference(const ServerReference&) = delete;
  ServerReference& operator=(const ServerReference&) = delete;
};

// A handler, to COM: an object of IInitializeWithStream and `Interfaces`, counted (made with one
// reference, deleted with its last), which keeps the DLL loaded while it lives and holds the
// document's stream from Initialize until it lets go of it.
template <typename... Interfaces>
class StreamHandler : public IInitializeWithStream, public Interfaces... {
 public:
  StreamHandler(const StreamHandler&) = delete;
  StreamHandler& operator=(const StreamHandler&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  // Once, until the handler lets go of the stream. The stream stays the caller's to keep open
  // while it is held; it is read when the picture is asked for.
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD) override {
    if (!stream) {
      return E_INVALIDARG;
    }
    if (stream_) {
      return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    }
    stream->AddRef();
    stream_ = stream;
    return S_OK;
  }

 protected:
  StreamHandler() = default;
  virtual ~StreamHandler() { LetGoOfStream(); }

  void LetGoOfStream() {
    if (stream_) {
      stream_->Release();
      stream_ = nullptr;
    }
  }

  IStream* stream_ = nullptr;

 private:
  LONG references_ = 1;
  const ServerReference server_;
};

// The DLL itself, as the system loaded it.
HINSTANCE Module();

// The stream, from where it stands (its beginning, as it is handed over), in `bytes`: the whole
// of it, or of a larger one, its beginning and a read beyond, which ReadStructure takes for what
// it is.
HRESULT ReadAll(IStream* stream, std::string* bytes);

// A new object of class `Object` (its count of references 1 when made), asked for `interface_id`.
template <typename Object>
HRESULT CreateObject(REFIID interface_id, void** object) {
  Object* const created = new (std::nothrow) Object();
  if (!created) {
    return E_OUTOFMEMORY;
  }
  const HRESULT result = created->QueryInterface(interface_id, object);
  created->Release();
  return result;
}

// The two classes' objects.
HRESULT CreateThumbnailProvider(REFIID interface_id, void** object);
HRESULT CreatePreviewHandler(REFIID interface_id, void** object);

// Takes the preview's window class away, as the DLL unloads.
void UnregisterPreviewWindowClass();

#endif  // THUMBNAILS_DLL_WIN_H_
