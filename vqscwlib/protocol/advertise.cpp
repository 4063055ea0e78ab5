#include "vqscwlib/protocol/advertise.h"

#include <cstdio>

#include "vqscwlib/message/tags.h"
#include "vqscwlib/transport/send_msg.h"

int32_t dbg_adv = 0;

namespace {

constexpr char kLibraryName[] = "vqscwlib";

int CountSlotsInUse(const LocalTerminal& terminal) {
  int count = 0;
  for (const LocalSource& source : terminal.sources) count += source.psid != 0 ? 1 : 0;
  return count;
}

}  // namespace

namespace vqscw {

CFieldList TerminalFields(const LocalTerminal& terminal, bool full) {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), terminal.advv);
  term.SetU16(Tag("HWID"), terminal.hwid);
  term.SetU32(Tag("INIP"), terminal.inip);
  term.SetU16(Tag("UDPC"), terminal.udpc);
  term.SetU16(Tag("NUMS"), static_cast<uint16_t>(terminal.sourceCount));
  if (full) term.SetBlob(Tag("ATRN"), kLocalTerminalNameBytes, terminal.name);
  return term;
}

CFieldList SourceFields(const LocalSource& source) {
  CFieldList list;
  list.SetCode(Tag("INDI"));
  list.SetU32(Tag("PSID"), source.psid);
  list.SetU8(Tag("SHAB"), source.shab);
  list.SetU32(Tag("FSID"), source.fsid);
  list.SetU8(Tag("FAST"), source.fast);
  list.SetU8(Tag("FASM"), source.fasm);
  list.SetU32(Tag("BSID"), source.bsid);
  list.SetU8(Tag("BAST"), source.bast);
  list.SetU8(Tag("BASM"), source.basm);
  list.SetU32(Tag("LPID"), source.lpid);
  list.SetU8(Tag("STPL"), source.stpl);
  list.SetBlob(Tag("PSNM"), kLocalSourceNameBytes, source.name);
  if (source.label[0] != '\0') list.SetBlob(Tag("LABL"), kLocalSourceLabelBytes, source.label);
  return list;
}

void BeginAdvertisement(CMessage* message, int advt, const CFieldList& term) {
  message->Clear();
  message->SetCode(Tag("NEST"));
  message->SetU8(Tag("ADVT"), static_cast<uint8_t>(advt));
  message->SetList(Tag("TERM"), &term);
}

}  // namespace vqscw

void adv_advertise(CMessageEndpoint* endpoint, uint32_t address, uint16_t port,
                   LocalTerminal* terminal, int mode) {
  if (terminal == nullptr) return;
  terminal->sourceCount = static_cast<uint32_t>(CountSlotsInUse(*terminal));
  const NetAddress destination(address, port);
  const bool full = mode == kAdvertisementFull;
  const CFieldList term = vqscw::TerminalFields(*terminal, full);
  CMessage message;
  vqscw::BeginAdvertisement(&message, mode, term);
  if (!full) {
    SendMsg(&message, endpoint, destination, dbg_adv);
    return;
  }

  // Sources go out in groups of four, each message with the whole terminal. A message is pending
  // from its head until it is sent; the one begun after a group that ended before the last slot
  // goes out even when no source follows.
  bool pending = true;
  int in_message = 0;
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    const LocalSource& source = terminal->sources[slot];
    if (source.psid == 0) continue;
    const CFieldList list = vqscw::SourceFields(source);
    message.SetList(SourceSlotTag(slot + 1), &list);
    if (++in_message < kSourcesPerAdvertisement) continue;
    SendMsg(&message, endpoint, destination, dbg_adv);
    in_message = 0;
    pending = slot + 1 < kLocalSourceSlots;
    if (pending) vqscw::BeginAdvertisement(&message, mode, term);
  }
  if (pending) SendMsg(&message, endpoint, destination, dbg_adv);
}

int adv_Request(const CMessage* message, const LocalTerminal* terminal) {
  if (message == nullptr || message->Code() != Tag("READ") || !message->Has(Tag("ADVD"))) {
    return 0;
  }
  uint32_t field = 0;
  if (message->Has(Tag("PSID"))) {
    field = Tag("PSID");
  } else if (message->Has(Tag("QIDE"))) {
    field = Tag("QIDE");
  } else {
    return -1;
  }
  const uint32_t channel = message->GetInt(field);
  if (channel == 0) return 0;
  if (dbg_adv != 0) std::printf("%s adv request for PSID=0x%X\n", kLibraryName, channel);
  if (terminal == nullptr) return 0;
  for (const LocalSource& source : terminal->sources) {
    if (source.psid == channel) return static_cast<int>(channel);
  }
  return 0;
}
