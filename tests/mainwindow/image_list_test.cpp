#include "mainwindow/main_window_fixture.h"

#include "dialogs/frm_about.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <QProcess>

#include <climits>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

namespace varnholt::test {
namespace {

using ImageList = MainWindowTest;

// Which names count as images, and the pattern language, are table-tested
// with the listing. Here: files deleted or added show at the next refresh,
// ticked, in an order that ignores letter case; ticks and the current entry
// survive while the entry stays listed; the pattern controls reach the listing.
TEST_F(ImageList, RefreshesKeepTicksAndTheCurrentEntryUntilTheEntryDropsOut) {
  Make({"a.png", "b.png", "d.png", "E.png"});
  Open();
  EXPECT_EQ(Box("txtInputDirectory")->toolTip(), "Image Folder: " + images.path());
  Entry("d.png")->setCheckState(Qt::Unchecked);
  List("lstImages")->setCurrentRow(3);
  ASSERT_TRUE(QFile::remove(images.file("b.png")));
  Make({"C.png", "aa.png", "f.png"});
  window->Images().RefreshFileList();
  EXPECT_EQ(Listed(), QStringList({"a.png", "aa.png", "C.png", "d.png", "E.png", "f.png"}));
  EXPECT_EQ(Ticked(), QStringList({"a.png", "aa.png", "C.png", "E.png", "f.png"}));
  EXPECT_EQ(List("lstImages")->currentItem()->text(), "E.png");

  Box("txtPattern")->setText("*");
  EXPECT_EQ(Ticked().size(), 5);
  Box("txtPattern")->setText("a*"); // d.png drops out ...
  Box("txtPattern")->setText("*");  // ... and comes back as a new entry
  EXPECT_EQ(Ticked(), Listed());

  // Names that differ only in letter case are two files here, and both are listed.
  Make({"A.png"});
  window->Images().RefreshFileList();
  EXPECT_EQ(Listed().mid(0, 2), QStringList({"A.png", "a.png"}));
  Box("txtPattern")->setText("a*");
  EXPECT_EQ(Listed(), QStringList({"a.png", "aa.png"})) << "the match is case-sensitive";
  QTest::mouseClick(Check("chkInversePattern"), Qt::LeftButton);
  EXPECT_EQ(Listed(), QStringList({"A.png", "C.png", "d.png", "E.png", "f.png"}));
}

TEST_F(ImageList, AHiddenWindowListsButPreviewsNothing) {
  Make({"a.png", "b.png"});
  Open(fallback.path());
  window->hide();
  Box("txtInputDirectory")->setText(images.path());
  EXPECT_EQ(Listed(), QStringList({"a.png", "b.png"}));
  List("lstImages")->setCurrentRow(0);
  EXPECT_TRUE(toolkit.calls.empty()) << "no preview for a hidden window";
}

TEST_F(ImageList, NamesThatAreNotUtf8AreReportedOnceNotDroppedSilently) {
  Make({"a.png"});
  const QByteArray folder = QFile::encodeName(images.path());
  for (const char *name : {"x\xff.png", "y\xe9.jpg", "z\xff.txt"})
    ::close(::open((folder + "/" + name).constData(), O_CREAT | O_WRONLY, 0644));
  const auto expectUnreadable = [this](const QString &names) {
    ExpectOk("Unreadable File Names",
             "These images are not listed and cannot be processed because their names are not "
             "valid UTF-8. Rename them to process them:\r\n\r\n" +
                 names);
  };
  expectUnreadable("x\\xff.png\r\ny\\xe9.jpg");
  Open();
  EXPECT_EQ(Listed(), QStringList({"a.png"}));
  // Once per folder and session: not at a refresh, a filter or a return.
  window->Images().RefreshFileList();
  Box("txtPattern")->setText("x*");
  Box("txtPattern")->setText(QString());
  TempFolder other;
  ::close(::open((QFile::encodeName(other.path()) + "/o\xff.gif").constData(), O_CREAT | O_WRONLY,
                 0644));
  expectUnreadable("o\\xff.gif");
  Box("txtInputDirectory")->setText(other.path());
  Box("txtInputDirectory")->setText(images.path());
  Box("txtInputDirectory")->setText(other.path());
  EXPECT_EQ(prompter.shown(), 2);
  for (const char *name : {"x\xff.png", "y\xe9.jpg", "z\xff.txt"})
    ::unlink((folder + "/" + name).constData());
}

// Include Subfolders, turned on or off in the settings, lists the tree at
// once: each image with its folder, hidden folders and the results' folder
// left out. A folder that cannot be read (here one too deep for a path, which
// stops root too) is named once in the session.
TEST_F(ImageList, SubfoldersTurnedOnInTheSettingsAreListedWithTheirFolder) {
  for (const char *folder : {"2024/jan", ".hidden", "web"})
    QDir(images.path()).mkpath(folder);
  Make({"b.png", "2024/a.png", "2024/jan/c.png", ".hidden/h.png", "web/w.png"});
  QString deep = "deep", tooDeep;
  int fd = ::open(QFile::encodeName(images.path()).constData(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; fd >= 0 && level < 24; ++level) {
    const QString name = level == 0 ? deep : QString(200, QChar(u'a' + level));
    ::mkdirat(fd, QFile::encodeName(name).constData(), 0755);
    const int next = ::openat(fd, QFile::encodeName(name).constData(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    if (level > 0) deep += '/' + name;
    if (tooDeep.isEmpty() && (images.path() + '/' + deep).size() >= PATH_MAX) tooDeep = deep;
  }
  ::close(fd);
  settings.OutputInDiffDir = true;
  settings.OutputDir = images.file("web");
  Open();
  EXPECT_EQ(Listed(), QStringList({"b.png"}));
  const auto turn = [this](bool on) {
    QTimer::singleShot(0, window.get(), [this, on] {
      frmAbout *about = window->AboutWindow();
      Control<QCheckBox>(*about, "chkSubfolders")->setChecked(on);
      about->cmdOK_Click();
    });
    QTest::mouseClick(Button("cmdAbout"), Qt::LeftButton);
  };
  ExpectOk("Unreadable Folders", "These subfolders cannot be read, so their images are not "
                                 "listed:\r\n\r\n" +
                                     tooDeep + ": File name too long");
  turn(true);
  EXPECT_EQ(Listed(), QStringList({"b.png", "2024/a.png", "2024/jan/c.png"}));
  Make({"2024/d.png"});
  window->Images().RefreshFileList();
  EXPECT_EQ(Listed(), QStringList({"b.png", "2024/a.png", "2024/d.png", "2024/jan/c.png"}));
  EXPECT_TRUE(prompter.done());
  turn(false);
  EXPECT_EQ(Listed(), QStringList({"b.png"}));
  QProcess::execute("rm", {"-rf", images.file("deep")}); // deeper than Qt removes
}

TEST_F(ImageList, AnInvalidFolderIsReportedAndTheDefaultFolderListed) {
  MakeImage(fallback.file("default.png"), 4, 4);
  Make({"a.png"});
  Open();
  const QString missing = images.file("gone");
  const auto expectInvalid = [this](const QString &folder) {
    ExpectOk("Invalid Directory", "Directory: " + folder +
                                      " does not exist, or is invalid!\r\nDirectory will be set "
                                      "to defualt.");
  };
  expectInvalid(missing);
  Box("txtInputDirectory")->setText(missing);
  EXPECT_EQ(Box("txtInputDirectory")->text(), fallback.path());
  EXPECT_EQ(Listed(), QStringList({"default.png"}));
  EXPECT_TRUE(List("lstImages")->isVisible());
  EXPECT_FALSE(Find<QGroupBox>("fraLoadingImages")->isVisible());
  List("lstImages")->setCurrentRow(0);
  EXPECT_EQ(window->Images().PreviewedFile(), fallback.file("default.png"))
      << "the list has settled";

  // A file where a folder should be is just as invalid.
  expectInvalid(fallback.file("default.png"));
  Box("txtInputDirectory")->setText(fallback.file("default.png"));
  EXPECT_EQ(Box("txtInputDirectory")->text(), fallback.path());

  // A default folder that is gone too leaves the list empty, told once.
  ASSERT_TRUE(QDir(fallback.path()).removeRecursively());
  expectInvalid(missing);
  Box("txtInputDirectory")->setText(missing);
  EXPECT_EQ(Box("txtInputDirectory")->text(), fallback.path());
  EXPECT_EQ(Listed(), QStringList());
  EXPECT_EQ(prompter.shown(), 3);
}

// Typing "[a]" passes through two patterns that do not read yet: the box
// says so, no dialog takes the next keystroke, and the list waits.
TEST_F(ImageList, AMalformedPatternShowsInItsBoxAndKeepsTheList) {
  Make({"a.png", "ab.png", "b.png"});
  Open();
  Entry("b.png")->setCheckState(Qt::Unchecked);
  QLineEdit *pattern = Box("txtPattern");
  const QString ownTip = pattern->toolTip();
  pattern->setFocus(Qt::MouseFocusReason);
  const struct {
    const char *keys;
    bool reads;
    QStringList listed;
  } typed[] = {{"[", false, {"a.png", "ab.png", "b.png"}},
               {"a", false, {"a.png", "ab.png", "b.png"}},
               {"]", true, {"a.png"}},
               {"[", false, {"a.png"}}};
  for (const auto &step : typed) {
    SCOPED_TRACE(pattern->text().toStdString() + step.keys);
    QTest::keyClicks(pattern, step.keys);
    EXPECT_TRUE(pattern->hasFocus()) << "the keystrokes stay in the box";
    EXPECT_EQ(pattern->toolTip(), step.reads ? ownTip : "Invalid pattern string");
    EXPECT_EQ(pattern->styleSheet().contains("border"), !step.reads);
    EXPECT_EQ(pattern->font(), Box("txtInputDirectory")->font()) << "the frame keeps the face";
    EXPECT_EQ(Listed(), step.listed);
    EXPECT_TRUE(List("lstImages")->isVisible());
  }
  EXPECT_EQ(Ticked(), QStringList({"a.png"}));
  EXPECT_TRUE(errors.reports.empty());
  EXPECT_EQ(prompter.shown(), 0);
}

TEST_F(ImageList, SelectAndDeselectAllKeepTheCurrentEntryAndPreviewItOnce) {
  Make({"a.png", "b.png", "c.png", "d.png"});
  Open();
  Entry("a.png")->setCheckState(Qt::Unchecked);
  QTest::mouseClick(Button("cmdSelectAll"), Qt::LeftButton);
  EXPECT_EQ(Ticked(), Listed());
  EXPECT_EQ(Calls("convert"), 0) << "no current entry, no preview";
  EXPECT_EQ(Label("lblLoading")->text(), "No Image Selected.");
  EXPECT_FALSE(Find<QGroupBox>("fraLoadingImages")->isVisible());

  List("lstImages")->setCurrentRow(2);
  ASSERT_EQ(Calls("convert"), 1);
  toolkit.calls.clear();
  QTest::mouseClick(Button("cmdDeselectAll"), Qt::LeftButton);
  EXPECT_EQ(Ticked(), QStringList());
  EXPECT_EQ(List("lstImages")->currentRow(), 2);
  EXPECT_EQ(Calls("identify"), 1);
  EXPECT_EQ(Calls("convert"), 1);

  QTest::mouseClick(Button("cmdSelectAll"), Qt::LeftButton);
  EXPECT_EQ(Ticked(), Listed());
  EXPECT_EQ(List("lstImages")->currentRow(), 2);
  EXPECT_EQ(Calls("convert"), 2);
  EXPECT_EQ(window->Images().PreviewedFile(), images.file("c.png"));
}

TEST_F(ImageList, SelectDirPutsTheChosenFolderInAndCancelChangesNothing) {
  TempFolder other;
  MakeImage(other.file("x.png"), 4, 4);
  Open();
  browser.answers = {other.path(), QString()};
  QTest::mouseClick(Button("cmdSelectDir"), Qt::LeftButton);
  EXPECT_EQ(browser.titles, QStringList({"Select Input Directory"}));
  EXPECT_EQ(Box("txtInputDirectory")->text(), other.path());
  EXPECT_EQ(Listed(), QStringList({"x.png"}));
  QTest::mouseClick(Button("cmdSelectDir"), Qt::LeftButton);
  EXPECT_EQ(Box("txtInputDirectory")->text(), other.path());
  // Each time the browser opens where the folder box is.
  EXPECT_EQ(browser.startFolders, QStringList({images.path(), other.path()}));
}

TEST_F(ImageList, TheScrollRangeFitsTheWidestEntry) {
  const QString longName = QString(60, u'w') + ".png";
  Make({"a.png", longName});
  Open();
  const QFontMetricsF metrics(List("lstImages")->font());
  const int expected = qRound(metrics.horizontalAdvance("      " + longName));
  EXPECT_NEAR(HorizontalExtent(List("lstImages")), expected, 1);
  EXPECT_GT(List("lstImages")->horizontalScrollBar()->maximum(), 0);

  ASSERT_TRUE(QFile::remove(images.file(longName)));
  window->Images().RefreshFileList();
  EXPECT_NEAR(HorizontalExtent(List("lstImages")), qRound(metrics.horizontalAdvance("      a.png")),
              1);

  List("lstOperations")->addItem("Extract (0,0)-(9,9), " + QString(80, u'x'));
  window->Operations().AdjustHorizontalScroll();
  EXPECT_GT(HorizontalExtent(List("lstOperations")), 400);
}

} // namespace
} // namespace varnholt::test
