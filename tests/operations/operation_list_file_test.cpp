#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "settings/settings.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

const QString kTicked =
    QStringLiteral(R"(Extract (10,20)-(110,220) Prefix: "th_" Format: "JPG" Quality: "90")");
const QString kUnticked = QStringLiteral(
    R"(Extract Whole Image LimitWidth (640) Suffix: "_640" Format: "Don't Change" Quality: "75")");

QStringList Load(const QString &path, QString *error = nullptr) {
  Settings settings;
  QString errorText;
  const QStringList lines = LoadOperationsFile(path, settings, errorText);
  if (error) *error = errorText;
  return lines;
}

TEST(OperationListFile, SaveWritesTickArrowTextCrLfAndLoadsBackInOrder) {
  test::TempFolder dir;
  const QString path = dir.file("list.vop");
  test::WriteBytes(path, "old contents that must go\r\n");
  Settings settings;
  settings.LoadedFile = "before";
  QString error;
  ASSERT_TRUE(SaveOperationsFile(path, {{kTicked, true}, {kUnticked, false}}, settings, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(settings.LoadedFile, path);
  EXPECT_EQ(test::ReadBytes(path), ("1>" + kTicked + "\r\n0>" + kUnticked + "\r\n").toUtf8());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.vop"})
      << "no temporary file left behind";

  Settings loaded;
  const QStringList lines = LoadOperationsFile(path, loaded, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(loaded.LoadedFile, path);
  ASSERT_EQ(lines, (QStringList{"1>" + kTicked, "0>" + kUnticked}));
  EXPECT_EQ(SplitListLine(lines[0]), (OperationListItem{kTicked, true}));
  EXPECT_EQ(SplitListLine(lines[1]), (OperationListItem{kUnticked, false}));

  // Saving through a link updates the list it points to.
  test::WriteBytes(dir.file("real.vop"), "0>x\r\n");
  ASSERT_TRUE(QFile::link(dir.file("real.vop"), dir.file("link.vop")));
  ASSERT_TRUE(SaveOperationsFile(dir.file("link.vop"), {{kTicked, true}}, settings, error));
  EXPECT_TRUE(QFileInfo(dir.file("link.vop")).isSymLink());
  EXPECT_EQ(test::ReadBytes(dir.file("real.vop")), ("1>" + kTicked + "\r\n").toUtf8());
}

TEST(OperationListFile, DropsLinesWithoutArrowOrWithInvalidOperations) {
  test::TempFolder dir;
  const QString path = dir.file("list.vop");
  test::WriteBytes(path, "Extract Whole Image Quality: \"75\"\r\n"    // no ">"
                         "1>Extract (5,5)-(1,1) Quality: \"75\"\r\n"  // corners the wrong way
                         "1>Extract (-1,0)-(5,5) Quality: \"75\"\r\n" // a corner below 0
                         "1>Extract Whole Image Prefix: \"\t\"\r\n"   // a control character
                         "1>Extract Whole Image Quality: \"0\"\r\n"   // quality 0
                         "1>Extract Whole Image Quality: \"300\"\r\n" // unreadable, still valid
                         "0>Extract Whole Image Prefix: \"a*\"\r\n"   // bad file name character
                         "1>Extract Whole Image Suffix: \"_s\"\r\n"   // no quality: 75
                         "1>hello\r\n"                                // one pixel at the origin
                         "\r\n"
                         "True>Extract Whole Image Quality: \"1\""); // no line ending
  EXPECT_EQ(Load(path), (QStringList{"1>Extract Whole Image Quality: \"300\"",
                                     "1>Extract Whole Image Suffix: \"_s\"", "1>hello",
                                     "True>Extract Whole Image Quality: \"1\""}));
  // What is left out, by its line in the file; the blank line is not.
  QList<int> dropped;
  for (const DroppedListLine &line : DroppedOperationLinesOfFile(path))
    dropped << line.number;
  EXPECT_EQ(dropped, (QList<int>{1, 2, 3, 4, 5, 7}));

  // An empty file, or one with nothing left, is an empty list and no error.
  for (const QByteArray &bytes : {QByteArray(), QByteArray("no arrow\r\n\r\n\n\r")}) {
    test::WriteBytes(path, bytes);
    Settings settings;
    QString error;
    EXPECT_EQ(LoadOperationsFile(path, settings, error), QStringList());
    EXPECT_EQ(error, "");
    EXPECT_EQ(settings.LoadedFile, path);
  }
}

// A failed save or load gives the failure's text and leaves LoadedFile alone.
TEST(OperationListFile, FailuresGiveTheirTextAndChangeNothing) {
  test::TempFolder dir;
  Settings settings;
  settings.LoadedFile = "before";
  QString error;
  const QString intoMissing = dir.file("missing/list.vop");
  EXPECT_FALSE(SaveOperationsFile(intoMissing, {{kTicked, true}}, settings, error));
  EXPECT_EQ(error, "2 - No such file or directory: " + intoMissing);
  EXPECT_FALSE(SaveOperationsFile(dir.path(), {{kTicked, true}}, settings, error));
  EXPECT_EQ(error, "21 - Is a directory: " + dir.path());
  EXPECT_EQ(LoadOperationsFile(dir.file("gone.vop"), settings, error), QStringList());
  EXPECT_EQ(error, "2 - No such file or directory: " + dir.file("gone.vop"));
  EXPECT_EQ(LoadOperationsFile(dir.path(), settings, error), QStringList());
  EXPECT_EQ(error, "21 - Is a directory: " + dir.path());
  EXPECT_EQ(settings.LoadedFile, "before");
}

TEST(OperationListFile, ReadsCrOnlyLfOnlyAndMixedLineEndings) {
  test::TempFolder dir;
  const QByteArray a = "1>Extract Whole Image Suffix: \"_a\" Quality: \"75\"";
  const QByteArray b = "0>Extract Whole Image Suffix: \"_b\" Quality: \"75\"";
  const QStringList both{QString::fromUtf8(a), QString::fromUtf8(b)};
  // LF CR is two line ends, not one glued to the next line.
  for (const QByteArray ending : {"\r", "\n", "\r\n", "\n\r"}) {
    test::WriteBytes(dir.file("list.vop"), a + ending + b + ending);
    EXPECT_EQ(Load(dir.file("list.vop")), both) << ending.toHex().toStdString();
  }
}

TEST(OperationListFile, ReadsUtf8AndFallsBackToWindows1252) {
  test::TempFolder dir;
  const QString utf8Line =
      QString::fromUtf8("1>Extract Whole Image Prefix: \"café€_\" Quality: \"75\"");
  test::WriteBytes(dir.file("utf8.vop"), "\xEF\xBB\xBF" + utf8Line.toUtf8() + "\r\n");
  EXPECT_EQ(Load(dir.file("utf8.vop")), QStringList{utf8Line}) << "a byte-order mark is dropped";

  test::WriteBytes(dir.file("old.vop"),
                   "1>Extract Whole Image Prefix: \"caf\xE9\x80_\" Quality: \"75\"\r\n");
  EXPECT_EQ(Load(dir.file("old.vop")), QStringList{utf8Line});
  EXPECT_EQ(DecodeWindows1252("\x81\x9F\xFF"), QString::fromUtf8("\u0081Ÿÿ"));
}

TEST(OperationListFile, HostileContentNeverCrashes) {
  test::TempFolder dir;
  QByteArray huge = "1>Extract (" + QByteArray(2'000'000, '9') + ",1)-(1,1)";
  huge += "\r\n1>" + QByteArray(1'000'000, '"') + "\r\n" + QByteArray(100'000, '>') + "\n";
  for (int i = 0; i < 256; ++i)
    huge += char(i);
  test::WriteBytes(dir.file("hostile.vop"), huge);
  QString error;
  Load(dir.file("hostile.vop"), &error);
  EXPECT_EQ(error, "");
}

TEST(OperationListFile, SplitLineReadsTheTickAsABoolean) {
  for (const char *line : {"1>a", "-2>a", "true>a"})
    EXPECT_TRUE(SplitListLine(line).ticked) << line;
  for (const char *line : {"False>a", "0>a>b"})
    EXPECT_FALSE(SplitListLine(line).ticked) << line;
  EXPECT_EQ(SplitListLine("0>a>b").text, "a");
  try {
    SplitListLine("yes>a");
    ADD_FAILURE() << "yes read as a tick";
  } catch (const Failure &f) {
    EXPECT_EQ(f.number(), 13);
  }
}

} // namespace
} // namespace varnholt
