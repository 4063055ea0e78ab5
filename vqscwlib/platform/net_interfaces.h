// The machine's IPv4 addresses and the network interfaces that own them.
//
// Addresses come in the system's order (the order getifaddrs reports them), loopback addresses
// included; callers that show a card menu or look for the machine's own address apply their own
// rules to the list. An interface's name is its kernel name ("eth0"; an address label such as
// "eth0:1" counts as its interface "eth0"); its description is the alias an administrator gave it
// (/sys/class/net/NAME/ifalias) when set, else its name.
//
// Tests replace the list for the whole process with a ScopedFakeNetInterfaces.
#ifndef VQSCWLIB_PLATFORM_NET_INTERFACES_H_
#define VQSCWLIB_PLATFORM_NET_INTERFACES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vqscw {

struct NetInterfaceAddress {
  // IPv4 address and netmask in network byte order as held in memory (first octet in the least
  // significant byte on this little-endian machine).
  uint32_t address = 0;
  uint32_t netmask = 0;
  // Interface index as the socket options take it; 0 when the system does not know the name.
  uint32_t index = 0;
  std::string name;
  std::string description;
};

// Replaces *list with the machine's IPv4 addresses. Returns false, leaving *list empty, when the
// system cannot list them (or memory runs out). Thread-safe.
bool GetNetInterfaces(std::vector<NetInterfaceAddress>* list);

// The first address of the list (network byte order) whose first octet is not 127, or 0 when
// there is none or the list cannot be read.
uint32_t FirstNonLoopbackAddress();

// While one of these lives, GetNetInterfaces() returns `list` (or fails, with `fail`). For tests;
// only one may exist at a time.
class ScopedFakeNetInterfaces {
 public:
  explicit ScopedFakeNetInterfaces(std::vector<NetInterfaceAddress> list, bool fail = false);
  ~ScopedFakeNetInterfaces();
  ScopedFakeNetInterfaces(const ScopedFakeNetInterfaces&) = delete;
  ScopedFakeNetInterfaces& operator=(const ScopedFakeNetInterfaces&) = delete;

 private:
  friend bool GetNetInterfaces(std::vector<NetInterfaceAddress>*);
  const std::vector<NetInterfaceAddress> list_;
  const bool fail_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_NET_INTERFACES_H_
