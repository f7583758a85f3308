#include "ui/windows/window_host_win32.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>

#include "core/paths.h"
#include "core/text.h"
#include "ui/actions.h"
#include "ui/painter.h"
#include "ui/windows/canvas_gdiplus.h"
#include "ui/windows/folder_dialog_com.h"
#include "ui/windows/win32_objects.h"

namespace brisal {
namespace {

constexpr DWORD kWindowStyle = WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX;  // 0x800A0000

// Declared before any window or device context exists, so that the screen's real DPI
// is what GetDeviceCaps reports. Looked up by name: older systems lack it.
void DeclareDpiAware() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return;
  using SetProcessDpiAwareFn = BOOL(WINAPI*)();
  const FARPROC address = GetProcAddress(user32, "SetProcessDPIAware");
  if (address == nullptr) return;
  reinterpret_cast<SetProcessDpiAwareFn>(reinterpret_cast<void*>(address))();
}

float ScreenDpiScale() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 1.0f;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<float>(dpi) / 96.0f : 1.0f;
}

PixelRect WorkArea() {
  RECT r = {};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {r.left, r.top, r.right, r.bottom};
}

Key KeyFromVirtualKey(WPARAM key) {
  switch (key) {
    case VK_RETURN:
      return Key::kEnter;
    case VK_SPACE:
      return Key::kSpace;
    case VK_ESCAPE:
      return Key::kEscape;
    default:
      return Key::kOther;
  }
}

class Win32WindowHost final : public WindowHost {
 public:
  explicit Win32WindowHost(LauncherWindow& window) : window_(window) {}

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      auto* host = static_cast<Win32WindowHost*>(create->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
      host->hwnd_ = hwnd;
    }
    auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (host == nullptr || !host->ready_) return DefWindowProcW(hwnd, message, wparam, lparam);
    return host->Handle(message, wparam, lparam);
  }

  bool Create(HINSTANCE instance, const WindowPlacement& placement) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    window_class.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, LR_SHARED));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClassName;
    if (RegisterClassExW(&window_class) == 0) return false;
    return CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, L"Brisal Ascent", kWindowStyle,
                           placement.x, placement.y, placement.width, placement.height, nullptr,
                           nullptr, instance, this) != nullptr;
  }

  // Drawing resources: the fonts at the window's scale and the two layers.
  bool CreateDrawingResources() {
    fonts_ = std::make_unique<GdiplusFonts>(window_.scale);
    return static_layer_.Create(window_.width, window_.height) &&
           back_buffer_.Create(window_.width, window_.height);
  }

  void PaintStaticLayer() {
    GdiplusCanvas canvas(static_layer_, *fonts_);
    std::unique_ptr<CanvasImage> logo = LoadLogo(canvas, ExeFolder());
    PaintStatic(canvas, window_, logo.get());
  }

  // From here on, messages reach the window logic.
  void SetReady() { ready_ = true; }
  HWND hwnd() const { return hwnd_; }

  // WindowHost
  void Invalidate(const PixelRect& rect) override {
    const RECT r = {rect.left, rect.top, rect.right, rect.bottom};
    InvalidateRect(hwnd_, &r, FALSE);
  }

  void StartTimer(int id, int milliseconds) override {
    const UINT period =
        static_cast<UINT>(std::clamp<int>(milliseconds, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    SetTimer(hwnd_, static_cast<UINT_PTR>(id), period, nullptr);
  }
  void StopTimer(int id) override { KillTimer(hwnd_, static_cast<UINT_PTR>(id)); }

  void CaptureMouse() override { SetCapture(hwnd_); }
  void ReleaseMouse() override { ReleaseCapture(); }
  bool HasMouseCapture() const override { return GetCapture() == hwnd_; }

  void SetCursor(CursorKind cursor) override {
    ::SetCursor(LoadCursorW(nullptr, cursor == CursorKind::kHand ? IDC_HAND : IDC_ARROW));
  }

  void Minimize() override { ShowWindow(hwnd_, SW_MINIMIZE); }
  void Close() override { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

  bool OpenUrl(const std::string& url) override {
    // Checked here as well as in the window logic: the shell would also open files and
    // start programs for anything else.
    if (!IsWebAddress(url)) return false;
    ShellExecuteW(hwnd_, L"open", Utf8ToWide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return true;
  }

  // The dialog is modal: its own loop runs until it closes and keeps dispatching this
  // window's paint, timer and state-changed messages, while the system keeps input
  // away from the disabled owner. A close asked for meanwhile waits for the dialog.
  bool PickFolder(const std::string& title, const std::string&, std::string& chosen) override {
    if (picking_) return false;
    picking_ = true;
    // Whatever was pressed or hovered is stale when the dialog closes.
    if (HasMouseCapture()) ReleaseMouse();
    window_.OnMouseLeave();
    SetCursor(CursorKind::kArrow);
    const bool picked = PickFolderWithDialog(hwnd_, title, chosen);
    picking_ = false;
    if (close_requested_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    return picked;
  }

 private:
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_KEYDOWN:
        // Bit 30: the key was already down, so this is an auto-repeat.
        window_.OnKeyDown(KeyFromVirtualKey(wparam), (lparam & (1 << 30)) != 0);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      case WM_PAINT:
        Paint();
        return 0;
      case WM_CLOSE:
        if (picking_) {
          close_requested_ = true;
          return 0;
        }
        window_.OnClose();
        DestroyWindow(hwnd_);
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_SETCURSOR:
        if (LOWORD(lparam) == HTCLIENT) {
          window_.OnSetCursor();
          return TRUE;
        }
        break;
      case WM_NCHITTEST: {
        POINT point = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
        ScreenToClient(hwnd_, &point);
        return window_.IsDragPoint(point.x, point.y) ? HTCAPTION : HTCLIENT;
      }
      case WM_MOUSEMOVE:
        if (!window_.tracking_leave) {
          TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd_, 0};
          TrackMouseEvent(&track);
        }
        window_.OnMouseMove(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
        return 0;
      case WM_MOUSELEAVE:
        window_.OnMouseLeave();
        return 0;
      case WM_LBUTTONDOWN:
        window_.OnMouseDown(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
        return 0;
      case WM_LBUTTONUP:
        window_.OnMouseUp(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
        return 0;
      case WM_CAPTURECHANGED:
        // Also sent for our own release at the end of a click, when no press is left.
        window_.OnCaptureLost();
        return 0;
      case WM_CANCELMODE:
        // The system interrupts (Alt+Tab, a dialog); DefWindowProcW releases the capture.
        window_.OnCaptureLost();
        break;
      case WM_TIMER:
        window_.OnTimer(static_cast<int>(wparam));
        return 0;
      case kStateChangedMessage:
        window_.SyncFromState();
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wparam, lparam);
  }

  // Only the dirty rectangle is copied from the static layer, painted over and shown.
  void Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    const PixelRect dirty{paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right,
                          paint.rcPaint.bottom};
    if (dc != nullptr && dirty.right - dirty.left >= 1 && dirty.bottom - dirty.top >= 1) {
      CopySurfaceRect(static_layer_, back_buffer_, dirty);
      {
        GdiplusCanvas canvas(back_buffer_, *fonts_, &dirty);
        PaintDynamic(canvas, window_, dirty);
      }
      BitBlt(dc, dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top,
             back_buffer_.dc(), dirty.left, dirty.top, SRCCOPY);
    }
    EndPaint(hwnd_, &paint);
  }

  LauncherWindow& window_;
  HWND hwnd_ = nullptr;
  bool ready_ = false;
  bool picking_ = false;
  bool close_requested_ = false;
  std::unique_ptr<GdiplusFonts> fonts_;
  DibSurface static_layer_;
  DibSurface back_buffer_;
};

}  // namespace

int RunWindowWin32(HINSTANCE instance, LauncherWindow& window) {
  DeclareDpiAware();
  const PixelRect work_area = WorkArea();
  const float scale = ComputeScale(ScreenDpiScale(), work_area.right - work_area.left,
                                   work_area.bottom - work_area.top);
  Win32WindowHost host(window);
  if (!host.Create(instance, PlaceWindow(scale, work_area))) return 1;

  window.Attach(host, scale);
  if (!host.CreateDrawingResources()) {
    DestroyWindow(host.hwnd());
    return 1;
  }
  host.PaintStaticLayer();
  const HWND hwnd = host.hwnd();
  // Jobs only post; the window pulls what it needs when the message arrives. A post
  // after the window is gone fails harmlessly.
  window.state->notify = [hwnd] { PostMessageW(hwnd, kStateChangedMessage, 0, 0); };
  host.SetReady();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  window.Start();

  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace brisal
