#include "vqscwlib/preview/stream_health.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace vqscw {
namespace {

constexpr uint32_t kSequenceModulus = 1u << 16;
// Extended numbers start here, so that the window's numbers below the first stay positive.
constexpr int64_t kOrigin = int64_t{1} << 32;
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr double kJitterGain = 16.0;  // RTP's smoothing: 1/16 of each new difference

constexpr uint32_t kFlagSsrc = 1;
constexpr uint32_t kFlagLevels = 2;
constexpr uint32_t kFlagSound = 4;

// A big-endian sample's magnitude on the 24-bit scale.
inline uint32_t Magnitude24(const uint8_t* p) {
  int32_t value = static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 16) |
                                       (static_cast<uint32_t>(p[1]) << 8) | p[2]);
  if (value & 0x800000) value -= 0x1000000;
  return static_cast<uint32_t>(value < 0 ? -value : value);
}

inline uint32_t Magnitude16(const uint8_t* p) {
  const int32_t value = static_cast<int16_t>(static_cast<uint16_t>((p[0] << 8) | p[1]));
  return static_cast<uint32_t>(value < 0 ? -value : value) << 8;
}

}  // namespace

StreamHealthFormat Rtp24StereoHealthFormat() {
  return {StreamHealth::kRtpHeaderBytes, 48000, 2, 3};
}

bool IsSilent(const StreamHealthCounts& counts, uint64_t now_us) {
  return counts.has_levels && now_us >= counts.quiet_since_us &&
         now_us - counts.quiet_since_us >= kSilenceUs;
}

double PeakDbfs(uint32_t magnitude) {
  if (magnitude == 0) return kPeakFloorDbfs;
  return std::max(kPeakFloorDbfs, 20.0 * std::log10(static_cast<double>(magnitude) / kFullScale24));
}

void ScanPeaks(const uint8_t* payload, size_t length, uint32_t channels, uint32_t bytes_per_sample,
               PeakMagnitudes* peaks, uint32_t* loudest) {
  if (channels == 0 || (bytes_per_sample != 2 && bytes_per_sample != 3)) return;
  uint32_t left = peaks->left;
  uint32_t right = peaks->right;
  uint32_t any = *loudest;
  const size_t samples = length / bytes_per_sample;
  if (channels == 2 && bytes_per_sample == 3) {  // the network's own format
    // This payload's own peaks: those of earlier payloads raise `peaks` but not `loudest`.
    uint32_t payload_left = 0;
    uint32_t payload_right = 0;
    const size_t frames = samples / 2;
    for (size_t f = 0; f < frames; ++f) {
      payload_left = std::max(payload_left, Magnitude24(payload + 6 * f));
      payload_right = std::max(payload_right, Magnitude24(payload + 6 * f + 3));
    }
    if (samples % 2 != 0) payload_left = std::max(payload_left, Magnitude24(payload + 6 * frames));
    left = std::max(left, payload_left);
    right = std::max(right, payload_right);
    any = std::max({any, payload_left, payload_right});
  } else {
    const uint32_t right_channel = channels == 1 ? 0 : 1;
    for (size_t i = 0; i < samples; ++i) {
      const uint8_t* p = payload + i * bytes_per_sample;
      const uint32_t m = bytes_per_sample == 3 ? Magnitude24(p) : Magnitude16(p);
      const uint32_t channel = static_cast<uint32_t>(i % channels);
      if (channel == 0) left = std::max(left, m);
      if (channel == right_channel) right = std::max(right, m);
      any = std::max(any, m);
    }
  }
  peaks->left = left;
  peaks->right = right;
  *loudest = any;
}

bool AnySampleReaches(const uint8_t* payload, size_t length, uint32_t bytes_per_sample,
                      uint32_t magnitude) {
  if (bytes_per_sample != 2 && bytes_per_sample != 3) return false;
  const size_t samples = length / bytes_per_sample;
  for (size_t i = 0; i < samples; ++i) {
    const uint8_t* p = payload + i * bytes_per_sample;
    if ((bytes_per_sample == 3 ? Magnitude24(p) : Magnitude16(p)) >= magnitude) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// StreamHealth

void StreamHealth::Observe(const uint8_t* datagram, size_t length, uint64_t arrival_us) {
  ++packets_;
  if (has_arrival_ && arrival_us > last_arrival_us_) {
    longest_gap_us_ = std::max(longest_gap_us_, arrival_us - last_arrival_us_);
  }
  has_arrival_ = true;
  last_arrival_us_ = arrival_us;

  if (format_.header_bytes >= kRtpHeaderBytes) {
    if (length < kRtpHeaderBytes || (datagram[0] >> 6) != kRtpVersion) {
      ++unsequenced_;
    } else {
      const uint16_t sequence = static_cast<uint16_t>((datagram[2] << 8) | datagram[3]);
      const uint32_t timestamp = (static_cast<uint32_t>(datagram[4]) << 24) |
                                 (static_cast<uint32_t>(datagram[5]) << 16) |
                                 (static_cast<uint32_t>(datagram[6]) << 8) | datagram[7];
      const uint32_t ssrc = (static_cast<uint32_t>(datagram[8]) << 24) |
                            (static_cast<uint32_t>(datagram[9]) << 16) |
                            (static_cast<uint32_t>(datagram[10]) << 8) | datagram[11];
      switch (Sequence(sequence, ssrc)) {
        case Place::kInOrder:
          break;
        case Place::kDuplicate:
          ++duplicated_;
          break;
        case Place::kReordered:
          ++reordered_;
          break;
        case Place::kUnplaced:
          ++unsequenced_;
          break;
      }
      UpdateJitter(timestamp, arrival_us);
    }
  }
  if (length > format_.header_bytes) {
    UpdateLevels(datagram + format_.header_bytes, length - format_.header_bytes, arrival_us);
  }
}

StreamHealth::Place StreamHealth::Sequence(uint16_t sequence, uint32_t ssrc) {
  if (!has_ssrc_ || ssrc != ssrc_) {
    if (has_ssrc_) ++ssrc_changes_;
    has_ssrc_ = true;
    ssrc_ = ssrc;
    FoldNumbering();
  }
  if (!numbering_) {
    StartNumbering(kOrigin + sequence);
    return Place::kInOrder;
  }
  // The step from the highest number, modulo 2^16: small steps ahead are new numbers (across
  // the wrap too), steps just short of 2^16 are numbers a little behind.
  const uint32_t step = static_cast<uint16_t>(sequence - static_cast<uint16_t>(highest_));
  if (step == 0) return Place::kDuplicate;
  if (step < kMaxDropout) {
    Advance(highest_ + step);
    Mark(highest_);
    ++received_;
    return Place::kInOrder;
  }
  if (step > kSequenceModulus - kWindow) {
    const int64_t number = highest_ - (kSequenceModulus - step);
    if (Received(number)) return Place::kDuplicate;
    Mark(number);
    if (number >= base_) ++received_;  // fills a hole; a number before the first was not expected
    return Place::kReordered;
  }
  // A jump. Its follower confirms that the sender restarted its numbering there.
  if (jump_pending_ && sequence == jump_next_) {
    FoldNumbering();
    StartNumbering(kOrigin + static_cast<uint16_t>(sequence - 1));
    Advance(highest_ + 1);
    Mark(highest_);
    received_ = 2;
    --unsequenced_;  // the jump itself is placed now
    return Place::kInOrder;
  }
  jump_pending_ = true;
  jump_next_ = static_cast<uint16_t>(sequence + 1);
  return Place::kUnplaced;
}

void StreamHealth::StartNumbering(int64_t first) {
  numbering_ = true;
  base_ = highest_ = first;
  received_ = 1;
  std::fill(std::begin(window_), std::end(window_), 0);
  Mark(first);
  jump_pending_ = false;
  has_transit_ = false;  // timestamps start afresh with the numbers
}

void StreamHealth::FoldNumbering() {
  if (numbering_) {
    folded_expected_ += static_cast<uint64_t>(highest_ - base_ + 1);
    folded_received_ += received_;
  }
  numbering_ = false;
  received_ = 0;
  jump_pending_ = false;
}

bool StreamHealth::Received(int64_t number) const {
  const uint64_t bit = static_cast<uint64_t>(number) % kWindow;
  return (window_[bit / 64] >> (bit % 64)) & 1;
}

void StreamHealth::Mark(int64_t number) {
  const uint64_t bit = static_cast<uint64_t>(number) % kWindow;
  window_[bit / 64] |= uint64_t{1} << (bit % 64);
}

void StreamHealth::Advance(int64_t highest) {
  // The numbers entering the window have not arrived yet; their bits still tell of numbers
  // kWindow further back, which leave it.
  if (highest - highest_ >= kWindow) {
    std::fill(std::begin(window_), std::end(window_), 0);
  } else {
    for (int64_t n = highest_ + 1; n <= highest; ++n) {
      const uint64_t bit = static_cast<uint64_t>(n) % kWindow;
      window_[bit / 64] &= ~(uint64_t{1} << (bit % 64));
    }
  }
  highest_ = highest;
}

void StreamHealth::UpdateJitter(uint32_t timestamp, uint64_t arrival_us) {
  if (format_.clock_rate == 0) return;
  if (has_transit_) {
    // Spacing of the arrivals in timestamp units, less the spacing of the timestamps (whose
    // 32-bit difference is signed, so the wrap does no harm).
    const double arrivals =
        static_cast<double>(static_cast<int64_t>(arrival_us - transit_arrival_us_)) *
        format_.clock_rate / kMicrosecondsPerSecond;
    const double d =
        arrivals - static_cast<double>(static_cast<int32_t>(timestamp - transit_timestamp_));
    jitter_ += (std::fabs(d) - jitter_) / kJitterGain;
    max_jitter_ = std::max(max_jitter_, jitter_);
  }
  has_transit_ = true;
  transit_arrival_us_ = arrival_us;
  transit_timestamp_ = timestamp;
}

void StreamHealth::UpdateLevels(const uint8_t* payload, size_t length, uint64_t arrival_us) {
  if (format_.channels == 0 || (format_.bytes_per_sample != 2 && format_.bytes_per_sample != 3)) {
    return;
  }
  bool sound = false;
  if (format_.interval_peaks) {
    uint32_t loudest = 0;
    ScanPeaks(payload, length, format_.channels, format_.bytes_per_sample, &interval_peaks_,
              &loudest);
    sound = loudest >= kSoundMagnitude;
  } else {
    // Audio with sound reaches the threshold within its first few samples.
    sound = AnySampleReaches(payload, length, format_.bytes_per_sample, kSoundMagnitude);
  }
  if (!has_levels_) {
    has_levels_ = true;
    quiet_since_us_ = arrival_us;
  }
  if (sound) {
    heard_sound_ = true;
    quiet_since_us_ = arrival_us;
  }
}

void StreamHealth::Restart() {
  FoldNumbering();
  has_transit_ = false;
  has_arrival_ = false;
}

StreamHealthCounts StreamHealth::Counts() const {
  StreamHealthCounts counts;
  counts.packets = packets_;
  counts.expected =
      folded_expected_ + (numbering_ ? static_cast<uint64_t>(highest_ - base_ + 1) : 0);
  // Every number counted received lies within its numbering's expected range, once.
  counts.lost = counts.expected - (folded_received_ + received_);
  counts.duplicated = duplicated_;
  counts.reordered = reordered_;
  counts.unsequenced = unsequenced_;
  counts.ssrc = ssrc_;
  counts.has_ssrc = has_ssrc_;
  counts.ssrc_changes = ssrc_changes_;
  const double to_ms = format_.clock_rate != 0 ? 1000.0 / format_.clock_rate : 0;
  counts.jitter_ms = jitter_ * to_ms;
  counts.max_jitter_ms = max_jitter_ * to_ms;
  counts.longest_gap_us = longest_gap_us_;
  counts.has_levels = has_levels_;
  counts.heard_sound = heard_sound_;
  counts.quiet_since_us = quiet_since_us_;
  return counts;
}

PeakMagnitudes StreamHealth::TakeIntervalPeaks() {
  const PeakMagnitudes peaks = interval_peaks_;
  interval_peaks_ = {};
  return peaks;
}

// ---------------------------------------------------------------------------------------------
// SharedStreamHealth

void SharedStreamHealth::Restart() {
  health_.Restart();
  Publish();
}

void SharedStreamHealth::Observe(const uint8_t* datagram, size_t length, uint64_t arrival_us) {
  health_.Observe(datagram, length, arrival_us);
  Publish();
}

void SharedStreamHealth::Publish() {
  const StreamHealthCounts c = health_.Counts();
  // One writer: the counter is odd while the copy changes.
  const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
  sequence_.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  packets_.store(c.packets, std::memory_order_relaxed);
  expected_.store(c.expected, std::memory_order_relaxed);
  lost_.store(c.lost, std::memory_order_relaxed);
  duplicated_.store(c.duplicated, std::memory_order_relaxed);
  reordered_.store(c.reordered, std::memory_order_relaxed);
  unsequenced_.store(c.unsequenced, std::memory_order_relaxed);
  ssrc_.store(c.ssrc, std::memory_order_relaxed);
  ssrc_changes_.store(c.ssrc_changes, std::memory_order_relaxed);
  flags_.store((c.has_ssrc ? kFlagSsrc : 0) | (c.has_levels ? kFlagLevels : 0) |
                   (c.heard_sound ? kFlagSound : 0),
               std::memory_order_relaxed);
  jitter_ms_.store(c.jitter_ms, std::memory_order_relaxed);
  max_jitter_ms_.store(c.max_jitter_ms, std::memory_order_relaxed);
  longest_gap_us_.store(c.longest_gap_us, std::memory_order_relaxed);
  quiet_since_us_.store(c.quiet_since_us, std::memory_order_relaxed);
  sequence_.store(sequence + 2, std::memory_order_release);
}

StreamHealthCounts SharedStreamHealth::Read() const {
  StreamHealthCounts c;
  for (int attempt = 1; attempt <= kReadTries; ++attempt) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    c.packets = packets_.load(std::memory_order_relaxed);
    c.expected = expected_.load(std::memory_order_relaxed);
    c.lost = lost_.load(std::memory_order_relaxed);
    c.duplicated = duplicated_.load(std::memory_order_relaxed);
    c.reordered = reordered_.load(std::memory_order_relaxed);
    c.unsequenced = unsequenced_.load(std::memory_order_relaxed);
    c.ssrc = ssrc_.load(std::memory_order_relaxed);
    c.ssrc_changes = ssrc_changes_.load(std::memory_order_relaxed);
    const uint32_t flags = flags_.load(std::memory_order_relaxed);
    c.has_ssrc = (flags & kFlagSsrc) != 0;
    c.has_levels = (flags & kFlagLevels) != 0;
    c.heard_sound = (flags & kFlagSound) != 0;
    c.jitter_ms = jitter_ms_.load(std::memory_order_relaxed);
    c.max_jitter_ms = max_jitter_ms_.load(std::memory_order_relaxed);
    c.longest_gap_us = longest_gap_us_.load(std::memory_order_relaxed);
    c.quiet_since_us = quiet_since_us_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    const uint32_t after = sequence_.load(std::memory_order_relaxed);
    if (before % 2 == 0 && before == after) {
      MutexLock lock(&last_read_mu_);
      last_read_ = c;
      return c;
    }
    std::this_thread::yield();
  }
  MutexLock lock(&last_read_mu_);
  return last_read_;
}

}  // namespace vqscw
