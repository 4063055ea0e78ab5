// CDuplicateFilter: remembers, per sender (IPv4 address and UDP port), the sequence number of the
// last frame delivered from it, so that a frame a sender repeats because our acknowledgement got
// lost is acknowledged again but delivered only once. Senders silent for longer than the maximum
// age are forgotten by Purge(); a forgotten sender's next frame counts as new.
//
// Entries live on a hashed bucket chain and on an age list (oldest first) and come from a pool
// that grows in chunks: steady traffic allocates nothing, and memory grows to the largest number
// of senders heard within one maximum age and is returned when the filter is destroyed.
//
// Time stamps come from vqscw::TickCount(). A filter belongs to one thread (the receiving thread
// of its endpoint); it has no lock.
#ifndef VQSCWLIB_TRANSPORT_DUPLICATE_FILTER_H_
#define VQSCWLIB_TRANSPORT_DUPLICATE_FILTER_H_

#include <cstdint>

// One sender's record.
struct PeerEntry {
  uint32_t stamp;  // tick of the last refresh
  PeerEntry* chain_prev;
  PeerEntry* chain_next;  // also links the pool's free entries
  PeerEntry* age_prev;    // towards the oldest
  PeerEntry* age_next;    // towards the newest
  uint32_t address;       // host order
  uint16_t port;
  uint32_t sequence;  // of the last frame delivered
};

class CDuplicateFilter {
 public:
  // The configuration every server endpoint uses.
  static constexpr uint32_t kDefaultMaxAgeMs = 10000;
  static constexpr uint32_t kDefaultBuckets = 17;
  static constexpr uint32_t kDefaultChunkEntries = 32;

  // REQUIRES: bucket_count > 0, chunk_entries > 0. When memory for the buckets cannot be had the
  // filter remembers nothing (every Check answers false).
  CDuplicateFilter(uint32_t max_age_ms = kDefaultMaxAgeMs, uint32_t bucket_count = kDefaultBuckets,
                   uint32_t chunk_entries = kDefaultChunkEntries);
  virtual ~CDuplicateFilter();
  CDuplicateFilter(const CDuplicateFilter&) = delete;
  CDuplicateFilter& operator=(const CDuplicateFilter&) = delete;

  // True when `sequence` repeats the last frame delivered from the sender (nothing changes then).
  // Otherwise records it, refreshes the sender's time stamp, and returns false.
  bool Check(uint32_t address, uint16_t port, uint32_t sequence);

  // Forgets every sender not refreshed for more than `max_age_ms` (an entry exactly that old
  // stays).
  void Purge(uint32_t max_age_ms);

  uint32_t MaxAge() const { return max_age_; }
  // Senders remembered, and chunks of entries allocated; for tests and statistics.
  uint32_t Count() const { return age_count_; }
  uint32_t ChunkCount() const { return chunk_count_; }

 private:
  struct Chunk;

  uint32_t BucketOf(uint32_t address, uint16_t port) const;
  PeerEntry* TakeFreeEntry();
  void AppendNewest(PeerEntry* entry);
  void UnlinkAge(PeerEntry* entry);

  // Age list.
  PeerEntry* oldest_ = nullptr;
  PeerEntry* newest_ = nullptr;
  uint32_t age_count_ = 0;
  // Buckets: heads of the chains.
  PeerEntry** buckets_ = nullptr;
  uint32_t bucket_count_;
  uint32_t max_age_;
  // Pool.
  Chunk* chunks_ = nullptr;
  uint32_t chunk_count_ = 0;
  PeerEntry* free_ = nullptr;
  uint32_t chunk_entries_;
};

#endif  // VQSCWLIB_TRANSPORT_DUPLICATE_FILTER_H_
