#include "vqscwlib/transport/duplicate_filter.h"

#include <new>

#include "vqscwlib/platform/clock.h"

struct CDuplicateFilter::Chunk {
  Chunk* next;
  PeerEntry* entries;
};

CDuplicateFilter::CDuplicateFilter(uint32_t max_age_ms, uint32_t bucket_count,
                                   uint32_t chunk_entries)
    : bucket_count_(bucket_count == 0 ? 1 : bucket_count),
      max_age_(max_age_ms),
      chunk_entries_(chunk_entries == 0 ? 1 : chunk_entries) {
  buckets_ = new (std::nothrow) PeerEntry*[bucket_count_]();
}

CDuplicateFilter::~CDuplicateFilter() {
  while (chunks_ != nullptr) {
    Chunk* next = chunks_->next;
    delete[] chunks_->entries;
    delete chunks_;
    chunks_ = next;
  }
  delete[] buckets_;
}

uint32_t CDuplicateFilter::BucketOf(uint32_t address, uint16_t port) const {
  // Only the low 16 bits of the address take part; the product wraps as a 32-bit number.
  return ((address & 0xFFFFu) * static_cast<uint32_t>(port)) % bucket_count_;
}

PeerEntry* CDuplicateFilter::TakeFreeEntry() {
  if (free_ == nullptr) {
    Chunk* chunk = new (std::nothrow) Chunk{chunks_, nullptr};
    if (chunk == nullptr) return nullptr;
    chunk->entries = new (std::nothrow) PeerEntry[chunk_entries_];
    if (chunk->entries == nullptr) {
      delete chunk;
      return nullptr;
    }
    chunks_ = chunk;
    ++chunk_count_;
    for (uint32_t i = 0; i < chunk_entries_; ++i) {
      chunk->entries[i].chain_next = free_;
      free_ = &chunk->entries[i];
    }
  }
  PeerEntry* entry = free_;
  free_ = entry->chain_next;
  return entry;
}

void CDuplicateFilter::AppendNewest(PeerEntry* entry) {
  entry->age_prev = newest_;
  entry->age_next = nullptr;
  if (newest_ != nullptr) {
    newest_->age_next = entry;
  } else {
    oldest_ = entry;
  }
  newest_ = entry;
  ++age_count_;
}

void CDuplicateFilter::UnlinkAge(PeerEntry* entry) {
  if (entry->age_prev != nullptr) {
    entry->age_prev->age_next = entry->age_next;
  } else {
    oldest_ = entry->age_next;
  }
  if (entry->age_next != nullptr) {
    entry->age_next->age_prev = entry->age_prev;
  } else {
    newest_ = entry->age_prev;
  }
  --age_count_;
}

bool CDuplicateFilter::Check(uint32_t address, uint16_t port, uint32_t sequence) {
  if (buckets_ == nullptr) return false;
  PeerEntry** head = &buckets_[BucketOf(address, port)];
  for (PeerEntry* entry = *head; entry != nullptr; entry = entry->chain_next) {
    if (entry->address != address || entry->port != port) continue;
    if (entry->sequence == sequence) return true;
    entry->sequence = sequence;
    if (entry != newest_) {
      UnlinkAge(entry);
      AppendNewest(entry);
    }
    // The newest entry is refreshed too: a sender heard alone must not age out while it keeps
    // sending, or a repeat of its latest frame arriving after the purge would be delivered twice.
    entry->stamp = vqscw::TickCount();
    return false;
  }

  PeerEntry* entry = TakeFreeEntry();
  if (entry == nullptr) return false;  // out of memory: deliver, remember nothing
  entry->address = address;
  entry->port = port;
  entry->sequence = sequence;
  entry->chain_prev = nullptr;
  entry->chain_next = *head;
  if (*head != nullptr) (*head)->chain_prev = entry;
  *head = entry;
  entry->stamp = vqscw::TickCount();
  AppendNewest(entry);
  return false;
}

void CDuplicateFilter::Purge(uint32_t max_age_ms) {
  const uint32_t now = vqscw::TickCount();
  // The age is the modular difference, so it stays right across the tick counter's wrap.
  while (oldest_ != nullptr && now - oldest_->stamp > max_age_ms) {
    PeerEntry* entry = oldest_;
    UnlinkAge(entry);
    if (entry->chain_prev != nullptr) {
      entry->chain_prev->chain_next = entry->chain_next;
    } else {
      buckets_[BucketOf(entry->address, entry->port)] = entry->chain_next;
    }
    if (entry->chain_next != nullptr) entry->chain_next->chain_prev = entry->chain_prev;
    entry->chain_next = free_;
    free_ = entry;
  }
}
