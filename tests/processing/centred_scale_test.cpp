// Centred crops by aspect ratio and the scale by a percentage, worked out
// and then run by the real ImageMagick on small generated pictures.
#include "operations/operation.h"
#include "platform/failure.h"
#include "processing/apply_operation.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/output_plan.h"
#include "settings/settings.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <limits>

namespace varnholt {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

QRect CentredRect(qint64 width, qint64 height, std::int32_t a, std::int32_t b) {
  const Operation op =
      CentredCorners({.Extract = true, .AspectWidth = a, .AspectHeight = b}, width, height);
  return QRect(QPoint(op.TopLeftX, op.TopLeftY), QPoint(op.BottomRightX, op.BottomRightY));
}

// Landscape, portrait and square pictures of odd sizes; rows that differ
// from a neighbour in one axis only.
TEST(CentredCrop, TheLargestRectangleOfTheRatioInTheMiddle) {
  const struct {
    qint64 width, height;
    std::int32_t a, b;
    QRect rect;
  } rows[] = {
      {101, 61, 1, 1, {20, 0, 61, 61}},
      {103, 61, 1, 1, {21, 0, 61, 61}},
      {61, 101, 1, 1, {0, 20, 61, 61}},
      {61, 104, 1, 1, {0, 21, 61, 61}},
      {99, 99, 16, 9, {0, 21, 99, 56}},
      {99, 99, 9, 16, {21, 0, 56, 99}},
      {99, 99, 32, 18, {0, 21, 99, 56}},
      {99, 99, 1, 1, {0, 0, 99, 99}},
      {100, 75, 4, 5, {20, 0, 60, 75}},
      {75, 100, 4, 5, {0, 3, 75, 94}},
      {5, 5, 2, 1, {0, 1, 5, 3}},
      {5, 5, 1, 2, {1, 0, 3, 5}},              // 2.5 rounds up
      {7, 7, kMaxAspectTerm, 1, {0, 3, 7, 1}}, // never thinner than 1
      {7, 7, 1, kMaxAspectTerm, {3, 0, 1, 7}},
      {1, 1, 16, 9, {0, 0, 1, 1}},
      {kMax, kMax, 3, 2, {0, 357913941, kMax, 1431655765}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(CentredRect(row.width, row.height, row.a, row.b), row.rect)
        << row.width << "x" << row.height << " " << row.a << ":" << row.b;
}

TEST(ScaleByPercentage, EachSideRoundedToTheNearestPixelAndAtLeastOne) {
  const struct {
    std::int32_t percent;
    qint64 width, height;
    QSize size;
  } rows[] = {
      {50, 3, 5, {2, 3}},          {50, 5, 3, {3, 2}},
      {1, 50, 30, {1, 1}},         {1, 49, 151, {1, 2}},
      {200, 7, 3, {14, 6}},        {33, 100, 10, {33, 3}},
      {100, 641, 479, {641, 479}}, {kMax, 1, 1, {kMax / 100, kMax / 100}},
  };
  for (const auto &row : rows)
    EXPECT_EQ(ScaledSize(row.percent, row.width, row.height), row.size)
        << row.percent << "% of " << row.width << "x" << row.height;
  for (const QSize from : {QSize(101, 1), QSize(1, 101)})
    EXPECT_THROW(ScaledSize(kMax, from.width(), from.height()), Failure);
  const Operation scale{.Resize = true, .ResizeMethod = kScale, .ResizeWidth = 50};
  EXPECT_EQ(ResizeGeometry(scale, true, {641, 479}), "321x240!");
  // A JPEG that a scale shrinks may be decoded small, to the same size.
  EXPECT_EQ(ShrinkOnLoadSize(scale, 641, 479).value_or(ShrinkOnLoad{}).result, QSize(321, 240));
  EXPECT_FALSE(
      ShrinkOnLoadSize({.Resize = true, .ResizeMethod = kScale, .ResizeWidth = 100}, 641, 479));
}

class CentredAndScaledPairs : public ::testing::Test {
protected:
  QString apply(const QString &name, const Operation &op) {
    ApplyEnvironment env{settings, folder.path(), magick, prompter};
    return ApplyOperation(folder.file(name), op, env, state);
  }
  // The result as stored, whatever orientation it claims.
  QImage result(const QString &name) {
    QImageReader reader(folder.file(name));
    reader.setAutoTransform(false);
    return reader.read();
  }

  test::TempFolder folder;
  Settings settings;
  MagickToolkit magick;
  test::ScriptedPrompter prompter;
  RunState state;
};

bool Near(QRgb pixel, QColor colour) {
  return std::abs(qRed(pixel) - colour.red()) < 60 &&
         std::abs(qGreen(pixel) - colour.green()) < 60 &&
         std::abs(qBlue(pixel) - colour.blue()) < 60;
}

// The pattern's quarters are red, green, blue and yellow: a centred square
// keeps the middle, so its corners are the four colours.
TEST_F(CentredAndScaledPairs, ACentredCropOfEachShapeAndOfAPictureTurnedUpright) {
  const struct {
    const char *name;
    int width, height, orientation;
    std::int32_t a, b;
    QSize size;
  } rows[] = {
      {"land.png", 41, 21, 0, 1, 1, {21, 21}},
      {"port.png", 21, 41, 0, 1, 1, {21, 21}},
      {"sq.png", 33, 33, 0, 16, 9, {33, 19}},
      {"wide.png", 45, 31, 0, 4, 5, {25, 31}},
      // Stored 40x30, seen 30x40: the square is taken of the upright picture.
      {"turned.jpg", 40, 30, 6, 1, 1, {30, 30}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    if (row.orientation)
      test::MakeOrientedJpeg(folder.file(row.name), row.width, row.height, row.orientation);
    else
      test::MakeImage(folder.file(row.name), row.width, row.height);
    const Operation op{.Extract = true,
                       .OutputFormat = "PNG",
                       .Prefix = "c_",
                       .AspectWidth = row.a,
                       .AspectHeight = row.b};
    ASSERT_EQ(apply(row.name, op).toStdString(), "");
    const QImage crop = result(ResultName(row.name, op));
    ASSERT_EQ(crop.size(), row.size);
    const int r = crop.width() - 1, b = crop.height() - 1;
    // Turned clockwise to be upright, the stored left side is the top.
    const bool turned = row.orientation == 6;
    EXPECT_TRUE(Near(crop.pixel(1, 1), turned ? QColor(Qt::blue) : QColor(Qt::red)));
    EXPECT_TRUE(Near(crop.pixel(r - 1, 1), turned ? QColor(Qt::red) : QColor(Qt::green)));
    EXPECT_TRUE(Near(crop.pixel(1, b - 1), turned ? QColor(Qt::yellow) : QColor(Qt::blue)));
    EXPECT_TRUE(Near(crop.pixel(r - 1, b - 1), turned ? QColor(Qt::green) : QColor(Qt::yellow)));
  }
}

// A scale enlarges as asked, "Never Enlarge Images" or not; a side that
// would round to nothing keeps a pixel; a result past the limits fails
// before anything is decoded, and writes nothing.
TEST_F(CentredAndScaledPairs, AScaleGivesItsSizeWithinTheLimits) {
  test::MakeImage(folder.file("a.png"), 30, 20);
  settings.NeverEnlarge = true;
  const struct {
    std::int32_t percent;
    bool centred;
    QSize size;
  } rows[] = {{50, false, {15, 10}}, {150, false, {45, 30}}, {1, false, {1, 1}},
              {10, false, {3, 2}},   {50, true, {10, 10}},   {250, true, {50, 50}}};
  for (const auto &row : rows) {
    Operation op{.Extract = row.centred,
                 .Resize = true,
                 .ResizeMethod = kScale,
                 .ResizeWidth = row.percent,
                 .ResizeHeight = row.percent,
                 .Prefix = "s_",
                 .AspectWidth = row.centred ? 1 : 0,
                 .AspectHeight = row.centred ? 1 : 0};
    EXPECT_EQ(apply("a.png", op).toStdString(), "") << row.percent;
    EXPECT_EQ(test::ImageSize(folder.file("s_a.png")), row.size) << row.percent;
  }
  // A JPEG decoded small comes out at the size of the whole decode's scale.
  test::MakeImage(folder.file("p.jpg"), 401, 301);
  const Operation third{.Resize = true,
                        .ResizeMethod = kScale,
                        .ResizeWidth = 33,
                        .ResizeHeight = 33,
                        .Prefix = "s_"};
  EXPECT_EQ(apply("p.jpg", third).toStdString(), "");
  EXPECT_EQ(test::ImageSize(folder.file("s_p.jpg")), QSize(132, 99));
  QFile::remove(folder.file("s_a.png"));
  const Operation huge{.Resize = true,
                       .ResizeMethod = kScale,
                       .ResizeWidth = kMax,
                       .ResizeHeight = kMax,
                       .Prefix = "h_"};
  const QString text = apply("a.png", huge);
  EXPECT_TRUE(text.contains("Image too large: ")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("Operation: Resizing (No AA): -quality, 75, -geometry, "
                            "644245094x429496729!, " +
                            folder.file("h_a.png")))
      << text.toStdString();
  EXPECT_FALSE(QFile::exists(folder.file("h_a.png")));
}

} // namespace
} // namespace varnholt
