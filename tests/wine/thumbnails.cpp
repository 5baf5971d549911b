// Asks for thumbnails as Explorer's thumbnail cache does: for each document, the class that its
// type's ProgID names (HKEY_CLASSES_ROOT\<ProgID>\ShellEx\{e357fccd-...}), created in process, an
// IStream of the file (SHCreateStreamOnFileEx), IInitializeWithStream::Initialize and
// IThumbnailProvider::GetThumbnail, twice. Holds the handler to what Windows requires where Wine
// would let it pass: a second Initialize refused; a 32-bit top-down DIB section and WTSAT_ARGB,
// or else an error and no bitmap; the stream let go of with the object; the DLL held while an
// object lives and let go after (DllCanUnloadNow); the same picture the second time.
//   thumbnails CX [--save FOLDER] DOCUMENT...
// Prints "HRESULT width height milliseconds" a document (0 0: no bitmap; the time of Initialize and
// GetThumbnail). --save writes FOLDER\<n>.bgra: width, height (int32), top-down B, G, R, A rows.

#include <windows.h>

// After windows.h, which they build on.
#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kThumbnailHandler[] = L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

int Fail(const char* what) {
  std::fprintf(stderr, "thumbnails: %s\n", what);
  return 2;
}

std::wstring Value(const std::wstring& key) {
  wchar_t text[256] = {};
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size);
  return text;
}

// Whether the rows of a 32-bit DIB section lie in memory from the top: as GetDIBits gives them
// when asked for a top-down copy. (What GetObject says of the height's sign is not to be trusted:
// Wine gives it positive either way.)
bool TopDown(HBITMAP bitmap, const DIBSECTION& section) {
  BITMAPINFO info = {};  // The section's own, rows from the top.
  info.bmiHeader = section.dsBmih;
  info.bmiHeader.biHeight = -section.dsBm.bmHeight;
  std::vector<unsigned char> rows(4 * static_cast<std::size_t>(section.dsBm.bmWidth) *
                                  static_cast<std::size_t>(section.dsBm.bmHeight));
  const HDC dc = CreateCompatibleDC(nullptr);
  const int copied = GetDIBits(dc, bitmap, 0, static_cast<UINT>(section.dsBm.bmHeight), rows.data(),
                               &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  return copied == section.dsBm.bmHeight &&
         std::memcmp(rows.data(), section.dsBm.bmBits, rows.size()) == 0;
}

struct Thumbnail {
  HRESULT result = E_FAIL;
  int width = 0, height = 0;
  std::vector<unsigned char> bits;
  double milliseconds = 0;
};

// One thumbnail of `stream` by a new object of `handler`; where the handler breaks a rule,
// `problem` names it.
Thumbnail Draw(const CLSID& handler, IStream* stream, UINT cx, const char** problem) {
  Thumbnail thumbnail;
  IInitializeWithStream* initialize = nullptr;
  thumbnail.result =
      CoCreateInstance(handler, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&initialize));
  if (FAILED(thumbnail.result)) {
    *problem = "the class cannot be created in process";
    return thumbnail;
  }
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  IThumbnailProvider* provider = nullptr;
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  thumbnail.result = initialize->Initialize(stream, STGM_READ);
  if (SUCCEEDED(thumbnail.result) &&
      SUCCEEDED(thumbnail.result = initialize->QueryInterface(IID_PPV_ARGS(&provider)))) {
    thumbnail.result = provider->GetThumbnail(cx, &bitmap, &alpha);
  }
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  thumbnail.milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
  const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"OrbedoThumbnails.dll"), "DllCanUnloadNow")));
  if (initialize->Initialize(stream, STGM_READ) != HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED)) {
    *problem = "a second Initialize is not refused";
  } else if (!can_unload || can_unload() != S_FALSE) {
    *problem = "the DLL may be unloaded while an object lives";
  }
  DIBSECTION section = {};
  if (FAILED(thumbnail.result)) {
    if (bitmap) {
      *problem = "an error with a bitmap";
    }
  } else if (!bitmap || GetObjectW(bitmap, sizeof section, &section) != sizeof section ||
             section.dsBm.bmBitsPixel != 32 || !TopDown(bitmap, section) || alpha != WTSAT_ARGB) {
    *problem = "no top-down 32-bit DIB section with WTSAT_ARGB";
  } else {
    thumbnail.width = section.dsBm.bmWidth;
    thumbnail.height = section.dsBm.bmHeight;
    const auto* bits = static_cast<const unsigned char*>(section.dsBm.bmBits);
    thumbnail.bits.assign(bits, bits + 4 * thumbnail.width * thumbnail.height);
  }
  if (bitmap) {
    DeleteObject(bitmap);
  }
  if (provider) {
    provider->Release();
  }
  initialize->Release();
  if (can_unload && can_unload() != S_OK) {
    *problem = "the DLL is held after its objects are gone";
  }
  return thumbnail;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    return Fail("usage: thumbnails CX [--save FOLDER] DOCUMENT...");
  }
  const UINT cx = static_cast<UINT>(std::atoi(argv[1]));
  int first = 2;
  const char* save = nullptr;
  if (std::strcmp(argv[2], "--save") == 0 && argc > 4) {
    save = argv[3];
    first = 4;
  }
  // Explorer's threads are apartments of their own.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (int i = first; i < argc; ++i) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, argv[i], -1, wide, MAX_PATH);
    const std::wstring path = wide;
    const std::wstring progid = Value(path.substr(path.rfind(L'.')));
    CLSID handler;
    if (progid.empty() ||
        FAILED(CLSIDFromString(Value(progid + kThumbnailHandler).c_str(), &handler))) {
      return Fail("no thumbnail handler for a document's type");
    }
    IStream* file = nullptr;
    if (FAILED(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE,
                                      nullptr, &file))) {
      return Fail("a document cannot be opened");
    }
    const char* problem = nullptr;
    const Thumbnail thumbnail = Draw(handler, file, cx, &problem);
    file->Seek({}, STREAM_SEEK_SET, nullptr);
    const Thumbnail again = Draw(handler, file, cx, &problem);
    // What AddRef returns is the count, less the reference just taken: the caller's alone.
    file->AddRef();
    if (file->Release() != 1) {
      problem = "the handler keeps the stream after its release";
    }
    file->Release();
    if (problem) {
      return Fail(problem);
    }
    if (again.result != thumbnail.result || again.bits != thumbnail.bits) {
      return Fail("the same document gives another thumbnail");
    }
    std::printf("0x%08lx %d %d %.1f\n", static_cast<unsigned long>(thumbnail.result),
                thumbnail.width, thumbnail.height, thumbnail.milliseconds);
    if (save && !thumbnail.bits.empty()) {
      const std::string name = std::string(save) + "\\" + std::to_string(i - first) + ".bgra";
      FILE* out = std::fopen(name.c_str(), "wb");
      if (!out) {
        return Fail("cannot save a thumbnail");
      }
      const int size[2] = {thumbnail.width, thumbnail.height};
      std::fwrite(size, sizeof size, 1, out);
      std::fwrite(thumbnail.bits.data(), 1, thumbnail.bits.size(), out);
      std::fclose(out);
    }
  }
  CoUninitialize();
  return 0;
}
