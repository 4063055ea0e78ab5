// The table of terminals and sources a listening tool has heard, kept with the library's
// advspy_Register and advspy_GarbageCollect, and the events a listener reports from it.
#ifndef TOOLS_SPY_HEARD_TABLE_H_
#define TOOLS_SPY_HEARD_TABLE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "vqscwlib/host.h"

namespace vqscw::tools {

// What is left of a terminal once the table has dropped it.
struct GoneTerminal {
  uint16_t hwid = 0;
  uint32_t inip = 0;  // network byte order as held in memory
  std::string name;
};

class HeardTable {
 public:
  using SourceHandler = std::function<void(const SpySource&)>;
  using GoneHandler = std::function<void(const GoneTerminal&)>;

  // `requester` sends the requests for full advertisements; it stays the caller's.
  explicit HeardTable(CMessageEndpoint* requester) : requester_(requester) {}
  // Releases every record through the library.
  ~HeardTable();
  HeardTable(const HeardTable&) = delete;
  HeardTable& operator=(const HeardTable&) = delete;

  // Brings the table up to date with `message`; `on_source` hears each source slot filled.
  void Register(CMessage* message, const SourceHandler& on_source);
  // Drops the terminals silent for their lifetime; `on_gone` hears each one dropped.
  void Collect(const GoneHandler& on_gone);
  // Drops every terminal, telling no one.
  void ReleaseAll();

  SpyTerminal* first() const { return first_; }

 private:
  CMessageEndpoint* requester_;
  SpyTerminal* first_ = nullptr;
};

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_HEARD_TABLE_H_
