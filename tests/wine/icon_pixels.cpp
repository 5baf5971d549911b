// Loads each icon location given as an argument ("path,index", as a DefaultIcon value names it) the
// way the shell does, and writes the pixels of its large icon to standard output: 32 rows of 32
// pixels, top row first, 4 bytes each in the order blue, green, red, alpha. Exits with 1, naming
// the location, when an icon cannot be loaded or is not 32 by 32 pixels.

#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;

bool WritePixels(HICON icon) {
  ICONINFO info;
  if (!GetIconInfo(icon, &info)) {
    return false;
  }
  BITMAP colour = {};
  bool written = false;
  if (info.hbmColor && GetObjectW(info.hbmColor, sizeof colour, &colour) &&
      colour.bmWidth == kSize && colour.bmHeight == kSize) {
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = kSize;
    format.bmiHeader.biHeight = -kSize;  // Negative: top row first.
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> pixels(4 * kSize * kSize);
    HDC screen = GetDC(nullptr);
    written = GetDIBits(screen, info.hbmColor, 0, kSize, pixels.data(), &format, DIB_RGB_COLORS) ==
                  kSize &&
              std::fwrite(pixels.data(), 1, pixels.size(), stdout) == pixels.size();
    ReleaseDC(nullptr, screen);
  }
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return written;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  _setmode(_fileno(stdout), _O_BINARY);
  for (int i = 1; i < argc; ++i) {
    std::wstring location = argv[i];
    // Cuts ",index" off the path and returns the index.
    int index = PathParseIconLocationW(location.data());
    HICON icon = nullptr;
    ExtractIconExW(location.c_str(), index, &icon, nullptr, 1);
    bool written = icon && WritePixels(icon);
    if (icon) {
      DestroyIcon(icon);
    }
    if (!written) {
      std::fwprintf(stderr, L"icon_pixels: cannot load a 32 px icon from %ls\n", argv[i]);
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
