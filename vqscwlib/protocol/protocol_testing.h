// Test helpers for the host-side protocol: a group member on loopback that collects what a host
// sends, decoded, and a terminal record to fill.
#ifndef VQSCWLIB_PROTOCOL_PROTOCOL_TESTING_H_
#define VQSCWLIB_PROTOCOL_PROTOCOL_TESTING_H_

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/net_namespace.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/local_terminal.h"
#include "vqscwlib/transport/transport_testing.h"

namespace vqscw::testing {

constexpr uint32_t kLoopbackHost = 0x7F000001;
constexpr uint32_t kAdvertisementGroupHost = 0xEFC0FF03;  // 239.192.255.3

struct Received {
  uint8_t mode = 0;
  CMessage message;
};

// A member of the advertisement group on loopback, on a port of its own.
class GroupMember {
 public:
  GroupMember() : peer_("0.0.0.0", vqscw::test::FreeUdpPort()) {
    peer_.socket().JoinGroup(htonl(kAdvertisementGroupHost), htonl(kLoopbackHost));
  }
  uint16_t Port() const { return peer_.Address().Port(); }
  ScriptedPeer& peer() { return peer_; }

  // Every frame that arrives until `quiet_ms` pass without one (at most 50 frames), decoded.
  std::vector<Received> Collect(uint32_t quiet_ms = 200) { return CollectFrom(&peer_, quiet_ms); }

  static std::vector<Received> CollectFrom(ScriptedPeer* peer, uint32_t quiet_ms) {
    std::vector<Received> all;
    while (all.size() < 50) {
      auto datagram = peer->Receive(quiet_ms);
      if (!datagram) break;
      if (datagram->bytes.size() < kFrameHeaderSize) continue;
      Received r;
      r.mode = datagram->bytes[kFrameModeOffset];
      const uint32_t length = static_cast<uint32_t>(datagram->bytes.size() - kFrameHeaderSize);
      if (r.message.Decode(datagram->bytes.data() + kFrameHeaderSize, length) != length) continue;
      all.push_back(std::move(r));
    }
    return all;
  }

 private:
  ScriptedPeer peer_;
};

// The tags of a list's fields, in order, as text ("ADVT TERM S001").
inline std::string TagsOf(const CFieldList& list) {
  std::string tags;
  for (uint32_t i = 0; i < list.Count(); ++i) {
    uint32_t tag = 0;
    list.TagAt(i, &tag);
    char text[5];
    if (!tags.empty()) tags += ' ';
    tags += tag == TAG_REFI ? "refi" : tag == TAG_ID ? "*id*" : TagToText(tag, text);
  }
  return tags;
}

// A terminal with sources in the given slots (0 to 15); slot i gets channel 100 + i.
inline LocalTerminal TerminalWithSlots(const std::vector<int>& slots) {
  LocalTerminal terminal{};
  terminal.inip = htonl(kLoopbackHost);
  terminal.udpc = 9;
  terminal.hwid = 0x1234;
  terminal.advv = 77;
  std::strcpy(terminal.name, "Studio A");
  for (int slot : slots) {
    LocalSource& source = terminal.sources[slot];
    source.psid = 100 + static_cast<uint32_t>(slot);
    source.fsid = 200 + static_cast<uint32_t>(slot);
    source.fast = 2;
    std::snprintf(source.name, sizeof source.name, "Mic %d", slot + 1);
  }
  return terminal;
}

// The dbg_time text that starts a debug line: "2006.04.18 20:47:40".
constexpr size_t kTimeTextLength = 19;

// Each line of `text` with its leading time text removed; a line that does not start with a
// time text is kept whole, so a comparison shows it.
inline std::vector<std::string> LinesWithoutTime(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    const bool timed = line.size() > kTimeTextLength && line[4] == '.' && line[7] == '.' &&
                       line[10] == ' ' && line[13] == ':' && line[16] == ':';
    lines.push_back(timed ? line.substr(kTimeTextLength) : line);
    start = end + 1;
  }
  return lines;
}

}  // namespace vqscw::testing

#endif  // VQSCWLIB_PROTOCOL_PROTOCOL_TESTING_H_
