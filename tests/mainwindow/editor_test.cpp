#include "mainwindow/editor_fixture.h"

#include "desktop/qt_desktop.h"
#include "operations/operation.h"

#include <QClipboard>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <functional>

namespace varnholt::test {
namespace {

class Editor : public EditorTest {
protected:
  void SetUp() override {
    Start();
    Check("chkExtract")->setChecked(true);
  }
  QStringList Rectangle() const {
    return {Box("txtTopLeftX")->text(),     Box("txtTopLeftY")->text(),
            Box("txtBottomRightX")->text(), Box("txtBottomRightY")->text(),
            Box("txtExtractWidth")->text(), Box("txtExtractHeight")->text()};
  }
};

// A key or a paste a box cannot hold is refused where it is typed: the box
// keeps what it had, a red frame and its tip say why, and leaving the box
// ends that. No message box comes up to swallow the rest of the typing.
TEST_F(Editor, BoxesRefuseWhatTheyCannotHoldAndSaySoInPlace) {
  const QString digits = "Only the digits 0 to 9 go in this box.";
  const QString names = "These characters not allowed in filenames: \\/|?\"><*:";
  Check("chkResizeImage")->setChecked(true);
  const struct {
    const char *box;
    QString typed, pasted, after, why; // why: empty when nothing was refused
  } rows[] = {
      {"txtTopLeftX", "1e3", "", "13", digits},
      {"txtTopLeftY", "-5", "", "5", digits},
      {"txtExtractWidth", QStringLiteral("\u22125"), "", "5", digits}, // a key sending U+2212
      {"txtResizeWidth", "", " 7.5 ", "", digits},
      {"txtResizeHeight", "", "12", "12", ""},
      {"txtPrefix", "../escape_", "", "..escape_", names},
      {"txtSuffix", "", "a:b", "", names},
      {"txtSuffix", "", "_web.v2", "_web.v2", ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.box);
    QLineEdit *box = Box(row.box);
    const QString ownTip = box->toolTip();
    Type(box, row.typed);
    if (!row.pasted.isEmpty()) {
      QGuiApplication::clipboard()->setText(row.pasted);
      QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(box->text(), row.after);
    EXPECT_EQ(box->toolTip(), row.why.isEmpty() ? ownTip : row.why);
    EXPECT_EQ(box->styleSheet().contains("border"), !row.why.isEmpty());
    Leave();
    EXPECT_EQ(box->toolTip(), ownTip);
    EXPECT_EQ(box->styleSheet(), "");
  }
  EXPECT_EQ(prompter.shown(), 0);

  // The program's own writes are cleaned by the boxes' change handling.
  ExpectOk("Bad Characters", names);
  Box("txtSuffix")->setText("x*y.z");
  EXPECT_EQ(Box("txtSuffix")->text(), "xy.z");
}

TEST_F(Editor, CornersGiveTheSizeAndASizeMovesTheBottomRightCorner) {
  EXPECT_EQ(Rectangle(), QStringList({"0", "0", "0", "0", "1", "1"})) << "the default operation";
  TypeAndLeave(Box("txtTopLeftX"), "10");
  TypeAndLeave(Box("txtTopLeftY"), "20");
  TypeAndLeave(Box("txtBottomRightX"), "109");
  TypeAndLeave(Box("txtBottomRightY"), "69");
  EXPECT_EQ(Rectangle(), QStringList({"10", "20", "109", "69", "100", "50"}));

  Type(Box("txtExtractWidth"), "0");
  EXPECT_EQ(Box("txtExtractWidth")->text(), "0") << "zero stays while typing";
  Leave();
  TypeAndLeave(Box("txtExtractHeight"), "30");
  EXPECT_EQ(Rectangle(), QStringList({"10", "20", "10", "49", "1", "30"}));
}

// Each box is left over its limit on the default operation; the arithmetic
// of every case is table-tested with the editor rules, one message each here.
TEST_F(Editor, BoxesLeftOverTheirLimitAreToldOnceAndClamped) {
  const struct {
    const char *box, *typed, *message;
    QList<QPair<const char *, const char *>> after;
  } rows[] = {
      {"txtBottomRightX",
       "30000",
       "Maximum extract width allowed is: 20000 pixels",
       {{"txtExtractWidth", "20000"}, {"txtBottomRightX", "19999"}}},
      {"txtBottomRightY",
       "20000",
       "Maximum extract height allowed is: 20000 pixels",
       {{"txtExtractHeight", "20000"}, {"txtBottomRightY", "19999"}}},
      {"txtResizeHeight",
       "25000",
       "Maximum height allowed is: 20000 pixels",
       {{"txtResizeHeight", "20000"}}},
      {"txtResizeWidth",
       "20001",
       "Maximum width allowed is: 20000 pixels",
       {{"txtResizeWidth", "20000"}}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.box);
    window->Operations().cmdNewOperation_Click();
    Check("chkExtract")->setChecked(true);
    Check("chkResizeImage")->setChecked(true);
    const int shown = prompter.shown();
    ExpectOk("Maximum Width Exceeded", row.message, Icon::Information);
    TypeAndLeave(Box(row.box), row.typed);
    EXPECT_EQ(prompter.shown(), shown + 1);
    for (const auto &[box, text] : row.after)
      EXPECT_EQ(Box(box)->text(), text) << box;
  }
}

TEST_F(Editor, ControlsFollowTheCheckBoxesAndTheMethod) {
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled()) << "no preview loaded";
  const char *names[] = {"txtTopLeftX",     "lblExtractX",     "txtExtractHeight", "lblCoordY",
                         "cmbResizeMethod", "txtResizeWidth",  "lblResizeWidth",   "udbResizeWidth",
                         "txtResizeHeight", "lblResizeHeight", "udbResizeHeight",  "lblResizeX"};
  const struct {
    bool extract, resize;
    int method;
    const char *enabled; // one flag for each of the names
  } rows[] = {
      {true, false, 0, "111100000000"}, {false, false, 0, "000000000000"},
      {false, true, 1, "000011110000"}, {false, true, 2, "000010001110"},
      {false, true, 3, "000011111111"}, {true, false, 1, "111100000000"},
  };
  for (const auto &row : rows) {
    Check("chkExtract")->setChecked(row.extract);
    Check("chkResizeImage")->setChecked(row.resize);
    Combo("cmbResizeMethod")->setCurrentIndex(row.method);
    QString enabled;
    for (const char *name : names)
      enabled += Find<QWidget>(name)->isEnabled() ? '1' : '0';
    EXPECT_EQ(enabled, row.enabled) << row.extract << row.resize << row.method;
  }
  // The size boxes tell how to fit a long edge.
  for (const char *name : {"txtResizeWidth", "txtResizeHeight"})
    EXPECT_TRUE(Box(name)->toolTip().endsWith(
        " With Limit Width & Height the picture is fitted into the box, its proportions kept: "
        "1920 x 1920 fits any long edge to 1920."))
        << name;
  window->Operations().cmdNewList_Click(); // the editor as it stands counts as saved
  Combo("cmbResizeMethod")->setCurrentIndex(3);
  EXPECT_TRUE(window->Editor().Saved()) << "a method changes nothing while unticked";
}

TEST_F(Editor, SpinnersWriteIntoTheirBoxes) {
  TypeAndLeave(Box("txtTopLeftX"), "10");
  QTest::mouseClick(Spinner("udbExtractWidth")->upButton(), Qt::LeftButton);
  EXPECT_EQ(Box("txtExtractWidth")->text(), "5") << "from 1 up to the spinner's least value";
  EXPECT_EQ(Box("txtBottomRightX")->text(), "14");
  QTest::mouseClick(Spinner("udbExtractHeight")->upButton(), Qt::LeftButton);
  EXPECT_EQ(Box("txtBottomRightY")->text(), "4");
  QTest::mouseClick(Spinner("udbJpgQuality")->downButton(), Qt::LeftButton);
  EXPECT_EQ(Box("txtJpgQuality")->text(), "74");
  Box("txtJpgQuality")->setText("100");
  QTest::mouseClick(Spinner("udbJpgQuality")->upButton(), Qt::LeftButton);
  EXPECT_EQ(Box("txtJpgQuality")->text(), "100");
}

// The quality box takes no typing; its keys and the wheel step it, within 1..100.
TEST_F(Editor, TheQualityAnswersKeysAndTheWheel) {
  QLineEdit *quality = Box("txtJpgQuality");
  const auto wheel = [quality](int delta) {
    QWheelEvent turn(QPointF(5, 5), quality->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(quality, &turn);
  };
  const struct {
    QString from;
    std::function<void()> act;
    QString to;
  } steps[] = {
      {"75", [&] { QTest::keyClick(quality, Qt::Key_PageUp); }, "85"},
      {"95", [&] { QTest::keyClick(quality, Qt::Key_PageUp); }, "100"},
      {"7", [&] { QTest::keyClick(quality, Qt::Key_PageDown); }, "1"},
      {"50", [&] { QTest::keyClick(quality, Qt::Key_Up); }, "51"},
      {"1", [&] { QTest::keyClick(quality, Qt::Key_Down); }, "1"},
      {"50", [&] { wheel(240); }, "52"},
      {"50", [&] { wheel(-120); }, "49"},
      {"50",
       [&] {
         wheel(60);
         wheel(60);
       },
       "51"}, // a touchpad's half notches add up
      {"50", [&] { QTest::keyClicks(quality, "9"); }, "50"},
  };
  for (const auto &step : steps) {
    quality->setText(step.from);
    step.act();
    EXPECT_EQ(quality->text(), step.to) << step.from.toStdString();
  }
}

TEST_F(Editor, EveryKindOfEditClearsOperationSaved) {
  const std::vector<std::pair<const char *, std::function<void()>>> edits = {
      {"corner", [this] { Type(Box("txtBottomRightY"), "9"); }},
      {"size", [this] { Type(Box("txtExtractWidth"), "9"); }},
      {"resize box", [this] { Type(Box("txtResizeHeight"), "9"); }},
      {"prefix", [this] { Type(Box("txtPrefix"), "p"); }},
      {"suffix", [this] { Type(Box("txtSuffix"), "s"); }},
      {"extract", [this] { Check("chkExtract")->click(); }},
      {"resize", [this] { Check("chkResizeImage")->click(); }},
      {"method", [this] { Combo("cmbResizeMethod")->setCurrentIndex(2); }},
      {"format", [this] { Combo("cmbOutputFormat")->setCurrentIndex(4); }},
      {"quality",
       [this] { QTest::mouseClick(Spinner("udbJpgQuality")->upButton(), Qt::LeftButton); }},
  };
  for (const auto &[name, edit] : edits) {
    Check("chkResizeImage")->setChecked(true);
    window->Operations().cmdNewList_Click();
    edit();
    EXPECT_FALSE(window->Editor().Saved()) << name;
  }
}

TEST_F(Editor, RecordsGoInAndOutOfTheControls) {
  Operation op{.Extract = true,
               .TopLeftX = 3,
               .TopLeftY = 4,
               .BottomRightX = 12,
               .BottomRightY = 24,
               .Resize = true,
               .ResizeMethod = kLimitHeight,
               .ResizeHeight = 640,
               .OutputFormat = "jpg",
               .JpgQuality = 90,
               .Prefix = "th_"};
  window->Editor().SetControlsForOperation(op);
  EXPECT_EQ(Combo("cmbOutputFormat")->currentText(), "JPG");
  EXPECT_EQ(Combo("cmbResizeMethod")->currentText(), "Limit Height");
  EXPECT_FALSE(Box("txtResizeWidth")->isEnabled());

  Operation back;
  ASSERT_TRUE(window->Editor().OperationFromControls(back));
  op.OutputFormat = "JPG";
  EXPECT_EQ(back, op);

  for (const char *kept : {"Don't Change", ""}) {
    op.OutputFormat = kept;
    Combo("cmbOutputFormat")->setCurrentIndex(4);
    window->Editor().SetControlsForOperation(op);
    EXPECT_EQ(Combo("cmbOutputFormat")->currentIndex(), 0) << kept;
  }
}

TEST_F(Editor, ANumberTooLargeForTheRecordIsReportedNotAdded) {
  TypeAndLeave(Box("txtTopLeftX"), "99999999999");
  Box("txtPrefix")->setText("p");
  window->Operations().cmdAddOperation_Click();
  EXPECT_EQ(List("lstOperations")->count(), 0);
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "OperationFromControls");
  EXPECT_TRUE(EditorAnswers());
}

// The real message box takes the focus from the window while a box is being
// left; the leave is still handled once, and typing goes on afterwards.
TEST_F(EditorTest, ARealMessageBoxOnLeavingIsShownOnce) {
  QtPrompter real;
  window = std::make_unique<frmMain>(Services(real));
  real.setParent(window.get());
  window->show();
  QApplication::setActiveWindow(window.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  Check("chkResizeImage")->setChecked(true);

  QStringList shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
      shown << box->text();
      box->done(QMessageBox::Ok);
    }
  });
  closer.start(5);
  Box("txtResizeWidth")->setText("30000"); // the next box, over its limit too
  Type(Box("txtResizeHeight"), "25000");
  QTest::keyClick(Box("txtResizeHeight"), Qt::Key_Tab);
  QCoreApplication::processEvents(); // a second box would come now
  closer.stop();
  EXPECT_EQ(shown, QStringList({"Maximum height allowed is: 20000 pixels"}));
  EXPECT_EQ(Box("txtResizeHeight")->text(), "20000");
  EXPECT_EQ(Box("txtResizeWidth")->text(), "30000") << "entered, not left";
}

} // namespace
} // namespace varnholt::test
