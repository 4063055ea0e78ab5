#include "vqscwlib/selector/card_selection.h"

#include <gtest/gtest.h>

#include <string>

namespace vqscw {
namespace {

// An address from its four octets, first octet first.
constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a | (b << 8) | (c << 16) | (d << 24);
}
constexpr uint32_t kMask24 = Ip(255, 255, 255, 0);
constexpr uint32_t kMask8 = Ip(255, 0, 0, 0);

CardList TwoCards() {
  return {
      {"lo", "lo", {{Ip(127, 0, 0, 1), kMask8}}},
      {"eth0", "Studio network", {{Ip(10, 1, 2, 3), kMask24}, {Ip(10, 1, 2, 4), kMask24}}},
      {"eth1", "eth1", {{Ip(192, 168, 5, 9), kMask24}}},
  };
}

TEST(DottedAddressTest, FirstOctetIsTheLowestByte) {
  EXPECT_EQ(DottedAddress(0x0100007F), "127.0.0.1");
  EXPECT_EQ(DottedAddress(0), "0.0.0.0");
  EXPECT_EQ(DottedAddress(0xFFFFFFFF), "255.255.255.255");
}

TEST(ResolveCardTest, AStoredAddressACardStillHasIsKept) {
  const CardResolution r = ResolveCard(TwoCards(), Ip(10, 1, 2, 4), "eth1");
  EXPECT_TRUE(r.resolved);
  EXPECT_EQ(r.address, Ip(10, 1, 2, 4));
  // Every address up to the match is printed with its mask.
  EXPECT_EQ(r.lines, "\t127.0.0.1 255.0.0.0\n\t10.1.2.3 255.255.255.0\n\t10.1.2.4 255.255.255.0\n");
}

TEST(ResolveCardTest, AMovedCardIsFoundAgainByItsName) {
  const CardResolution r = ResolveCard(TwoCards(), Ip(10, 9, 9, 9), "eth1");
  EXPECT_TRUE(r.resolved);
  EXPECT_EQ(r.address, Ip(192, 168, 5, 9));
}

TEST(ResolveCardTest, NamesMatchExactly) {
  const CardResolution r = ResolveCard(TwoCards(), Ip(10, 9, 9, 9), "ETH1");
  EXPECT_FALSE(r.resolved);
  EXPECT_EQ(r.address, Ip(10, 9, 9, 9));
}

TEST(ResolveCardTest, ACardWhoseOnlyAddressIsZeroLeavesTheStoredAddress) {
  CardList cards = TwoCards();
  cards.push_back({"wlan0", "wlan0", {{0, 0}}});
  const CardResolution r = ResolveCard(cards, Ip(10, 9, 9, 9), "wlan0");
  EXPECT_FALSE(r.resolved);
  EXPECT_EQ(r.address, Ip(10, 9, 9, 9));
}

TEST(ResolveCardTest, ANamedCardsFirstNonZeroAddressIsTaken) {
  CardList cards = {{"eth2", "eth2", {{0, 0}, {Ip(172, 16, 0, 1), kMask24}}}};
  EXPECT_EQ(ResolveCard(cards, 0, "eth2").address, Ip(172, 16, 0, 1));
}

TEST(ResolveCardTest, NoCardListLeavesTheStoredAddress) {
  const CardResolution r = ResolveCard(std::nullopt, Ip(10, 1, 2, 3), "eth0");
  EXPECT_FALSE(r.resolved);
  EXPECT_EQ(r.address, Ip(10, 1, 2, 3));
  EXPECT_EQ(r.lines, "");
}

TEST(ResolveCardTest, MoreCardsThanTheListHasRoomForAreNoList) {
  CardList many(kAdapterListRoom + 1, NetCard{"dummy", "dummy", {}});
  many.push_back({"eth0", "eth0", {{Ip(10, 1, 2, 3), kMask24}}});
  EXPECT_FALSE(ResolveCard(many, Ip(10, 1, 2, 3), "eth0").resolved);
}

TEST(AdapterNameTest, NamesTheCardThatHasTheAddress) {
  std::string lines;
  EXPECT_EQ(AdapterNameOf(TwoCards(), Ip(192, 168, 5, 9), &lines), "eth1");
  EXPECT_EQ(AdapterNameOf(TwoCards(), Ip(1, 2, 3, 4), &lines), "");
  EXPECT_EQ(AdapterNameOf(TwoCards(), 0, &lines), "");
  EXPECT_EQ(AdapterNameOf(std::nullopt, Ip(192, 168, 5, 9), &lines), "");
}

TEST(CardHasAddressTest, OnlyAListWithoutTheAddressCallsItMissing) {
  EXPECT_TRUE(CardHasAddress(TwoCards(), Ip(10, 1, 2, 4)));  // a card's second address
  EXPECT_FALSE(CardHasAddress(TwoCards(), Ip(10, 9, 9, 9)));
  EXPECT_FALSE(CardHasAddress(CardList{}, Ip(10, 1, 2, 3)));
  EXPECT_TRUE(CardHasAddress(std::nullopt, Ip(10, 9, 9, 9)));  // the cards cannot be listed
}

TEST(CardMenuTest, ListsEveryAddressButLoopbackWithItsCardsDescription) {
  const std::vector<CardMenuItem> items = CardMenuItems(TwoCards(), Ip(10, 1, 2, 4));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].text, "10.1.2.3\tStudio network");
  EXPECT_EQ(items[0].address, Ip(10, 1, 2, 3));
  EXPECT_FALSE(items[0].checked);
  EXPECT_EQ(items[1].text, "10.1.2.4\tStudio network");
  EXPECT_TRUE(items[1].checked);
  EXPECT_EQ(items[2].text, "192.168.5.9\teth1");
}

TEST(CardMenuTest, OnlyLoopbackGivesAnEmptyMenu) {
  const CardList cards = {{"lo", "lo", {{Ip(127, 0, 0, 1), kMask8}, {Ip(127, 1, 2, 3), kMask8}}}};
  EXPECT_TRUE(CardMenuItems(cards, 0).empty());
}

TEST(CardMenuTest, MoreAddressesThanTheTableHoldsGiveAnEmptyMenu) {
  CardList cards = {{"eth0", "eth0", {}}};
  for (uint32_t i = 1; i <= kAddressTableRoom; ++i)
    cards[0].addresses.push_back({Ip(10, 0, 0, i), kMask24});
  EXPECT_EQ(CardMenuItems(cards, 0).size(), kAddressTableRoom);
  cards[0].addresses.push_back({Ip(127, 0, 0, 1), kMask8});  // loopback counts toward the room
  EXPECT_TRUE(CardMenuItems(cards, 0).empty());
  EXPECT_TRUE(CardMenuItems(std::nullopt, 0).empty());
}

}  // namespace
}  // namespace vqscw
