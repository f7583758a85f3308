// Starts a program and reports when its window first shows painted content, for
// bench/window_bench. Prints "pid <pid> first_paint_ms <ms> cpu_ms <ms>" (the wall
// time, and the CPU time the program used until then) and leaves the program running;
// the bench measures it further and ends it.
//
// Usage: window_probe TITLE MIN_COLOURS TIMEOUT_S -- PROGRAM [ARGS...]
//
// "Painted" is a viewable top-level window named TITLE showing at least MIN_COLOURS
// distinct pixel values: a window that is mapped but not yet drawn shows one or two
// (its background, or what lay below it), a drawn launcher shows hundreds. The clock
// starts just before the fork, so the figure includes the program's whole start-up.
// The screen is looked at every 2 ms, so the figure is late by that much and by the
// time one look takes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>

namespace {

// The window may be unmapped or destroyed between two requests: such errors only mean
// "not yet".
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

bool IsNamed(Display* display, Window window, const std::string& title) {
  char* raw = nullptr;
  if (XFetchName(display, window, &raw) == 0) return false;
  std::unique_ptr<char, XFreeDeleter> name(raw);
  return name && title == name.get();
}

// Searches the tree below `parent` (a window manager reparents top-levels, Xvfb alone
// does not) for a viewable window named `title`.
Window FindWindow(Display* display, Window parent, const std::string& title, int depth) {
  Window root_return = 0, parent_return = 0;
  Window* raw_children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, parent, &root_return, &parent_return, &raw_children, &count) == 0) {
    return 0;
  }
  std::unique_ptr<Window, XFreeDeleter> children(raw_children);
  for (unsigned int i = 0; i < count; ++i) {
    const Window child = raw_children[i];
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, child, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
      continue;
    }
    if (IsNamed(display, child, title)) return child;
    if (depth > 0) {
      if (Window found = FindWindow(display, child, title, depth - 1)) return found;
    }
  }
  return 0;
}

// Distinct colours on fifteen rows spread over the window, up to `enough`: a painted
// launcher shows hundreds there (logo, gradients, text), and so few pixels cost the X
// server and the probe little of the CPU the program is starting on.
// -1: the window is gone or hidden again (Wine may replace a window while starting).
int DistinctColours(Display* display, Window window, int enough) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      attributes.map_state != IsViewable) {
    return -1;
  }
  std::unordered_set<unsigned long> seen;
  for (int k = 1; k < 16 && static_cast<int>(seen.size()) < enough; ++k) {
    XImage* row = XGetImage(display, window, 0, attributes.height * k / 16,
                            static_cast<unsigned>(attributes.width), 1, AllPlanes, ZPixmap);
    if (row == nullptr) return 0;
    for (int x = 0; x < row->width; ++x)
      seen.insert(XGetPixel(row, x, 0));
    XDestroyImage(row);
  }
  return static_cast<int>(seen.size());
}

// CPU time the process (all its threads) has used so far: user and system ticks from
// /proc/PID/stat, in milliseconds. Unlike the wall time, it hardly depends on what
// else the machine is doing.
long long CpuMilliseconds(pid_t pid) {
  std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (file == nullptr) return -1;
  char line[1024] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  // The name in parentheses may hold spaces; the fields after it are plain numbers.
  const char* after_name = read ? std::strrchr(line, ')') : nullptr;
  unsigned long long user = 0, system = 0;
  if (after_name == nullptr ||
      std::sscanf(after_name + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                  &system) != 2) {
    return -1;
  }
  return static_cast<long long>((user + system) * 1000 / sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || std::strcmp(argv[4], "--") != 0) {
    std::fprintf(stderr, "usage: %s TITLE MIN_COLOURS TIMEOUT_S -- PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  const int min_colours = std::atoi(argv[2]);
  const auto timeout = std::chrono::seconds(std::atoi(argv[3]));

  std::unique_ptr<Display, DisplayCloser> connection(XOpenDisplay(nullptr));
  Display* display = connection.get();
  if (display == nullptr) {
    std::fprintf(stderr, "window_probe: no X display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreXError);

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    // The program must not hold the probe's connection to the X server.
    close(ConnectionNumber(display));
    execvp(argv[5], argv + 5);
    _exit(127);
  }

  const Window root = DefaultRootWindow(display);
  Window window = 0;
  while (std::chrono::steady_clock::now() - start < timeout) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      std::fprintf(stderr, "window_probe: %s ended before painting\n", argv[5]);
      return 1;
    }
    // Found once; the same window is looked at until it shows its paint.
    if (window == 0) window = FindWindow(display, root, title, 2);
    if (window != 0) {
      const int colours = DistinctColours(display, window, min_colours);
      if (colours < 0) window = 0;
      if (colours >= min_colours) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::printf("pid %d first_paint_ms %lld cpu_ms %lld\n", static_cast<int>(child),
                    static_cast<long long>(elapsed.count()), CpuMilliseconds(child));
        return 0;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::fprintf(stderr, "window_probe: no painted window named \"%s\" in time\n", title.c_str());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return 1;
}
