// Test helpers for the source table: advertisements as terminals send them, and debug lines
// with their time text masked.
#ifndef TESTS_SUPPORT_SOURCE_TABLE_HELPERS_H_
#define TESTS_SUPPORT_SOURCE_TABLE_HELPERS_H_

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/source_table.h"

namespace vqscw::testing {

struct TestSource {
  int slot;  // sent under "S%03d"
  uint32_t psid, fsid;
  uint8_t fast;
  std::string name;
};

struct TestTerminal {
  uint16_t hwid = 1;
  uint32_t inip = 0;  // network byte order as held in memory
  uint32_t advv = 1;
  uint16_t nums = 0;
  std::string name;
};

// An advertisement of `terminal` as a terminal sends it: "NEST" with "ADVT" and "TERM" ("INDI");
// a full one also carries "ATRN" and one "INDI" list per source.
inline CMessage Advertisement(uint8_t type, const TestTerminal& terminal,
                              const std::vector<TestSource>& sources = {}) {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), terminal.advv);
  term.SetU16(Tag("HWID"), terminal.hwid);
  term.SetU32(Tag("INIP"), terminal.inip);
  term.SetU16(Tag("NUMS"), terminal.nums);
  if (type == kAdvertisementFull) {
    term.SetBlob(Tag("ATRN"), static_cast<uint16_t>(terminal.name.size()), terminal.name.data());
  }
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), type);
  message.SetList(Tag("TERM"), &term);
  for (const TestSource& s : sources) {
    CFieldList source;
    source.SetCode(Tag("INDI"));
    source.SetU32(Tag("PSID"), s.psid);
    source.SetU32(Tag("FSID"), s.fsid);
    source.SetU8(Tag("FAST"), s.fast);
    source.SetBlob(Tag("PSNM"), static_cast<uint16_t>(s.name.size()), s.name.data());
    message.SetList(SourceSlotTag(s.slot), &source);
  }
  return message;
}

// Sources in slots `from_slot` to `to_slot` with channels from `first` on, stream ids 100 above
// their channels, type 2, named "Src " and the channel.
inline std::vector<TestSource> NumberedSources(int from_slot, int to_slot, uint32_t first) {
  std::vector<TestSource> sources;
  for (int slot = from_slot; slot <= to_slot; ++slot) {
    const uint32_t psid = first + static_cast<uint32_t>(slot - from_slot);
    sources.push_back({slot, psid, 100 + psid, 2, "Src " + std::to_string(psid)});
  }
  return sources;
}

// `text` with every debug time ("2024.01.31 12:00:00") replaced by "T".
inline std::string MaskTimes(const std::string& text) {
  static const std::regex time(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2})");
  return std::regex_replace(text, time, "T");
}

// True when `frame` is an unacknowledged "READ" request with "ADVD" = 1 (as a byte field).
inline bool IsFullInfoRequest(const std::vector<uint8_t>& frame) {
  if (frame.size() < kFrameHeaderSize || frame[kFrameModeOffset] != KIND_DATAGRAM) return false;
  CMessage request;
  const auto length = static_cast<uint32_t>(frame.size() - kFrameHeaderSize);
  return request.Decode(frame.data() + kFrameHeaderSize, length) == length &&
         request.Code() == Tag("READ") && request.TypeOf(Tag("ADVD")) == FIELD_U8 &&
         request.GetU8(Tag("ADVD")) == 1;
}

inline std::vector<const SpyTerminal*> Records(const SpyTerminal* table) {
  std::vector<const SpyTerminal*> records;
  for (; table != nullptr; table = table->next) records.push_back(table);
  return records;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_SOURCE_TABLE_HELPERS_H_
