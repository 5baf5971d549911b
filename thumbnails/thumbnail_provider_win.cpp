// The thumbnail class of OrbedoThumbnails.dll (dll_win.h), which every structure type's ProgID
// names under ShellEx\{e357fccd-a995-4576-b01f-234630154e96}. Explorer's thumbnail
// cache creates the class in the system's surrogate process, isolated from Explorer, initialises
// it with the document's stream (never its path), asks for a picture of at most cx pixels a side,
// and shows the type's icon where it gets an error instead. Everything else is the plain logic of
// structure.h and picture.h.

#include <windows.h>

// After windows.h, which they build on.
#include <objbase.h>
#include <propsys.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "thumbnails/dll_win.h"
#include "thumbnails/thumbnail.h"

namespace {

// The largest picture drawn: the largest size Explorer's thumbnail cache keeps. A bitmap larger
// than cx is scaled down by the shell, and one smaller than cx is never scaled up.
constexpr UINT kLargestSide = 2560;

// A 32-bit DIB section of `picture`, top-down.
HBITMAP Bitmap(const Picture& picture) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    std::memcpy(bits, picture.pixels.data(), picture.pixels.size() * sizeof picture.pixels[0]);
  }
  return bitmap;
}

class ThumbnailProvider final : public StreamHandler<IThumbnailProvider> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    if (!object) {
      return E_POINTER;
    }
    // IUnknown is always the same pointer: COM compares objects by it.
    if (IsEqualIID(interface_id, __uuidof(IUnknown)) ||
        IsEqualIID(interface_id, __uuidof(IInitializeWithStream))) {
      *object = static_cast<IInitializeWithStream*>(this);
    } else if (IsEqualIID(interface_id, __uuidof(IThumbnailProvider))) {
      *object = static_cast<IThumbnailProvider*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // The structure's picture, its longer side cx. Anything that is no structure, or of more than
  // 64 MiB whose first model does not end within them, gets an error and no bitmap; no exception
  // leaves the DLL.
  HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override {
    if (!bitmap || !alpha) {
      return E_POINTER;
    }
    *bitmap = nullptr;
    if (!stream_) {
      return E_UNEXPECTED;
    }
    if (cx == 0) {
      return E_INVALIDARG;
    }
    try {
      std::string file;
      const HRESULT read = ReadAll(stream_, &file);
      if (FAILED(read)) {
        return read;
      }
      const std::optional<Picture> picture =
          Thumbnail(file, static_cast<int>(std::min(cx, kLargestSide)));
      if (!picture) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
      }
      *bitmap = Bitmap(*picture);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception&) {
      return E_FAIL;
    }
    if (!*bitmap) {
      return E_OUTOFMEMORY;
    }
    // The alpha form of Microsoft's thumbnail samples (RecipeThumbnailProvider converts its image
    // to WIC's GUID_WICPixelFormat32bppBGRA, copies it into a top-down DIB section and answers
    // WTSAT_ARGB): blue, green, red, alpha, the colour not multiplied by the alpha. The
    // documentation says no more of WTSAT_ARGB than "a valid alpha channel", so the form the
    // shell is shown with in its own samples is the one to give it.
    *alpha = WTSAT_ARGB;
    return S_OK;
  }
};

}  // namespace

HRESULT CreateThumbnailProvider(REFIID interface_id, void** object) {
  return CreateObject<ThumbnailProvider>(interface_id, object);
}
