#include "vqscwlib/transport/net_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "vqscwlib/platform/net_interfaces.h"

namespace {

using vqscw::NetInterfaceAddress;
using vqscw::ScopedFakeNetInterfaces;

NetInterfaceAddress Interface(const char* address, const char* name) {
  NetInterfaceAddress entry;
  entry.address = inet_addr(address);
  entry.netmask = inet_addr("255.255.255.0");
  entry.name = name;
  entry.description = name;
  return entry;
}

struct DottedCase {
  const char* text;
  uint32_t address;
};

TEST(ParseDottedTest, ReadsDottedAddressesAndRejectsEverythingElse) {
  const DottedCase cases[] = {
      {"10.0.0.5", 0x0A000005},
      {"10.0.0.5:4001", 0x0A000005},
      {"1.2.3.4:", 0x01020304},
      {"255.255.255.255", 0xFFFFFFFF},
      {"1..2.3", 0x01000203},    // an empty segment reads as 0
      {"1.2.3.", 0x01020300},    // so does a trailing one
      {"0.0.0.0", 0},            // indistinguishable from "not dotted": a host name
      {"1.2.3.4.5", 0},          // four dots
      {"1.2.3", 0},              // two dots
      {"1.2.3:80", 0},           // two dots before the colon
      {"256.1.1.1", 0},          // a segment above 255
      {"1.2.3.99999999999", 0},  // far above 255, without overflowing into range
      {"1.2.3.4x", 0},
      {"host.example", 0},
      {"-1.2.3.4", 0},
      {"", 0},
  };
  for (const DottedCase& c : cases) {
    EXPECT_EQ(ParseDotted(c.text), c.address) << c.text;
  }
  EXPECT_EQ(ParseDotted(nullptr), 0u);
}

TEST(SockAddrTest, TextGivesAddressAndAnOptionalPort) {
  CSockAddr address;
  ASSERT_EQ(address.SetFromText("10.0.0.5", 4001), 0);
  EXPECT_EQ(address.Address(), 0x0A000005u);
  EXPECT_EQ(address.Port(), 4001);
  ASSERT_EQ(address.SetFromText("10.0.0.5:5000", 4001), 0);
  EXPECT_EQ(address.Port(), 5000);
  ASSERT_EQ(address.SetFromText("10.0.0.6:", 4001), 0);
  EXPECT_EQ(address.Address(), 0x0A000006u);
  EXPECT_EQ(address.Port(), 0);  // a colon without digits is port 0
  ASSERT_EQ(address.SetFromText("10.0.0.7:65537", 4001), 0);
  EXPECT_EQ(address.Port(), 1);  // as the 16-bit port field holds it
}

TEST(SockAddrTest, NonDottedTextIsResolvedAsAHostName) {
  CSockAddr address;
  // "0.0.0.0" is not a dotted address by ParseDotted's rules, but it resolves.
  ASSERT_EQ(address.SetFromText("0.0.0.0:9", 1), 0);
  EXPECT_EQ(address.Address(), 0u);
  EXPECT_EQ(address.Port(), 9);
}

TEST(SockAddrTest, EmptyOrOverlongNamesFailAndLeaveTheAddressUnchanged) {
  CSockAddr address;
  address.Set(0x0A000005, 4001);
  EXPECT_EQ(address.SetFromText("", 1), -1);
  EXPECT_EQ(address.SetFromText(":4001", 1), -1);
  EXPECT_EQ(address.SetFromText(nullptr, 1), -1);
  const std::string long_name(CSockAddr::kMaxHostName, 'a');
  EXPECT_EQ(address.SetFromText(long_name.c_str(), 1), -1);
  EXPECT_EQ(address.SetFromText((long_name + ":99").c_str(), 1), -1);
  EXPECT_EQ(address.Address(), 0x0A000005u);
  EXPECT_EQ(address.Port(), 4001);
}

TEST(SockAddrTest, LocalhostIsTheMachinesFirstAddressNotLoopback) {
  ScopedFakeNetInterfaces fake({Interface("127.0.0.1", "lo"), Interface("10.20.30.40", "eth1"),
                                Interface("10.1.2.3", "eth0")});
  CSockAddr address;
  ASSERT_EQ(address.SetFromText("localhost:4001", 1), 0);
  EXPECT_EQ(address.Address(), 0x0A141E28u);
  EXPECT_EQ(address.Port(), 4001);
  ASSERT_EQ(address.SetOwnHost(5), 0);
  EXPECT_EQ(address.Address(), 0x0A141E28u);
  EXPECT_EQ(address.Port(), 5);
}

}  // namespace
