// The health of one RTP stream as a receiver sees it: packets, loss, duplicates, reordering,
// interarrival jitter, changes of the sending source, the longest pause between packets, and
// whether the audio has been silent. The same counting serves the receiver filter (beside its
// audio path, which it leaves alone) and the stream monitor tool.
//
// Each datagram is observed with its arrival time. The RTP header gives the sequence number,
// timestamp and SSRC; the payload after the fixed header gives the audio's peak levels.
//
// Sequence numbers: the 16-bit numbers are extended to 64 bits across their wrap. A window of the
// last kWindow numbers below the highest one seen records which arrived, so that a duplicate (a
// number already received) and a late arrival (reordered: below the highest, not received before)
// are told apart exactly, and a late arrival fills its hole instead of counting as lost. "Lost" is
// the numbers expected (from the first to the highest) that have not arrived: each missing number
// once, and less again when a late one comes. A number more than kMaxDropout ahead or more than
// kWindow behind is a jump: on its own it is left unplaced ("unsequenced"); when the next datagram
// follows it, the sender restarted its numbering and counting starts afresh from there, keeping
// what was counted before. A new SSRC also starts the numbering afresh.
//
// Jitter is the interarrival jitter of RTP: J += (|D| - J) / 16, D the difference between two
// consecutive arrivals' spacing and their timestamps' spacing, in timestamp units at the stream's
// clock rate, given here in milliseconds.
//
// Threads: a StreamHealth belongs to one thread (the receive thread, or the monitor's loop). It
// allocates nothing after construction. SharedStreamHealth publishes its counts to other threads.
#ifndef VQSCWLIB_PREVIEW_STREAM_HEALTH_H_
#define VQSCWLIB_PREVIEW_STREAM_HEALTH_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "vqscwlib/base/thread_annotations.h"

namespace vqscw {

// What the counting needs to know of the stream.
struct StreamHealthFormat {
  uint32_t header_bytes = 0;      // bytes before the payload; below 12 the datagrams are not RTP
  uint32_t clock_rate = 0;        // RTP timestamp units per second; 0: no jitter
  uint32_t channels = 0;          // interleaved PCM channels; 0: no levels (compressed audio)
  uint32_t bytes_per_sample = 0;  // 2 or 3 (big-endian linear PCM); anything else: no levels
  // Whether the peaks of every interval are wanted (TakeIntervalPeaks). Without them a datagram's
  // samples are read only until one reaches the silence threshold.
  bool interval_peaks = true;
};

// The RTP stream of a previewed channel: L24, 48000 Hz, two channels, after a 12-byte header.
StreamHealthFormat Rtp24StereoHealthFormat();

// The counts of one stream. Times are in the clock of the arrival times given (microseconds).
struct StreamHealthCounts {
  uint64_t packets = 0;      // datagrams observed, every one
  uint64_t expected = 0;     // sequence numbers from the first to the highest, per numbering
  uint64_t lost = 0;         // expected numbers that have not arrived
  uint64_t duplicated = 0;   // datagrams whose number had already arrived
  uint64_t reordered = 0;    // datagrams below the highest number, not received before
  uint64_t unsequenced = 0;  // too late to place, a lone jump, or not RTP
  uint32_t ssrc = 0;         // of the last RTP datagram
  bool has_ssrc = false;
  uint32_t ssrc_changes = 0;
  double jitter_ms = 0;      // the jitter estimate now
  double max_jitter_ms = 0;  // the highest it reached
  uint64_t longest_gap_us = 0;
  bool has_levels = false;      // audio with levels has arrived
  bool heard_sound = false;     // some sample reached the silence threshold
  uint64_t quiet_since_us = 0;  // last arrival with sound, else the first with audio
};

// Peak sample magnitudes on a 24-bit scale (full scale 2^23), left and right.
struct PeakMagnitudes {
  uint32_t left = 0;
  uint32_t right = 0;
};

// Audio is silent while nothing reaches -60 dBFS (a thousandth of full scale) for this long.
constexpr uint64_t kSilenceUs = 2000000;
constexpr uint32_t kFullScale24 = 1u << 23;
// The smallest magnitude that is not below -60 dBFS: 2^23 / 1000 = 8388.6.
constexpr uint32_t kSoundMagnitude = 8389;

// Whether the stream is silent at `now_us`: levels are known and nothing reached -60 dBFS in the
// kSilenceUs before it (a stream that stopped after its last sound becomes silent too).
bool IsSilent(const StreamHealthCounts& counts, uint64_t now_us);

// A peak magnitude in dBFS (20 log10 of magnitude / 2^23), and kPeakFloorDbfs for 0.
constexpr double kPeakFloorDbfs = -140.0;  // below the smallest 24-bit step, -138.5 dBFS
double PeakDbfs(uint32_t magnitude);

// Raises `peaks` with the largest magnitude per channel of the whole samples in `payload`
// (big-endian, `channels` interleaved, `bytes_per_sample` 2 or 3; 16-bit samples are scaled to
// 24 bits). Channel 0 is left; channel 1 (or 0 for mono) is right; others raise neither but count
// for `loudest`, which is raised with the largest magnitude of any channel in `payload` (not by
// the peaks `peaks` held before).
void ScanPeaks(const uint8_t* payload, size_t length, uint32_t channels, uint32_t bytes_per_sample,
               PeakMagnitudes* peaks, uint32_t* loudest);

// Whether any whole sample of `payload` has a magnitude of `magnitude` or more (on the 24-bit
// scale); stops at the first.
bool AnySampleReaches(const uint8_t* payload, size_t length, uint32_t bytes_per_sample,
                      uint32_t magnitude);

class StreamHealth {
 public:
  static constexpr uint32_t kWindow = 1024;      // numbers behind the highest told apart exactly
  static constexpr uint32_t kMaxDropout = 3000;  // a larger step ahead is a jump
  static constexpr uint32_t kRtpHeaderBytes = 12;
  static constexpr uint8_t kRtpVersion = 2;

  StreamHealth() = default;

  // REQUIRES: no Observe runs at the same time. Keeps the counts.
  void Configure(const StreamHealthFormat& format) { format_ = format; }
  const StreamHealthFormat& format() const { return format_; }

  // Counts one datagram of `length` bytes that arrived at `arrival_us`.
  void Observe(const uint8_t* datagram, size_t length, uint64_t arrival_us);

  // The receiver stopped and starts again: what was sent meanwhile was not missed, and the pause
  // is no gap. The next datagram starts the numbering afresh; counts are kept.
  void Restart();

  StreamHealthCounts Counts() const;

  // The peaks since the previous call, then starts new ones.
  PeakMagnitudes TakeIntervalPeaks();
  const PeakMagnitudes& interval_peaks() const { return interval_peaks_; }

 private:
  enum class Place { kInOrder, kDuplicate, kReordered, kUnplaced };

  Place Sequence(uint16_t sequence, uint32_t ssrc);
  void StartNumbering(int64_t first);
  void FoldNumbering();
  bool Received(int64_t number) const;
  void Mark(int64_t number);
  void Advance(int64_t highest);
  void UpdateJitter(uint32_t timestamp, uint64_t arrival_us);
  void UpdateLevels(const uint8_t* payload, size_t length, uint64_t arrival_us);

  StreamHealthFormat format_;

  uint64_t packets_ = 0;
  uint64_t duplicated_ = 0;
  uint64_t reordered_ = 0;
  uint64_t unsequenced_ = 0;
  uint32_t ssrc_changes_ = 0;

  // The current numbering: extended numbers from base_ to highest_, received_ of them arrived.
  bool numbering_ = false;
  int64_t base_ = 0;
  int64_t highest_ = 0;
  uint64_t received_ = 0;
  uint64_t window_[kWindow / 64] = {};  // bit n % kWindow: number n arrived, n near highest_
  // Earlier numberings, ended by restarts, jumps and new sources.
  uint64_t folded_expected_ = 0;
  uint64_t folded_received_ = 0;
  // A jump waiting for its follower: the number expected next, and whether there is one.
  bool jump_pending_ = false;
  uint16_t jump_next_ = 0;

  bool has_ssrc_ = false;
  uint32_t ssrc_ = 0;

  bool has_transit_ = false;  // a previous arrival and timestamp to take the spacing from
  uint64_t transit_arrival_us_ = 0;
  uint32_t transit_timestamp_ = 0;
  double jitter_ = 0;  // timestamp units
  double max_jitter_ = 0;

  bool has_arrival_ = false;
  uint64_t last_arrival_us_ = 0;
  uint64_t longest_gap_us_ = 0;

  bool has_levels_ = false;
  bool heard_sound_ = false;
  uint64_t quiet_since_us_ = 0;
  PeakMagnitudes interval_peaks_;
};

// A StreamHealth whose counts other threads read while one thread observes.
//
// Threads: Configure, Restart, Observe and TakeIntervalPeaks belong to the observing thread (the
// receive thread; Configure and Restart only while it does not run, ordered with it by its start
// and join). Read may be called from any thread at any time. The observing thread publishes a
// copy after every datagram under a sequence counter (a seqlock: odd while writing); a reader
// retries a copy that changed under it, a bounded number of times, and never blocks the
// observing thread.
class SharedStreamHealth {
 public:
  void Configure(const StreamHealthFormat& format) { health_.Configure(format); }
  void Restart();
  void Observe(const uint8_t* datagram, size_t length, uint64_t arrival_us);

  // The counts as last published, always one consistent copy. When the observing thread stays
  // in the middle of a publication through every retry (it was descheduled there), the last
  // copy a reader took whole is given instead: a little older, never torn.
  StreamHealthCounts Read() const;

 private:
  friend struct SharedStreamHealthTestPeer;
  void Publish();

  StreamHealth health_;  // observing thread only

  static constexpr int kReadTries = 1000;
  std::atomic<uint32_t> sequence_{0};
  std::atomic<uint64_t> packets_{0};
  std::atomic<uint64_t> expected_{0};
  std::atomic<uint64_t> lost_{0};
  std::atomic<uint64_t> duplicated_{0};
  std::atomic<uint64_t> reordered_{0};
  std::atomic<uint64_t> unsequenced_{0};
  std::atomic<uint32_t> ssrc_{0};
  std::atomic<uint32_t> ssrc_changes_{0};
  std::atomic<uint32_t> flags_{0};
  std::atomic<double> jitter_ms_{0};
  std::atomic<double> max_jitter_ms_{0};
  std::atomic<uint64_t> longest_gap_us_{0};
  std::atomic<uint64_t> quiet_since_us_{0};

  // Readers only: the last whole copy read, for a read whose retries all met a publication.
  mutable Mutex last_read_mu_;
  mutable StreamHealthCounts last_read_ GUARDED_BY(last_read_mu_);
};

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_STREAM_HEALTH_H_
