// The network's numbers: the ports and groups every terminal uses, the rules that sort
// destinations into groups and datagram groups, and the advertisement types. Addresses are in
// host order (first octet in the most significant byte).
#ifndef VQSCW_NETWORK_H_
#define VQSCW_NETWORK_H_

#include <cstdint>

// The advertisement group and port every terminal sends to, and the port requests reach a
// terminal at.
constexpr uint32_t kAdvertisementGroup = 0xEFC0FF03;  // 239.192.255.3
constexpr uint16_t kTerminalPort = 4001;

// Every source streams to this UDP port.
constexpr uint16_t kStreamPort = 5004;
// A stream's group is this (239.128.0.0) OR its stream id.
constexpr uint32_t kStreamGroupBase = 0xEF800000u;
// A channel's group, the one a previewing selector joins, is this (239.192.0.0) OR the channel
// number; its stream comes to kStreamPort there too.
constexpr uint32_t kPreviewGroupBase = 0xEFC00000u;

constexpr uint32_t StreamGroupOf(uint32_t stream_id) { return kStreamGroupBase | stream_id; }
constexpr uint32_t PreviewGroupOf(uint32_t channel) { return kPreviewGroupBase | channel; }

// Addresses from 224.0.0.0 to 239.255.255.255 are multicast groups: any member may acknowledge a
// message sent to one, and nothing ever answers one.
constexpr uint32_t kFirstMulticastAddress = 0xE0000000u;  // 224.0.0.0
constexpr uint32_t kLastMulticastAddress = 0xEFFFFFFFu;   // 239.255.255.255
// Destinations from 239.0.0.0 up, the advertisement groups, get unacknowledged datagrams; every
// other destination gets acknowledged messages.
constexpr uint32_t kFirstDatagramAddress = 0xEF000000u;  // 239.0.0.0

constexpr bool IsMulticastAddress(uint32_t address) {
  return address >= kFirstMulticastAddress && address <= kLastMulticastAddress;
}

// Advertisement types ("ADVT"): the full advertisement, and the short one that only keeps a
// terminal alive.
constexpr int kAdvertisementFull = 1;
constexpr int kAdvertisementShort = 2;

#endif  // VQSCW_NETWORK_H_
