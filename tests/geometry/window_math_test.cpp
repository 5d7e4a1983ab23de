#include "geometry/window_math.h"
#include "geometry/window_place.h"

#include <QDir>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

TEST(WindowMath, TwipsFollowTheLogicalDpi) {
  EXPECT_DOUBLE_EQ(TwipsPerPixel(96), 15);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(144), 10);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(0), 15); // a screen that reports nothing
  EXPECT_EQ(TwipsToPixels(7605, 15), 507);
  EXPECT_EQ(TwipsToPixels(7605, 12), 634); // 633.75
}

TEST(WindowMath, ControlsThatTouchInTwipsTouchInPixels) {
  // cmdSelectAll ends where cmdDeselectAll starts (less a 30-twip gap) at any DPI.
  for (double tpp : {15.0, 12.0, 10.0, 14.4, 7.5}) {
    const QRect all = TwipsRectToPixels(QRect(90, 3195, 1275, 285), tpp, tpp);
    const QRect none = TwipsRectToPixels(QRect(1365, 3195, 1230, 285), tpp, tpp);
    EXPECT_EQ(all.right() + 1, none.left()) << tpp;
    EXPECT_EQ(all.top(), none.top()) << tpp;
  }
  EXPECT_EQ(TwipsRectToPixels(QRect(720, 90, 1545, 285), 15, 15), QRect(48, 6, 103, 19));
}

TEST(WindowMath, PreviewGeometryIsWrittenInShortestForm) {
  const struct {
    double tppX, tppY;
    const char *geometry;
    const char *hint;
  } rows[] = {
      {15, 15, "139x115", "jpeg:size=278x230"},
      {10, 10, "208.5x172.5", "jpeg:size=418x346"},
      {12, 12, "173.75x143.75", "jpeg:size=348x288"},
      {14.4, 14.4, "144.79167x119.791664", "jpeg:size=290x240"},
      {15, 7.5, "139x230", "jpeg:size=278x460"},
  };
  for (const auto &row : rows) {
    const PreviewBox box = PreviewBoxFromTwips(2085, 1725, row.tppX, row.tppY);
    EXPECT_EQ(PreviewGeometryText(box).toStdString(), row.geometry);
    const QStringList args = PreviewConvertArgs("/in/a.jpg", "/work/p.png", box);
    EXPECT_EQ(args.join(' ').toStdString(), std::string("-define ") + row.hint +
                                                " -format png -geometry " + row.geometry +
                                                " /in/a.jpg /work/p.png");
  }
  // A picture stored on its side is decoded for the box turned with it.
  const PreviewBox box = PreviewBoxFromTwips(2085, 1725, 15, 15);
  EXPECT_EQ(PreviewConvertArgs("/in/a.jpg", "/work/p.png", box, 6)[1], "jpeg:size=230x278");
  EXPECT_EQ(PreviewConvertArgs("/in/a.jpg", "/work/p.png", box, 3)[1], "jpeg:size=278x230");
  // Turned before it is fitted.
  EXPECT_EQ(PreviewConvertArgs("/in/a.jpg", "/work/p.png", box, 8).mid(2).join(' '),
            "-format png -orient LeftBottom -auto-orient -orient TopLeft +repage -geometry " +
                PreviewGeometryText(box) + " /in/a.jpg /work/p.png");
}

TEST(WindowMath, PicturesAreCentredInTheirFrame) {
  EXPECT_EQ(CentredOrigin(QSize(151, 127), QSize(139, 104)), QPoint(6, 12)); // 11.5 rounds up
  EXPECT_EQ(CentredOrigin(QSize(151, 127), QSize(151, 127)), QPoint(0, 0));
  EXPECT_EQ(CentredOrigin(QSize(151, 127), QSize(1, 1)), QPoint(75, 63));
  EXPECT_EQ(CentredOrigin(QSize(100, 100), QSize(0, 0)), QPoint(50, 50));
}

TEST(WindowMath, HorizontalExtentComesBackInPixels) {
  EXPECT_EQ(HorizontalExtentPixels(0, 15), 0);
  EXPECT_EQ(HorizontalExtentPixels(1500.4, 15), 100);
  EXPECT_EQ(HorizontalExtentPixels(1507.6, 15), 101); // 1508 twips
}

TEST(WindowMath, DoubleClickOpensOnePathWithSingleSeparators) {
  const QString s = QDir::separator();
  EXPECT_EQ(OpenImagePath(s + "pics", "a.png"), s + "pics" + s + "a.png");
  EXPECT_EQ(OpenImagePath(s + "x" + s + s + "pics", "a.png"), s + "x" + s + "pics" + s + "a.png");
  // Legal in a name here, so it stays: removing it would open another file.
  EXPECT_EQ(OpenImagePath(s + "pics", "a<1>.png"), s + "pics" + s + "a<1>.png");
}

TEST(WindowPlace, TextRoundTripsAndAnythingElseIsNoPlace) {
  for (const WindowPlace &place :
       {WindowPlace{QRect(120, 80, 900, 700)}, WindowPlace{QRect(-1500, -20, 507, 429), true}})
    EXPECT_EQ(ParseWindowPlace(WindowPlaceText(place)), place);
  EXPECT_EQ(WindowPlaceText({QRect(1, 2, 3, 4), true}), "1,2,3,4,max");
  for (const char *bad :
       {"", "1,2,3", "1,2,0,4", "1,2,3,-4", "a,2,3,4", "1,2,3,4,min", "1,2,3,4,5,6"})
    EXPECT_FALSE(ParseWindowPlace(bad)) << bad;
}

// Two screens side by side, the right one lower, each with a panel along its top.
TEST(WindowPlace, AWindowIsRestoredOnlyWhereAScreenShowsItsTopAndMostOfIt) {
  const QList<QRect> screens{QRect(0, 30, 1600, 970), QRect(1600, 230, 1280, 794)};
  const struct {
    QRect window;
    bool shown;
  } rows[] = {
      {QRect(100, 100, 800, 600), true},
      {QRect(1300, 300, 800, 600), true},   // across both, its grip on the right one
      {QRect(1200, 100, 1400, 600), false}, // grip above the right screen
      {QRect(100, 10, 800, 600), false},    // grip under the left panel
      {QRect(1200, 500, 600, 400), true},   // two thirds on the left screen
      {QRect(1000, 500, 1200, 400), true},  // grip and exactly half on the right one
      {QRect(-700, 100, 800, 600), false},  // mostly left of every screen
      {QRect(1700, 100, 400, 300), false},  // above the right screen's top
      {QRect(5000, 5000, 400, 300), false},
  };
  for (const auto &r : rows)
    EXPECT_EQ(ShownOnAScreen(r.window, screens), r.shown) << r.window.x() << "," << r.window.y();
  EXPECT_EQ(CentredIn(QRect(0, 30, 1600, 970), QSize(507, 429)), QRect(546, 300, 507, 429));
  EXPECT_EQ(CentredIn(QRect(0, 30, 1600, 970), QSize(2000, 500)), QRect(0, 265, 1600, 500));
}

// The frame takes two thirds of each side of the usable area; each side
// stops at the first size on its own.
TEST(WindowPlace, TheFirstStartTakesTwoThirdsOfEachSideNeverLessThanTheFirstSize) {
  const QSize first(507, 429), frame(2, 26);
  const struct {
    QSize available, inside;
  } rows[] = {
      {{1600, 1000}, {1064, 640}},  {{1280, 800}, {851, 507}},
      {{3840, 2130}, {2558, 1394}}, {{600, 1000}, {507, 640}}, // too narrow: the first width
      {{1600, 600}, {1064, 429}},                              // too low: the first height
      {{400, 300}, {507, 429}}, // smaller than the first size: that size
  };
  for (const auto &r : rows)
    EXPECT_EQ(FirstStartSize(r.available, first, frame), r.inside)
        << r.available.width() << "x" << r.available.height();
}

} // namespace
} // namespace varnholt
