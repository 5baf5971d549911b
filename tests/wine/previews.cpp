// Shows documents in a preview pane as Explorer's preview host does: for each, the class that its
// type's ProgID names (HKEY_CLASSES_ROOT\<ProgID>\ShellEx\{8895b1c6-...}), created in process;
// a site of its own, whose frame takes F5 and no other key; the pane's colours and font;
// IInitializeWithStream::Initialize with a stream of the file (SHCreateStreamOnFileEx); SetWindow
// and DoPreview. Then holds the handler to the host's rules, as properties of the pane captured
// from its window: the preview a child of the pane, in the rectangle given, the structure on the
// pane's colour and the facts in the text's colour under it; turned by a drag with the left
// button and by an arrow key, which the frame never sees, while F5 reaches it; moved by SetRect;
// the focus where SetFocus puts it; Unload takes the window away and lets go of the stream, and a
// new Initialize shows the document again; the DLL held while the object lives, and unloaded
// after, with its window class.
// What is no structure: an error, and no window.
//   previews [--save FOLDER] [--runs N] [--system-look] WIDTH HEIGHT DOCUMENT...
// Prints a line a document: "HRESULT milliseconds milliseconds milliseconds", DoPreview's result
// and time, and the median times of N turns by a key and N steps of a drag, each painted (3 unless
// said). --save writes FOLDER\<n>.bgra, the pane as first shown: width and height (int32), then
// top-down rows of blue, green, red and a byte unused. The pane's colours and font are the test's
// own, which no default gives, or with --system-look, the system's, as Explorer's are by default.

#include <windows.h>

// After windows.h, which they build on.
#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kPreviewHandler[] = L"\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
constexpr int kInset = 10;  // Where the preview's rectangle begins in the pane.

const char* problem = nullptr;

void Check(bool holds, const char* otherwise) {
  if (!holds && !problem) {
    problem = otherwise;
  }
}

std::wstring Value(const std::wstring& key) {
  wchar_t text[256] = {};
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size);
  return text;
}

double Milliseconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER end, frequency;
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// The host's frame: it takes F5, and records every key offered to it.
class Frame final : public IPreviewHandlerFrame {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    *object = IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IPreviewHandlerFrame))
                  ? this
                  : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(PREVIEWHANDLERFRAMEINFO*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override {
    keys.push_back(message->wParam);
    return message->wParam == VK_F5 ? S_OK : S_FALSE;
  }
  std::vector<WPARAM> keys;
};

// The host's loop: a key is offered to the handler first, and dispatched where it is not taken.
void Pump(IPreviewHandler* handler) {
  for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST ||
        handler->TranslateAccelerator(&message) != S_OK) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

// The pane's pixels, 0x00RRGGBB, rows from the top, as its window shows them.
std::vector<DWORD> Capture(HWND pane, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HDC screen = GetDC(pane), memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD* pixels = static_cast<const DWORD*>(bits);
  std::vector<DWORD> captured(pixels, pixels + width * height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(pane, screen);
  for (DWORD& pixel : captured) {
    pixel &= 0xFFFFFF;
  }
  return captured;
}

DWORD Rgb(COLORREF colour) {
  return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}

// How many pixels of rows [top, bottom) of the preview are `colour`, give or take a little.
int Count(const std::vector<DWORD>& pane, int pane_width, int top, int bottom, COLORREF colour) {
  int count = 0;
  for (int y = kInset + top; y < kInset + bottom; ++y) {
    for (int x = 0; x < pane_width; ++x) {
      const DWORD p = pane[static_cast<std::size_t>(y * pane_width + x)], c = Rgb(colour);
      count += std::abs(int(p >> 16) - int(c >> 16)) +
                   std::abs(int(p >> 8 & 0xFF) - int(c >> 8 & 0xFF)) +
                   std::abs(int(p & 0xFF) - int(c & 0xFF)) <
               48;
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1, runs = 3;
  const char* save = nullptr;
  COLORREF background = RGB(250, 240, 200), text = RGB(170, 0, 0);
  LOGFONTW font = {};
  font.lfHeight = -15;
  std::wcscpy(font.lfFaceName, L"Tahoma");
  for (; first < argc - 1 && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "--system-look") == 0) {
      background = GetSysColor(COLOR_WINDOW), text = GetSysColor(COLOR_WINDOWTEXT);
      NONCLIENTMETRICSW metrics = {};
      metrics.cbSize = sizeof metrics;
      SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
      font = metrics.lfMessageFont;
    } else if (std::strcmp(argv[first], "--save") == 0) {
      save = argv[++first];
    } else {
      runs = std::atoi(argv[++first]);
    }
  }
  if (argc - first < 3) {
    std::fputs(
        "usage: previews [--save FOLDER] [--runs N] [--system-look] WIDTH HEIGHT DOCUMENT...\n",
        stderr);
    return 2;
  }
  const int width = std::atoi(argv[first]), height = std::atoi(argv[first + 1]);
  const int pane_width = width + 2 * kInset, pane_height = height + 2 * kInset;
  // The host's threads are apartments of their own.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  WNDCLASSW pane_class = {};
  pane_class.lpfnWndProc = DefWindowProcW;
  pane_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  pane_class.lpszClassName = L"Pane";
  RegisterClassW(&pane_class);
  RECT outer = {0, 0, pane_width, pane_height};
  AdjustWindowRect(&outer, WS_POPUP, FALSE);
  const HWND pane =
      CreateWindowW(L"Pane", L"Pane", WS_POPUP | WS_VISIBLE, 0, 0, outer.right - outer.left,
                    outer.bottom - outer.top, nullptr, nullptr, nullptr, nullptr);
  const RECT area = {kInset, kInset, kInset + width, kInset + height};
  for (int i = first + 2; i < argc; ++i) {
    wchar_t path[MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, argv[i], -1, path, MAX_PATH);
    const std::wstring name = path;
    CLSID handler_class;
    if (FAILED(
            CLSIDFromString(Value(Value(name.substr(name.rfind(L'.'))) + kPreviewHandler).c_str(),
                            &handler_class))) {
      std::fputs("previews: no preview handler for a document's type\n", stderr);
      return 2;
    }
    IStream* stream = nullptr;
    const auto open = [&] {
      return SUCCEEDED(SHCreateStreamOnFileEx(path, STGM_READ | STGM_SHARE_DENY_WRITE, 0, FALSE,
                                              nullptr, &stream));
    };
    IPreviewHandler* handler = nullptr;
    if (!open() || FAILED(CoCreateInstance(handler_class, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&handler)))) {
      std::fputs("previews: a document or its handler cannot be opened\n", stderr);
      return 2;
    }
    const auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"OrbedoThumbnails.dll"), "DllCanUnloadNow")));
    Frame frame;
    IObjectWithSite* site = nullptr;
    IPreviewHandlerVisuals* visuals = nullptr;
    IInitializeWithStream* initialize = nullptr;
    IOleWindow* ole_window = nullptr;
    handler->QueryInterface(IID_PPV_ARGS(&site));
    handler->QueryInterface(IID_PPV_ARGS(&visuals));
    handler->QueryInterface(IID_PPV_ARGS(&initialize));
    handler->QueryInterface(IID_PPV_ARGS(&ole_window));
    Check(site && visuals && initialize && ole_window, "an interface of a preview handler missing");
    if (problem) {
      break;
    }
    site->SetSite(&frame);
    visuals->SetBackgroundColor(background);
    visuals->SetTextColor(text);
    visuals->SetFont(&font);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    initialize->Initialize(stream, STGM_READ);
    handler->SetWindow(pane, &area);
    const HRESULT result = handler->DoPreview();
    const double shown = Milliseconds(start);
    HWND window = nullptr;
    Check(FAILED(result) == FAILED(ole_window->GetWindow(&window)),
          "GetWindow and DoPreview differ");
    Check(SUCCEEDED(result) == (GetWindow(pane, GW_CHILD) != nullptr), "DoPreview's window");
    std::vector<double> turns, steps;
    if (SUCCEEDED(result)) {
      RECT placed;
      GetWindowRect(window, &placed);
      MapWindowPoints(nullptr, pane, reinterpret_cast<POINT*>(&placed), 2);
      Check(GetParent(window) == pane && EqualRect(&placed, &area), "not in the rectangle given");
      Pump(handler);
      const std::vector<DWORD> seen = Capture(pane, pane_width, pane_height);
      // The pane's colour along the top, the structure under it, and the facts in the text's
      // colour at the foot, where no picture reaches.
      Check(Count(seen, pane_width, 0, 1, background) >= width &&
                Count(seen, pane_width, 0, height * 3 / 4, background) <
                    width * height * 3 / 4 * 9 / 10 &&
                Count(seen, pane_width, height - 30, height, text) > 20,
            "no structure on the pane's colour with its facts under it");
      // Turned by a drag and by a key, the frame offered F5 only.
      const LPARAM middle = MAKELPARAM(kInset + width / 2, kInset + height / 3);
      PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
      PostMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, middle + 40);
      PostMessageW(window, WM_LBUTTONUP, 0, middle + 40);
      Pump(handler);
      const std::vector<DWORD> dragged = Capture(pane, pane_width, pane_height);
      handler->SetFocus();
      HWND focus = nullptr;
      Check(SUCCEEDED(handler->QueryFocus(&focus)) && focus == window, "the focus elsewhere");
      PostMessageW(window, WM_KEYDOWN, VK_LEFT, 1);
      PostMessageW(window, WM_KEYUP, VK_LEFT, 1 | 3u << 30);
      PostMessageW(window, WM_KEYDOWN, VK_F5, 1);
      Pump(handler);
      const std::vector<DWORD> keyed = Capture(pane, pane_width, pane_height);
      Check(dragged != seen && keyed != dragged, "not turned by a drag and a key");
      Check(frame.keys == std::vector<WPARAM>{VK_F5},
            "a key not offered to the frame, or an arrow");
      if (save) {
        const std::string file = std::string(save) + "\\" + std::to_string(i - first - 2) + ".bgra";
        FILE* out = std::fopen(file.c_str(), "wb");
        const int size[2] = {pane_width, pane_height};
        Check(out && std::fwrite(size, sizeof size, 1, out) == 1 &&
                  std::fwrite(seen.data(), 4, seen.size(), out) == seen.size() &&
                  std::fclose(out) == 0,
              "cannot save the pane");
      }
      for (int run = 0; run < runs; ++run) {
        QueryPerformanceCounter(&start);
        SendMessageW(window, WM_KEYDOWN, VK_UP, 1);
        UpdateWindow(window);
        turns.push_back(Milliseconds(start));
      }
      SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
      for (int run = 0; run < runs; ++run) {
        QueryPerformanceCounter(&start);
        SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, middle + 3 * (run + 1));
        UpdateWindow(window);
        steps.push_back(Milliseconds(start));
      }
      SendMessageW(window, WM_LBUTTONUP, 0, middle);
      const RECT smaller = {kInset, kInset, kInset + width / 2, kInset + height / 2};
      handler->SetRect(&smaller);
      GetWindowRect(window, &placed);
      MapWindowPoints(nullptr, pane, reinterpret_cast<POINT*>(&placed), 2);
      Check(EqualRect(&placed, &smaller), "not moved by SetRect");
    }
    Check(can_unload && can_unload() == S_FALSE, "the DLL may unload while an object lives");
    handler->Unload();
    Check(!IsWindow(window) && !GetWindow(pane, GW_CHILD), "a window left after Unload");
    // What AddRef returns is the count, less the reference just taken: the caller's alone.
    stream->AddRef();
    Check(stream->Release() == 1, "the stream held after Unload");
    stream->Release();
    if (SUCCEEDED(result) && open()) {
      initialize->Initialize(stream, STGM_READ);
      Check(handler->DoPreview() == S_OK && GetWindow(pane, GW_CHILD), "not shown again");
    }
    for (IUnknown* held : {static_cast<IUnknown*>(site), static_cast<IUnknown*>(visuals),
                           static_cast<IUnknown*>(initialize), static_cast<IUnknown*>(ole_window),
                           static_cast<IUnknown*>(handler)}) {
      held->Release();
    }
    if (SUCCEEDED(result)) {
      stream->Release();
    }
    Check(!GetWindow(pane, GW_CHILD) && can_unload && can_unload() == S_OK,
          "held after the object is gone");
    // Unloaded, the DLL takes its window class with it: the next document loads it afresh.
    const HMODULE dll = GetModuleHandleW(L"OrbedoThumbnails.dll");
    CoFreeUnusedLibrariesEx(0, 0);
    WNDCLASSEXW unregistered = {};
    unregistered.cbSize = sizeof unregistered;
    Check(!GetModuleHandleW(L"OrbedoThumbnails.dll") &&
              !GetClassInfoExW(dll, L"OrbedoStructurePreview", &unregistered),
          "the DLL or its window class left once unloaded");
    if (problem) {
      break;
    }
    std::sort(turns.begin(), turns.end());
    std::sort(steps.begin(), steps.end());
    std::printf("0x%08lx %.1f %.1f %.1f\n", static_cast<unsigned long>(result), shown,
                turns.empty() ? 0 : turns[turns.size() / 2],
                steps.empty() ? 0 : steps[steps.size() / 2]);
  }
  if (problem) {
    std::fprintf(stderr, "previews: %s\n", problem);
    return 2;
  }
  CoUninitialize();
  return 0;
}
