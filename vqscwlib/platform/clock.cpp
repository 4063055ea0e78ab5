#include "vqscwlib/platform/clock.h"

#include <time.h>

#include <cassert>

namespace vqscw {
namespace {

std::atomic<const FakeClock*> g_fake_clock{nullptr};

uint32_t RealTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Truncation to 32 bits is the intended wrap of the tick counter.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace

uint32_t TickCount() {
  const FakeClock* fake = g_fake_clock.load(std::memory_order_acquire);
  return fake != nullptr ? fake->Now() : RealTickCount();
}

uint64_t MonotonicMicroseconds() {
  const FakeClock* fake = g_fake_clock.load(std::memory_order_acquire);
  if (fake != nullptr) return static_cast<uint64_t>(fake->Now()) * 1000u;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

FakeClock::FakeClock(uint32_t start) : now_(start) {
  const FakeClock* expected = nullptr;
  [[maybe_unused]] bool installed =
      g_fake_clock.compare_exchange_strong(expected, this, std::memory_order_acq_rel);
  assert(installed && "only one FakeClock may exist at a time");
}

FakeClock::~FakeClock() {
  const FakeClock* expected = this;
  g_fake_clock.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

}  // namespace vqscw
