// Test helpers for the host-side protocol: a group member on loopback that collects what a host
// sends, and a terminal record to fill.
#ifndef TESTS_SUPPORT_PROTOCOL_HELPERS_H_
#define TESTS_SUPPORT_PROTOCOL_HELPERS_H_

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/net_namespace.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/protocol/local_terminal.h"

namespace vqscw::testing {

constexpr uint32_t kLoopbackHost = 0x7F000001;
constexpr uint32_t kGroupHost = 0xEFC0FF03;  // 239.192.255.3

struct Received {
  uint8_t mode = 0;
  CMessage message;
};

// Every frame `peer` receives until `quiet_ms` pass without one (at most 50), decoded.
inline std::vector<Received> Collect(ScriptedPeer* peer, uint32_t quiet_ms = 200) {
  std::vector<Received> all;
  while (all.size() < 50) {
    auto datagram = peer->Receive(quiet_ms);
    if (!datagram) break;
    Received r;
    r.mode = datagram->bytes[kFrameModeOffset];
    const auto length = static_cast<uint32_t>(datagram->bytes.size() - kFrameHeaderSize);
    if (r.message.Decode(datagram->bytes.data() + kFrameHeaderSize, length) == length) {
      all.push_back(std::move(r));
    }
  }
  return all;
}

// A member of the advertisement group on loopback, on a port of its own.
struct GroupMember : ScriptedPeer {
  GroupMember() : ScriptedPeer("0.0.0.0", vqscw::testing::FreeUdpPort()) {
    socket().JoinGroup(htonl(kGroupHost), htonl(kLoopbackHost));
  }
  uint16_t Port() const { return Address().Port(); }
};

// The tags of a list's fields in order, as text: "ADVT TERM S001".
inline std::string TagsOf(const CFieldList& list) {
  std::string tags;
  for (uint32_t i = 0, tag = 0; list.TagAt(i, &tag); ++i) {
    char text[5];
    tags += (i > 0 ? " " : "") + std::string(tag == TAG_REFI ? "refi"
                                             : tag == TAG_ID ? "*id*"
                                                             : TagToText(tag, text));
  }
  return tags;
}

// A terminal with sources in the given slots (0 to 15); slot i has channel 100 + i.
inline LocalTerminal TerminalWithSlots(const std::vector<int>& slots) {
  LocalTerminal terminal{};
  terminal.inip = htonl(kLoopbackHost);
  terminal.udpc = 9;
  terminal.hwid = 0x1234;
  terminal.advv = 77;
  std::strcpy(terminal.name, "Studio A");
  for (int slot : slots) {
    terminal.sources[slot].psid = 100 + static_cast<uint32_t>(slot);
    terminal.sources[slot].fsid = 200 + static_cast<uint32_t>(slot);
    terminal.sources[slot].fast = 2;
    std::snprintf(terminal.sources[slot].name, 17, "Mic %d", slot + 1);
  }
  return terminal;
}

// The lines of `text`, each without the 19-character time text that starts a debug line.
inline std::vector<std::string> LinesWithoutTime(const std::string& text) {
  constexpr size_t kTimeTextLength = 19;  // "2006.04.18 20:47:40"
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    lines.push_back(line.size() > kTimeTextLength && line[4] == '.' && line[13] == ':'
                        ? line.substr(kTimeTextLength)
                        : line);
    if (end == std::string::npos) break;
  }
  return lines;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_PROTOCOL_HELPERS_H_
