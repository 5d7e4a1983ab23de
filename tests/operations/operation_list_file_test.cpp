#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "settings/settings.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace varnholt {
namespace {

const QString kTicked =
    QStringLiteral(R"(Extract (10,20)-(110,220) Prefix: "th_" Format: "JPG" Quality: "90")");
const QString kUnticked = QStringLiteral(
    R"(Extract Whole Image LimitWidth (640) Suffix: "_640" Format: "Don't Change" Quality: "75")");

// A list that loads without an error, and so becomes the loaded list.
QStringList Load(const QString &path) {
  Settings settings;
  QString error;
  const QStringList lines = LoadOperationsFile(path, settings.LoadedFile, error);
  EXPECT_EQ(error, "") << path.toStdString();
  EXPECT_EQ(settings.LoadedFile, path);
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

  EXPECT_EQ(Load(path), (QStringList{"1>" + kTicked, "0>" + kUnticked}));

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
  EXPECT_EQ(dropped, (QList<int>{1, 2, 3, 5}));

  // For a message: the first ten, each cut short, and how many more.
  QList<DroppedListLine> many;
  for (int n = 1; n <= 12; ++n)
    many.push_back({n, n == 2 ? QString(101, u'x') : QStringLiteral("bad")});
  const QStringList lines = DroppedLinesText(many).split("\r\n");
  EXPECT_EQ(lines.size(), 11);
  EXPECT_EQ(lines[1], "Line 2: " + QString(100, u'x') + "...");
  EXPECT_EQ(lines[9], "Line 10: bad");
  EXPECT_EQ(lines[10], "and 2 more");
  EXPECT_EQ(DroppedLinesText(many.mid(0, 1)), "Line 1: bad");
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
  EXPECT_EQ(LoadOperationsFile(dir.file("gone.vop"), settings.LoadedFile, error), QStringList());
  EXPECT_EQ(error, "2 - No such file or directory: " + dir.file("gone.vop"));
  EXPECT_EQ(LoadOperationsFile(dir.path(), settings.LoadedFile, error), QStringList());
  EXPECT_EQ(error, "21 - Is a directory: " + dir.path());
  // A FIFO would block the open until a writer came, a device read forever.
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file("fifo.vop")).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link("/dev/zero", dir.file("zero.vop")));
  for (const QString name : {"fifo.vop", "zero.vop"}) {
    EXPECT_EQ(LoadOperationsFile(dir.file(name), settings.LoadedFile, error), QStringList());
    EXPECT_EQ(error, "1006 - Not a regular file: " + dir.file(name));
  }
  EXPECT_EQ(settings.LoadedFile, "before");
}

// Any line ending, UTF-8 with or without a byte-order mark, else Windows-1252;
// an empty file, or one with nothing left, is an empty list and no error.
TEST(OperationListFile, ReadsEveryLineEndingAndEncoding) {
  test::TempFolder dir;
  const QByteArray a = "1>Extract Whole Image Suffix: \"_a\" Quality: \"75\"";
  const QByteArray b = "0>Extract Whole Image Suffix: \"_b\" Quality: \"75\"";
  const QStringList both{QString::fromUtf8(a), QString::fromUtf8(b)};
  const QString cafe =
      QString::fromUtf8("1>Extract Whole Image Prefix: \"café€_\" Quality: \"75\"");
  const struct {
    QByteArray bytes;
    QStringList lines;
  } rows[] = {
      {a + "\r" + b + "\r", both},
      {a + "\n" + b + "\n", both},
      {a + "\r\n" + b + "\r\n", both},
      {a + "\n\r" + b + "\n\r", both}, // two line ends, not one glued to the next line
      {"\xEF\xBB\xBF" + cafe.toUtf8() + "\r\n", {cafe}},
      {"1>Extract Whole Image Prefix: \"caf\xE9\x80_\" Quality: \"75\"\r\n", {cafe}},
      {"", {}},
      {"no arrow\r\n\r\n\n\r", {}},
  };
  for (const auto &row : rows) {
    test::WriteBytes(dir.file("list.vop"), row.bytes);
    EXPECT_EQ(Load(dir.file("list.vop")), row.lines) << row.bytes.toHex().toStdString();
  }
  EXPECT_EQ(DecodeWindows1252("\x81\x9F\xFF"), QString::fromUtf8("\u0081Ÿÿ"));
}

TEST(OperationListFile, HostileContentNeverCrashes) {
  test::TempFolder dir;
  QByteArray huge = "1>Extract (" + QByteArray(2'000'000, '9') + ",1)-(1,1)";
  huge += "\r\n1>" + QByteArray(1'000'000, '"') + "\r\n" + QByteArray(100'000, '>') + "\n";
  for (int i = 0; i < 256; ++i)
    huge += char(i);
  test::WriteBytes(dir.file("hostile.vop"), huge);
  Load(dir.file("hostile.vop"));
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
