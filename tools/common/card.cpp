#include "tools/common/card.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <vector>

namespace vqscw::tools {
namespace {

struct InterfaceAddress {
  std::string name;
  uint32_t address;
};

std::vector<InterfaceAddress> ListAddresses() {
  std::vector<InterfaceAddress> list;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (const ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    list.push_back({entry->ifa_name != nullptr ? entry->ifa_name : "", in->sin_addr.s_addr});
  }
  freeifaddrs(all);
  return list;
}

bool IsLoopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

}  // namespace

std::string AddressText(uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = address;
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

bool ResolveCard(const std::string& text, Card* card, std::string* error) {
  const std::vector<InterfaceAddress> addresses = ListAddresses();
  const InterfaceAddress* found = nullptr;
  in_addr parsed{};
  if (text.empty()) {
    for (const InterfaceAddress& entry : addresses) {
      if (!IsLoopback(entry.address)) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr && !addresses.empty()) found = &addresses.front();
  } else if (inet_pton(AF_INET, text.c_str(), &parsed) == 1) {
    for (const InterfaceAddress& entry : addresses) {
      if (entry.address == parsed.s_addr) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) *error = "no network interface has the address " + text;
  } else {
    for (const InterfaceAddress& entry : addresses) {
      if (entry.name == text) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr) *error = "no network interface named " + text + " has an IPv4 address";
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
