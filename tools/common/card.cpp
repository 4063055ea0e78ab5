#include "tools/common/card.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <vector>

#include "vqscwlib/platform/net_interfaces.h"

namespace vqscw::tools {
namespace {

bool IsLoopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

std::string CardList(const std::vector<NetInterfaceAddress>& addresses) {
  if (addresses.empty()) return "none";
  std::string text;
  for (const NetInterfaceAddress& entry : addresses) {
    if (!text.empty()) text += ", ";
    text += entry.name + " (" + AddressText(entry.address) + ")";
  }
  return text;
}

}  // namespace

std::string AddressText(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = address;
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::string KnownCards() {
  std::vector<NetInterfaceAddress> addresses;
  GetNetInterfaces(&addresses);
  return CardList(addresses);
}

bool ResolveCard(const std::string& text, Card* card, std::string* error) {
  std::vector<NetInterfaceAddress> addresses;
  GetNetInterfaces(&addresses);
  const NetInterfaceAddress* found = nullptr;
  in_addr parsed{};
  if (text.empty()) {
    for (const NetInterfaceAddress& entry : addresses) {
      if (!IsLoopback(entry.address)) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr && !addresses.empty()) found = &addresses.front();
  } else if (inet_pton(AF_INET, text.c_str(), &parsed) == 1) {
    for (const NetInterfaceAddress& entry : addresses) {
      if (entry.address == parsed.s_addr) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) {
      *error = "no network interface has the address " + text +
               "; the cards here: " + CardList(addresses);
    }
  } else {
    for (const NetInterfaceAddress& entry : addresses) {
      if (entry.name == text) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) {
      *error = "no network interface named " + text + " has an IPv4 address" +
               "; the cards here: " + CardList(addresses);
    }
  }
  if (found == nullptr) {
    if (error->empty()) *error = "this machine has no IPv4 address";
    return false;
  }
  card->address = found->address;
  card->text = AddressText(found->address);
  card->interface = found->name;
  return true;
}

}  // namespace vqscw::tools
