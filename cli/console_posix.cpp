#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "cli/console.h"

namespace brisal::cli {

void InterceptInterrupt(std::atomic<bool>& cancel, std::atomic<bool>& interrupted) {
  // Blocking the signals here, before any other thread exists, makes every later
  // thread inherit the mask; one watcher then takes them synchronously, which needs no
  // signal handler and no global state.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, &cancel, &interrupted] {
    int signal_number = 0;
    while (sigwait(&set, &signal_number) == 0) {
      interrupted.store(true);
      cancel.store(true);
    }
  }).detach();
}

bool IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) == 1;
}

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace brisal::cli
