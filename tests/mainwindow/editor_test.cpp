#include "mainwindow/editor_fixture.h"

#include "operations/operation.h"
#include "platform/qt_desktop.h"

#include <QClipboard>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>

namespace varnholt::test {
namespace {

const QString kLimitTitle = QStringLiteral("Maximum Width Exceeded");

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
  void Corners(int x1, int y1, int x2, int y2) {
    TypeAndLeave(Box("txtTopLeftX"), QString::number(x1));
    TypeAndLeave(Box("txtTopLeftY"), QString::number(y1));
    TypeAndLeave(Box("txtBottomRightX"), QString::number(x2));
    TypeAndLeave(Box("txtBottomRightY"), QString::number(y2));
  }
};

TEST_F(Editor, StartsFromTheDefaultOperationInStep) {
  EXPECT_EQ(Rectangle(), QStringList({"0", "0", "0", "0", "1", "1"}));
  EXPECT_EQ(Box("txtResizeWidth")->text(), "100");
  EXPECT_EQ(Combo("cmbOutputFormat")->currentText(), "Don't Change");
  EXPECT_EQ(Box("txtJpgQuality")->text(), "75");
  EXPECT_FALSE(Check("chkResizeImage")->isChecked());
}

TEST_F(Editor, NumericBoxesKeepOnlyDigitsWhileTyping) {
  Type(Box("txtTopLeftX"), "12a3");
  EXPECT_EQ(Box("txtTopLeftX")->text(), "123");
  Type(Box("txtTopLeftX"), QStringLiteral("\u22125"));
  EXPECT_EQ(Box("txtTopLeftX")->text(), "5");
  Check("chkResizeImage")->setChecked(true);
  QGuiApplication::clipboard()->setText(" 7.5 ");
  Type(Box("txtResizeWidth"), "");
  QTest::keyClick(Box("txtResizeWidth"), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Box("txtResizeWidth")->text(), "75");
  // Emptying a box is allowed while typing; leaving it is not.
  Type(Box("txtTopLeftY"), "");
  EXPECT_EQ(Box("txtTopLeftY")->text(), "");
  Leave();
  EXPECT_EQ(Box("txtTopLeftY")->text(), "0");
}

TEST_F(Editor, CornersGiveTheSizeAndASizeMovesTheBottomRightCorner) {
  Corners(10, 20, 109, 69);
  EXPECT_EQ(Rectangle(), QStringList({"10", "20", "109", "69", "100", "50"}));

  TypeAndLeave(Box("txtTopLeftY"), "");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "109", "69", "100", "70"}));

  TypeAndLeave(Box("txtBottomRightX"), "5");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "69", "1", "70"}));

  Type(Box("txtExtractWidth"), "0");
  EXPECT_EQ(Box("txtExtractWidth")->text(), "0") << "zero stays while typing";
  Leave();
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "69", "1", "70"}));

  TypeAndLeave(Box("txtExtractHeight"), "30");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "29", "1", "30"}));
}

TEST_F(Editor, SizeLimitsShowTheirMessageOnceAndClamp) {
  TypeAndLeave(Box("txtTopLeftX"), "10");
  prompter.expect(kLimitTitle, "Maximum extract width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(Box("txtExtractWidth"), "25000");
  EXPECT_EQ(prompter.shown(), 1);
  EXPECT_EQ(Box("txtExtractWidth")->text(), "20000");
  EXPECT_EQ(Box("txtBottomRightX")->text(), "20009");

  window->cmdNewOperation_Click();
  Check("chkExtract")->setChecked(true);
  prompter.expect(kLimitTitle, "Maximum extract width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(Box("txtBottomRightX"), "30000");
  EXPECT_EQ(prompter.shown(), 2);
  EXPECT_EQ(Box("txtExtractWidth")->text(), "20000");
  EXPECT_EQ(Box("txtBottomRightX")->text(), "19999");

  prompter.expect(kLimitTitle, "Maximum extract height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(Box("txtBottomRightY"), "20000");
  EXPECT_EQ(Box("txtExtractHeight")->text(), "20000");
  EXPECT_EQ(Box("txtBottomRightY")->text(), "19999");
  EXPECT_EQ(prompter.shown(), 3);
}

TEST_F(Editor, ResizeBoxesOnLeaving) {
  Check("chkResizeImage")->setChecked(true);
  TypeAndLeave(Box("txtResizeHeight"), "");
  EXPECT_EQ(Box("txtResizeHeight")->text(), "1");
  prompter.expect(kLimitTitle, "Maximum height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(Box("txtResizeHeight"), "25000");
  EXPECT_EQ(Box("txtResizeHeight")->text(), "20000");
  TypeAndLeave(Box("txtResizeHeight"), "0");
  EXPECT_EQ(Box("txtResizeHeight")->text(), "0");
  prompter.expect(kLimitTitle, "Maximum width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(Box("txtResizeWidth"), "20001");
  EXPECT_EQ(Box("txtResizeWidth")->text(), "20000");
  EXPECT_EQ(prompter.shown(), 2);
}

TEST_F(Editor, AMessageShownOnLeavingIsNoSecondLeave) {
  Check("chkResizeImage")->setChecked(true);
  focusTaker.alsoLeaving = Box("txtResizeHeight");
  prompter.expect(kLimitTitle, "Maximum height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  Type(Box("txtResizeHeight"), "25000");
  Box("txtResizeWidth")->setFocus(Qt::TabFocusReason); // on to the next box
  EXPECT_EQ(prompter.shown(), 1);
  EXPECT_EQ(Box("txtResizeHeight")->text(), "20000");
  EXPECT_EQ(Box("txtResizeWidth")->text(), "100") << "the box being entered was not left";
}

TEST_F(Editor, ForbiddenFileNameCharactersAreRefused) {
  prompter.expect("Bad Characters",
                  "These characters not allowed in filenames: \\/|?\"><*:", Buttons::Ok,
                  Icon::Exclamation, Answer::Ok);
  Type(Box("txtPrefix"), "a:b");
  EXPECT_EQ(Box("txtPrefix")->text(), "ab");
  prompter.expect("Bad Characters",
                  "These characters not allowed in filenames: \\/|?\"><*:", Buttons::Ok,
                  Icon::Exclamation, Answer::Ok);
  Box("txtSuffix")->setText("x*y.z");
  EXPECT_EQ(Box("txtSuffix")->text(), "xy.z");
}

TEST_F(Editor, ControlsFollowTheCheckBoxesAndTheMethod) {
  EXPECT_TRUE(Box("txtTopLeftX")->isEnabled());
  EXPECT_TRUE(Label("lblExtractX")->isEnabled());
  EXPECT_FALSE(Button("cmdUseCropTool")->isEnabled()) << "no preview loaded";
  Check("chkExtract")->setChecked(false);
  EXPECT_FALSE(Box("txtTopLeftX")->isEnabled());
  EXPECT_FALSE(Box("txtExtractHeight")->isEnabled());
  EXPECT_FALSE(Label("lblCoordY")->isEnabled());

  EXPECT_FALSE(Combo("cmbResizeMethod")->isEnabled());
  EXPECT_FALSE(Box("txtResizeWidth")->isEnabled());
  EXPECT_FALSE(Spinner("udbResizeWidth")->isEnabled());
  Check("chkResizeImage")->setChecked(true);
  const auto states = [this] {
    QList<bool> enabled;
    for (const char *name : {"txtResizeWidth", "lblResizeWidth", "udbResizeWidth",
                             "txtResizeHeight", "lblResizeHeight", "udbResizeHeight", "lblResizeX"})
      enabled << Find<QWidget>(name)->isEnabled();
    return enabled;
  };
  Combo("cmbResizeMethod")->setCurrentIndex(1); // Limit Width
  EXPECT_EQ(states(), QList<bool>({true, true, true, false, false, false, false}));
  Combo("cmbResizeMethod")->setCurrentIndex(2); // Limit Height
  EXPECT_EQ(states(), QList<bool>({false, false, false, true, true, true, false}));
  Combo("cmbResizeMethod")->setCurrentIndex(3); // Fix to Size
  EXPECT_EQ(states(), QList<bool>({true, true, true, true, true, true, true}));

  Check("chkResizeImage")->setChecked(false);
  EXPECT_FALSE(Combo("cmbResizeMethod")->isEnabled());
  EXPECT_FALSE(Box("txtResizeHeight")->isEnabled());
  window->cmdNewList_Click(); // the editor as it stands counts as saved
  Combo("cmbResizeMethod")->setCurrentIndex(1);
  EXPECT_FALSE(Box("txtResizeWidth")->isEnabled()) << "a method changes nothing while unticked";
  EXPECT_TRUE(window->operationSaved());
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

TEST_F(Editor, EveryKindOfEditClearsOperationSaved) {
  Check("chkResizeImage")->setChecked(true);
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
    window->cmdNewList_Click();
    edit();
    EXPECT_FALSE(window->operationSaved()) << name;
  }
}

TEST_F(Editor, RecordsGoInAndOutOfTheControls) {
  Operation op;
  op.Extract = true;
  op.TopLeftX = 3;
  op.TopLeftY = 4;
  op.BottomRightX = 12;
  op.BottomRightY = 24;
  op.Resize = true;
  op.ResizeMethod = kLimitHeight;
  op.ResizeHeight = 640;
  op.OutputFormat = "jpg";
  op.JpgQuality = 90;
  op.Prefix = "th_";
  window->SetControlsForOperation(op);
  EXPECT_EQ(Combo("cmbOutputFormat")->currentText(), "JPG");
  EXPECT_EQ(Combo("cmbResizeMethod")->currentText(), "Limit Height");
  EXPECT_FALSE(Box("txtResizeWidth")->isEnabled());

  Operation back;
  ASSERT_TRUE(window->OperationFromControls(back));
  op.OutputFormat = "JPG";
  EXPECT_EQ(back, op);

  Combo("cmbOutputFormat")->setCurrentIndex(0);
  ASSERT_TRUE(window->OperationFromControls(back));
  EXPECT_EQ(back.OutputFormat, "");
  op.OutputFormat = "Don't Change";
  window->SetControlsForOperation(op);
  EXPECT_EQ(Combo("cmbOutputFormat")->currentIndex(), 0);
  op.OutputFormat = "";
  Combo("cmbOutputFormat")->setCurrentIndex(4);
  window->SetControlsForOperation(op);
  EXPECT_EQ(Combo("cmbOutputFormat")->currentIndex(), 0);
}

TEST_F(Editor, ANumberTooLargeForTheRecordIsReportedNotAdded) {
  TypeAndLeave(Box("txtTopLeftX"), "99999999999");
  Box("txtPrefix")->setText("p");
  window->cmdAddOperation_Click();
  EXPECT_EQ(List("lstOperations")->count(), 0);
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "OperationFromControls");
  EXPECT_TRUE(EditorAnswers());
}

} // namespace
} // namespace varnholt::test

namespace varnholt::test {
namespace {

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
