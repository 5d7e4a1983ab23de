#include "dialogs/frm_error.h"

#include "support/controls.h"
#include "support/fakes.h"
#include "version.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace varnholt {
namespace {

class ErrorDialog : public ::testing::Test {
protected:
  ErrorReport Report() const {
    return ErrorReport::from(Failure(53, "File not found"), "Varnholt 1.00", "frmMain",
                             "OperationsFileToList", "fileName = \"C:\\a b.vop\"");
  }
  // Shows the report; `whileShown` runs once the dialog is up and must close it.
  void Show(const ErrorReport &report, std::function<void()> whileShown) {
    QTimer::singleShot(0, &dialog, [&, whileShown] {
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_TRUE(dialog.isModal());
      whileShown();
    });
    dialog.DisplayError(report);
    EXPECT_FALSE(dialog.isVisible());
  }
  template <typename T> T *Find(const char *name) { return test::Control<T>(dialog, name); }
  QString LabelText(const char *name) { return Find<QLabel>(name)->text(); }

  test::RecordingShell shell;
  QList<int> exits;
  frmError dialog{shell, nullptr, [this](int code) { exits << code; }};
};

// The one dialog shows each report in turn; only a fatal one ends the program, after OK.
TEST_F(ErrorDialog, ShowsEachFailureAndItsReportUntilOKAndEndsOnlyAFatalOne) {
  EXPECT_EQ(dialog.windowTitle(), "Error");
  Show(Report(), [&] {
    EXPECT_EQ(dialog.windowTitle(), "Varnholt 1.00");
    EXPECT_EQ(LabelText("lblTitle"), "An Error Has Occured!");
    EXPECT_EQ(LabelText("lblIDTitle"), "ID:");
    EXPECT_EQ(LabelText("lblID"), "53");
    EXPECT_EQ(LabelText("lblDescription"), "Description: File not found");
    EXPECT_EQ(LabelText("lblDetails"), "Details:");
    EXPECT_FALSE(Find<QLabel>("imgError")->pixmap().isNull());
    auto *details = Find<QPlainTextEdit>("txtDetails");
    EXPECT_TRUE(details->isReadOnly());
    EXPECT_EQ(details->toPlainText().toStdString(), "SOURCE: Varnholt/OperationsFileToList\n"
                                                    "NUMBER: 53\n"
                                                    "OPERATION: fileName = \"C:\\a b.vop\"\n"
                                                    "FATAL: False\n"
                                                    "DESCRIPTION: File not found\n"
                                                    "SETTINGS: \n");
    EXPECT_EQ(Find<QPushButton>("cmdOK")->text(), "&OK");
    EXPECT_EQ(Find<QPushButton>("cmdSendToHV")->text(), "Send Error Infomation to Bug Reporter");
    QTest::mouseClick(Find<QPushButton>("cmdOK"), Qt::LeftButton);
  });
  EXPECT_TRUE(shell.opened.isEmpty());
  EXPECT_TRUE(exits.isEmpty());

  ErrorReport fatal = ErrorReport::from(Failure(6, "Overflow"), "Doing Operations...", "frmGo",
                                        "Form_Activate", "Working out number of ops");
  fatal.isFatal = true;
  Show(fatal, [&] {
    EXPECT_EQ(dialog.windowTitle(), "Doing Operations...");
    EXPECT_EQ(LabelText("lblID"), "6");
    EXPECT_EQ(LabelText("lblDescription"), "Description: Overflow");
    EXPECT_TRUE(Find<QPlainTextEdit>("txtDetails")->toPlainText().contains("\nFATAL: True\n"));
    QTest::mouseClick(Find<QPushButton>("cmdSendToHV"), Qt::LeftButton);
    EXPECT_TRUE(exits.isEmpty());
    QTest::mouseClick(Find<QPushButton>("cmdOK"), Qt::LeftButton);
  });
  EXPECT_EQ(exits, QList<int>({1}));
  ASSERT_EQ(shell.opened.size(), 1);
  EXPECT_TRUE(
      shell.opened[0].contains("&window=frmGo&desc=SOURCE%3A%20Varnholt%2FForm%5FActivate%0D"));
}

TEST_F(ErrorDialog, SendOpensTheReportPageAndTheDialogStays) {
  shell.result = false; // a desktop without a browser is not reported either
  Show(Report(), [&] {
    QTest::mouseClick(Find<QPushButton>("cmdSendToHV"), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape); // the close key acts as OK
  });
  EXPECT_TRUE(exits.isEmpty());
  ASSERT_EQ(shell.opened.size(), 1);
  EXPECT_TRUE(QString(kBugReportUrl).endsWith("feedback.php"));
  EXPECT_EQ(shell.opened[0].toStdString(),
            std::string(kBugReportUrl) +
                "?type=bug&progid=73&progver=&window=frmMain&desc="
                "SOURCE%3A%20Varnholt%2FOperationsFileToList%0DNUMBER%3A%2053%0D"
                "OPERATION%3A%20fileName%20%3D%20%22C%3A%5Ca%20b%2Evop%22%0D"
                "FATAL%3A%20False%0DDESCRIPTION%3A%20File%20not%20found%0DSETTINGS%3A%20%0D");
}

} // namespace
} // namespace varnholt
