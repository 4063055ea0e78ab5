// The lock a media filter shares with its pins. It is recursive: a pin's Connect holds it while
// the peer pin calls back into the filter (QueryInterface, the offered type), as the media graph's
// connection protocol requires.
#ifndef VQSCWLIB_PREVIEW_FILTER_LOCK_H_
#define VQSCWLIB_PREVIEW_FILTER_LOCK_H_

#include <mutex>

#include "vqscwlib/base/thread_annotations.h"

namespace vqscw {

class CAPABILITY("mutex") FilterLock {
 public:
  FilterLock() = default;
  FilterLock(const FilterLock&) = delete;
  FilterLock& operator=(const FilterLock&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }

 private:
  std::recursive_mutex mu_;
};

class SCOPED_CAPABILITY FilterLockHolder {
 public:
  explicit FilterLockHolder(FilterLock* lock) ACQUIRE(lock) : lock_(lock) { lock_->lock(); }
  ~FilterLockHolder() RELEASE() { lock_->unlock(); }
  FilterLockHolder(const FilterLockHolder&) = delete;
  FilterLockHolder& operator=(const FilterLockHolder&) = delete;

 private:
  FilterLock* const lock_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_FILTER_LOCK_H_
