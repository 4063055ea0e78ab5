// The network card a tool works on, given on its command line by IPv4 address or interface name.
#ifndef TOOLS_COMMON_CARD_H_
#define TOOLS_COMMON_CARD_H_

#include <cstdint>
#include <string>

namespace vqscw::tools {

struct Card {
  // The card's IPv4 address in network byte order as held in memory (first octet in the least
  // significant byte on this machine): the form of "INIP" and of interface addresses.
  uint32_t address = 0;
  std::string text;       // the address as "a.b.c.d"
  std::string interface;  // the interface that holds it ("eth0", "lo")
};

// Finds the card `text` names: a dotted IPv4 address that one of this machine's interfaces holds,
// or the name of an interface (its first IPv4 address). An empty text picks the first address
// outside 127.0.0.0/8, or loopback when the machine has no other. Returns false with a message
// in *error when nothing matches.
bool ResolveCard(const std::string& text, Card* card, std::string* error);

// This machine's cards as a user may name them: "lo (127.0.0.1), eth0 (10.0.0.5)", or "none"
// when it has no IPv4 address.
std::string KnownCards();

// "a.b.c.d" of an address in network byte order as held in memory.
std::string AddressText(uint32_t address);

}  // namespace vqscw::tools

#endif  // TOOLS_COMMON_CARD_H_
