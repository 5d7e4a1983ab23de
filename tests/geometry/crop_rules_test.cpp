#include "geometry/crop_rules.h"

#include "platform/failure.h"
#include "platform/image_toolkit.h"

#include <gtest/gtest.h>

#include <limits>

namespace varnholt {
namespace {

TEST(CropRules, PixelUnderTheMouseRoundsHalvesToEven) {
  const std::pair<double, std::int32_t> rows[] = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {3.49, 3},
      {-0.5, 0},
      {-1.5, -2},
      {-2.6, -3},
      {1e12, std::numeric_limits<std::int32_t>::max()},
      {-1e12, std::numeric_limits<std::int32_t>::min()}};
  for (const auto &[position, pixel] : rows)
    EXPECT_EQ(PixelAt(position), pixel) << position;
}

TEST(CropRules, ACornerStaysInsideThePictureAndNeverPassesTheOther) {
  struct Row {
    std::int32_t pixel;
    float other; // the other corner on this axis
    float topLeft, bottomRight;
  };
  // A 640-pixel axis.
  const Row rows[] = {
      {10, 100, 10, 100},   {-5, 100, 0, 100},  {700, 600, 600, 639}, {639, 639, 639, 639},
      {150, 100, 100, 150}, {50, 100, 50, 100}, {-5, 0, 0, 0},        {700, 20, 20, 639},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(PlaceTopLeft(r.pixel, 640, r.other), r.topLeft) << r.pixel << " " << r.other;
    EXPECT_EQ(PlaceBottomRight(r.pixel, 640, r.other), r.bottomRight) << r.pixel << " " << r.other;
  }
}

TEST(CropRules, ActivationResetsOrClampsCornersOutsideThePicture) {
  const QString head = "Selected operation has coorodinates outside this image's boundrys:\r\n\r\n";
  struct Row {
    CropCorners given;
    bool allow;
    CropCorners after;
    QString message;
  };
  const Row rows[] = {
      {{10, 20, 100, 80}, false, {10, 20, 100, 80}, ""},
      {{0, 0, 639, 479}, false, {0, 0, 639, 479}, ""},
      {{10, 20, 100, 480}, true, {10, 20, 639, 479}, ""},
      {{10, 20, 640, 100}, true, {10, 20, 639, 479}, ""},
      {{10, 480, 20, 490},
       true,
       {},
       head + "Top Left Y Coordiate (480) is greater than image height of 480\r\n"
              "Bottom Right Y Coordiate (490) is greater than image height of 480\r\n"},
      {{640, 20, 700, 100},
       true,
       {},
       head + "Top Left X Coordiate (640) is greater than image width of 640\r\n"
              "Bottom Right X Coordiate (700) is greater than image width of 640\r\n"},
      {{1e6f, 480.5f, 640, 480},
       false,
       {},
       head + "Top Left X Coordiate (1000000) is greater than image width of 640\r\n"
              "Top Left Y Coordiate (480.5) is greater than image height of 480\r\n"
              "Bottom Right X Coordiate (640) is greater than image width of 640\r\n"
              "Bottom Right Y Coordiate (480) is greater than image height of 480\r\n"},
  };
  for (const Row &r : rows) {
    CropCorners corners = r.given;
    EXPECT_EQ(CheckCornersAgainstImage(corners, 640, 480, r.allow).toStdString(),
              r.message.toStdString());
    EXPECT_EQ(corners, r.after) << r.message.toStdString();
  }
}

// What the window tests cannot reach with whole pixels on a small picture.
TEST(CropRules, TagTextsAndScrollRangesAtTheirLimits) {
  EXPECT_EQ(CornerTagText(0.5f, 1e7f), "(0.5, 10000000)");

  EXPECT_EQ(ScrollSettingsFor(100000, 503), (ScrollSettings{true, 99497, 101, 503}));
  EXPECT_EQ(ScrollSettingsFor(500, 500), ScrollSettings{});
}

// An area of 600x400 whose bars are 16 wide and 12 high.
TEST(CropRules, ABarShowsOnlyAlongASideThePictureDoesNotFit) {
  const QSize area(600, 400), bars(16, 12);
  const struct {
    QSize picture;
    BarsShown shown;
  } rows[] = {
      {{600, 400}, {false, false}}, // fitted: it fills the area, no bar
      {{601, 300}, {true, false}},  // wider only
      {{500, 401}, {false, true}},  // taller only
      {{601, 389}, {true, true}},   // the wide one's bar leaves too little height
      {{601, 388}, {true, false}},
      {{585, 401}, {true, true}}, // the tall one's bar leaves too little width
      {{584, 401}, {false, true}},
      {{2000, 1500}, {true, true}},
  };
  for (const auto &r : rows)
    EXPECT_EQ(ScrollBarsShown(r.picture, area, bars), r.shown)
        << r.picture.width() << "x" << r.picture.height();
}

TEST(CropRules, LaunchRefusesBadSizesAndHandsOverCorners) {
  for (const char *name : {"a.bmp", "A.BMP", "x.y.Bmp", "bmp"})
    EXPECT_TRUE(IsBitmapName(name)) << name;
  for (const char *name : {"a.bmp.png", "a.bmpx", "abmp", "a.png"})
    EXPECT_FALSE(IsBitmapName(name)) << name;

  for (const char *text : {"", "640", "0x480", "640x", "x480", "abc"}) {
    try {
      ParseSizeText(text);
      ADD_FAILURE() << text;
    } catch (const Failure &failure) {
      EXPECT_EQ(failure.number(), kErrNoImageSize) << text;
    }
  }

  const std::pair<const char *, float> boxes[] = {
      {"10", 10}, {"639", 639},  {"640", 0}, {"700", 0},  {"", 0},
      {"abc", 0}, {"12abc", 12}, {"-5", 0},  {"1e30", 0}, {"99999999999999999999", 0}};
  for (const auto &[box, value] : boxes)
    EXPECT_EQ(CornerForTool(box, 640), value) << box;
}

// The fitted view asks the JPEG decoder for its own size, as the picture is
// stored: on its side (orientations 5 to 8) width and height swap.
TEST(CropRules, TheFittedViewIsDecodedAtItsOwnSize) {
  EXPECT_EQ(FittedSize({6000, 4000}, {1400, 800}), QSize(1200, 800));
  EXPECT_EQ(FittedSize({6000, 4000}, {1500, 1400}), QSize(1500, 1000));
  EXPECT_EQ(FittedSize({300, 200}, {1400, 800}), QSize(300, 200)) << "never enlarged";
  EXPECT_EQ(FittedSize({90000, 10}, {900, 800}), QSize(900, 1));
  EXPECT_EQ(CropViewArgs("a.jpg", "v.bmp", 1, {1200, 800}),
            QStringList({"-define", "jpeg:size=1200x800", "-format", "bmp", "-resize", "1200x800",
                         "a.jpg", "v.bmp"}));
  EXPECT_EQ(CropViewArgs("a.jpg", "v.bmp", 6, {800, 1200}),
            QStringList({"-define", "jpeg:size=1200x800", "-format", "bmp", "-orient", "RightTop",
                         "-auto-orient", "-orient", "TopLeft", "+repage", "-resize", "800x1200",
                         "a.jpg", "v.bmp"}));
  // The turn is named, for a reader that does not set it (WebP's); each of
  // the eight by its name, none for an upright picture.
  const char *names[] = {"TopRight", "BottomRight", "BottomLeft", "LeftTop",
                         "RightTop", "RightBottom", "LeftBottom"};
  for (int orientation = 2; orientation <= 8; ++orientation)
    EXPECT_EQ(CropViewArgs("a.jpg", "v.bmp", orientation),
              QStringList({"-format", "bmp", "-orient", names[orientation - 2], "-auto-orient",
                           "-orient", "TopLeft", "+repage", "a.jpg", "v.bmp"}));
  EXPECT_EQ(UprightOperators(0), QStringList());
  EXPECT_EQ(UprightOperators(1), QStringList());
  EXPECT_EQ(UprightOperators(9), QStringList());
}

} // namespace
} // namespace varnholt
