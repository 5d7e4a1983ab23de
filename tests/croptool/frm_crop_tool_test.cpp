#include "croptool/crop_picture.h"
#include "croptool/frm_crop_tool.h"

#include "mainwindow/editor_fixture.h"
#include "platform/failure.h"

#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <functional>

namespace varnholt::test {
namespace {

const QString kTooSmallHead =
    QStringLiteral("Selected operation has coorodinates outside this image's boundrys:\r\n\r\n");

CropCorners CornersOf(const frmCropTool &tool) {
  return {tool.CropTopLeftX(), tool.CropTopLeftY(), tool.CropBottomRightX(),
          tool.CropBottomRightY()};
}

// The tool on its own, shown (not modally) on a generated picture.
class CropTool : public ::testing::Test {
protected:
  void Open(int width, int height, CropCorners corners = {0, 0, 0, 0}) {
    tool.SetPicture(TestPattern(width, height));
    Corners(corners);
    tool.show();
  }
  void Corners(const CropCorners &c) {
    tool.SetCropTopLeftX(c.TopLeftX);
    tool.SetCropTopLeftY(c.TopLeftY);
    tool.SetCropBottomRightX(c.BottomRightX);
    tool.SetCropBottomRightY(c.BottomRightY);
  }
  CropCorners Now() const { return CornersOf(tool); }
  QWidget *Picture() const { return tool.PictureArea(); }
  QString Text(const char *label) const { return Control<QLabel>(tool, label)->text(); }
  QRect Tag(const char *label) const { return Control<QLabel>(tool, label)->geometry(); }
  // A move with exactly these buttons held.
  void Move(QPoint at, Qt::MouseButtons held) {
    QMouseEvent move(QEvent::MouseMove, at, Picture()->mapToGlobal(at), Qt::NoButton, held,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(Picture(), &move);
  }
  void Click(Qt::MouseButton button, QPoint at) { QTest::mouseClick(Picture(), button, {}, at); }

  Settings settings;
  ScriptedPrompter prompter;
  frmCropTool tool{settings, prompter};
};

TEST_F(CropTool, StartsCentredWithItsCaptionsAndTheCrawlRunning) {
  EXPECT_EQ(tool.windowTitle(), "Form1");
  EXPECT_EQ(Now(), CropCorners{});
  EXPECT_EQ(tool.PulseOffset(), 0);
  EXPECT_EQ(tool.findChild<QTimer *>("tmrPulsate")->interval(), 150);
  EXPECT_TRUE(tool.findChild<QTimer *>("tmrPulsate")->isActive());
  const std::pair<const char *, const char *> captions[] = {
      {"Label1", "Top-Left Coord (Left Click)"},
      {"Label2", "Bottom-Right Coord (Right Click)"},
      {"lblImageSizeL", "Image Size:"},
      {"lblExtractSizeL", "Extraction Size:"}};
  for (const auto &[name, caption] : captions)
    EXPECT_EQ(Text(name), caption);
  EXPECT_EQ(ClippedCaptions(&tool), QStringList());
  for (const auto &[name, caption] : {std::pair{"cmdOK", "&OK"}, {"cmdCancel", "C&ancel"}}) {
    const auto *button = Control<QPushButton>(tool, name);
    EXPECT_EQ(button->text(), caption);
    EXPECT_FALSE(button->isDefault() || button->autoDefault()) << name;
  }
  EXPECT_EQ(Picture()->cursor().shape(), Qt::CrossCursor);
  const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
  EXPECT_LE((tool.geometry().center() - screenCentre).manhattanLength(), 2);
}

TEST_F(CropTool, ClicksSetOneCornerEach) {
  Open(200, 150, {40, 30, 100, 80});
  Click(Qt::LeftButton, {10, 20});
  EXPECT_EQ(Now(), (CropCorners{10, 20, 100, 80}));
  EXPECT_EQ(Text("lblTopLeftCoords"), "(10, 20)");
  EXPECT_EQ(Text("lblExtractSize"), "91x61");
  Click(Qt::RightButton, {60, 5});
  EXPECT_EQ(Now(), (CropCorners{10, 20, 60, 20})) << "stops on the other corner";
  EXPECT_EQ(Text("lblBottomRightCoords"), "(60, 20)");
  EXPECT_EQ(Text("lblExtractSize"), "51x1");
  EXPECT_EQ(Text("lblImageSize"), "200x150");
}

TEST_F(CropTool, DragsStopAtTheEdgesAndOnlyOneButtonCounts) {
  Open(200, 150, {20, 20, 120, 100});
  QTest::mousePress(Picture(), Qt::LeftButton, {}, {30, 30});
  Move({60, 900}, Qt::LeftButton);
  EXPECT_EQ(Now(), (CropCorners{60, 100, 120, 100})) << "stops on the other corner";
  QTest::mouseRelease(Picture(), Qt::LeftButton, {}, {60, 100});

  QTest::mousePress(Picture(), Qt::RightButton, {}, {150, 120});
  Move({900, 900}, Qt::RightButton);
  EXPECT_EQ(Now(), (CropCorners{60, 100, 199, 149}));
  EXPECT_EQ(tool.GuideLine(frmCropTool::Guide::BottomRightX).x1(), 199) << "line at the edge";
  EXPECT_EQ(tool.GuideLine(frmCropTool::Guide::BottomRightY).y1(), 149);
  QTest::mouseRelease(Picture(), Qt::RightButton, {}, {0, 0});

  const CropCorners before = Now();
  for (const Qt::MouseButtons held :
       {Qt::MouseButtons(Qt::NoButton), Qt::MouseButtons(Qt::MiddleButton),
        Qt::MouseButtons(Qt::LeftButton | Qt::RightButton)}) {
    Move({10, 10}, held);
    EXPECT_EQ(Now(), before) << int(held);
  }
  QTest::mouseClick(Picture(), Qt::MiddleButton, {}, {10, 10});
  EXPECT_EQ(Now(), before);
}

// Outside the picture, corners are reset (after a message) or, when allowed,
// clamped; corners given out of order stay so until the user clicks.
TEST_F(CropTool, ActivationChecksTheCornersAgainstThePicture) {
  prompter.expect("Image too small",
                  kTooSmallHead +
                      "Bottom Right X Coordiate (700) is greater than image width of 640\r\n",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  const struct {
    bool allow;
    CropCorners given, after;
    const char *bottomRightTag, *size;
  } rows[] = {
      {false, {10, 20, 700, 100}, {}, "(0, 0)", "1x1"},
      {true, {10, 20, 700, 100}, {10, 20, 639, 479}, "(639, 479)", "630x460"},
      {true, {300, 200, 100, 50}, {300, 200, 100, 50}, "(100, 50)", "-199x-149"},
  };
  tool.SetPicture(TestPattern(640, 480));
  for (const auto &r : rows) {
    settings.AllowOutOfBoundry = r.allow;
    Corners(r.given);
    tool.show();
    EXPECT_EQ(Now(), r.after) << r.size;
    EXPECT_EQ(Text("lblBottomRightCoords"), r.bottomRightTag);
    EXPECT_EQ(Text("lblExtractSize"), r.size);
    EXPECT_TRUE(tool.GuideVisible());
    tool.hide();
  }
}

TEST_F(CropTool, TagsStayOnThePictureNearItsEdges) {
  Open(300, 200);
  const int gapX = TwipsToPixels(100, 1440.0 / Picture()->logicalDpiX());
  struct Row {
    CropCorners corners;
    bool topLeftBefore[2];     // x, y: the tag sits before the line
    bool bottomRightBefore[2]; // x, y
  };
  const Row rows[] = {
      {{150, 100, 160, 110}, {true, true}, {false, false}},
      {{2, 3, 160, 110}, {false, false}, {false, false}},
      {{150, 100, 299, 199}, {true, true}, {true, true}},
      {{150, 3, 299, 110}, {true, false}, {true, false}},
  };
  for (const Row &r : rows) {
    Corners(r.corners);
    tool.Form_Activate();
    const QRect tl = Tag("lblTopLeftCoords"), br = Tag("lblBottomRightCoords");
    const auto expectSide = [&](const QRect &tag, int line, bool before, bool x) {
      const int near = before ? (x ? tag.right() : tag.bottom()) + 1 : (x ? tag.left() : tag.top());
      EXPECT_NEAR(std::abs(near - line), gapX, 1) << "(" << line << ") " << x;
      EXPECT_EQ(near < line, before) << line << " " << x;
      EXPECT_TRUE(QRect(QPoint(0, 0), Picture()->size()).contains(tag)) << line;
    };
    expectSide(tl, int(r.corners.TopLeftX), r.topLeftBefore[0], true);
    expectSide(tl, int(r.corners.TopLeftY), r.topLeftBefore[1], false);
    expectSide(br, int(r.corners.BottomRightX), r.bottomRightBefore[0], true);
    expectSide(br, int(r.corners.BottomRightY), r.bottomRightBefore[1], false);
  }
}

// Fitted, a picture needs no scroll bar and the view takes their room; at
// 100 % a bar shows only along a side that does not fit.
TEST_F(CropTool, AScrollBarShowsOnlyWhereThePictureAtItsZoomDoesNotFit) {
  tool.resize(760, 560);
  QWidget *view = Control<QWidget>(tool, "picOuter");
  QScrollBar *h = Control<QScrollBar>(tool, "HBar"), *v = Control<QScrollBar>(tool, "VBar");
  const struct {
    QSize picture;
    bool actualSize, horizontal, vertical;
  } rows[] = {
      {{1200, 800}, false, false, false}, {{1200, 800}, true, true, true},
      {{2000, 60}, true, true, false},    {{60, 2000}, true, false, true},
      {{300, 200}, true, false, false},
  };
  for (const auto &r : rows) {
    tool.hide();
    Open(r.picture.width(), r.picture.height());
    if (r.actualSize) tool.SetZoom(1, {0, 0});
    const std::string what = std::to_string(r.picture.width()) + "x" +
                             std::to_string(r.picture.height()) +
                             (r.actualSize ? " at 100 %" : " fitted");
    EXPECT_EQ(h->isVisible(), r.horizontal) << what;
    EXPECT_EQ(v->isVisible(), r.vertical) << what;
    EXPECT_EQ(view->geometry().right() + 1, tool.width() - (r.vertical ? v->width() : 0)) << what;
    EXPECT_EQ(view->geometry().bottom() + 1, tool.height() - (r.horizontal ? h->height() : 0))
        << what;
    if (r.horizontal) EXPECT_EQ(h->geometry().top(), view->geometry().bottom() + 1) << what;
    if (r.vertical) EXPECT_EQ(v->geometry().left(), view->geometry().right() + 1) << what;
    EXPECT_LE(Picture()->width(), r.horizontal ? 1 << 30 : view->width()) << what;
    EXPECT_LE(Picture()->height(), r.vertical ? 1 << 30 : view->height()) << what;
  }
}

TEST_F(CropTool, ScrollBarsFollowThePictureAndTheWindowKeepsItsMinimum) {
  Open(2000, 60, {0, 0, 1999, 59});
  tool.SetZoom(1, {0, 0});
  const int shown = Control<QWidget>(tool, "picOuter")->width();
  QScrollBar *h = Control<QScrollBar>(tool, "HBar"), *v = Control<QScrollBar>(tool, "VBar");
  EXPECT_EQ((ScrollSettings{h->isEnabled(), h->maximum(), h->pageStep(), h->singleStep()}),
            (ScrollSettings{true, 2000 - shown, qRound(shown / 5.0), shown}));
  EXPECT_EQ(h->minimum(), 0);
  EXPECT_FALSE(v->isEnabled());

  h->setValue(200);
  EXPECT_EQ(Picture()->x(), -200);
  Click(Qt::LeftButton, {300, 10});
  EXPECT_EQ(tool.CropTopLeftX(), 300) << "the pixel under the mouse, scrolled or not";

  // A larger window shows it all: nothing is left scrolled out of reach.
  tool.resize(2200, tool.height());
  EXPECT_FALSE(h->isEnabled());
  EXPECT_EQ(Picture()->x(), 0);

  tool.resize(10, 10);
  EXPECT_EQ(tool.size(), tool.minimumSize());
  EXPECT_EQ(tool.minimumSize(),
            TwipsRectToPixels(QRect(0, 0, 6825, 1965), 1440.0 / tool.logicalDpiX(),
                              1440.0 / tool.logicalDpiY())
                .size());

  // A new picture is refreshed and looked at from its corner.
  tool.resize(600, 400);
  h->setValue(500);
  tool.hide();
  Corners({0, 0, 39, 29});
  tool.SetPicture(TestPattern(40, 30));
  tool.show();
  EXPECT_FALSE(h->isEnabled());
  EXPECT_FALSE(v->isEnabled());
  EXPECT_EQ(Picture()->pos(), QPoint(0, 0));
  EXPECT_EQ(tool.size(), QSize(600, 400)) << "the window keeps its size";
}

// A large picture opens whole; Ctrl+wheel and the keys zoom about the mouse,
// keeping the pixel under it; "1" is 100 %, "0" the whole picture again. A
// small picture is never enlarged.
TEST_F(CropTool, OpensFittedAndZoomsAboutThePointer) {
  Open(1600, 1200, {0, 0, 1599, 1199});
  QWidget *view = Control<QWidget>(tool, "picOuter");
  const double fit = tool.Zoom();
  EXPECT_LT(fit, 1);
  EXPECT_DOUBLE_EQ(fit, std::min(view->width() / 1600.0, view->height() / 1200.0));
  EXPECT_TRUE(view->rect().contains(Picture()->geometry())) << "all of it in view";
  const QPointF at(view->width() / 3, view->height() / 4);
  const QPointF pixel = (at - QPointF(Picture()->pos())) / tool.Zoom();
  const auto stillUnder = [&](const char *how) {
    EXPECT_NEAR((at.x() - Picture()->x()) / tool.Zoom(), pixel.x(), 1) << how;
    EXPECT_NEAR((at.y() - Picture()->y()) / tool.Zoom(), pixel.y(), 1) << how;
  };
  QWheelEvent wheel(at, view->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(view, &wheel);
  EXPECT_DOUBLE_EQ(tool.Zoom(), fit * 1.25 * 1.25);
  stillUnder("wheel in");
  tool.ZoomBy(4, at);
  stillUnder("further in");
  tool.ZoomBy(1 / 1.25, at);
  stillUnder("out");
  QCursor::setPos(view->mapToGlobal(at.toPoint()));
  for (const auto &[key, zoom] : {std::pair{Qt::Key_1, 1.0},
                                  {Qt::Key_0, fit},
                                  {Qt::Key_Minus, fit},
                                  {Qt::Key_Plus, fit * 1.25}}) {
    QTest::keyClick(&tool, key);
    EXPECT_DOUBLE_EQ(tool.Zoom(), zoom) << key;
  }
  tool.hide();
  Open(100, 80);
  EXPECT_EQ(tool.Zoom(), 1);
  EXPECT_EQ(Picture()->size(), QSize(100, 80));
}

// The pixel a click picks is the one under the middle of the screen pixel
// clicked: floor((x + 0.5) / zoom), at any zoom and scroll position.
TEST_F(CropTool, AClickPicksThePixelUnderItAtAnyZoom) {
  Open(1600, 1200, {0, 0, 1599, 1199});
  const struct {
    double zoom;
    QPoint scroll, click; // the click in the view
    CropCorners picked;
  } rows[] = {
      {0.25, {0, 0}, {100, 50}, {402, 202, 1599, 1199}},
      {0.25, {0, 0}, {101, 51}, {406, 206, 1599, 1199}},
      {1, {500, 300}, {33, 22}, {533, 322, 1599, 1199}},
      {3, {300, 600}, {1, 2}, {100, 200, 1599, 1199}},
      {3, {300, 600}, {3, 4}, {101, 201, 1599, 1199}},
  };
  for (const auto &r : rows) {
    tool.SetZoom(r.zoom, {0, 0});
    Control<QScrollBar>(tool, "HBar")->setValue(r.scroll.x());
    Control<QScrollBar>(tool, "VBar")->setValue(r.scroll.y());
    Click(Qt::LeftButton, r.click + r.scroll);
    EXPECT_EQ(Now(), r.picked) << r.zoom;
  }
}

// With no rectangle yet, the bottom-right corner starts on the last pixel.
TEST_F(CropTool, DefaultCornersStartAsTheWholePicture) {
  Open(200, 150);
  EXPECT_EQ(Now(), (CropCorners{0, 0, 199, 149}));
  Click(Qt::LeftButton, {10, 20});
  EXPECT_EQ(Text("lblExtractSize"), "190x130");
}

// At 300 % the lines run along the first screen column of the top-left pixel
// and the last one of the bottom-right pixel; the tags follow.
TEST_F(CropTool, GuideLinesAndTagsStayAtTheCornersWhenZoomed) {
  Open(200, 150, {20, 30, 120, 100});
  tool.SetZoom(3, {0, 0});
  const QImage shot = Picture()->grab().toImage();
  // Above the bottom-right horizontal line (at 302), which crosses every column.
  const auto columnHas = [&](int x, const QColor &colour) {
    for (int y = 0; y < 250; ++y)
      if (shot.pixelColor(x, y) == colour) return true;
    return false;
  };
  EXPECT_TRUE(columnHas(60, QColor(0, 0, 192)));
  EXPECT_TRUE(columnHas(3 * 121 - 1, QColor(255, 0, 0)));
  EXPECT_FALSE(columnHas(3 * 120, QColor(255, 0, 0)));
  const int gap = TwipsToPixels(100, 1440.0 / Picture()->logicalDpiX());
  EXPECT_NEAR(Tag("lblTopLeftCoords").right() + 1, 60 - gap, 1);
  EXPECT_NEAR(Tag("lblBottomRightCoords").left(), 3 * 121 - 1 + gap, 1);
}

TEST_F(CropTool, GuideLinesCrawl) {
  Open(200, 150, {20, 30, 120, 100});
  using Guide = frmCropTool::Guide;
  const double p = frmCropTool::kDotPeriod;
  for (const int offset : {20, 40, 0}) {
    tool.tmrPulsate_Timer();
    EXPECT_EQ(tool.PulseOffset(), offset);
    const double topLeftStart = offset * p / 60, bottomRightStart = (offset - 60) * p / 60;
    EXPECT_EQ(tool.GuideLine(Guide::TopLeftX), QLineF(20, topLeftStart, 20, 150));
    EXPECT_EQ(tool.GuideLine(Guide::TopLeftY), QLineF(topLeftStart, 30, 200, 30));
    EXPECT_EQ(tool.GuideLine(Guide::BottomRightX), QLineF(120, bottomRightStart, 120, 150));
    EXPECT_EQ(tool.GuideLine(Guide::BottomRightY), QLineF(bottomRightStart, 100, 200, 100));
    // Drawn from the edge, the dots are where a line from the start puts them.
    EXPECT_EQ(tool.GuidePen(Guide::TopLeftX).dashOffset(), std::fmod(p - topLeftStart, p));
    EXPECT_EQ(tool.GuidePen(Guide::BottomRightY).dashOffset(), std::fmod(-bottomRightStart, p));
  }
  EXPECT_EQ(tool.GuidePen(Guide::TopLeftY).style(), Qt::CustomDashLine);

  // The picture shows the lines over it, in their colours.
  const QImage shot = Picture()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(20, 1), QColor(0, 0, 192));
  EXPECT_EQ(shot.pixelColor(1, 100), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(60, 60), TestPattern(200, 150).pixelColor(60, 60));
}

// --- The launch from the main window

class CropLaunch : public EditorTest {
protected:
  void SetUp() override {
    Make({"photo.png"}, 640, 480);
    Start();
    Select("photo.png");
  }
  void Select(const QString &name) {
    List("lstImages")->setCurrentItem(Entry(name));
    Check("chkExtract")->setChecked(true);
    ASSERT_TRUE(Button("cmdUseCropTool")->isEnabled());
  }
  void Boxes(const QStringList &corners) {
    QLineEdit *boxes[] = {Box("txtTopLeftX"), Box("txtTopLeftY"), Box("txtBottomRightX"),
                          Box("txtBottomRightY")};
    for (int i = 0; i < 4; ++i)
      boxes[i]->setText(corners[i]);
    window->Editor().VerifyCoordinates(Box("txtBottomRightY"));
  }
  QStringList Rectangle() const {
    return {Box("txtTopLeftX")->text(),     Box("txtTopLeftY")->text(),
            Box("txtBottomRightX")->text(), Box("txtBottomRightY")->text(),
            Box("txtExtractWidth")->text(), Box("txtExtractHeight")->text()};
  }
  // Clicks ">" and, once the tool is up, does what a user would in it.
  void Launch(std::function<void(frmCropTool &)> act) {
    shown = false;
    poll.disconnect();
    QObject::connect(&poll, &QTimer::timeout, [this, act] {
      frmCropTool *tool = window->Editor().CropTool();
      if (!tool->isVisible()) return;
      poll.stop();
      shown = true;
      act(*tool);
    });
    poll.start(5);
    QTest::mouseClick(Button("cmdUseCropTool"), Qt::LeftButton);
    poll.stop();
  }

  QTimer poll;
  bool shown = false;
};

// Only OK writes the picked corners into the editor; Cancel and the close box
// leave it as it was. The tool gets a bitmap copied as it is and any other
// image converted by ImageMagick; corners outside the image arrive as zero.
TEST_F(CropLaunch, OnlyOkWritesThePickedCornersAndTheViewIsABitmapOfTheImage) {
  Make({"b.BMP", "c.gif"}, 64, 48);
  test::MakeOrientedJpeg(images.file("side.jpg"), 120, 80, 8);
  window->Images().RefreshFileList();
  enum Close { Cancel, CloseBox, Ok };
  const struct {
    const char *name;
    QStringList boxes;
    CropCorners arrived;
    Close close;
  } rows[] = {
      {"photo.png", {"1", "2", "30", "40"}, {1, 2, 30, 40}, Cancel},
      {"photo.png", {"1", "2", "30", "40"}, {1, 2, 30, 40}, CloseBox},
      {"photo.png", {"1", "2", "30", "40"}, {1, 2, 30, 40}, Ok},
      {"b.BMP", {"", "2", "800", "47"}, {0, 2, 0, 47}, Cancel},
      {"c.gif", {"5", "6", "10", "11"}, {5, 6, 10, 11}, Cancel},
      // Stored 120x80 on its side: corners past 80 across are outside the upright picture.
      {"side.jpg", {"1", "2", "90", "100"}, {1, 2, 0, 100}, Ok},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name + std::to_string(r.close));
    const QString file = images.file(r.name);
    Select(r.name);
    Boxes(r.boxes);
    const QStringList before = Rectangle();
    window->Operations().cmdNewList_Click(); // the editor as it stands counts as saved
    const size_t callsBefore = toolkit.calls.size();
    CropCorners arrived;
    QString caption;
    bool cancelledAtStart = true;
    QSize shownSize;
    Launch([&](frmCropTool &tool) {
      arrived = CornersOf(tool);
      shownSize = QSize(int(tool.ImageWidth()), int(tool.ImageHeight()));
      caption = tool.windowTitle();
      cancelledAtStart = tool.GetWasCancelled();
      QTest::mouseClick(tool.PictureArea(), Qt::LeftButton, {}, {10, 20});
      QTest::mouseClick(tool.PictureArea(), Qt::RightButton, {}, {109, 69});
      if (r.close == CloseBox)
        tool.close();
      else
        tool.findChild<QPushButton *>(r.close == Ok ? "cmdOK" : "cmdCancel")->click();
    });
    QCoreApplication::processEvents(); // the preview is not made again: see the calls below
    ASSERT_TRUE(shown);
    EXPECT_EQ(arrived, r.arrived);
    EXPECT_EQ(caption, file);
    EXPECT_FALSE(cancelledAtStart) << "cleared at every showing";
    EXPECT_EQ(window->Editor().CropTool()->GetWasCancelled(), r.close != Ok);
    // Upright, the portrait is 80 across: the right click stops at its last pixel.
    const QStringList picked = QString(r.name) == "side.jpg"
                                   ? QStringList({"0", "20", "79", "69", "80", "50"})
                                   : QStringList({"10", "20", "109", "69", "100", "50"});
    EXPECT_EQ(Rectangle(), r.close == Ok ? picked : before);
    EXPECT_EQ(window->Editor().Saved(), r.close != Ok);

    const bool bitmap = QString(r.name).endsWith("bmp", Qt::CaseInsensitive);
    const bool sideways = QString(r.name) == "side.jpg";
    ASSERT_EQ(toolkit.calls.size() - callsBefore, bitmap ? 2u : 3u);
    EXPECT_EQ(toolkit.calls[callsBefore + 1].args,
              QStringList({"-format", sideways ? "%hx%w" : "%wx%h", "-ping", file}));
    if (sideways)
      EXPECT_EQ(toolkit.calls.back().args.mid(0, 9),
                QStringList({"-format", "bmp", "-orient", "LeftBottom", "-auto-orient", "-orient",
                             "TopLeft", "+repage", file}));
    else if (!bitmap)
      EXPECT_EQ(toolkit.calls.back().args.mid(0, 3), QStringList({"-format", "bmp", file}));
    EXPECT_EQ(shownSize, sideways ? ImageSize(file).transposed() : ImageSize(file));
    // The picture lives in the tool's memory only: no copy of it is left.
    EXPECT_EQ(QDir(work.path()).entryList({"cropview*"}, QDir::Files | QDir::Hidden),
              QStringList());
  }
  EXPECT_TRUE(EditorAnswers());
  EXPECT_FALSE(window->Editor().CropTool()->isVisible());
}

// A picture larger than the view is decoded at the view's size, its
// coordinates those of the whole picture; zoomed to 100 % it is read whole:
// a JPEG by Qt's decoder, turned as the toolkit turns it, anything else
// through the toolkit.
TEST_F(CropLaunch, ALargePictureIsDecodedSmallUntilAZoomNeedsItWhole) {
  MakeImage(images.file("large.jpg"), 2400, 1800);
  test::MakeOrientedJpeg(images.file("large side.jpg"), 2400, 1800, 6);
  test::MakeOrientedJpeg(images.file("large turned.jpg"), 2400, 1800, 3);
  MakeImage(images.file("large.png"), 2400, 1800);
  window->Images().RefreshFileList();
  const struct {
    const char *name;
    int orientation;
    QSize upright;
    bool throughToolkit;
  } rows[] = {{"large.jpg", 0, {2400, 1800}, false},
              {"large side.jpg", 6, {1800, 2400}, false},
              {"large turned.jpg", 3, {2400, 1800}, false},
              {"large.png", 0, {2400, 1800}, true}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    const QString file = images.file(r.name);
    Select(r.name);
    Boxes({"0", "0", "0", "0"});
    const size_t callsBefore = toolkit.calls.size();
    QImage whole;
    Launch([&](frmCropTool &tool) {
      EXPECT_EQ(tool.ImageWidth(), r.upright.width());
      EXPECT_EQ(tool.CropBottomRightY(), r.upright.height() - 1) << "the whole picture";
      EXPECT_LT(tool.Zoom(), 1);
      QTest::mouseClick(tool.PictureArea(), Qt::LeftButton, {}, {100, 50});
      EXPECT_EQ(tool.CropTopLeftX(), std::floor(100.5 / tool.Zoom()));
      tool.SetZoom(1, {0, 0});
      whole = static_cast<CropPicture *>(tool.PictureArea())->picture();
      tool.cmdOK_Click();
    });
    ASSERT_TRUE(shown);
    const QStringList fitted = toolkit.calls[callsBefore + 2].args;
    // Decoded at the view's size, as the picture is stored.
    const QStringList view = fitted[fitted.indexOf("-resize") + 1].split('x');
    EXPECT_EQ(fitted.mid(0, 2), QStringList({"-define", "jpeg:size=" + view[r.orientation >= 5] +
                                                            'x' + view[r.orientation < 5]}));
    EXPECT_EQ(toolkit.calls.size() - callsBefore, r.throughToolkit ? 4u : 3u);
    if (r.throughToolkit)
      EXPECT_EQ(toolkit.calls.back().args.mid(0, 3), QStringList({"-format", "bmp", file}));
    EXPECT_EQ(Box("txtBottomRightX")->text(), QString::number(r.upright.width() - 1));
    // Pixel for pixel what the toolkit makes of it, give or take the decoders' rounding.
    const test::TempFolder scratch;
    const QString bmp = scratch.file("whole.bmp");
    magick.convert(CropViewArgs(file, bmp, r.orientation));
    const QImage expected = QImage(bmp).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(whole.size(), expected.size());
    int worst = 0;
    for (int y = 0; y < whole.height(); y += 7)
      for (int x = 0; x < whole.width(); x += 7) {
        const QRgb a = whole.pixel(x, y), b = expected.pixel(x, y);
        worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b))});
      }
    EXPECT_LE(worst, 2);
  }
}

TEST_F(CropLaunch, AnUnreadableImageIsReportedAndTheToolStaysHidden) {
  Boxes({"10", "20", "109", "69"});
  // The file changed after its preview was shown.
  WriteBytes(images.file("photo.png"), "\x89PNG\r\n\x1a\nnot really");
  QString expected;
  try {
    magick.identify(CropSizeArgs(images.file("photo.png")));
  } catch (const Failure &failure) {
    expected = QString::number(failure.number()) + " - " + failure.description();
  }
  ASSERT_FALSE(expected.isEmpty());
  const auto expectRefused = [&](const QString &failure) {
    prompter.expect("Image Display Error",
                    "Could not load image: \"" + images.file("photo.png") + "\"!\r\n" + failure,
                    Buttons::Ok, Icon::Exclamation, Answer::Ok);
    Launch([](frmCropTool &tool) { tool.cmdCancel_Click(); });
    EXPECT_FALSE(shown);
  };
  expectRefused(expected);

  // A failure of our own (the view cannot be written) ends the same way.
  MakeImage(images.file("photo.png"), 64, 48);
  toolkit.before = [](const RecordingToolkit::Call &call) {
    if (call.command == "convert") throw Failure(28, "No space left on device");
  };
  expectRefused("28 - No space left on device");
  EXPECT_FALSE(window->Editor().CropTool()->isVisible());
  EXPECT_EQ(Rectangle(), QStringList({"10", "20", "109", "69", "100", "50"}));
}

} // namespace
} // namespace varnholt::test
