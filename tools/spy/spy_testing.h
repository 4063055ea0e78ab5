// Advertisements for the listening tool's tests, built with the library's exported message class.
#ifndef TOOLS_SPY_SPY_TESTING_H_
#define TOOLS_SPY_SPY_TESTING_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vqscwlib/host.h"

namespace vqscw::testing {

struct AdvertisedSource {
  int slot;
  uint32_t psid;
  uint32_t fsid;
  uint8_t fast;
  std::string name;
};

// A full advertisement of terminal `hwid` at `inip` (network order) named `name`.
inline CMessage FullAdvertisement(uint16_t hwid, uint32_t inip, const std::string& name,
                                  const std::vector<AdvertisedSource>& sources, uint32_t advv = 1) {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), advv);
  term.SetU16(Tag("HWID"), hwid);
  term.SetU32(Tag("INIP"), inip);
  term.SetU16(Tag("NUMS"), static_cast<uint16_t>(sources.size()));
  term.SetBlob(Tag("ATRN"), static_cast<uint16_t>(name.size()), name.data());
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), 1);
  message.SetList(Tag("TERM"), &term);
  for (const AdvertisedSource& s : sources) {
    CFieldList source;
    source.SetCode(Tag("INDI"));
    source.SetU32(Tag("PSID"), s.psid);
    source.SetU32(Tag("FSID"), s.fsid);
    source.SetU8(Tag("FAST"), s.fast);
    source.SetBlob(Tag("PSNM"), static_cast<uint16_t>(s.name.size()), s.name.data());
    const uint32_t tag = Tag("S000") + static_cast<uint32_t>((s.slot / 100 % 10) << 16 |
                                                             (s.slot / 10 % 10) << 8 | s.slot % 10);
    message.SetList(tag, &source);
  }
  return message;
}

}  // namespace vqscw::testing

#endif  // TOOLS_SPY_SPY_TESTING_H_
