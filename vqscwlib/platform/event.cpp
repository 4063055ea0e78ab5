#include "vqscwlib/platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vqscw {
namespace {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

Event::Event(ResetMode mode, bool initially_set)
    : mode_(mode), fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (initially_set) Set();
}

Event::~Event() {
  if (fd_ >= 0) close(fd_);
}

void Event::Set() {
  if (fd_ < 0) return;
  MutexLock lock(&mu_);
  if (set_) return;
  const uint64_t one = 1;
  // An eventfd write of 1 cannot fail short of overflowing the counter, which a set flag rules out.
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
  set_ = true;
}

void Event::Reset() {
  if (fd_ < 0) return;
  MutexLock lock(&mu_);
  if (set_) DrainLocked();
}

bool Event::IsSet() const {
  MutexLock lock(&mu_);
  return set_;
}

void Event::DrainLocked() {
  uint64_t value;
  [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
  set_ = false;
}

bool Event::Wait(int timeout_ms) {
  if (fd_ < 0) return false;
  const int64_t deadline = MonotonicMs() + (timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    {
      MutexLock lock(&mu_);
      if (set_) {
        if (mode_ == ResetMode::kAuto) DrainLocked();
        return true;
      }
    }
    int wait_ms = kInfinite;
    if (timeout_ms >= 0) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) return false;
      wait_ms = static_cast<int>(left);
    }
    pollfd pfd{fd_, POLLIN, 0};
    const int rc = poll(&pfd, 1, wait_ms);
    if (rc < 0 && errno != EINTR) return false;
    // Readable, interrupted or timed out: look at the flag again. Another waiter of an auto-reset
    // event may have claimed it first, in which case the loop waits on.
  }
}

}  // namespace vqscw
