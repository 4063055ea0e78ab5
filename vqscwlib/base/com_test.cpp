#include "vqscwlib/base/com.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "vqscwlib/base/wave_format.h"

namespace {

TEST(ComTest, SystemErrorsBecomeWin32Results) {
  EXPECT_EQ(static_cast<uint32_t>(HResultFromError(ENOMEM)), 0x8007000Cu);
  EXPECT_EQ(static_cast<uint32_t>(HResultFromError(0x12345)), 0x80072345u);  // low 16 bits
  EXPECT_EQ(HResultFromError(0), 0);
  EXPECT_EQ(HResultFromError(E_FAIL), E_FAIL);  // already a result: unchanged
  EXPECT_TRUE(FAILED(HResultFromError(EADDRINUSE)));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(ComTest, FormatRecordsKeepTheirByteLayout) {
  WAVEFORMATEXTENSIBLE ext{};
  auto* base = reinterpret_cast<const uint8_t*>(&ext);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&ext.Samples) - base, 18);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&ext.dwChannelMask) - base, 20);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&ext.SubFormat) - base, 24);
  MPEGLAYER3WAVEFORMAT mp3{};
  auto* mbase = reinterpret_cast<const uint8_t*>(&mp3);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&mp3.fdwFlags) - mbase, 20);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&mp3.nCodecDelay) - mbase, 28);
  EXPECT_NE(KSDATAFORMAT_SUBTYPE_PCM, IID_IUnknown);
}

}  // namespace
