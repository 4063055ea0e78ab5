// The machine's network cards, grouped from the platform's list of interface addresses.
#include <algorithm>

#include "vqscwlib/platform/net_interfaces.h"
#include "vqscwlib/selector/card_selection.h"

namespace vqscw {

std::optional<CardList> MachineCards() {
  std::vector<NetInterfaceAddress> addresses;
  if (!GetNetInterfaces(&addresses)) return std::nullopt;
  CardList cards;
  for (const NetInterfaceAddress& entry : addresses) {
    auto card = std::find_if(cards.begin(), cards.end(),
                             [&](const NetCard& c) { return c.name == entry.name; });
    if (card == cards.end()) {
      cards.push_back({entry.name, entry.description, {}});
      card = cards.end() - 1;
    }
    card->addresses.push_back({entry.address, entry.netmask});
  }
  return cards;
}

}  // namespace vqscw
