#include "mainwindow/main_window_fixture.h"

#include "platform/failure.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace varnholt::test {
namespace {

using ImageList = MainWindowTest;

TEST_F(ImageList, ListsImagesByExtensionAndFirstDotInCaseFreeOrder) {
  Make({"IMG.JPG", "b.png", "abc.png", "Abc.png", "img01.gif", "img1.gif"});
  Touch("photo.2020.jpg"); // the extension is "2020.jpg"
  Touch(".hidden.png");
  Touch("README");
  Touch("notes.txt");
  Touch("a.tiff");
  QDir(images.path()).mkdir("folder.png");
  Open();
  EXPECT_EQ(Listed(), QStringList({"a.tiff", "Abc.png", "abc.png", "b.png", "IMG.JPG", "img01.gif",
                                   "img1.gif"}));
  EXPECT_EQ(Ticked(), Listed()) << "new entries arrive ticked";
  EXPECT_EQ(window->txtInputDirectory->toolTip(), "Image Folder: " + images.path());
  EXPECT_TRUE(window->lstImages->isVisible());
  EXPECT_FALSE(window->fraLoadingImages->isVisible());
  EXPECT_FALSE(window->RefreshingList);
}

TEST_F(ImageList, PatternsAndTheirInverseThroughTheControls) {
  Make({"abc.png", "Abc.png", "img01.gif", "img1.gif", "b.png"});
  Open();
  QTest::keyClicks(window->txtPattern, "a*");
  EXPECT_EQ(Listed(), QStringList({"abc.png"})) << "the match is case-sensitive";

  window->txtPattern->clear();
  QTest::keyClicks(window->txtPattern, "img##");
  EXPECT_EQ(Listed(), QStringList({"img01.gif"}));

  window->txtPattern->setText("[!a]*");
  EXPECT_EQ(Listed(), QStringList({"Abc.png", "b.png", "img01.gif", "img1.gif"}));

  QTest::mouseClick(window->chkInversePattern, Qt::LeftButton);
  EXPECT_TRUE(window->chkInversePattern->isChecked());
  EXPECT_EQ(Listed(), QStringList({"abc.png"}));

  window->txtPattern->clear();
  EXPECT_EQ(Listed(), QStringList()) << "inverse of an empty pattern lists nothing";
  EXPECT_TRUE(errors.reports.empty());
}

TEST_F(ImageList, TicksSurviveRefreshesUntilTheEntryDropsOut) {
  Make({"a.png", "b.png", "c.png"});
  Open();
  Entry("b.png")->setCheckState(Qt::Unchecked);

  window->txtPattern->setText("*"); // b.png stays listed
  EXPECT_EQ(Listed(), QStringList({"a.png", "b.png", "c.png"}));
  EXPECT_EQ(Ticked(), QStringList({"a.png", "c.png"}));

  window->txtPattern->setText("[ab]");
  EXPECT_EQ(Ticked(), QStringList({"a.png"}));

  window->txtPattern->setText("a"); // b.png drops out ...
  window->txtPattern->setText("*"); // ... and comes back as a new entry
  EXPECT_EQ(Ticked(), QStringList({"a.png", "b.png", "c.png"}));
}

TEST_F(ImageList, FilesDeletedOrAddedShowAtTheNextRefresh) {
  Make({"a.png", "b.png", "d.png", "E.png"});
  Open();
  Entry("d.png")->setCheckState(Qt::Unchecked);
  window->lstImages->setCurrentRow(3); // E.png stays current through the refresh
  ASSERT_TRUE(QFile::remove(images.file("b.png")));
  Make({"C.png", "aa.png", "f.png"});

  window->RefreshFileList();
  EXPECT_EQ(Listed(), QStringList({"a.png", "aa.png", "C.png", "d.png", "E.png", "f.png"}));
  EXPECT_EQ(Ticked(), QStringList({"a.png", "aa.png", "C.png", "E.png", "f.png"}));
  EXPECT_EQ(window->lstImages->currentItem()->text(), "E.png");

  // Names that differ only in letter case are two files here, and both are listed.
  Make({"A.png"});
  window->RefreshFileList();
  EXPECT_EQ(Listed().mid(0, 2), QStringList({"A.png", "a.png"}));
}

TEST_F(ImageList, NothingIsListedOrPreviewedWhileTheWindowLoadsOrIsHidden) {
  Make({"a.png", "b.png"});
  Open(fallback.path());
  window->FormLoading = true;
  window->txtInputDirectory->setText(images.path());
  EXPECT_EQ(Listed(), QStringList());
  EXPECT_TRUE(window->RefreshingList) << "the refresh that ends loading clears it";
  window->FormLoading = false;
  window->hide();
  window->RefreshFileList();
  EXPECT_EQ(Listed(), QStringList({"a.png", "b.png"}));
  EXPECT_FALSE(window->RefreshingList);
  EXPECT_EQ(window->fraLoadingImages->pos(),
            window->TwipsToPixels(QRect(90, 765, 2535, 2400)).topLeft());
  window->lstImages->setCurrentRow(0);
  EXPECT_TRUE(toolkit.calls.empty()) << "no preview for a hidden window";
}

TEST_F(ImageList, AnInvalidFolderIsReportedAndTheDefaultFolderListed) {
  MakeImage(fallback.file("default.png"), 4, 4);
  Make({"a.png"});
  Open();
  const QString missing = images.file("gone");
  prompter.expect("Invalid Directory",
                  "Directory: " + missing +
                      " does not exist, or is invalid!\r\nDirectory will be set to defualt.",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  window->txtInputDirectory->setText(missing);
  EXPECT_EQ(window->txtInputDirectory->text(), fallback.path());
  EXPECT_EQ(Listed(), QStringList({"default.png"}));
  EXPECT_TRUE(window->lstImages->isVisible());
  EXPECT_FALSE(window->fraLoadingImages->isVisible());
  EXPECT_FALSE(window->RefreshingList);

  // A file where a folder should be is just as invalid.
  prompter.expect("Invalid Directory",
                  "Directory: " + fallback.file("default.png") +
                      " does not exist, or is invalid!\r\nDirectory will be set to defualt.",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  window->txtInputDirectory->setText(fallback.file("default.png"));
  EXPECT_EQ(window->txtInputDirectory->text(), fallback.path());
}

TEST_F(ImageList, AnInvalidDefaultFolderLeavesTheListEmptyWithoutLooping) {
  Make({"a.png"});
  Open();
  const QString fallbackPath = fallback.path();
  ASSERT_TRUE(QDir(fallbackPath).removeRecursively());
  const QString text = " does not exist, or is invalid!\r\nDirectory will be set to defualt.";
  prompter.expect("Invalid Directory", "Directory: " + images.file("nowhere") + text, Buttons::Ok,
                  Icon::Exclamation, Answer::Ok);
  window->txtInputDirectory->setText(images.file("nowhere"));
  EXPECT_EQ(window->txtInputDirectory->text(), fallbackPath);
  EXPECT_EQ(Listed(), QStringList());
  EXPECT_EQ(prompter.shown(), 1);
}

TEST_F(ImageList, AMalformedPatternGoesToTheErrorDialogAndKeepsTheList) {
  Make({"a.png", "ab.png", "b.png"});
  Open();
  Entry("b.png")->setCheckState(Qt::Unchecked);
  QTest::keyClicks(window->txtPattern, "[");
  ASSERT_EQ(errors.reports.size(), 1u);
  const ErrorReport &report = errors.reports[0];
  EXPECT_EQ(report.source, "RefreshFileList");
  EXPECT_EQ(report.operation, "");
  EXPECT_EQ(report.form, "frmMain");
  EXPECT_EQ(report.title, window->windowTitle());
  EXPECT_EQ(report.programId, "73");
  EXPECT_EQ(report.errorNumber, 93);
  EXPECT_EQ(Listed(), QStringList({"a.png", "ab.png", "b.png"}));
  EXPECT_EQ(Ticked(), QStringList({"a.png", "ab.png"}));
  EXPECT_TRUE(window->lstImages->isVisible());
  EXPECT_FALSE(window->RefreshingList);

  QTest::keyClicks(window->txtPattern, "a]"); // "[a" is still malformed, "[a]" is not
  EXPECT_EQ(errors.reports.size(), 2u);
  EXPECT_EQ(Listed(), QStringList({"a.png"}));
}

TEST_F(ImageList, SelectAllWithoutACurrentEntryLoadsNoPreview) {
  Make({"a.png", "b.png", "c.png"});
  Open();
  Entry("a.png")->setCheckState(Qt::Unchecked);
  Entry("c.png")->setCheckState(Qt::Unchecked);
  QTest::mouseClick(window->cmdSelectAll, Qt::LeftButton);
  EXPECT_EQ(Ticked(), Listed());
  EXPECT_EQ(window->lstImages->currentRow(), -1);
  EXPECT_EQ(Calls("convert"), 0);
  EXPECT_EQ(window->lblLoading->text(), "No Image Selected.");
  EXPECT_TRUE(window->lstImages->isVisible());
  EXPECT_FALSE(window->fraLoadingImages->isVisible());
}

TEST_F(ImageList, SelectAndDeselectAllKeepTheCurrentEntryAndPreviewItOnce) {
  Make({"a.png", "b.png", "c.png", "d.png"});
  Open();
  window->lstImages->setCurrentRow(2);
  ASSERT_EQ(Calls("convert"), 1);
  toolkit.calls.clear();

  QTest::mouseClick(window->cmdDeselectAll, Qt::LeftButton);
  EXPECT_EQ(Ticked(), QStringList());
  EXPECT_EQ(window->lstImages->currentRow(), 2);
  EXPECT_EQ(Calls("identify"), 1);
  EXPECT_EQ(Calls("convert"), 1);

  QTest::mouseClick(window->cmdSelectAll, Qt::LeftButton);
  EXPECT_EQ(Ticked(), Listed());
  EXPECT_EQ(window->lstImages->currentRow(), 2);
  EXPECT_EQ(Calls("convert"), 2);
  EXPECT_EQ(window->ImageLoaded, 1);
}

TEST_F(ImageList, SelectDirPutsTheChosenFolderInAndCancelChangesNothing) {
  TempFolder other;
  MakeImage(other.file("x.png"), 4, 4);
  Make({"a.png"});
  Open();
  browser.answers = {other.path(), QString()};
  QTest::mouseClick(window->cmdSelectDir, Qt::LeftButton);
  EXPECT_EQ(browser.titles, QStringList({"Select Input Directory"}));
  EXPECT_EQ(window->txtInputDirectory->text(), other.path());
  EXPECT_EQ(Listed(), QStringList({"x.png"}));
  QTest::mouseClick(window->cmdSelectDir, Qt::LeftButton);
  EXPECT_EQ(window->txtInputDirectory->text(), other.path());
}

TEST_F(ImageList, TheScrollRangeFitsTheWidestEntry) {
  const QString longName = QString(60, u'w') + ".png";
  Make({"a.png", longName});
  Open();
  const QFontMetricsF metrics(window->lstImages->font());
  const int expected = qRound(metrics.horizontalAdvance("      " + longName));
  EXPECT_NEAR(window->HorizontalExtent(window->lstImages), expected, 1);
  EXPECT_GT(window->lstImages->horizontalScrollBar()->maximum(), 0);

  ASSERT_TRUE(QFile::remove(images.file(longName)));
  window->RefreshFileList();
  EXPECT_NEAR(window->HorizontalExtent(window->lstImages),
              qRound(metrics.horizontalAdvance("      a.png")), 1);

  window->lstOperations->addItem("Extract (0,0)-(9,9), " + QString(80, u'x'));
  window->AdjustHorizontalScroll(window->lstOperations);
  EXPECT_GT(window->HorizontalExtent(window->lstOperations), 400);
}

} // namespace
} // namespace varnholt::test
