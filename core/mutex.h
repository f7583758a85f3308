// A mutex whose lock rules the compiler checks. Members name the mutex that guards
// them (GUARDED_BY), functions the mutexes they need (REQUIRES); clang's
// -Wthread-safety then proves every access holds the right one. Other compilers see
// plain std::mutex.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#if defined(__clang__)
#define BRISAL_THREAD_ATTR(x) __attribute__((x))
#else
#define BRISAL_THREAD_ATTR(x)
#endif

#define CAPABILITY(x) BRISAL_THREAD_ATTR(capability(x))
#define SCOPED_CAPABILITY BRISAL_THREAD_ATTR(scoped_lockable)
#define GUARDED_BY(x) BRISAL_THREAD_ATTR(guarded_by(x))
#define REQUIRES(...) BRISAL_THREAD_ATTR(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) BRISAL_THREAD_ATTR(acquire_capability(__VA_ARGS__))
#define RELEASE(...) BRISAL_THREAD_ATTR(release_capability(__VA_ARGS__))
#define EXCLUDES(...) BRISAL_THREAD_ATTR(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) BRISAL_THREAD_ATTR(assert_capability(x))
#define RETURN_CAPABILITY(x) BRISAL_THREAD_ATTR(lock_returned(x))

namespace brisal {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() {
    mutex_.lock();
    owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void Unlock() RELEASE() {
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }

  // For code the analysis cannot follow into (a job handed over as a std::function):
  // states that the calling thread holds the mutex, and ends the process when it does
  // not, since every guarded access after it would be a data race. The owner is only
  // ever compared with the calling thread's own id, which that thread itself stored
  // while holding the mutex, so relaxed order is enough.
  void AssertHeld() const ASSERT_CAPABILITY(this) {
    if (owner_.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
      std::fputs("internal error: a lock the code relies on is not held\n", stderr);
      std::abort();
    }
  }

  // BasicLockable, so std::condition_variable_any can wait on a MutexLock.
  void lock() ACQUIRE() { Lock(); }
  void unlock() RELEASE() { Unlock(); }

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// Holds a Mutex for its scope. Also BasicLockable, for a condition variable's wait.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() { mutex_.Lock(); }
  void unlock() RELEASE() { mutex_.Unlock(); }

 private:
  Mutex& mutex_;
};

}  // namespace brisal
