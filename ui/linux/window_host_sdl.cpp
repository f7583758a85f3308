#include "ui/linux/window_host_sdl.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "core/free_with.h"
#include "core/paths.h"
#include "resources/artwork.h"
#include "ui/actions.h"
#include "ui/linux/canvas_cairo.h"
#include "ui/linux/folder_picker_gio.h"
#include "ui/linux/xft_dpi.h"
#include "ui/painter.h"

namespace brisal {
namespace {

// User event types, registered once. Job threads and SDL's timer thread push them;
// only the event loop handles them.
enum UserEvent : Uint32 {
  kStateChangedEvent = 0,
  kTimerEvent = 1,
  kRaiseEvent = 2,
  kPickerClosedEvent = 3,
  kUserEventCount
};
// Release/acquire: a thread that sees the base also sees the registration complete.
std::atomic<Uint32> g_event_base{static_cast<Uint32>(-1)};

void PushUserEvent(UserEvent kind, Sint32 code = 0, std::uintptr_t data = 0) {
  const Uint32 base = g_event_base.load(std::memory_order_acquire);
  if (base == static_cast<Uint32>(-1)) return;
  SDL_Event event{};
  event.type = base + kind;
  event.user.code = code;
  event.user.data1 = reinterpret_cast<void*>(data);
  SDL_PushEvent(&event);
}

using SdlWindow = OwningPtr<SDL_Window, SDL_DestroyWindow>;
using SdlSurface = OwningPtr<SDL_Surface, SDL_FreeSurface>;
using SdlCursor = OwningPtr<SDL_Cursor, SDL_FreeCursor>;

// The desktop's font DPI over 96, or 1 where no X resource says otherwise.
float DesktopDpiScale() {
  OwningPtr<Display, XCloseDisplay> display(XOpenDisplay(nullptr));
  if (!display) return 1.0f;
  const char* resources = XResourceManagerString(display.get());
  const float dpi = resources != nullptr ? ParseXftDpi(resources) : 0.0f;
  return dpi > 0 ? dpi / 96.0f : 1.0f;
}

PixelRect WorkArea() {
  SDL_Rect r{};
  if (SDL_GetDisplayUsableBounds(0, &r) != 0 && SDL_GetDisplayBounds(0, &r) != 0) {
    return {0, 0, kDesignWidth + 16, kDesignHeight + 16};
  }
  return {r.x, r.y, r.x + r.w, r.y + r.h};
}

// SDL wants straight alpha for icons; cairo decodes into premultiplied pixels.
SdlSurface IconSurface() {
  CairoSurface png = DecodePngSurface(IconPng());
  if (!png) return nullptr;
  cairo_surface_flush(png.get());
  const int w = cairo_image_surface_get_width(png.get());
  const int h = cairo_image_surface_get_height(png.get());
  const int stride = cairo_image_surface_get_stride(png.get());
  const unsigned char* data = cairo_image_surface_get_data(png.get());
  SdlSurface icon(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888));
  if (!icon) return nullptr;
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    auto* out = reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(icon->pixels) +
                                                 y * icon->pitch);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = in[x];
      const std::uint32_t a = p >> 24;
      if (a == 0) {
        out[x] = 0;
        continue;
      }
      auto channel = [&](int shift) { return (((p >> shift) & 0xFF) * 255 + a / 2) / a; };
      out[x] = (a << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
    }
  }
  return icon;
}

Key KeyFromSdl(SDL_Keycode code) {
  switch (code) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return Key::kEnter;
    case SDLK_SPACE:
      return Key::kSpace;
    case SDLK_ESCAPE:
      return Key::kEscape;
    default:
      return Key::kOther;
  }
}

// How the desktop portal names a parent window, so its picker stays above ours; empty
// where the window system has no such name (the picker then opens on its own).
std::string PortalParentWindow(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return "";
  char text[32];
  std::snprintf(text, sizeof text, "x11:%lx", static_cast<unsigned long>(info.info.x11.window));
  return text;
}

bool IsInputEvent(Uint32 type) {
  switch (type) {
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
    case SDL_KEYDOWN:
    case SDL_KEYUP:
    case SDL_TEXTINPUT:
    case SDL_TEXTEDITING:
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
    case SDL_FINGERMOTION:
      return true;
    default:
      return false;
  }
}

class SdlWindowHost final : public WindowHost {
 public:
  SdlWindowHost(LauncherWindow& window, SDL_Window* sdl_window)
      : window_(window), sdl_window_(sdl_window) {}

  // Drawing resources: the fonts at the window's scale and the two layers.
  bool CreateDrawingResources(int width, int height) {
    fonts_ = std::make_unique<CairoFonts>(ChooseFontFamily(), window_.scale);
    static_layer_ = CreateLayerSurface(width, height);
    back_buffer_ = CreateLayerSurface(width, height);
    if (cairo_surface_status(static_layer_.get()) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_status(back_buffer_.get()) != CAIRO_STATUS_SUCCESS) {
      return false;
    }
    cairo_surface_flush(back_buffer_.get());
    back_view_.reset(SDL_CreateRGBSurfaceWithFormatFrom(
        cairo_image_surface_get_data(back_buffer_.get()), width, height, 32,
        cairo_image_surface_get_stride(back_buffer_.get()), SDL_PIXELFORMAT_ARGB8888));
    if (!back_view_) return false;
    SDL_SetSurfaceBlendMode(back_view_.get(), SDL_BLENDMODE_NONE);
    return true;
  }

  void PaintStaticLayer() {
    CairoCanvas canvas(static_layer_.get(), *fonts_);
    std::unique_ptr<CanvasImage> logo = LoadLogo(canvas, ExeFolder());
    PaintStatic(canvas, window_, logo.get());
    cairo_surface_flush(static_layer_.get());
  }

  // Paints every invalidated rectangle into the back buffer and shows just those.
  void Flush() {
    if (dirty_.empty()) return;
    std::vector<SDL_Rect> shown;
    for (const PixelRect& rect : dirty_) {
      CopySurfaceRect(static_layer_.get(), back_buffer_.get(), rect);
      {
        CairoCanvas canvas(back_buffer_.get(), *fonts_, &rect);
        PaintDynamic(canvas, window_, rect);
      }
      shown.push_back({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top});
    }
    dirty_.clear();
    cairo_surface_flush(back_buffer_.get());
    SDL_Surface* target = SDL_GetWindowSurface(sdl_window_);
    if (target == nullptr) return;
    for (SDL_Rect& r : shown) {
      SDL_Rect destination = r;
      SDL_BlitSurface(back_view_.get(), &r, target, &destination);
    }
    SDL_UpdateWindowSurfaceRects(sdl_window_, shown.data(), static_cast<int>(shown.size()));
  }

  // The system lost the window's pixels (first show, uncovering): the back buffer is
  // current everywhere, so it is shown whole.
  void ShowBackBuffer() {
    Flush();
    SDL_Surface* target = SDL_GetWindowSurface(sdl_window_);
    if (target == nullptr) return;
    SDL_BlitSurface(back_view_.get(), nullptr, target, nullptr);
    SDL_UpdateWindowSurface(sdl_window_);
  }

  void OnTimerEvent(int id, std::uintptr_t generation) {
    auto it = timers_.find(id);
    // A tick queued before its timer was stopped or restarted is stale.
    if (it == timers_.end() || it->second.generation != generation) return;
    window_.OnTimer(id);
  }

  // Handles one event of the main loop, or of the loop that runs while the folder
  // picker is open.
  void Dispatch(const SDL_Event& event) {
    const Uint32 base = g_event_base.load(std::memory_order_acquire);
    if (event.type == SDL_QUIT) {
      RequestClose();
    } else if (event.type == SDL_WINDOWEVENT) {
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          RequestClose();
          break;
        case SDL_WINDOWEVENT_EXPOSED:
          ShowBackBuffer();
          break;
        case SDL_WINDOWEVENT_LEAVE:
          // Only ever clears the hover, so it is taken even while the picker is open.
          window_.OnMouseLeave();
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          // Alt+Tab mid-press: the release goes to another window.
          window_.OnCaptureLost();
          break;
        default:
          break;
      }
    } else if (event.type == base + kStateChangedEvent) {
      window_.SyncFromState();
    } else if (event.type == base + kTimerEvent) {
      OnTimerEvent(event.user.code, reinterpret_cast<std::uintptr_t>(event.user.data1));
    } else if (event.type == base + kRaiseEvent) {
      SDL_ShowWindow(sdl_window_);
      SDL_RestoreWindow(sdl_window_);
      SDL_RaiseWindow(sdl_window_);
    } else if (IsInputEvent(event.type) && !picking_) {
      DispatchInput(event);
    }
  }

  bool picking() const { return picking_; }
  bool closing() const { return closing_; }
  void BeginClose() {
    if (closing_) return;
    closing_ = true;
    window_.OnClose();
    for (auto& [id, timer] : timers_)
      SDL_RemoveTimer(timer.sdl_id);
    timers_.clear();
  }

  // WindowHost
  void Invalidate(const PixelRect& rect) override {
    PixelRect r{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, window_.width),
                std::min(rect.bottom, window_.height)};
    if (r.left >= r.right || r.top >= r.bottom) return;
    auto covers = [](const PixelRect& outer, const PixelRect& inner) {
      return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
             outer.bottom >= inner.bottom;
    };
    for (const PixelRect& existing : dirty_) {
      if (covers(existing, r)) return;
    }
    std::erase_if(dirty_, [&](const PixelRect& existing) { return covers(r, existing); });
    dirty_.push_back(r);
  }

  void StartTimer(int id, int milliseconds) override {
    StopTimer(id);
    const std::uintptr_t generation = ++timer_generation_;
    // The callback's parameter carries the id and generation; it never touches the host,
    // which SDL's timer thread must not do.
    const std::uintptr_t tag = (generation << 8) | static_cast<std::uintptr_t>(id & 0xFF);
    const SDL_TimerID sdl_id = SDL_AddTimer(static_cast<Uint32>(std::max(milliseconds, 1)),
                                            TimerCallback, reinterpret_cast<void*>(tag));
    if (sdl_id != 0) timers_[id] = {sdl_id, generation};
  }

  void StopTimer(int id) override {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    SDL_RemoveTimer(it->second.sdl_id);
    timers_.erase(it);
  }

  void CaptureMouse() override { captured_ = SDL_CaptureMouse(SDL_TRUE) == 0; }
  void ReleaseMouse() override {
    SDL_CaptureMouse(SDL_FALSE);
    captured_ = false;
  }
  bool HasMouseCapture() const override { return captured_; }

  void SetCursor(CursorKind cursor) override {
    SdlCursor& slot = cursor == CursorKind::kHand ? hand_cursor_ : arrow_cursor_;
    if (!slot) {
      slot.reset(SDL_CreateSystemCursor(cursor == CursorKind::kHand ? SDL_SYSTEM_CURSOR_HAND
                                                                    : SDL_SYSTEM_CURSOR_ARROW));
    }
    if (slot) SDL_SetCursor(slot.get());
  }

  void Minimize() override { SDL_MinimizeWindow(sdl_window_); }

  void Close() override {
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
  }

  bool OpenUrl(const std::string& url) override {
    // Checked here as well as in the window logic: xdg-open would also open files and
    // start programs for other schemes.
    if (!IsWebAddress(url)) return false;
    return SDL_OpenURL(url.c_str()) == 0;
  }

  // The picker is another program (the portal's backend, zenity or kdialog) that may
  // stay open for minutes, while downloads and checks go on publishing their progress.
  // So the waiting happens on a thread of its own, and this thread goes on running the
  // window's events in a loop of its own until the picker closes: state changes,
  // timers and exposures are handled as usual, input to the window is dropped (the
  // picker is modal from the player's point of view), and a close waits for the
  // picker. To the window logic the call is simply blocking, and it cannot be entered
  // twice because the input that could start it is dropped.
  bool PickFolder(const std::string& title, const std::string&, std::string& chosen) override {
    if (picking_) return false;
    picking_ = true;
    // Whatever was pressed or hovered is stale when the picker closes.
    if (captured_) ReleaseMouse();
    window_.OnMouseLeave();
    SetCursor(CursorKind::kArrow);

    // Release/acquire: a loop that sees `done` also sees `outcome` and `folder`.
    std::atomic<bool> done{false};
    PickOutcome outcome = PickOutcome::kCancelled;
    std::string folder;
    const std::string parent = PortalParentWindow(sdl_window_);
    std::thread picker([&] {
      outcome = PickFolderOnDesktop(title, parent, folder);
      done.store(true, std::memory_order_release);
      PushUserEvent(kPickerClosedEvent);
    });
    while (!done.load(std::memory_order_acquire)) {
      SDL_Event event;
      // The time-out covers a wake-up lost to a full event queue.
      if (SDL_WaitEventTimeout(&event, 200) != 0) {
        do {
          Dispatch(event);
        } while (SDL_PollEvent(&event));
      }
      if (!closing_) Flush();
    }
    picker.join();
    picking_ = false;
    if (outcome != PickOutcome::kChosen) return false;
    chosen = folder;
    return true;
  }

  // Closing for good: after the picker, when one is open.
  void RequestClose() {
    if (picking_) {
      close_requested_ = true;
      return;
    }
    BeginClose();
  }
  bool close_requested() const { return close_requested_; }

 private:
  struct Timer {
    SDL_TimerID sdl_id;
    std::uintptr_t generation;
  };

  static Uint32 TimerCallback(Uint32 interval, void* param) {
    const auto tag = reinterpret_cast<std::uintptr_t>(param);
    PushUserEvent(kTimerEvent, static_cast<Sint32>(tag & 0xFF), tag >> 8);
    return interval;
  }

  LauncherWindow& window_;
  SDL_Window* sdl_window_;
  std::unique_ptr<CairoFonts> fonts_;
  CairoSurface static_layer_;
  CairoSurface back_buffer_;
  SdlSurface back_view_;  // the back buffer's pixels, seen by SDL for blitting
  std::vector<PixelRect> dirty_;
  std::map<int, Timer> timers_;
  std::uintptr_t timer_generation_ = 0;
  void DispatchInput(const SDL_Event& event) {
    switch (event.type) {
      case SDL_MOUSEMOTION:
        window_.OnMouseMove(event.motion.x, event.motion.y);
        window_.OnSetCursor();
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT) {
          window_.OnMouseDown(event.button.x, event.button.y);
        }
        break;
      case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_LEFT) {
          window_.OnMouseUp(event.button.x, event.button.y);
          window_.OnSetCursor();
        }
        break;
      case SDL_KEYDOWN:
        window_.OnKeyDown(KeyFromSdl(event.key.keysym.sym), event.key.repeat != 0);
        break;
      default:
        break;
    }
  }

  bool captured_ = false;
  bool closing_ = false;
  bool picking_ = false;
  bool close_requested_ = false;
  SdlCursor hand_cursor_;
  SdlCursor arrow_cursor_;
};

struct HitTestContext {
  const LauncherWindow* window;
  const SdlWindowHost* host;
};

SDL_HitTestResult HitTestCallback(SDL_Window*, const SDL_Point* point, void* data) {
  const auto* context = static_cast<const HitTestContext*>(data);
  // No dragging while the picker is open: input to the window waits for it to close.
  if (context->host->picking()) return SDL_HITTEST_NORMAL;
  return context->window->IsDragPoint(point->x, point->y) ? SDL_HITTEST_DRAGGABLE
                                                          : SDL_HITTEST_NORMAL;
}

}  // namespace

void RequestRaiseSdl() {
  PushUserEvent(kRaiseEvent);
}

int RunWindowSdl(LauncherWindow& window, const std::function<void()>& on_shown) {
  // The window's surface in plain memory, shown with X's own image calls. SDL would
  // otherwise back it with an OpenGL texture, and for a window that repaints a few
  // rectangles when something changes that costs Mesa's driver (with LLVM where the
  // rendering is in software): some 80 MiB resident and a slower first paint.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // SDL is never shut down: detached job threads may push a notification at any
  // moment until the process ends, and the event queue must still be there for them.
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) return 1;
  const Uint32 base = SDL_RegisterEvents(kUserEventCount);
  if (base == static_cast<Uint32>(-1)) return 1;
  g_event_base.store(base, std::memory_order_release);

  const PixelRect work_area = WorkArea();
  const float scale = ComputeScale(DesktopDpiScale(), work_area.right - work_area.left,
                                   work_area.bottom - work_area.top);
  const WindowPlacement placement = PlaceWindow(scale, work_area);
  SdlWindow sdl_window(SDL_CreateWindow("Brisal Ascent", placement.x, placement.y, placement.width,
                                        placement.height,
                                        SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN));
  if (!sdl_window) return 1;
  if (SdlSurface icon = IconSurface()) SDL_SetWindowIcon(sdl_window.get(), icon.get());

  SdlWindowHost host(window, sdl_window.get());
  window.Attach(host, scale);
  if (!host.CreateDrawingResources(window.width, window.height)) return 1;
  host.PaintStaticLayer();
  HitTestContext hit_test{&window, &host};
  SDL_SetWindowHitTest(sdl_window.get(), HitTestCallback, &hit_test);

  window.state->notify = [] { PushUserEvent(kStateChangedEvent); };
  host.Invalidate({0, 0, window.width, window.height});
  host.Flush();
  SDL_ShowWindow(sdl_window.get());
  host.ShowBackBuffer();
  if (on_shown) on_shown();
  window.Start();

  SDL_Event event;
  while (!host.closing() && SDL_WaitEvent(&event)) {
    do {
      host.Dispatch(event);
      // A close asked for while the picker was open.
      if (host.close_requested()) host.BeginClose();
    } while (!host.closing() && SDL_PollEvent(&event));
    if (!host.closing()) host.Flush();
  }
  return 0;
}

}  // namespace brisal
