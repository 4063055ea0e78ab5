#include "vqscwlib/protocol/source_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/transport/message_endpoint.h"

int32_t dbg_spy = 0;

namespace {

constexpr char kLibraryName[] = "vqscwlib";

constexpr uint32_t kTagADVT = Tag("ADVT");
constexpr uint32_t kTagTERM = Tag("TERM");
constexpr uint32_t kTagINIP = Tag("INIP");
constexpr uint32_t kTagHWID = Tag("HWID");
constexpr uint32_t kTagADVV = Tag("ADVV");
constexpr uint32_t kTagNUMS = Tag("NUMS");
constexpr uint32_t kTagATRN = Tag("ATRN");
constexpr uint32_t kTagPSID = Tag("PSID");
constexpr uint32_t kTagFSID = Tag("FSID");
constexpr uint32_t kTagFAST = Tag("FAST");
constexpr uint32_t kTagPSNM = Tag("PSNM");
constexpr uint32_t kTagREAD = Tag("READ");
constexpr uint32_t kTagADVD = Tag("ADVD");

// Room for the time text of a debug line.
constexpr size_t kTimeTextSize = 32;

// The time text that starts a debug line, formatted as dbg_time() does but into the caller's
// buffer, so two threads logging at once do not share one.
struct TimeText {
  char text[kTimeTextSize];
  TimeText() { FormatDebugTime(static_cast<int64_t>(std::time(nullptr)), text, sizeof text); }
};

// Octet `index` (0 first) of an address held in network byte order: least significant first.
int Octet(uint32_t inip, int index) { return static_cast<int>((inip >> (8 * index)) & 0xFFu); }

char TagChar(uint32_t tag, int index) {
  return static_cast<char>((tag >> (24 - 8 * index)) & 0xFF);
}

// Copies the first `limit` bytes at most of the block field `tag` into `dest`, which holds
// limit + 1 zero bytes. An absent field or one of another type copies nothing.
void CopyName(const CFieldList& list, uint32_t tag, char* dest, size_t limit) {
  const uint8_t* block = list.GetBlob(tag);
  if (block == nullptr) return;
  std::memcpy(dest, block, std::min<size_t>(list.LengthOf(tag), limit));
}

void Release(SpyTerminal* terminal) { std::free(terminal); }

// The first record with (hwid, inip) and the link that points at it.
SpyTerminal** FindLink(SpyTerminal** table, uint16_t hwid, uint32_t inip) {
  SpyTerminal** link = table;
  while (*link != nullptr && ((*link)->hwid != hwid || (*link)->inip != inip)) {
    link = &(*link)->next;
  }
  return link;
}

SpyTerminal** LinkTo(SpyTerminal** table, const SpyTerminal* terminal) {
  SpyTerminal** link = table;
  while (*link != nullptr && *link != terminal) link = &(*link)->next;
  return link;
}

void SendFullInfoRequest(CMessageEndpoint* requester, uint32_t inip, uint16_t port) {
  if (requester == nullptr) return;
  CMessage request(1, 0);
  request.SetCode(kTagREAD);
  request.SetU8(kTagADVD, 1);
  // A failed send is not reported: the next short advertisement asks again.
  requester->SendMessage(NetAddress(ntohl(inip), port), &request, KIND_DATAGRAM);
}

// Fills the first free slot of `terminal` with the source `tag`, unless a slot already holds it.
// Returns 1 when a slot was filled.
int RegisterSource(SpyTerminal* terminal, uint32_t tag, const CFieldList& source,
                   RegisterCallback callback, void* user) {
  SpySource* slots = terminal->sources();
  for (uint32_t i = 0; i < terminal->nums; ++i) {
    SpySource& slot = slots[i];
    if (slot.tag == tag) return 0;
    if (slot.tag != 0) continue;
    slot.terminal = terminal;
    slot.tag = tag;
    slot.psid = source.GetU32(kTagPSID);
    slot.fsid = source.GetU32(kTagFSID);
    slot.fast = source.GetU8(kTagFAST);
    CopyName(source, kTagPSNM, slot.name, kSourceNameLength);
    if (dbg_spy != 0) {
      std::printf("%s register %c%c%c%c [%lu] \"%s\"\n", TimeText().text, TagChar(tag, 0),
                  TagChar(tag, 1), TagChar(tag, 2), TagChar(tag, 3),
                  static_cast<unsigned long>(slot.psid), slot.name);
    }
    if (callback != nullptr) callback(&slot, user);
    return 1;
  }
  std::printf(
      "%s failed to register source %d:%c%c%c%c (NUMS=%d).\n"
      "Make sure that terminal doesn't advertise more sources than NUMS.\n",
      kLibraryName, terminal->hwid, TagChar(tag, 0), TagChar(tag, 1), TagChar(tag, 2),
      TagChar(tag, 3), terminal->nums);
  return 0;
}

// A new record for the terminal described by `term`, or null when it cannot be had.
SpyTerminal* NewTerminal(const CFieldList& term, uint16_t hwid, uint32_t advv, uint32_t inip) {
  const uint16_t nums = std::min(term.GetU16(kTagNUMS), kMaxSourceSlots);
  void* memory = std::calloc(1, sizeof(SpyTerminal) + sizeof(SpySource) * nums);
  if (memory == nullptr) return nullptr;
  auto* terminal = static_cast<SpyTerminal*>(memory);
  terminal->hwid = hwid;
  terminal->advv = advv;
  terminal->inip = inip;
  terminal->nums = nums;
  CopyName(term, kTagATRN, terminal->name, kTerminalNameLength);
  return terminal;
}

}  // namespace

bool IsSourceTag(uint32_t tag) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return TagChar(tag, 0) == 'S' && digit(TagChar(tag, 1)) && digit(TagChar(tag, 2)) &&
         digit(TagChar(tag, 3));
}

void ReleaseSourceTable(SpyTerminal** table) {
  if (table == nullptr) return;
  while (SpyTerminal* terminal = *table) {
    *table = terminal->next;
    Release(terminal);
  }
}

namespace vqscw {

int RegisterAdvertisement(SpyTerminal** table, const CMessage& advertisement,
                          CMessageEndpoint* requester, RegisterCallback callback, void* user,
                          TerminalDirectory* directory, uint16_t request_port) {
  if (table == nullptr) return 0;
  const uint8_t type = advertisement.GetU8(kTagADVT);
  const CFieldList* term = advertisement.GetList(kTagTERM);
  if (term == nullptr || (type != kAdvertisementFull && type != kAdvertisementShort)) return 0;

  const uint32_t inip = term->GetU32(kTagINIP);
  const uint16_t hwid = term->GetU16(kTagHWID);
  const uint32_t advv = term->GetU32(kTagADVV);
  // Wraps with the tick counter; expiries are compared by the sign of their difference.
  const uint32_t expiry = TickCount() + kTerminalLifetimeMs;
  int result = 0;

  SpyTerminal** link = nullptr;
  SpyTerminal* current = nullptr;
  if (directory != nullptr) {
    current = directory->Find(hwid, inip);
  } else {
    link = FindLink(table, hwid, inip);
    current = *link;
  }
  if (current != nullptr && current->advv != advv) {
    // The terminal's advertisement changed: forget it, its sources with it.
    if (link == nullptr) link = LinkTo(table, current);
    if (directory != nullptr) directory->Erase(current);
    *link = current->next;
    Release(current);
    current = nullptr;
    result = 1;
  }

  if (type == kAdvertisementShort) {
    if (current != nullptr) {
      if (dbg_spy != 0) {
        std::printf("%s %s Heard %d.%d.%d.%d [%d] ADVV=%d\n", TimeText().text, kLibraryName,
                    Octet(inip, 0), Octet(inip, 1), Octet(inip, 2), Octet(inip, 3), hwid,
                    static_cast<int32_t>(advv));
      }
      current->expiry = expiry;
      if (directory != nullptr) directory->Touched(*current);
      return result;
    }
    SendFullInfoRequest(requester, inip, request_port);
    if (dbg_spy != 0) {
      std::printf("%s %s Request full info from %d\n", TimeText().text, kLibraryName, hwid);
    }
    return result;
  }

  if (current == nullptr) {
    SpyTerminal* terminal = NewTerminal(*term, hwid, advv, inip);
    if (terminal != nullptr && directory != nullptr && !directory->Insert(terminal)) {
      Release(terminal);
      terminal = nullptr;
    }
    if (terminal == nullptr) {
      std::printf("%s out of memory\n", kLibraryName);
      return result;
    }
    if (dbg_spy != 0) {
      std::printf("%s %s Register term %d.%d.%d.%d (%d) ADVV=%d\n", TimeText().text, kLibraryName,
                  Octet(inip, 0), Octet(inip, 1), Octet(inip, 2), Octet(inip, 3), hwid,
                  static_cast<int32_t>(advv));
    }
    terminal->next = *table;
    *table = terminal;
    current = terminal;
    result = 1;
  } else if (dbg_spy != 0) {
    std::printf("%s %s Heard %d.%d.%d.%d [%d] (full) ADVV=%d\n", TimeText().text, kLibraryName,
                Octet(inip, 0), Octet(inip, 1), Octet(inip, 2), Octet(inip, 3), hwid,
                static_cast<int32_t>(advv));
  }
  current->expiry = expiry;
  if (directory != nullptr) directory->Touched(*current);

  uint32_t tag = 0;
  for (uint32_t i = 0; advertisement.TagAt(i, &tag); ++i) {
    if (!IsSourceTag(tag)) continue;
    const CFieldList* source = advertisement.GetList(tag);
    if (source == nullptr) continue;  // not a nested list: takes no slot
    if (RegisterSource(current, tag, *source, callback, user) != 0) result = 1;
  }
  return result;
}

int CollectExpiredTerminals(SpyTerminal** table, TerminalDirectory* directory) {
  if (table == nullptr) return 0;
  const uint32_t now = TickCount();
  if (directory != nullptr) {
    if (!directory->MayHaveExpired(now)) return 0;
    directory->StartSweep();
  }
  int removed = 0;
  SpyTerminal** link = table;
  while (SpyTerminal* terminal = *link) {
    // Expired when the expiry lies before now; the signed difference keeps this right across the
    // tick counter's wrap.
    if (TickDiff(terminal->expiry, now) >= 0) {
      if (directory != nullptr) directory->Touched(*terminal);
      link = &terminal->next;
      continue;
    }
    if (dbg_spy != 0) {
      std::printf("%s Delete term %d %s\n", TimeText().text, terminal->hwid, terminal->name);
    }
    *link = terminal->next;
    if (directory != nullptr) directory->Erase(terminal);
    Release(terminal);
    removed = 1;
  }
  return removed;
}

}  // namespace vqscw

int advspy_Register(SpyTerminal** table, CMessage* advertisement, CMessageEndpoint* requester,
                    RegisterCallback callback, void* user) {
  if (advertisement == nullptr) return 0;
  return vqscw::RegisterAdvertisement(table, *advertisement, requester, callback, user, nullptr);
}

int advspy_GarbageCollect(SpyTerminal** table) {
  return vqscw::CollectExpiredTerminals(table, nullptr);
}
