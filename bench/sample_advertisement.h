// The advertisements the benchmarks measure, built by the same code adv_advertise sends them with.
#ifndef BENCH_SAMPLE_ADVERTISEMENT_H_
#define BENCH_SAMPLE_ADVERTISEMENT_H_

#include <cstdio>
#include <cstring>

#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/advertise.h"

namespace vqscw::bench {

// A terminal with four sources in use, each with a name and a label.
inline LocalTerminal SampleTerminal() {
  LocalTerminal terminal{};
  terminal.inip = 0x0501A8C0;
  terminal.udpc = 1;
  terminal.hwid = 0x0102;
  terminal.advv = 17;
  terminal.sourceCount = 4;
  std::strcpy(terminal.name, "Studio terminal");
  for (int slot = 0; slot < 4; ++slot) {
    LocalSource& source = terminal.sources[slot];
    source.psid = 257 + slot;
    source.shab = 1;
    source.fsid = 1001 + slot;
    source.fast = 2;
    std::snprintf(source.name, sizeof source.name, "Mic %d", slot + 1);
    std::snprintf(source.label, sizeof source.label, "Mic %d", slot + 1);
  }
  return terminal;
}

// The first message of the terminal's full advertisement ("NEST" with "TERM" and its four
// sources), or its short advertisement (the one every terminal sends most often).
inline CMessage SampleAdvertisement(bool full) {
  const LocalTerminal terminal = SampleTerminal();
  CMessage message;
  vqscw::BeginAdvertisement(&message, full ? kAdvertisementFull : kAdvertisementShort,
                            vqscw::TerminalFields(terminal, full));
  for (int slot = 0; full && slot < kLocalSourceSlots; ++slot) {
    if (terminal.sources[slot].psid == 0) continue;
    const CFieldList source = vqscw::SourceFields(terminal.sources[slot]);
    message.SetList(SourceSlotTag(slot + 1), &source);
  }
  return message;
}

}  // namespace vqscw::bench

#endif  // BENCH_SAMPLE_ADVERTISEMENT_H_
