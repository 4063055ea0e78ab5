// LocalTerminal and LocalSource: a host program's description of its own terminal and its 16
// source slots, the record that advertising and allocation control work on.
//
// Ownership: the host owns and fills the record. The library writes only `sourceCount` (when it
// advertises) and the allocation members of the slots (when it applies, or expires, allocation
// requests). The host serialises every call that is given the same record.
#ifndef VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_
#define VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_

#include <cstdint>

// The number of source slots of a terminal; slot i (0 to 15) is source number i + 1 ("S001").
constexpr int kLocalSourceSlots = 16;
constexpr int kLocalTerminalNameBytes = 32;
constexpr int kLocalSourceNameBytes = 16;
constexpr int kLocalSourceLabelBytes = 10;

// One source slot. A slot with psid 0 is not in use: it is neither advertised nor allocated.
struct LocalSource {
  uint32_t psid;  // channel number, 1 to 32767; 0 = slot not in use
  uint8_t shab;   // carried unchanged
  uint32_t fsid;  // stream id: the stream's group is 239.128.0.0 OR fsid
  uint8_t fast;   // stream type: 2 = 24-bit linear audio, 3 = 16-bit linear audio
  uint8_t fasm;   // carried unchanged
  uint32_t bsid;  // carried unchanged
  uint8_t bast;   // carried unchanged
  uint8_t basm;   // carried unchanged
  uint32_t lpid;  // carried unchanged
  uint8_t stpl;   // carried unchanged
  // Always sent as 16 bytes; need not be terminated within them.
  char name[kLocalSourceNameBytes + 1];
  // Sent as 10 bytes, and only when its first byte is nonzero.
  char label[kLocalSourceLabelBytes + 1];
  // Allocation state, written by the library: the holder's identity (0 in both words = free)
  // and the tick at which the reservation lapses unless renewed.
  uint32_t ownerLow;
  uint32_t ownerHigh;
  uint32_t allocExpiry;
};

struct LocalTerminal {
  uint32_t inip;  // the terminal's IPv4 address, first octet in the least significant byte
  uint16_t udpc;  // carried unchanged
  uint16_t hwid;  // hardware id
  // Advertisement version: change it whenever anything of the full advertisement changes, so
  // that listeners drop what they kept of the old one.
  uint32_t advv;
  uint32_t sourceCount;                // written by adv_advertise: the slots in use
  char name[kLocalTerminalNameBytes];  // always sent as 32 bytes
  LocalSource sources[kLocalSourceSlots];
};

#endif  // VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_
