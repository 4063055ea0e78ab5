// Clang thread-safety annotations and an annotated mutex.
//
// The annotations compile to nothing on other compilers. std::mutex carries no capability
// attribute in libstdc++, so code that wants its locking checked uses vqscw::Mutex and
// vqscw::MutexLock.
#ifndef VQSCWLIB_BASE_THREAD_ANNOTATIONS_H_
#define VQSCWLIB_BASE_THREAD_ANNOTATIONS_H_

#include <mutex>

#if defined(__clang__)
#define VQSCW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VQSCW_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VQSCW_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VQSCW_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VQSCW_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VQSCW_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VQSCW_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VQSCW_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VQSCW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VQSCW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VQSCW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VQSCW_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VQSCW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VQSCW_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VQSCW_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VQSCW_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vqscw {

// A std::mutex that the thread-safety analysis understands. Also usable with
// std::condition_variable_any.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mu_.try_lock(); }
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  std::mutex mu_;
};

// Holds a Mutex for the lifetime of the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mu) ACQUIRE(mu) : mu_(mu) { mu_->lock(); }
  ~MutexLock() RELEASE() { mu_->unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mu_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_BASE_THREAD_ANNOTATIONS_H_
