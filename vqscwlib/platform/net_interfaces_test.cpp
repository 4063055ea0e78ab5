#include "vqscwlib/platform/net_interfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include "tests/support/net_namespace.h"

namespace vqscw {
namespace {

uint32_t Addr(const char* dotted) { return inet_addr(dotted); }

NetInterfaceAddress Entry(const char* address, const char* name) {
  NetInterfaceAddress entry;
  entry.address = Addr(address);
  entry.netmask = Addr("255.255.255.0");
  entry.name = name;
  entry.description = name;
  return entry;
}

TEST(NetInterfacesTest, FirstNonLoopbackAddressSkipsLoopbackAndKeepsTheSystemOrder) {
  {
    ScopedFakeNetInterfaces fake(
        {Entry("127.0.0.1", "lo"), Entry("10.4.5.6", "eth1"), Entry("10.1.2.3", "eth0")});
    EXPECT_EQ(FirstNonLoopbackAddress(), Addr("10.4.5.6"));
  }
  {
    ScopedFakeNetInterfaces fake({Entry("127.0.0.1", "lo"), Entry("127.0.1.1", "lo")});
    EXPECT_EQ(FirstNonLoopbackAddress(), 0u);
  }
  {
    ScopedFakeNetInterfaces fake({Entry("10.1.2.3", "eth0")}, /*fail=*/true);
    std::vector<NetInterfaceAddress> list{Entry("1.2.3.4", "stale")};
    EXPECT_FALSE(GetNetInterfaces(&list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(FirstNonLoopbackAddress(), 0u);
  }
}

// In a namespace of its own: an interface with an alias, a labelled address and a second
// interface. Runs in a child process.
void ListInterfacesOfAFreshNamespace() {
  CHILD_CHECK(testing::EnterFreshNetNamespace({
      "ip link add nia type veth peer name nib",
      "ip link set nia alias 'Studio LAN'",
      "ip addr add 10.61.0.1/24 dev nia",
      "ip addr add 10.61.1.1/16 dev nia label nia:7",
      "ip addr add 10.62.0.1/24 dev nib",
      "ip link set nia up",
      "ip link set nib up",
  }));
  std::vector<NetInterfaceAddress> list;
  CHILD_CHECK(GetNetInterfaces(&list));
  auto find = [&list](const char* address) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i].address == Addr(address)) return static_cast<int>(i);
    }
    return -1;
  };
  const int first = find("10.61.0.1");
  const int labelled = find("10.61.1.1");
  const int other = find("10.62.0.1");
  CHILD_CHECK(first >= 0 && labelled >= 0 && other >= 0 && list.size() == 4);
  CHILD_CHECK(first < labelled);  // one interface's addresses keep their order
  const uint32_t nia = if_nametoindex("nia");
  CHILD_CHECK(nia != 0);
  CHILD_CHECK(list[first].name == "nia" && list[first].index == nia);
  CHILD_CHECK(list[first].description == "Studio LAN");
  CHILD_CHECK(list[first].netmask == Addr("255.255.255.0"));
  CHILD_CHECK(list[labelled].name == "nia" && list[labelled].index == nia);  // label "nia:7"
  CHILD_CHECK(list[labelled].description == "Studio LAN");
  CHILD_CHECK(list[labelled].netmask == Addr("255.255.0.0"));
  CHILD_CHECK(list[other].name == "nib" && list[other].description == "nib");
  CHILD_CHECK(list[other].index == if_nametoindex("nib"));
  std::_Exit(0);
}

TEST(NetInterfacesTest, NamesAliasesAndLabelsOfRealInterfaces) {
  EXPECT_EXIT(ListInterfacesOfAFreshNamespace(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vqscw
