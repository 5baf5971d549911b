// The preview class of OrbedoThumbnails.dll (dll_win.h), which every structure type's ProgID names
// under ShellEx\{8895b1c6-b41f-4c1c-a562-0d564250836f}. Explorer's preview pane creates it in the
// preview host (prevhost.exe), a process of low integrity apart from Explorer, and hands it the
// document's stream (never its path), the pane's window and rectangle, and the pane's colours and
// font; DoPreview shows the structure (preview.h) and its facts in a child window of the pane,
// which the user turns with the mouse and the arrow keys. The handler reads its stream and nothing
// else, writes nothing, starts nothing and shows no message box: a document is untrusted, and at
// low integrity none of that would be allowed anyway.

#include <windows.h>

// After windows.h, which they build on.
#include <objbase.h>
#include <ocidl.h>
#include <propsys.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "thumbnails/dll_win.h"
#include "thumbnails/preview.h"

namespace {

constexpr wchar_t kWindowClass[] = L"OrbedoStructurePreview";
constexpr double kPi = 3.14159265358979323846;
// A press of an arrow key turns the structure by a twelfth of a half turn; a drag across the
// picture's shorter side, by a half turn.
constexpr double kKeyTurn = kPi / 12;

struct GdiDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

// 0x00BBGGRR to 0xRRGGBB.
std::uint32_t Rgb(COLORREF colour) {
  return static_cast<std::uint32_t>(GetRValue(colour)) << 16 |
         static_cast<std::uint32_t>(GetGValue(colour)) << 8 | GetBValue(colour);
}

bool IsTurningKey(WPARAM key) {
  return key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l);

// The window class of the previews: registered once, with the first preview shown, and taken away
// as the DLL unloads (UnregisterPreviewWindowClass).
bool RegisterWindowClass() {
  static const ATOM registered = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = WindowProcedure;
    window_class.hInstance = Module();
    window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClass;
    return RegisterClassExW(&window_class);
  }();
  return registered != 0;
}

class PreviewHandler final
    : public StreamHandler<IObjectWithSite, IOleWindow, IPreviewHandler, IPreviewHandlerVisuals> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override {
    if (!object) {
      return E_POINTER;
    }
    // IUnknown is always the same pointer: COM compares objects by it.
    if (IsEqualIID(interface_id, __uuidof(IUnknown)) ||
        IsEqualIID(interface_id, __uuidof(IPreviewHandler))) {
      *object = static_cast<IPreviewHandler*>(this);
    } else if (IsEqualIID(interface_id, __uuidof(IInitializeWithStream))) {
      *object = static_cast<IInitializeWithStream*>(this);
    } else if (IsEqualIID(interface_id, __uuidof(IObjectWithSite))) {
      *object = static_cast<IObjectWithSite*>(this);
    } else if (IsEqualIID(interface_id, __uuidof(IOleWindow))) {
      *object = static_cast<IOleWindow*>(this);
    } else if (IsEqualIID(interface_id, __uuidof(IPreviewHandlerVisuals))) {
      *object = static_cast<IPreviewHandlerVisuals*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // The host, and through it the frame, to which the keys the preview does not use go. The frame's
  // accelerator table is not asked for (GetWindowContext): a handler of low integrity cannot call
  // it, and passes every such key on instead.
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override {
    if (frame_) {
      frame_->Release();
      frame_ = nullptr;
    }
    if (site_) {
      site_->Release();
      site_ = nullptr;
    }
    if (site) {
      site->AddRef();
      site_ = site;
      if (FAILED(site->QueryInterface(IID_PPV_ARGS(&frame_)))) {
        frame_ = nullptr;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSite(REFIID interface_id, void** site) override {
    if (!site) {
      return E_POINTER;
    }
    *site = nullptr;
    return site_ ? site_->QueryInterface(interface_id, site) : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) {
      return E_INVALIDARG;
    }
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // The pane's window and where in it the preview goes: kept for DoPreview, or the window moved
  // there at once.
  HRESULT STDMETHODCALLTYPE SetWindow(HWND parent, const RECT* area) override {
    if (!area) {
      return E_INVALIDARG;
    }
    parent_ = parent;
    if (window_) {
      SetParent(window_, parent_);
    }
    return SetRect(area);
  }
  HRESULT STDMETHODCALLTYPE SetRect(const RECT* area) override {
    if (!area) {
      return E_INVALIDARG;
    }
    area_ = *area;
    if (window_) {
      SetWindowPos(window_, nullptr, area_.left, area_.top, area_.right - area_.left,
                   area_.bottom - area_.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return S_OK;
  }

  // Reads the stream, and shows the structure in a window of its own in the pane. What is no
  // structure, or of more than 64 MiB whose first model does not end within them, gets an error
  // and no window: Explorer then says that there is no preview.
  HRESULT STDMETHODCALLTYPE DoPreview() override {
    if (window_) {
      return S_OK;
    }
    if (!stream_ || !parent_) {
      return E_UNEXPECTED;
    }
    try {
      std::string file;
      const HRESULT read = ReadAll(stream_, &file);
      if (FAILED(read)) {
        return read;
      }
      preview_ = Preview::Of(file);
      if (!preview_) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
      }
      title_ = Wide(preview_->facts().title);
      summary_ = Wide(preview_->facts().summary);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception&) {
      return E_FAIL;
    }
    if (!font_) {
      NONCLIENTMETRICSW metrics = {};
      metrics.cbSize = sizeof metrics;
      if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font_.reset(CreateFontIndirectW(&metrics.lfMessageFont));
      }
    }
    stale_ = true;
    window_ =
        RegisterWindowClass()
            ? CreateWindowExW(0, kWindowClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                              area_.left, area_.top, area_.right - area_.left,
                              area_.bottom - area_.top, parent_, nullptr, Module(), this)
            : nullptr;
    if (!window_) {
      const HRESULT failed = HRESULT_FROM_WIN32(GetLastError());
      preview_.reset();
      return FAILED(failed) ? failed : E_FAIL;
    }
    // The first picture now, not once the host's loop comes round to painting.
    UpdateWindow(window_);
    return S_OK;
  }

  // The only place to take the focus is the preview's window: its first and its last tab stop
  // alike, whichever way the user tabs in.
  HRESULT STDMETHODCALLTYPE SetFocus() override {
    if (!window_) {
      return S_FALSE;
    }
    ::SetFocus(window_);
    return S_OK;
  }
  // What GetFocus says on this thread, where the preview's window is, which the host cannot ask.
  HRESULT STDMETHODCALLTYPE QueryFocus(HWND* focus) override {
    if (!focus) {
      return E_INVALIDARG;
    }
    *focus = ::GetFocus();
    return S_OK;
  }
  // The host's message loop offers every key here first. The arrow keys turn the structure: left
  // for the window, which they reach once dispatched; every other key goes to the frame, so that
  // Explorer's shortcuts (Alt+P, F5, Tab out of the pane...) still work. S_OK where the frame took
  // it.
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override {
    if (!message) {
      return E_INVALIDARG;
    }
    if (window_ && message->hwnd == window_ &&
        (message->message == WM_KEYDOWN || message->message == WM_KEYUP) &&
        IsTurningKey(message->wParam)) {
      return S_FALSE;
    }
    return frame_ ? frame_->TranslateAccelerator(message) : S_FALSE;
  }

  // Lets go of the window and the stream, and of all that was read: a new Initialize and
  // DoPreview start again. The site, the pane's window, colours and font stay.
  HRESULT STDMETHODCALLTYPE Unload() override {
    if (window_) {
      DestroyWindow(window_);
      window_ = nullptr;
    }
    LetGoOfStream();
    preview_.reset();
    picture_ = {};
    title_.clear();
    summary_.clear();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetBackgroundColor(COLORREF colour) override {
    background_ = colour;
    Redraw();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFont(const LOGFONTW* font) override {
    if (!font) {
      return E_INVALIDARG;
    }
    Font created(CreateFontIndirectW(font));
    if (!created) {
      return E_FAIL;
    }
    font_ = std::move(created);
    Redraw();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTextColor(COLORREF colour) override {
    text_colour_ = colour;
    Redraw();
    return S_OK;
  }

  LRESULT Handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
      case WM_PAINT:
        Paint(window);
        return 0;
      case WM_ERASEBKGND:
        return 1;  // Painted whole.
      case WM_SIZE:
        Redraw();
        return 0;
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
      case WM_LBUTTONDOWN:
        ::SetFocus(window);
        SetCapture(window);
        dragging_ = true;
        from_ = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        return 0;
      case WM_MOUSEMOVE:
        if (dragging_ && (w & MK_LBUTTON)) {
          const POINT to = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
          const double per_pixel = kPi / std::max(1, std::min(picture_width_, picture_height_));
          Turn((to.x - from_.x) * per_pixel, (from_.y - to.y) * per_pixel, true);
          from_ = to;
        }
        return 0;
      case WM_LBUTTONUP:
        ReleaseCapture();  // Ends the turn (WM_CAPTURECHANGED).
        return 0;
      case WM_CAPTURECHANGED:
        dragging_ = false;
        EndTurn();
        return 0;
      case WM_KEYDOWN:
        if (IsTurningKey(w)) {
          // A key held down repeats: a turn in motion, like a drag.
          const double step = w == VK_RIGHT || w == VK_UP ? kKeyTurn : -kKeyTurn;
          const bool across = w == VK_LEFT || w == VK_RIGHT;
          Turn(across ? step : 0, across ? 0 : step, (l & 1 << 30) != 0);
          return 0;
        }
        break;
      case WM_KEYUP:
        if (IsTurningKey(w)) {
          EndTurn();
          return 0;
        }
        break;
      default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
  }

 private:
  ~PreviewHandler() override {
    Unload();
    SetSite(nullptr);
  }

  void Redraw() {
    stale_ = true;
    if (window_) {
      InvalidateRect(window_, nullptr, FALSE);
    }
  }

  void Turn(double right, double up, bool moving) {
    if (!preview_) {
      return;
    }
    preview_->TurnBy(right, up);
    moving_ = moving;
    Redraw();
  }

  // The whole picture again once a turn comes to rest.
  void EndTurn() {
    if (moving_) {
      moving_ = false;
      Redraw();
    }
  }

  // The picture above, stretched where it was drawn smaller while turning, and the facts under it,
  // the title and the summary each on a line of its own, cut short with an ellipsis where the
  // pane is too narrow.
  void Paint(HWND window) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    const HGDIOBJ old_font =
        SelectObject(dc, font_ ? font_.get() : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    const int line = metrics.tmHeight + metrics.tmExternalLeading;
    const int lines = title_.empty() ? 1 : 2;
    const int band = std::min<int>(client.bottom, (lines + 1) * line);
    picture_width_ = client.right;
    picture_height_ = client.bottom - band;
    if (picture_width_ > 0 && picture_height_ > 0 && preview_) {
      try {
        if (stale_ || (!moving_ &&
                       (picture_.width != picture_width_ || picture_.height != picture_height_))) {
          const std::uint32_t background = Rgb(background_);
          picture_ = moving_ ? preview_->DrawMoving(picture_width_, picture_height_, background)
                             : preview_->Draw(picture_width_, picture_height_, background);
          stale_ = false;
        }
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = picture_.width;
        info.bmiHeader.biHeight = -picture_.height;  // Rows from the top.
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, 0, 0, picture_width_, picture_height_, 0, 0, picture_.width,
                      picture_.height, picture_.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
      } catch (const std::exception&) {
        picture_height_ = 0;  // No picture: the background where it would be.
      }
    }
    RECT text = {0, std::max(0, picture_height_), client.right, client.bottom};
    const Brush background(CreateSolidBrush(background_));
    FillRect(dc, &text, background ? background.get() : GetSysColorBrush(COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, text_colour_);
    // Half a line clear around the facts.
    text = {line / 2, client.bottom - band + line / 2, client.right - line / 2, 0};
    for (const std::wstring* facts : {&title_, &summary_}) {
      if (!facts->empty()) {
        text.bottom = text.top + line;
        DrawTextW(dc, facts->c_str(), static_cast<int>(facts->size()), &text,
                  DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
        text.top = text.bottom;
      }
    }
    SelectObject(dc, old_font);
    EndPaint(window, &paint);
  }

  IUnknown* site_ = nullptr;
  IPreviewHandlerFrame* frame_ = nullptr;
  HWND parent_ = nullptr;
  RECT area_ = {};
  HWND window_ = nullptr;
  // The pane's look, until the host says otherwise: the system's colours of a window and its
  // font of messages.
  COLORREF background_ = GetSysColor(COLOR_WINDOW);
  COLORREF text_colour_ = GetSysColor(COLOR_WINDOWTEXT);
  Font font_;
  std::optional<Preview> preview_;
  std::wstring title_, summary_;
  // The last picture drawn, smaller than its place while the structure turns; drawn again where
  // stale.
  Picture picture_;
  bool stale_ = true;
  bool moving_ = false;
  int picture_width_ = 0, picture_height_ = 0;
  bool dragging_ = false;
  POINT from_ = {};
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* const handler = reinterpret_cast<PreviewHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  return handler ? handler->Handle(window, message, w, l) : DefWindowProcW(window, message, w, l);
}

}  // namespace

HRESULT CreatePreviewHandler(REFIID interface_id, void** object) {
  return CreateObject<PreviewHandler>(interface_id, object);
}

void UnregisterPreviewWindowClass() { UnregisterClassW(kWindowClass, Module()); }
