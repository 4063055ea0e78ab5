#include "vqscwlib/selector/preset_transfer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vqscw {
namespace {

std::string_view ViewOf(const PresetBlock& block) { return {block.data(), block.size()}; }

TEST(PresetBlockTest, Channel42IsItsTextAndZerosInThirtyBytes) {
  const PresetBlock block = EncodePresetBlock(42);
  EXPECT_EQ(ViewOf(block), std::string_view("ChannelNumber=42\n\0\0\0\0\0\0\0\0\0\0\0\0\0", 30));
}

TEST(PresetBlockTest, EveryChannelComesBackFromItsBlock) {
  for (int32_t channel : {0, 1, 42, 32767, -5, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(DecodePresetBlock(ViewOf(EncodePresetBlock(channel))), channel) << channel;
  }
}

TEST(PresetBlockTest, TextWithoutThePrefixNamesNothing) {
  EXPECT_EQ(DecodePresetBlock("channelnumber=42\n"), std::nullopt);  // case counts
  EXPECT_EQ(DecodePresetBlock("Channel=42\n"), std::nullopt);
  EXPECT_EQ(DecodePresetBlock("ChannelNumber"), std::nullopt);
  EXPECT_EQ(DecodePresetBlock(""), std::nullopt);
  EXPECT_EQ(DecodePresetBlock(std::string_view("\0ChannelNumber=42", 17)), std::nullopt);
}

TEST(PresetBlockTest, NumberIsReadAsStringToLongReadsIt) {
  EXPECT_EQ(DecodePresetBlock("ChannelNumber="), 0);  // no digits: channel 0
  EXPECT_EQ(DecodePresetBlock("ChannelNumber=  +17x"), 17);
  EXPECT_EQ(DecodePresetBlock("ChannelNumber=-3\n"), -3);
  EXPECT_EQ(DecodePresetBlock("ChannelNumber=99999999999\n"), INT32_MAX);
  // The text ends at the first zero byte; what follows it is not read.
  EXPECT_EQ(DecodePresetBlock(std::string_view("ChannelNumber=4\0"
                                               "2",
                                               17)),
            4);
}

TEST(PresetBlockTest, BlockWithoutTerminatorIsReadNoFurtherThanItsLength) {
  // 30 digits and no zero byte: the decoder stops at the end of what it was given.
  const std::string text = "ChannelNumber=1234567890123456";
  ASSERT_EQ(text.size(), kPresetBlockBytes);
  EXPECT_EQ(DecodePresetBlock(std::string_view(text.data(), 16)), 12);
  EXPECT_EQ(DecodePresetBlock(text), INT32_MAX);
}

}  // namespace
}  // namespace vqscw
