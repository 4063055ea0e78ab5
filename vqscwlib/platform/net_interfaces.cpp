#include "vqscwlib/platform/net_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cassert>
#include <fstream>
#include <new>

#include "vqscwlib/base/thread_annotations.h"

namespace vqscw {
namespace {

Mutex g_fake_mutex;
const ScopedFakeNetInterfaces* g_fake GUARDED_BY(g_fake_mutex) = nullptr;

// The interface an address label belongs to: "eth0:1" is interface "eth0".
std::string InterfaceOfLabel(const char* label) {
  std::string name(label);
  const size_t colon = name.find(':');
  if (colon != std::string::npos) name.resize(colon);
  return name;
}

std::string DescriptionOf(const std::string& name) {
  std::ifstream file("/sys/class/net/" + name + "/ifalias");
  std::string alias;
  if (file && std::getline(file, alias) && !alias.empty()) return alias;
  return name;
}

uint32_t SockaddrIPv4(const sockaddr* sa) {
  if (sa == nullptr || sa->sa_family != AF_INET) return 0;
  return reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
}

bool ListSystemInterfaces(std::vector<NetInterfaceAddress>* list) {
  ifaddrs* head = nullptr;
  if (getifaddrs(&head) != 0) return false;
  for (const ifaddrs* ifa = head; ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
    NetInterfaceAddress entry;
    entry.address = SockaddrIPv4(ifa->ifa_addr);
    entry.netmask = SockaddrIPv4(ifa->ifa_netmask);
    entry.name = InterfaceOfLabel(ifa->ifa_name);
    entry.index = if_nametoindex(entry.name.c_str());
    entry.description = DescriptionOf(entry.name);
    list->push_back(std::move(entry));
  }
  freeifaddrs(head);
  return true;
}

}  // namespace

bool GetNetInterfaces(std::vector<NetInterfaceAddress>* list) {
  list->clear();
  try {
    {
      MutexLock lock(&g_fake_mutex);
      if (g_fake != nullptr) {
        if (g_fake->fail_) return false;
        *list = g_fake->list_;
        return true;
      }
    }
    if (ListSystemInterfaces(list)) return true;
  } catch (const std::bad_alloc&) {
  }
  list->clear();
  return false;
}

uint32_t FirstNonLoopbackAddress() {
  std::vector<NetInterfaceAddress> list;
  if (!GetNetInterfaces(&list)) return 0;
  for (const NetInterfaceAddress& entry : list) {
    // The first octet sits in the lowest byte of a network-order address held in memory.
    const uint8_t first_octet = reinterpret_cast<const uint8_t*>(&entry.address)[0];
    if (entry.address != 0 && first_octet != 127) return entry.address;
  }
  return 0;
}

ScopedFakeNetInterfaces::ScopedFakeNetInterfaces(std::vector<NetInterfaceAddress> list, bool fail)
    : list_(std::move(list)), fail_(fail) {
  MutexLock lock(&g_fake_mutex);
  assert(g_fake == nullptr && "only one ScopedFakeNetInterfaces may exist at a time");
  g_fake = this;
}

ScopedFakeNetInterfaces::~ScopedFakeNetInterfaces() {
  MutexLock lock(&g_fake_mutex);
  if (g_fake == this) g_fake = nullptr;
}

}  // namespace vqscw
