#include "vqscwlib/platform/socket_library.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vqscw {
namespace {

TEST(SocketLibraryTest, GrantsVersion22AndCountsUsesUntilEachIsStopped) {
  ASSERT_EQ(SocketLibraryUsers(), 0);
  uint16_t first = 0;
  uint16_t second = 0;
  ASSERT_EQ(StartSocketLibrary(kSocketVersion22, &first), 0);
  ASSERT_EQ(StartSocketLibrary(SocketVersion(2, 0), &second), 0);
  EXPECT_EQ(first, 0x0202);
  EXPECT_EQ(second, kSocketVersion22);
  EXPECT_EQ(SocketLibraryUsers(), 2);
  EXPECT_EQ(StopSocketLibrary(), 0);
  EXPECT_EQ(SocketLibraryUsers(), 1);
  EXPECT_EQ(StopSocketLibrary(), 0);
  EXPECT_EQ(SocketLibraryUsers(), 0);
  EXPECT_EQ(StopSocketLibrary(), -1);  // one stop too many changes nothing
  EXPECT_EQ(SocketLibraryUsers(), 0);
}

TEST(SocketLibraryTest, HookMakesStartsFailWithoutCountingAUse) {
  SocketLibraryTestHook hook(ENETDOWN, 0);
  uint16_t granted = 0x1234;
  EXPECT_EQ(StartSocketLibrary(kSocketVersion22, &granted), ENETDOWN);
  EXPECT_EQ(granted, 0x1234);
  EXPECT_EQ(SocketLibraryUsers(), 0);
  EXPECT_EQ(hook.starts(), 1);
}

TEST(SocketLibraryTest, HookGrantsAnotherVersionUntilItIsGone) {
  {
    SocketLibraryTestHook hook(0, SocketVersion(2, 1));
    uint16_t granted = 0;
    ASSERT_EQ(StartSocketLibrary(kSocketVersion22, &granted), 0);
    EXPECT_EQ(SocketVersionMajor(granted), 2);
    EXPECT_EQ(SocketVersionMinor(granted), 1);
    EXPECT_EQ(StopSocketLibrary(), 0);
  }
  uint16_t granted = 0;
  ASSERT_EQ(StartSocketLibrary(kSocketVersion22, &granted), 0);
  EXPECT_EQ(granted, kSocketVersion22);
  EXPECT_EQ(StopSocketLibrary(), 0);
}

}  // namespace
}  // namespace vqscw
