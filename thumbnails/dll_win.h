// OrbedoThumbnails.dll, the in-process COM server of the shell's two handlers of the structure
// types: the thumbnail class (thumbnail_provider_win.cpp) and the preview class
// (preview_handler_win.cpp). What the two share: the count that keeps the DLL loaded, the reading
// of the document's stream, and the making of an object.

#ifndef THUMBNAILS_DLL_WIN_H_
#define THUMBNAILS_DLL_WIN_H_

#include <windows.h>

// After windows.h, which it builds on.
#include <objidl.h>

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
