// The millisecond tick counter every timed behaviour of the library reads.
//
// TickCount() is a 32-bit millisecond count from CLOCK_MONOTONIC that wraps at 2^32 (about 49.7
// days). Deadlines are compared by the sign of the 32-bit difference (TickReached), so a
// comparison across the wrap is still right as long as the two ticks are less than 2^31 ms apart.
//
// Tests replace the clock for the whole process with a FakeClock; real waits (poll time-outs)
// keep using the real clock, only the values the library reasons about come from the fake.
#ifndef VQSCWLIB_PLATFORM_CLOCK_H_
#define VQSCWLIB_PLATFORM_CLOCK_H_

#include <atomic>
#include <cstdint>

namespace vqscw {

// Current tick in milliseconds. Thread-safe.
uint32_t TickCount();

// Milliseconds from `from` to `to`, as a signed number: negative when `to` lies before `from`.
// Safe across the 32-bit wrap because it is the sign of the modular difference.
inline int32_t TickDiff(uint32_t to, uint32_t from) { return static_cast<int32_t>(to - from); }

// True when `now` is at or after `deadline`.
inline bool TickReached(uint32_t now, uint32_t deadline) { return TickDiff(now, deadline) >= 0; }

// Microseconds from CLOCK_MONOTONIC in 64 bits (no wrap), for measuring packet arrivals finer
// than the tick. While a FakeClock exists it reads the fake tick times 1000, so that arrival times
// and the tick move together in tests. Thread-safe.
uint64_t MonotonicMicroseconds();

// A manual clock for tests. While one exists, TickCount() returns its value. Only one may exist
// at a time; it restores the real clock when destroyed. Thread-safe reads, so threads of the code
// under test may call TickCount() while the test advances the clock.
class FakeClock {
 public:
  explicit FakeClock(uint32_t start = 1000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  uint32_t Now() const { return now_.load(std::memory_order_acquire); }
  void Set(uint32_t tick) { now_.store(tick, std::memory_order_release); }
  void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

 private:
  std::atomic<uint32_t> now_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_CLOCK_H_
