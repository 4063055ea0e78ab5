// A waitable event with manual or automatic reset.
//
// Backed by an eventfd, so a thread can wait for it together with a socket in one poll(): the
// descriptor is readable exactly while the event is set. Set, Reset, Wait and IsSet may be called
// from any thread.
#ifndef VQSCWLIB_PLATFORM_EVENT_H_
#define VQSCWLIB_PLATFORM_EVENT_H_

#include "vqscwlib/base/thread_annotations.h"

namespace vqscw {

class Event {
 public:
  enum class ResetMode { kManual, kAuto };

  // Wait time-out meaning "no time-out".
  static constexpr int kInfinite = -1;

  // A manual-reset event stays set until Reset(); an auto-reset event is cleared by the one
  // Wait() that it releases. Check valid(): creating the descriptor can fail (descriptor limit).
  explicit Event(ResetMode mode, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const { return fd_ >= 0; }

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits up to `timeout_ms` (kInfinite: forever) for the event. Returns true when it was set
  // (and, for an auto-reset event, clears it); false on time-out or when the event is not valid.
  bool Wait(int timeout_ms);

  // The descriptor to poll for POLLIN together with other descriptors. After poll() reports it
  // readable, an auto-reset event should still be claimed with Wait(0).
  int fd() const { return fd_; }

 private:
  const ResetMode mode_;
  const int fd_;
  mutable Mutex mu_;
  bool set_ GUARDED_BY(mu_) = false;

  // Clears the event. REQUIRES: the event is set.
  void DrainLocked() REQUIRES(mu_);
};

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_EVENT_H_
