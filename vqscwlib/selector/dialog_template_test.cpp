#include "vqscwlib/selector/dialog_template.h"

#include <gtest/gtest.h>

namespace vqscw {
namespace {

TEST(DialogUnitsTest, BaseUnitsComeFromTheAlphabetWidthAndTheHeight) {
  // A font whose 52 letters are 312 pixels wide averages 6 pixels a character.
  EXPECT_EQ(BaseUnitsOfFont(312, 13).x, 6);
  EXPECT_EQ(BaseUnitsOfFont(312, 13).y, 13);
  // 340 / 26 = 13, halved and rounded up: 7.
  EXPECT_EQ(BaseUnitsOfFont(340, 15).x, 7);
}

TEST(DialogUnitsTest, ConversionRoundsToTheNearestPixel) {
  const DialogBaseUnits base{6, 13};
  EXPECT_EQ(DialogUnitsToPixelsX(kDialogWidthDu, base), 450);
  EXPECT_EQ(DialogUnitsToPixelsY(kDialogHeightDu, base), 388);  // 388.375
  EXPECT_EQ(DialogUnitsToPixelsX(5, base), 8);                  // 7.5 rounds up
  EXPECT_EQ(DialogUnitsToPixelsY(5, base), 8);                  // 8.125
  EXPECT_EQ(DialogUnitsToPixelsY(-5, base), -8);
}

TEST(DialogTemplateTest, ControlsHaveTheirPlacesInPixels) {
  const DialogBaseUnits base{6, 13};
  const ControlTemplate* list = FindControl(kIdList);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(ControlRect(*list, base), (PixelRect{8, 73, 435, 236}));
  const ControlTemplate* take = FindControl(kIdTake);
  ASSERT_NE(take, nullptr);
  EXPECT_STREQ(take->text, "&Take");
  EXPECT_EQ(ControlRect(*take, base), (PixelRect{377, 345, 66, 23}));
  EXPECT_EQ(FindControl(4242), nullptr);
}

}  // namespace
}  // namespace vqscw
