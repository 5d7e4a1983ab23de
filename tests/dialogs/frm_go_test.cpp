#include "dialogs/frm_go.h"

#include "operations/operation.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"
#include "support/controls.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace varnholt {
namespace {

using test::Control;

QString Whole(const QString &prefix) {
  QString error;
  return OperationDescription({.Prefix = prefix}, error);
}

class RunWindow : public ::testing::Test {
protected:
  void SetUp() override {
    source.folder = folder.path();
    for (const QString name : {"a.png", "b.png"}) {
      test::MakeImage(folder.file(name), 8, 6);
      source.images.push_back({name, true});
    }
    source.operations = {{Whole("o1_")}, {Whole("o2_")}};
  }

  test::TempFolder folder;
  ListRunSource source;
  Settings settings;
  MagickToolkit magick;
  test::ScriptedPrompter prompter;
  test::RecordingErrorReporter errors;
};

TEST_F(RunWindow, CaptionsPlaceAndARunShownToTheEnd) {
  QWidget owner;
  owner.setGeometry(300, 200, 640, 480);
  frmGo window(source, settings, magick, prompter, errors, &owner);

  EXPECT_EQ(window.windowTitle(), "Doing Operations...");
  EXPECT_TRUE(window.isModal());
  EXPECT_EQ(Control<QLabel>(window, "lblCurrImageLbl")->text(), "Image:");
  EXPECT_EQ(Control<QLabel>(window, "lblCurrOperationLbl")->text(), "Operation:");
  EXPECT_EQ(Control<QPushButton>(window, "cmdStop")->text(), "S&top Process");
  EXPECT_NO_THROW(Control<QWidget>(window, "fraGo"));
  for (const char *name : {"lblCurrImage", "lblCurrOperation"})
    EXPECT_EQ(Control<QLabel>(window, name)->font().families().value(0), "Arial Narrow");
  const QPoint offset = window.geometry().center() - owner.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();

  // Showing it runs everything and it hides at the end, showing the last pair.
  window.exec();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.ProcessAborted());
  auto *bar = Control<QProgressBar>(window, "proProcess");
  EXPECT_EQ(bar->maximum(), 4);
  EXPECT_EQ(bar->value(), 4);
  EXPECT_EQ(Control<QLabel>(window, "lblCurrImage")->text(), "b.png");
  EXPECT_EQ(Control<QLabel>(window, "lblCurrOperation")->text(), Whole("o2_"));
  EXPECT_TRUE(QFile::exists(folder.file("o2_b.png")));
  EXPECT_TRUE(errors.reports.empty());

  // A run with nothing to do still ends by hiding; the window stays where
  // the user put it.
  source.images.clear();
  window.move(20, 30);
  window.exec();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.pos(), QPoint(20, 30));
}

// Beside the bar: which image of how many, a guess at the time left once
// three pairs are done, and at the end what became of every pair.
TEST_F(RunWindow, SaysHowFarHowLongAndWhatBecameOfThePairs) {
  test::MakeImage(folder.file("c.png"), 8, 6);
  source.images.push_back({"c.png", true});
  source.images.push_back({"gone.png", true}); // both of its pairs fail
  // The question as it always was; why the pair failed is in its details.
  prompter.expect(kOperationErrorTitle, OperationErrorText("gone.png", Whole("o1_")),
                  Buttons::YesNoCancel, Icon::Question, Answer::Cancel,
                  "2 - No such file or directory: " + folder.file("gone.png") +
                      "\r\nOperation: Getting Image Size");
  frmGo window(source, settings, magick, prompter, errors);
  auto *number = Control<QLabel>(window, "lblImageNumber");
  auto *left = Control<QLabel>(window, "lblTimeLeft");
  auto *counts = Control<QLabel>(window, "lblRunCounts");
  // Ten seconds pass between readings of the clock; each reading notes
  // what the window showed just before.
  qint64 now = 0;
  QStringList seen;
  window.setClock([&] {
    seen << number->text() + " / " + left->text();
    return (now += 10000) - 10000;
  });
  window.exec();
  EXPECT_EQ(seen, QStringList({" / ", "Image 2 of 4 / ", "Image 2 of 4 / About 17 s left",
                               "Image 3 of 4 / About 20 s left", "Image 3 of 4 / About 18 s left",
                               "Image 4 of 4 / About 13 s left"}));
  EXPECT_EQ(left->text(), "");
  EXPECT_EQ(counts->text(), "6 written, 0 skipped, 2 failed");

  // Shown again after the run, it keeps its counts and starts nothing.
  window.ShowAfterRun();
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(counts->text(), "6 written, 0 skipped, 2 failed");
  window.hide();
  EXPECT_EQ(seen.size(), 6);

  const std::pair<qint64, QString> times[] = {{0, "About 1 s left"},
                                              {59, "About 59 s left"},
                                              {60, "About 1 min 0 s left"},
                                              {3599, "About 59 min 59 s left"},
                                              {2 * 3600 + 5 * 60 + 7, "About 2 h 5 min left"}};
  for (const auto &[seconds, text] : times)
    EXPECT_EQ(frmGo::TimeLeftText(seconds), text);
}

// A rectangle outside the picture is counted as skipped, apart from failures.
TEST_F(RunWindow, CountsAPairLeftOutAsSkipped) {
  source.images.resize(1);
  QString error;
  source.operations.push_back({OperationDescription(
      {.Extract = true, .TopLeftX = 20, .BottomRightX = 30, .BottomRightY = 3, .Prefix = "c_"},
      error)});
  prompter.expect("Image too small",
                  "Could not extract image: \"a.png\" with coordinates because:\r\n\r\n"
                  "Top Left X Coordiate (20) is greater than image width of 8\r\n"
                  "Bottom Right X Coordiate (30) is greater than image width of 8\r\n"
                  "\r\nDo you want to suppress these messages?",
                  Buttons::YesNo, Icon::None, Answer::No);
  frmGo window(source, settings, magick, prompter, errors);
  window.exec();
  EXPECT_EQ(Control<QLabel>(window, "lblRunCounts")->text(), "2 written, 1 skipped, 0 failed");
}

// Stop, the close box and Escape during a toolkit call finish that operation only.
TEST_F(RunWindow, StoppingDuringAToolkitCallFinishesThatOperationOnly) {
  const std::vector<std::function<void(frmGo &)>> ways = {
      [&](frmGo &w) { QTest::mouseClick(Control<QPushButton>(w, "cmdStop"), Qt::LeftButton); },
      [](frmGo &w) { w.close(); },
      [](frmGo &w) { QTest::keyClick(&w, Qt::Key_Escape); },
  };
  for (size_t way = 0; way < ways.size(); ++way) {
    SCOPED_TRACE(way);
    QFile::remove(folder.file("o1_a.png"));
    // The first toolkit call is held, on whatever thread it runs, until let go.
    std::atomic<bool> held{false}, released{false};
    test::RecordingToolkit holding(magick);
    holding.before = [&](const test::RecordingToolkit::Call &) {
      if (!held.exchange(true)) released.wait(false);
    };
    frmGo window(source, settings, holding, prompter, errors);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      // Only reachable while the first call hangs: the timer fires although
      // the run is inside a toolkit call.
      if (!held || released || ++ticks < 3) return;
      ways[way](window);
      EXPECT_TRUE(window.isVisible()); // not before the operation is done
      released = true;
      released.notify_all();
    });
    timer.start();
    window.exec();

    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.ProcessAborted());
    // The operation under way is whole, and nothing hidden is left.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"a.png", "b.png", "o1_a.png"}));
    EXPECT_EQ(Control<QProgressBar>(window, "proProcess")->value(), 1);
    EXPECT_EQ(Control<QLabel>(window, "lblRunCounts")->text(),
              "1 written, 3 skipped (stopped), 0 failed");
  }
}

TEST_F(RunWindow, AFailureOfTheRunIsReportedAndTheWindowWaitsToBeClosed) {
  class BrokenList : public ListRunSource {
  public:
    QString operationText(qsizetype k) const override {
      if (broken) throw Failure(kErrSubscript, QStringLiteral("Subscript out of range"));
      return ListRunSource::operationText(k);
    }
    bool broken = true;
  } broken;
  broken.folder = folder.path();
  broken.images = {{QStringLiteral("a.png")}};
  broken.operations = {{Whole("o1_")}};
  frmGo window(broken, settings, magick, prompter, errors);
  auto *stop = Control<QPushButton>(window, "cmdStop");

  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (errors.reports.empty() || !window.isVisible()) return;
    EXPECT_EQ(stop->text(), "&Close");
    QTest::mouseClick(stop, Qt::LeftButton);
  });
  poll.start();
  window.exec();
  poll.stop();

  ASSERT_EQ(errors.reports.size(), 1u);
  const ErrorReport &r = errors.reports[0];
  EXPECT_EQ((QStringList{r.title, r.programId, r.form, r.source, r.operation, r.description,
                         r.intSettings}),
            (QStringList{"Doing Operations...", "73", "frmGo", "Form_Activate",
                         "At image \"a.png\"", "Subscript out of range", ""}));
  EXPECT_EQ(r.errorNumber, 9);
  EXPECT_FALSE(r.isFatal);
  EXPECT_TRUE(window.ProcessAborted());

  // The next showing is an ordinary run again.
  broken.broken = false;
  window.exec();
  EXPECT_EQ(stop->text(), "S&top Process");
  EXPECT_FALSE(window.ProcessAborted());
  EXPECT_TRUE(QFile::exists(folder.file("o1_a.png")));
  EXPECT_EQ(errors.reports.size(), 1u);
}

} // namespace
} // namespace varnholt
