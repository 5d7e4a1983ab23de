#include "mainwindow/editor_fixture.h"

#include "mainwindow/up_down.h"
#include "operations/operation.h"
#include "platform/qt_desktop.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace varnholt::test {
namespace {

const QString kLimitTitle = QStringLiteral("Maximum Width Exceeded");

class Editor : public EditorTest {
protected:
  void SetUp() override {
    Start();
    window->chkExtract->setChecked(true);
  }
  QStringList Rectangle() const {
    return {window->txtTopLeftX->text(),     window->txtTopLeftY->text(),
            window->txtBottomRightX->text(), window->txtBottomRightY->text(),
            window->txtExtractWidth->text(), window->txtExtractHeight->text()};
  }
  void Corners(int x1, int y1, int x2, int y2) {
    TypeAndLeave(window->txtTopLeftX, QString::number(x1));
    TypeAndLeave(window->txtTopLeftY, QString::number(y1));
    TypeAndLeave(window->txtBottomRightX, QString::number(x2));
    TypeAndLeave(window->txtBottomRightY, QString::number(y2));
  }
};

TEST_F(Editor, StartsFromTheDefaultOperationInStep) {
  EXPECT_EQ(Rectangle(), QStringList({"0", "0", "0", "0", "1", "1"}));
  EXPECT_EQ(window->txtResizeWidth->text(), "100");
  EXPECT_EQ(window->cmbOutputFormat->currentText(), "Don't Change");
  EXPECT_EQ(window->txtJpgQuality->text(), "75");
  EXPECT_FALSE(window->chkResizeImage->isChecked());
}

TEST_F(Editor, NumericBoxesKeepOnlyDigitsWhileTyping) {
  Type(window->txtTopLeftX, "12a3");
  EXPECT_EQ(window->txtTopLeftX->text(), "123");
  Type(window->txtTopLeftX, QStringLiteral("\u22125"));
  EXPECT_EQ(window->txtTopLeftX->text(), "5");
  window->chkResizeImage->setChecked(true);
  QGuiApplication::clipboard()->setText(" 7.5 ");
  Type(window->txtResizeWidth, "");
  QTest::keyClick(window->txtResizeWidth, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(window->txtResizeWidth->text(), "75");
  // Emptying a box is allowed while typing; leaving it is not.
  Type(window->txtTopLeftY, "");
  EXPECT_EQ(window->txtTopLeftY->text(), "");
  Leave();
  EXPECT_EQ(window->txtTopLeftY->text(), "0");
}

TEST_F(Editor, CornersGiveTheSizeAndASizeMovesTheBottomRightCorner) {
  Corners(10, 20, 109, 69);
  EXPECT_EQ(Rectangle(), QStringList({"10", "20", "109", "69", "100", "50"}));

  TypeAndLeave(window->txtTopLeftY, "");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "109", "69", "100", "70"}));

  TypeAndLeave(window->txtBottomRightX, "5");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "69", "1", "70"}));

  Type(window->txtExtractWidth, "0");
  EXPECT_EQ(window->txtExtractWidth->text(), "0") << "zero stays while typing";
  Leave();
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "69", "1", "70"}));

  TypeAndLeave(window->txtExtractHeight, "30");
  EXPECT_EQ(Rectangle(), QStringList({"10", "0", "10", "29", "1", "30"}));
}

TEST_F(Editor, SizeLimitsShowTheirMessageOnceAndClamp) {
  TypeAndLeave(window->txtTopLeftX, "10");
  prompter.expect(kLimitTitle, "Maximum extract width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(window->txtExtractWidth, "25000");
  EXPECT_EQ(prompter.shown(), 1);
  EXPECT_EQ(window->txtExtractWidth->text(), "20000");
  EXPECT_EQ(window->txtBottomRightX->text(), "20009");

  window->cmdNewOperation_Click();
  window->chkExtract->setChecked(true);
  prompter.expect(kLimitTitle, "Maximum extract width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(window->txtBottomRightX, "30000");
  EXPECT_EQ(prompter.shown(), 2);
  EXPECT_EQ(window->txtExtractWidth->text(), "20000");
  EXPECT_EQ(window->txtBottomRightX->text(), "19999");

  prompter.expect(kLimitTitle, "Maximum extract height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(window->txtBottomRightY, "20000");
  EXPECT_EQ(window->txtExtractHeight->text(), "20000");
  EXPECT_EQ(window->txtBottomRightY->text(), "19999");
  EXPECT_EQ(prompter.shown(), 3);
}

TEST_F(Editor, ResizeBoxesOnLeaving) {
  window->chkResizeImage->setChecked(true);
  TypeAndLeave(window->txtResizeHeight, "");
  EXPECT_EQ(window->txtResizeHeight->text(), "1");
  prompter.expect(kLimitTitle, "Maximum height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(window->txtResizeHeight, "25000");
  EXPECT_EQ(window->txtResizeHeight->text(), "20000");
  TypeAndLeave(window->txtResizeHeight, "0");
  EXPECT_EQ(window->txtResizeHeight->text(), "0");
  prompter.expect(kLimitTitle, "Maximum width allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  TypeAndLeave(window->txtResizeWidth, "20001");
  EXPECT_EQ(window->txtResizeWidth->text(), "20000");
  EXPECT_EQ(prompter.shown(), 2);
}

TEST_F(Editor, AMessageShownOnLeavingIsNoSecondLeave) {
  window->chkResizeImage->setChecked(true);
  focusTaker.alsoLeaving = window->txtResizeHeight;
  prompter.expect(kLimitTitle, "Maximum height allowed is: 20000 pixels", Buttons::Ok,
                  Icon::Information, Answer::Ok);
  Type(window->txtResizeHeight, "25000");
  window->txtResizeWidth->setFocus(Qt::TabFocusReason); // on to the next box
  EXPECT_EQ(prompter.shown(), 1);
  EXPECT_EQ(window->txtResizeHeight->text(), "20000");
  EXPECT_EQ(window->txtResizeWidth->text(), "100") << "the box being entered was not left";
}

TEST_F(Editor, ForbiddenFileNameCharactersAreRefused) {
  prompter.expect("Bad Characters",
                  "These characters not allowed in filenames: \\/|?\"><*:", Buttons::Ok,
                  Icon::Exclamation, Answer::Ok);
  Type(window->txtPrefix, "a:b");
  EXPECT_EQ(window->txtPrefix->text(), "ab");
  prompter.expect("Bad Characters",
                  "These characters not allowed in filenames: \\/|?\"><*:", Buttons::Ok,
                  Icon::Exclamation, Answer::Ok);
  window->txtSuffix->setText("x*y.z");
  EXPECT_EQ(window->txtSuffix->text(), "xy.z");
}

TEST_F(Editor, ControlsFollowTheCheckBoxesAndTheMethod) {
  EXPECT_TRUE(window->txtTopLeftX->isEnabled());
  EXPECT_TRUE(window->lblExtractX->isEnabled());
  EXPECT_FALSE(window->cmdUseCropTool->isEnabled()) << "no preview loaded";
  window->chkExtract->setChecked(false);
  EXPECT_FALSE(window->txtTopLeftX->isEnabled());
  EXPECT_FALSE(window->txtExtractHeight->isEnabled());
  EXPECT_FALSE(window->lblCoordY->isEnabled());

  EXPECT_FALSE(window->cmbResizeMethod->isEnabled());
  EXPECT_FALSE(window->txtResizeWidth->isEnabled());
  EXPECT_FALSE(window->udbResizeWidth->isEnabled());
  window->chkResizeImage->setChecked(true);
  const auto states = [this] {
    return QList<bool>{window->txtResizeWidth->isEnabled(),  window->lblResizeWidth->isEnabled(),
                       window->udbResizeWidth->isEnabled(),  window->txtResizeHeight->isEnabled(),
                       window->lblResizeHeight->isEnabled(), window->udbResizeHeight->isEnabled(),
                       window->lblResizeX->isEnabled()};
  };
  window->cmbResizeMethod->setCurrentIndex(1); // Limit Width
  EXPECT_EQ(states(), QList<bool>({true, true, true, false, false, false, false}));
  window->cmbResizeMethod->setCurrentIndex(2); // Limit Height
  EXPECT_EQ(states(), QList<bool>({false, false, false, true, true, true, false}));
  window->cmbResizeMethod->setCurrentIndex(3); // Fix to Size
  EXPECT_EQ(states(), QList<bool>({true, true, true, true, true, true, true}));

  window->chkResizeImage->setChecked(false);
  EXPECT_FALSE(window->cmbResizeMethod->isEnabled());
  EXPECT_FALSE(window->txtResizeHeight->isEnabled());
  window->OperationSaved = true;
  window->cmbResizeMethod->setCurrentIndex(1);
  EXPECT_FALSE(window->txtResizeWidth->isEnabled()) << "a method changes nothing while unticked";
  EXPECT_TRUE(window->OperationSaved);
}

TEST_F(Editor, SpinnersWriteIntoTheirBoxes) {
  TypeAndLeave(window->txtTopLeftX, "10");
  QTest::mouseClick(window->udbExtractWidth->upButton(), Qt::LeftButton);
  EXPECT_EQ(window->txtExtractWidth->text(), "5") << "from 1 up to the spinner's least value";
  EXPECT_EQ(window->txtBottomRightX->text(), "14");
  QTest::mouseClick(window->udbExtractHeight->upButton(), Qt::LeftButton);
  EXPECT_EQ(window->txtBottomRightY->text(), "4");
  QTest::mouseClick(window->udbJpgQuality->downButton(), Qt::LeftButton);
  EXPECT_EQ(window->txtJpgQuality->text(), "74");
  window->txtJpgQuality->setText("100");
  QTest::mouseClick(window->udbJpgQuality->upButton(), Qt::LeftButton);
  EXPECT_EQ(window->txtJpgQuality->text(), "100");
}

TEST_F(Editor, EveryKindOfEditClearsOperationSaved) {
  window->chkResizeImage->setChecked(true);
  const std::vector<std::pair<const char *, std::function<void()>>> edits = {
      {"corner", [this] { Type(window->txtBottomRightY, "9"); }},
      {"size", [this] { Type(window->txtExtractWidth, "9"); }},
      {"resize box", [this] { Type(window->txtResizeHeight, "9"); }},
      {"prefix", [this] { Type(window->txtPrefix, "p"); }},
      {"suffix", [this] { Type(window->txtSuffix, "s"); }},
      {"extract", [this] { window->chkExtract->click(); }},
      {"resize", [this] { window->chkResizeImage->click(); }},
      {"method", [this] { window->cmbResizeMethod->setCurrentIndex(2); }},
      {"format", [this] { window->cmbOutputFormat->setCurrentIndex(4); }},
      {"quality", [this] { QTest::mouseClick(window->udbJpgQuality->upButton(), Qt::LeftButton); }},
  };
  for (const auto &[name, edit] : edits) {
    window->chkResizeImage->setChecked(true);
    window->OperationSaved = true;
    edit();
    EXPECT_FALSE(window->OperationSaved) << name;
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
  EXPECT_EQ(window->cmbOutputFormat->currentText(), "JPG");
  EXPECT_EQ(window->cmbResizeMethod->currentText(), "Limit Height");
  EXPECT_FALSE(window->txtResizeWidth->isEnabled());

  Operation back;
  ASSERT_TRUE(window->OperationFromControls(back));
  op.OutputFormat = "JPG";
  EXPECT_EQ(back, op);

  window->cmbOutputFormat->setCurrentIndex(0);
  ASSERT_TRUE(window->OperationFromControls(back));
  EXPECT_EQ(back.OutputFormat, "");
  op.OutputFormat = "Don't Change";
  window->SetControlsForOperation(op);
  EXPECT_EQ(window->cmbOutputFormat->currentIndex(), 0);
  op.OutputFormat = "";
  window->cmbOutputFormat->setCurrentIndex(4);
  window->SetControlsForOperation(op);
  EXPECT_EQ(window->cmbOutputFormat->currentIndex(), 0);
}

TEST_F(Editor, ANumberTooLargeForTheRecordIsReportedNotAdded) {
  TypeAndLeave(window->txtTopLeftX, "99999999999");
  window->txtPrefix->setText("p");
  window->cmdAddOperation_Click();
  EXPECT_EQ(window->lstOperations->count(), 0);
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "OperationFromControls");
  EXPECT_FALSE(window->SettingControls);
}

} // namespace
} // namespace varnholt::test

namespace varnholt::test {
namespace {

// The real message box takes the focus from the window while a box is being
// left; the leave is still handled once, and typing goes on afterwards.
TEST_F(EditorTest, ARealMessageBoxOnLeavingIsShownOnce) {
  QtPrompter real;
  window = std::make_unique<frmMain>(MainWindowServices{settings, real, browser, dialogs, shell,
                                                        toolkit, errors, fallback.path(),
                                                        work.path(), lists.path()});
  real.setParent(window.get());
  window->show();
  QApplication::setActiveWindow(window.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->chkResizeImage->setChecked(true);

  QStringList shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
      shown << box->text();
      box->done(QMessageBox::Ok);
    }
  });
  closer.start(5);
  window->txtResizeWidth->setText("30000"); // the next box, over its limit too
  Type(window->txtResizeHeight, "25000");
  QTest::keyClick(window->txtResizeHeight, Qt::Key_Tab);
  QTest::qWait(50);
  closer.stop();
  EXPECT_EQ(shown, QStringList({"Maximum height allowed is: 20000 pixels"}));
  EXPECT_EQ(window->txtResizeHeight->text(), "20000");
  EXPECT_EQ(window->txtResizeWidth->text(), "30000") << "entered, not left";
}

} // namespace
} // namespace varnholt::test
