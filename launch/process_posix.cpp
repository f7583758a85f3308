// POSIX backend of process.h: posix_spawn, with glib splitting the configured
// arguments the way a shell splits words.
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "core/free_with.h"
#include "launch/process.h"

namespace brisal::platform {

namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// The words of `client_args`; false when they cannot be split. Text that holds no word
// at all (empty, blanks, only a comment) adds no argument, as on Windows.
bool SplitArguments(const std::string& client_args, std::vector<std::string>& words) {
  gint count = 0;
  gchar** raw_words = nullptr;
  GError* raw_error = nullptr;
  if (!g_shell_parse_argv(client_args.c_str(), &count, &raw_words, &raw_error)) {
    OwningPtr<GError, g_error_free> error(raw_error);
    return error != nullptr && error->domain == G_SHELL_ERROR &&
           error->code == G_SHELL_ERROR_EMPTY_STRING;
  }
  OwningPtr<gchar*, g_strfreev> owned(raw_words);
  for (gint i = 0; i < count; ++i)
    words.emplace_back(raw_words[i]);
  return true;
}

// The child changes folder before it executes, so a relative path would be looked up
// from the install folder instead of from ours.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::error_code ignored;
  std::string here = std::filesystem::current_path(ignored).string();
  if (here.empty()) return path;
  return here + "/" + path;
}

// A reaper per client: the launcher never looks at the client, but an unreaped child
// stays a zombie for as long as the launcher runs. A thread blocked in waitpid for
// this one pid touches nothing else, unlike ignoring SIGCHLD process-wide (which would
// break every other wait, such as the folder picker's), and unlike a double fork it
// needs no fork() of a multi-threaded process and keeps posix_spawn's error report.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the client still runs; only its exit status lingers.
  }
}

}  // namespace

bool IsAbsoluteInstallDir(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

bool StartProcess(const std::string& exe_path, const std::string& client_args,
                  const std::string& working_dir, std::uint32_t& system_error) {
  std::vector<std::string> words{Absolute(exe_path)};
  if (!SplitArguments(client_args, words)) {
    system_error = EINVAL;
    return false;
  }
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  SpawnAttributes attributes;
  // Like a Windows process created without inheritance: no descriptor of ours (sockets,
  // the log, the lock file) leaks into the client, and it starts with default signal
  // handling and an empty mask whatever this thread has blocked or ignored.
  sigset_t no_signals;
  sigset_t all_signals;
  sigemptyset(&no_signals);
  sigfillset(&all_signals);
  int error = 0;
  if (!working_dir.empty()) {
    error = posix_spawn_file_actions_addchdir_np(actions.get(), working_dir.c_str());
  }
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  if (error == 0) error = posix_spawnattr_setsigmask(attributes.get(), &no_signals);
  if (error == 0) error = posix_spawnattr_setsigdefault(attributes.get(), &all_signals);
  if (error == 0) {
    error =
        posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  pid_t pid = 0;
  if (error == 0) {
    error = posix_spawn(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  }
  if (error != 0) {
    system_error = static_cast<std::uint32_t>(error);
    return false;
  }
  ReapInBackground(pid);
  return true;
}

}  // namespace brisal::platform
