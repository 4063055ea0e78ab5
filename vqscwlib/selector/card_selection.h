// Choosing the network card the spy listens on: resolving the stored choice against the
// machine's cards, the adapter name of an address, and the entries of the card menu.
//
// Addresses are IPv4 addresses in network byte order as held in memory: the first octet is the
// least significant byte.
#ifndef VQSCWLIB_SELECTOR_CARD_SELECTION_H_
#define VQSCWLIB_SELECTOR_CARD_SELECTION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vqscw {

struct CardAddress {
  uint32_t address;
  uint32_t mask;
};

// One network card: its adapter name (the interface name), the description shown in the menu,
// and its IPv4 addresses in the system's order.
struct NetCard {
  std::string name;
  std::string description;
  std::vector<CardAddress> addresses;
};

using CardList = std::vector<NetCard>;

// Gives the machine's cards, or nothing when they cannot be listed.
using CardSource = std::function<std::optional<CardList>()>;

// The machine's cards, from its network interfaces: one card per interface, in the order the
// system lists them, with the interface's addresses in order.
std::optional<CardList> MachineCards();

// The most cards the adapter list has room for, and the most addresses (loopback included) the
// address table behind the card menu has room for; a machine with more gets no answer.
constexpr size_t kAdapterListRoom = 64;
constexpr size_t kAddressTableRoom = 17;

// "%d.%d.%d.%d", first octet first.
std::string DottedAddress(uint32_t address);

struct CardResolution {
  uint32_t address;   // the address to open the spy on
  bool resolved;      // whether a card was found for it
  std::string lines;  // "\t<address> <mask>\n" for every address looked at, for standard output
};

// Resolves the stored choice. A stored address that a card still has is kept; otherwise the
// first non-zero address of the card whose name equals `stored_name` exactly is taken; otherwise
// the stored address stays as it is.
CardResolution ResolveCard(const std::optional<CardList>& cards, uint32_t stored_address,
                           const std::string& stored_name);

// The name of the card that has `address`, or empty (also for address 0). Appends the lines of
// the addresses looked at to `lines`.
std::string AdapterNameOf(const std::optional<CardList>& cards, uint32_t address,
                          std::string* lines);

// Whether a card of `cards` has `address`. True when the cards cannot be listed: an address is
// only called missing when the list says so.
bool CardHasAddress(const std::optional<CardList>& cards, uint32_t address);

struct CardMenuItem {
  std::string text;  // "<dotted address>\t<description>"
  uint32_t address;
  bool checked;  // the current address
};

// The card menu: every address except loopback ones (first octet 127), in the system's order.
// Empty when the cards cannot be listed or hold more addresses than the table has room for.
std::vector<CardMenuItem> CardMenuItems(const std::optional<CardList>& cards, uint32_t current);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CARD_SELECTION_H_
