#include "vqscwlib/protocol/allocation.h"

#include <cstdio>

#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/tags.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/transport/send_msg.h"

uint32_t sac_alloc_timeout = 21000;
int32_t dbg_sac = 0;

namespace {

// A release needs the requester to match the owner in the high word and in these bits of the
// low word; the rest of the low word may differ.
constexpr uint32_t kReleaseLowMask = 0xFFFF0000u;

// The number of a source tag ("S" and three ASCII digits, read most significant byte first),
// or -1 for any other tag.
int SourceTagNumber(uint32_t tag) {
  if ((tag >> 24) != 'S') return -1;
  int number = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const uint32_t c = (tag >> shift) & 0xFFu;
    if (c < '0' || c > '9') return -1;
    number = number * 10 + static_cast<int>(c - '0');
  }
  return number;
}

struct Identity {
  uint32_t low;
  uint32_t high;
  bool IsZero() const { return low == 0 && high == 0; }
};

Identity ReadIdentity(const CFieldList& list, uint32_t tag) {
  const uint64_t value = list.GetU64(tag);
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

// Applies the allocation (owner nonzero) or release (owner 0) of `requester` to `slot`. True when
// the slot changed hands.
bool ApplyChange(LocalSource* source, int slot, Identity owner, Identity requester) {
  const int number = slot + 1;
  const Identity held{source->ownerLow, source->ownerHigh};
  if (!owner.IsZero()) {
    if (held.IsZero()) {
      source->ownerLow = owner.low;
      source->ownerHigh = owner.high;
      source->allocExpiry = vqscw::TickCount() + sac_alloc_timeout;
      if (dbg_sac != 0) {
        std::printf("%s S%03d allocated by %08X%08X\n", dbg_time(), number, owner.high, owner.low);
      }
      return true;
    }
    if (held.low == owner.low && held.high == owner.high) {
      source->allocExpiry = vqscw::TickCount() + sac_alloc_timeout;
      if (dbg_sac != 0) {
        std::printf("%s S%03d allocated by %08X%08X renewed\n", dbg_time(), number, owner.high,
                    owner.low);
      }
    }
    return false;  // renewed, or held by another owner
  }

  const bool allowed = requester.high == held.high &&
                       (requester.low & kReleaseLowMask) == (held.low & kReleaseLowMask);
  if (!allowed) {
    if (dbg_sac != 0) {
      std::printf("%s S%03d %08X%08X tried to relese object allocated by %08X%08X\n", dbg_time(),
                  number, requester.high, requester.low, held.high, held.low);
    }
    return false;
  }
  source->ownerLow = 0;
  source->ownerHigh = 0;
  if (dbg_sac != 0) {
    std::printf("%s S%03d released by %08X%08X\n", dbg_time(), number, held.high, held.low);
  }
  return true;
}

}  // namespace

int sac_Request(const CMessage* message, LocalTerminal* terminal) {
  if (message == nullptr || terminal == nullptr) return 0;
  uint32_t code = message->Code();
  bool first_source = true;
  int result = 0;
  for (uint32_t i = 0; i < message->Count(); ++i) {
    uint32_t tag = 0;
    message->TagAt(i, &tag);
    const int number = SourceTagNumber(tag);
    if (number < 0 || message->TypeOf(tag) != FIELD_LIST) continue;
    const CFieldList* request = message->GetList(tag);
    if (request == nullptr) continue;
    if (first_source && code == Tag("NEST")) code = request->Code();
    first_source = false;

    // A "BUSY" of another type than the 64-bit identity is no request: read as 0 it would ask
    // for a release.
    if (request->TypeOf(Tag("BUSY")) != FIELD_U64) continue;
    if (code == Tag("READ")) return 1;
    if (code != Tag("WRIN")) continue;

    const Identity owner = ReadIdentity(*request, Tag("BUSY"));
    const Identity requester = ReadIdentity(*message, TAG_REFI);
    if (request->Has(Tag("PSID"))) {
      // Channel 0 names no source: it must not reach the slots that are not in use.
      const uint32_t channel = request->GetInt(Tag("PSID"));
      for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
        LocalSource* source = &terminal->sources[slot];
        if (channel == 0 || source->psid != channel) continue;
        if (ApplyChange(source, slot, owner, requester)) result = 1;
      }
    } else if (number >= 1 && number <= kLocalSourceSlots) {
      LocalSource* source = &terminal->sources[number - 1];
      if (source->psid != 0 && ApplyChange(source, number - 1, owner, requester)) result = 1;
    }
  }
  return result;
}

void sac_Announce(CMessageEndpoint* endpoint, uint32_t address, uint16_t port,
                  const LocalTerminal* terminal, uint8_t advt, uint32_t ref_low,
                  uint32_t ref_high) {
  if (terminal == nullptr) return;
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU16(Tag("HWID"), terminal->hwid);
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), advt);
  message.SetList(Tag("TERM"), &term);
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    const LocalSource& source = terminal->sources[slot];
    if (source.psid == 0) continue;
    CFieldList list;
    list.SetCode(Tag("INDI"));
    list.SetU32(Tag("PSID"), source.psid);
    list.SetU64(Tag("BUSY"), source.ownerLow, source.ownerHigh);
    message.SetList(SourceSlotTag(slot + 1), &list);
  }
  message.SetU64(TAG_ID, 0, 0);
  message.SetU64(TAG_REFI, ref_low, ref_high);
  SendMsg(&message, endpoint, NetAddress(address, port), dbg_sac);
}

int sac_GarbageCollect(LocalTerminal* terminal) {
  if (terminal == nullptr) return 0;
  const uint32_t now = vqscw::TickCount();
  int result = 0;
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    LocalSource* source = &terminal->sources[slot];
    if (source->ownerLow == 0 && source->ownerHigh == 0) continue;
    // The sign of the 32-bit difference decides, so a reservation across the tick's wrap lapses
    // on time. A reservation expiring at `now` itself still holds.
    if (vqscw::TickDiff(source->allocExpiry, now) >= 0) continue;
    if (dbg_sac != 0) {
      std::printf("%s S%03d allocated by %08X%08X timed out\n", dbg_time(), slot + 1,
                  source->ownerHigh, source->ownerLow);
    }
    source->ownerLow = 0;
    source->ownerHigh = 0;
    result = 1;
  }
  return result;
}
