// Feeds arbitrary messages to a host program's request handling, as a host that offers sources
// does with what it hears: each message goes to sac_Request (allocation requests and queries)
// and to adv_Request (requests for the advertisement), and the host answers as it should, with
// sac_Announce and adv_advertise sent over loopback multicast, which a server endpoint receives
// and a spy's table registers.
//
// Input: 16 bytes of channel numbers for the host's slots (0: not in use), 16 bytes of their
// holders (0: free), then messages, each a big-endian 16-bit length and a body of that many
// bytes; a length of 0 is followed by two bytes of milliseconds to advance the clock by before
// the host expires lapsed reservations.
//
// Aborts when a slot not in use changes hands; a slot changes anything but its allocation; a
// holder loses a slot to a requester the release rule does not allow; a slot is given to an owner
// no request named, or with the wrong lapse time; a result contradicts what happened or what was
// asked; a lapse frees a slot too early or keeps one too long; or an answer does not carry the
// terminal and its slots as they are.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "vqscwlib/message/message.h"
#include "vqscwlib/message/tags.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/advertise.h"
#include "vqscwlib/protocol/allocation.h"
#include "vqscwlib/protocol/local_terminal.h"
#include "vqscwlib/spy/spy_table.h"
#include "vqscwlib/transport/message_endpoint.h"

namespace {

constexpr uint32_t kClockStart = 0xFFFF0000u;   // close to the wrap
constexpr uint32_t kAnswerGroup = 0xEFFF0E0Eu;  // 239.255.14.14, host order: unacknowledged
constexpr int kArrivalWaitMs = 1000;
constexpr uint32_t kReleaseLowMask = 0xFFFF0000u;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "host_request_fuzz: %s\n", what);
  std::abort();
}

struct Rig {
  vqscw::FakeClock clock{kClockStart};
  CClientEndpoint host;  // the host's endpoint, which answers
  CServerEndpoint peer;  // hears the answers
  uint16_t port = 0;
};

Rig* rig = nullptr;

struct Owner {
  uint32_t low;
  uint32_t high;
  bool operator==(const Owner&) const = default;
  bool IsZero() const { return low == 0 && high == 0; }
};

Owner OwnerOf(const LocalSource& source) { return {source.ownerLow, source.ownerHigh}; }
Owner AsOwner(uint64_t value) {
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

bool IsSourceTag(uint32_t tag) {
  if ((tag >> 24) != 'S') return false;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const uint32_t c = (tag >> shift) & 0xFF;
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int TagNumber(uint32_t tag) {
  return static_cast<int>(((tag >> 16) & 0xFF) - '0') * 100 +
         static_cast<int>(((tag >> 8) & 0xFF) - '0') * 10 + static_cast<int>((tag & 0xFF) - '0');
}

// Whether no list of the message, at the top or in a source list, holds a tag twice: only then
// does every lookup name one field, whatever was looked up before.
bool TagsAreUnique(const CMessage& message) {
  std::set<uint32_t> top;
  uint32_t tag = 0;
  for (uint32_t i = 0; message.TagAt(i, &tag); ++i) {
    if (!top.insert(tag).second) return false;
  }
  for (uint32_t t : top) {
    if (!IsSourceTag(t) || message.TypeOf(t) != FIELD_LIST) continue;
    const CFieldList* list = message.GetList(t);
    std::set<uint32_t> inner;
    for (uint32_t i = 0; list != nullptr && list->TagAt(i, &tag); ++i) {
      if (!inner.insert(tag).second) return false;
    }
  }
  return true;
}

// What a message with unique tags asks of the allocation control.
struct Asked {
  uint32_t code = 0;  // the message's code, or its first source list's for "NEST"
  bool query = false;
  std::set<std::pair<int, uint64_t>> grants;  // (slot, owner) an allocation may give
  Owner requester{};
};

Asked WhatIsAsked(const CMessage& message, const LocalTerminal& terminal) {
  Asked asked;
  asked.code = message.Code();
  asked.requester =
      message.TypeOf(TAG_REFI) == FIELD_U64 ? AsOwner(message.GetU64(TAG_REFI)) : Owner{0, 0};
  bool first = true;
  uint32_t tag = 0;
  for (uint32_t i = 0; message.TagAt(i, &tag); ++i) {
    if (!IsSourceTag(tag) || message.TypeOf(tag) != FIELD_LIST) continue;
    const CFieldList* list = message.GetList(tag);
    if (list == nullptr) continue;
    if (first && asked.code == Tag("NEST")) asked.code = list->Code();
    first = false;
    if (list->TypeOf(Tag("BUSY")) != FIELD_U64) continue;
    if (asked.code == Tag("READ")) {
      asked.query = true;
      return asked;
    }
    if (asked.code != Tag("WRIN")) continue;
    const uint64_t owner = list->GetU64(Tag("BUSY"));
    if (list->Has(Tag("PSID"))) {
      const uint32_t channel = list->GetInt(Tag("PSID"));
      for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
        if (channel != 0 && terminal.sources[slot].psid == channel)
          asked.grants.insert({slot, owner});
      }
    } else if (const int number = TagNumber(tag); number >= 1 && number <= kLocalSourceSlots) {
      asked.grants.insert({number - 1, owner});
    }
  }
  return asked;
}

bool SameButAllocation(const LocalSource& a, const LocalSource& b) {
  return a.psid == b.psid && a.shab == b.shab && a.fsid == b.fsid && a.fast == b.fast &&
         a.fasm == b.fasm && a.bsid == b.bsid && a.bast == b.bast && a.basm == b.basm &&
         a.lpid == b.lpid && a.stpl == b.stpl && std::memcmp(a.name, b.name, sizeof a.name) == 0 &&
         std::memcmp(a.label, b.label, sizeof a.label) == 0;
}

bool MayRelease(Owner requester, Owner held) {
  return requester.high == held.high &&
         (requester.low & kReleaseLowMask) == (held.low & kReleaseLowMask);
}

// Every message that reaches the peer now, decoded.
std::vector<CMessage> Answers() {
  std::vector<CMessage> answers;
  CMessage message;
  while (rig->peer.ReceiveMessage(&message, answers.empty() ? kArrivalWaitMs : 0)) {
    answers.push_back(message);
  }
  return answers;
}

void CheckAnnouncement(const LocalTerminal& terminal, uint8_t advt, Owner reference) {
  sac_Announce(&rig->host, kAnswerGroup, rig->port, &terminal, advt, reference.low, reference.high);
  const std::vector<CMessage> answers = Answers();
  Check(answers.size() == 1, "one announcement");
  const CMessage& a = answers[0];
  Check(a.Code() == Tag("NEST") && a.GetU8(Tag("ADVT")) == advt, "announcement head");
  Check(AsOwner(a.GetU64(TAG_REFI)) == reference, "announcement reference");
  const CFieldList* term = a.GetList(Tag("TERM"));
  Check(term != nullptr && term->GetU16(Tag("HWID")) == terminal.hwid, "announcement terminal");
  int in_use = 0;
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    const LocalSource& source = terminal.sources[slot];
    const CFieldList* list = a.GetList(SourceSlotTag(slot + 1));
    if (source.psid == 0) {
      Check(list == nullptr, "a slot not in use announced");
      continue;
    }
    ++in_use;
    Check(list != nullptr && list->GetU32(Tag("PSID")) == source.psid &&
              AsOwner(list->GetU64(Tag("BUSY"))) == OwnerOf(source),
          "announced holder differs");
  }
  Check(a.Count() == 4 + in_use, "announcement fields");
}

// The full advertisement, as a spy hears it: every slot in use once, in groups of four.
void CheckAdvertisement(LocalTerminal* terminal) {
  adv_advertise(&rig->host, kAnswerGroup, rig->port, terminal, kAdvertisementFull);
  const std::vector<CMessage> answers = Answers();
  std::vector<int> in_use;
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    if (terminal->sources[slot].psid != 0) in_use.push_back(slot);
  }
  Check(terminal->sourceCount == in_use.size(), "source count");
  const size_t groups = (in_use.size() + 3) / 4;
  const bool trailing =
      in_use.empty() || (in_use.size() % 4 == 0 && in_use.back() + 1 < kLocalSourceSlots);
  Check(answers.size() == groups + (trailing ? 1 : 0), "advertisement messages");

  vqscw::SpyTable table;
  std::map<uint32_t, const CFieldList*> heard;
  for (const CMessage& m : answers) {
    Check(m.Code() == Tag("NEST") && m.GetU8(Tag("ADVT")) == kAdvertisementFull,
          "advertisement head");
    const CFieldList* term = m.GetList(Tag("TERM"));
    Check(term != nullptr && term->GetU16(Tag("HWID")) == terminal->hwid &&
              term->GetU32(Tag("INIP")) == terminal->inip &&
              term->GetU32(Tag("ADVV")) == terminal->advv &&
              term->GetU16(Tag("NUMS")) == terminal->sourceCount,
          "advertised terminal");
    uint32_t tag = 0;
    int sources = 0;
    for (uint32_t i = 0; m.TagAt(i, &tag); ++i) {
      if (!IsSourceTag(tag)) continue;
      ++sources;
      Check(heard.emplace(tag, m.GetList(tag)).second, "a source advertised twice");
    }
    Check(sources <= kSourcesPerAdvertisement, "too many sources in one message");
    table.Register(m, nullptr, nullptr, nullptr);
  }
  Check(heard.size() == in_use.size(), "advertised sources");
  for (int slot : in_use) {
    const LocalSource& source = terminal->sources[slot];
    const auto it = heard.find(SourceSlotTag(slot + 1));
    Check(it != heard.end() && it->second != nullptr, "a source not advertised");
    Check(
        it->second->GetU32(Tag("PSID")) == source.psid &&
            it->second->GetU32(Tag("FSID")) == source.fsid &&
            it->second->LengthOf(Tag("PSNM")) == kLocalSourceNameBytes &&
            std::memcmp(it->second->GetBlob(Tag("PSNM")), source.name, kLocalSourceNameBytes) == 0,
        "advertised source differs");
  }
  // A spy that hears the answer lists the host's sources.
  Check(table.size() == 1, "the spy's table");
  const SpyTerminal* heard_terminal = table.first();
  Check(heard_terminal->nums == in_use.size(), "slots heard");
  for (size_t i = 0; i < in_use.size(); ++i) {
    Check(heard_terminal->sources()[i].tag != 0, "a source the spy did not register");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A failed send prints a line; keep the fuzzer's output readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  rig = new Rig();
  CUdpSocket probe;  // a free port for the peer
  Check(probe.Create() == 0 && probe.Bind(0, "127.0.0.1") == 0, "probe socket");
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(probe.Handle(), reinterpret_cast<sockaddr*>(&bound), &length);
  probe.Close();
  rig->port = ntohs(bound.sin_port);
  Check(rig->peer.Open(true, "127.0.0.1", rig->port), "peer endpoint");
  Check(rig->peer.JoinGroup(htonl(kAnswerGroup), htonl(0x7F000001)), "peer joins the group");
  Check(rig->host.Open(false, "127.0.0.1", 0), "host endpoint");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kConfig = 2 * kLocalSourceSlots;
  if (size < kConfig) return 0;
  rig->clock.Set(kClockStart);
  LocalTerminal terminal{};
  terminal.inip = htonl(0x7F000001);
  terminal.hwid = 0x1234;
  terminal.advv = 7;
  std::snprintf(terminal.name, sizeof terminal.name, "Fuzz host");
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    LocalSource& source = terminal.sources[slot];
    source.psid = data[slot];
    source.fsid = 0x100 + static_cast<uint32_t>(slot);
    source.fast = 2;
    std::snprintf(source.name, sizeof source.name, "Source %d", slot + 1);
    if (const uint8_t holder = data[kLocalSourceSlots + slot]; holder != 0) {
      source.ownerLow = holder * 0x01010101u;
      source.ownerHigh = holder;
      source.allocExpiry = kClockStart + holder * 1000u;
    }
  }

  size_t at = kConfig;
  CMessage message;
  while (at + 2 <= size) {
    size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
    at += 2;
    const LocalTerminal before = terminal;
    if (length == 0) {
      if (at + 2 > size) break;
      rig->clock.Advance((static_cast<uint32_t>(data[at]) << 8) | data[at + 1]);
      at += 2;
      const uint32_t now = rig->clock.Now();
      const int lapsed = sac_GarbageCollect(&terminal);
      bool any = false;
      for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
        const LocalSource& was = before.sources[slot];
        const LocalSource& is = terminal.sources[slot];
        const bool due = !OwnerOf(was).IsZero() && vqscw::TickDiff(was.allocExpiry, now) < 0;
        Check(OwnerOf(is) == (due ? Owner{0, 0} : OwnerOf(was)), "a lapse at the wrong time");
        any = any || due;
      }
      Check(lapsed == (any ? 1 : 0), "lapse result");
      continue;
    }
    length = std::min(length, size - at);
    // An exactly sized copy, so a read past the body is caught.
    const std::vector<uint8_t> body(data + at, data + at + length);
    at += length;
    if (message.Decode(body.data(), static_cast<uint32_t>(body.size())) != body.size()) continue;

    const bool unique = TagsAreUnique(message);
    const Asked asked = unique ? WhatIsAsked(message, terminal) : Asked{};
    const uint32_t now = rig->clock.Now();
    const int result = sac_Request(&message, &terminal);
    Check(result == 0 || result == 1, "allocation result");
    bool changed_hands = false;
    for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
      const LocalSource& was = before.sources[slot];
      const LocalSource& is = terminal.sources[slot];
      Check(SameButAllocation(was, is), "a slot changed more than its allocation");
      if (was.psid == 0) {
        Check(OwnerOf(is) == OwnerOf(was) && is.allocExpiry == was.allocExpiry,
              "a slot not in use allocated or released");
        continue;
      }
      const bool moved = !(OwnerOf(is) == OwnerOf(was));
      changed_hands = changed_hands || moved;
      if (is.allocExpiry != was.allocExpiry || (moved && !OwnerOf(is).IsZero())) {
        // Allocated or renewed (and maybe released again): from now for the reservation's
        // lifetime.
        Check(is.allocExpiry == now + sac_alloc_timeout, "reservation lapse time");
      }
      if (!unique) continue;
      if (moved && !OwnerOf(was).IsZero()) {
        Check(MayRelease(asked.requester, OwnerOf(was)),
              "a holder lost a slot it was not asked for");
      }
      if (!OwnerOf(is).IsZero() && (moved || is.allocExpiry != was.allocExpiry)) {
        const uint64_t owner = static_cast<uint64_t>(is.ownerHigh) << 32 | is.ownerLow;
        Check(asked.grants.count({slot, owner}) == 1, "a slot given to an owner nobody named");
      }
    }
    Check(!changed_hands || result == 1, "a change reported as none");
    if (unique) {
      if (asked.query) Check(result == 1 && !changed_hands, "a query");
      if (!asked.query && asked.code != Tag("WRIN")) Check(result == 0, "neither query nor change");
    }

    const int channel = adv_Request(&message, &terminal);
    const bool asks = message.Code() == Tag("READ") && message.Has(Tag("ADVD"));
    Check(asks || channel == 0, "a request that asks for nothing");
    if (channel > 0) {
      bool found = false;
      for (const LocalSource& source : terminal.sources) {
        found = found || source.psid == static_cast<uint32_t>(channel);
      }
      Check(found, "a request for a channel the host does not have");
    }
    if (unique && asks) {
      const bool names = message.Has(Tag("PSID")) || message.Has(Tag("QIDE"));
      Check((channel == -1) == !names, "a request without a channel");
    }

    // The host answers what it was asked.
    if (result == 1) {
      const Owner reference =
          message.TypeOf(TAG_REFI) == FIELD_U64 ? AsOwner(message.GetU64(TAG_REFI)) : Owner{0, 0};
      CheckAnnouncement(terminal, kAdvertisementFull, reference);
    }
    if (channel != 0) CheckAdvertisement(&terminal);
  }
  return 0;
}
