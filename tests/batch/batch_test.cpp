#include "processing/magick/magick_toolkit.h"
#include "support/test_images.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnholt {
namespace {

const QString kCrop =
    R"(Extract (2,2)-(11,7) LimitWidthHeight (5*5) Prefix: "th_" Format: "JPG" Quality: "90")";
const QString kWidth = R"(Extract Whole Image LimitWidth (8) Suffix: "_8" Quality: "80")";
const QString kFix =
    R"(Extract (0,0)-(9,9) FixToSize (6*4) Suffix: "_fix" Format: "PNG" Quality: "75")";

struct Counts {
  int written = -1, skipped = -1, failed = -1;
  int all() const { return written + skipped + failed; }
  bool operator==(const Counts &) const = default;
  friend void PrintTo(const Counts &c, std::ostream *os) {
    *os << c.written << " written, " << c.skipped << " skipped, " << c.failed << " failed";
  }
};

struct Result {
  int exitCode = -1;
  QString out, err;
  QString lastLine() const { return out.trimmed().section(u'\n', -1); }
  // The exit code, the output and the errors, to compare at once.
  std::string said() const { return QString("%1|%2|%3").arg(exitCode).arg(out, err).toStdString(); }
  Counts counts() const {
    static const QRegularExpression line(
        "^(\\d+) written, (\\d+) skipped(?: \\(stopped\\))?, (\\d+) failed$");
    const QRegularExpressionMatch m = line.match(lastLine());
    if (!m.hasMatch()) return {};
    return {m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()};
  }
};

Result Finished(QProcess &process) {
  Result r;
  r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  r.err = QString::fromLocal8Bit(process.readAllStandardError());
  return r;
}

// As a script would start the real executable: no display, no platform, and
// no part of a job (the tests may run inside one).
QProcessEnvironment ScriptEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SLURM_ARRAY_TASK_ID",
                           "JOB_COMPLETION_INDEX", "PARALLEL_SEQ"})
    env.remove(name);
  return env;
}

Result RunProgram(const QString &program, const QStringList &args,
                  const QString &workingDir = QString(),
                  const QProcessEnvironment &env = ScriptEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(env);
  if (!workingDir.isEmpty()) process.setWorkingDirectory(workingDir);
  process.start(program, args);
  EXPECT_TRUE(process.waitForFinished(60000));
  return Finished(process);
}

Result RunVarnholt(const QStringList &args, const QString &workingDir = QString()) {
  return RunProgram(QStringLiteral(VARNHOLT_EXECUTABLE), args, workingDir);
}

void WriteList(const QString &path, const QList<std::pair<bool, QString>> &items) {
  QByteArray bytes;
  for (const auto &[ticked, text] : items)
    bytes += (ticked ? "1>" : "0>") + text.toUtf8() + "\r\n";
  test::WriteBytes(path, bytes);
}

QStringList Files(const QString &folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The same names; the same bytes, or for PNG (which carries the time it was
// written) the same pixels.
void ExpectSameFiles(const QString &whole, const QString &other) {
  ASSERT_EQ(Files(other), Files(whole));
  for (const QString &name : Files(whole)) {
    const QString a = whole + "/" + name, b = other + "/" + name;
    if (name.endsWith(".png", Qt::CaseInsensitive))
      EXPECT_EQ(QImage(a), QImage(b)) << name.toStdString();
    else
      EXPECT_EQ(test::ReadBytes(a), test::ReadBytes(b)) << name.toStdString();
  }
}

class Batch : public ::testing::Test {
protected:
  void SetUp() override {
    QDir().mkpath(in());
    QDir().mkpath(out());
    test::MakeImage(in() + "/a.png", 20, 12);
    test::MakeImage(in() + "/b.jpg", 16, 10);
    list = dir.file("list.vop");
  }
  QString in() const { return dir.file("in"); }
  QString out() const { return dir.file("out"); }
  // This test's list on this test's images.
  Result run(const QStringList &more) const {
    return RunProgram(QStringLiteral(VARNHOLT_EXECUTABLE),
                      QStringList{"--batch", list, "--input", in()} + more, QString(), env);
  }
  // An empty folder of that name beside the images' own.
  QString fresh(const QString &name) const {
    const QString folder = dir.file(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
  }
  test::TempFolder dir;
  QString list;
  QProcessEnvironment env = ScriptEnvironment();
};

TEST_F(Batch, WritesEveryPairAndExitsZeroWithoutADisplay) {
  WriteList(list, {{true, kCrop}, {false, kFix}, {true, kWidth}});
  const Result r = run({"--output", out()});
  EXPECT_EQ(r.said(), "0|4 written, 0 skipped, 0 failed\n|");
  EXPECT_EQ(Files(out()), (QStringList{"a_8.png", "b_8.jpg", "th_a.JPG", "th_b.jpg"}));
  EXPECT_EQ(test::ImageSize(out() + "/th_a.JPG"), QSize(5, 3)) << "one file, resized";
  EXPECT_EQ(test::ImageSize(out() + "/a_8.png"), QSize(8, 5));
  EXPECT_EQ(Files(in()), (QStringList{"a.png", "b.jpg"}));

  // A photo turned on its side, and a limit past its size: as stored, and
  // enlarged, only when asked.
  test::MakeOrientedJpeg(in() + "/p.jpg", 6, 4, 8);
  WriteList(list, {{true, R"(Extract Whole Image LimitHeight (9) Suffix: "_9" Quality: "80")"}});
  for (const auto &[flags, size] :
       std::vector<std::pair<QStringList, QSize>>{{{}, {4, 6}},
                                                  {{"--keep-orientation"}, {6, 4}},
                                                  {{"--enlarge"}, {6, 9}},
                                                  {{"--enlarge", "--keep-orientation"}, {14, 9}}}) {
    EXPECT_EQ(run(QStringList{"--output", fresh("o"), "--pattern", "p"} + flags).exitCode, 0);
    EXPECT_EQ(test::ImageSize(dir.file("o/p_9.jpg")), size) << flags.join(' ').toStdString();
  }

  // A ticked line it cannot run is work not done, however well the rest went.
  const QString negative = R"(Extract (-10,0)-(50,50) Suffix: "_n" Quality: "75")";
  const struct {
    bool ticked;
    QString text;
    int exitCode;
  } lines[] = {{true, negative, 1}, {true, "hello", 1}, {false, negative, 0}};
  for (const auto &line : lines) {
    WriteList(list, {{true, kWidth}, {line.ticked, line.text}});
    const Result r = run({"--output", fresh("o"), "--pattern", "[ab]*"});
    EXPECT_EQ(r.exitCode, line.exitCode) << line.text.toStdString();
    EXPECT_EQ(r.out, "2 written, 0 skipped, 0 failed\n");
  }
}

TEST_F(Batch, SkipsOutOfImageRectanglesAndGoesOnAfterFailuresWithExitOne) {
  test::WriteBytes(in() + "/c.png", "not a picture at all");
  const QString big = QStringLiteral(R"(Extract (4,4)-(17,11) Suffix: "_big" Quality: "75")");
  WriteList(list, {{true, big}, {true, kWidth}, {true, "hello"}});
  const Result r = run({"--output", out(), "-j", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.lastLine(), "3 written, 1 skipped, 2 failed") << "the unreadable text counts nowhere";
  const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << r.err.toStdString();
  EXPECT_TRUE(lines[0].startsWith("varnholt: warning: the operation at position 3 cannot be read"));
  EXPECT_EQ(lines[1],
            "varnholt: warning: b.jpg, operation at position 1: skipped, the rectangle "
            "is outside the image: Bottom Right X Coordiate (17) is greater than image "
            "width of 16; Bottom Right Y Coordiate (11) is greater than image height of 10");
  EXPECT_TRUE(lines[2].startsWith("varnholt: error: c.png, operation at position 1: "));
  EXPECT_TRUE(lines[2].contains("Operation: Getting Image Size")) << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith("varnholt: error: c.png, operation at position 2: "));
  EXPECT_EQ(Files(out()), (QStringList{"a_8.png", "a_big.png", "b_8.jpg"}));

  // The same rectangle, cut at the image's edges.
  const Result clamped = run({"--output", out(), "--allow-out-of-bounds", "--pattern", "b"});
  EXPECT_EQ(clamped.exitCode, 1) << "the text it cannot read is work not done";
  EXPECT_EQ(clamped.out, "2 written, 0 skipped, 0 failed\n");
  EXPECT_EQ(test::ImageSize(out() + "/b_big.jpg"), QSize(12, 6));
}

TEST_F(Batch, RefusesToStartAndWritesNothing) {
  WriteList(list, {{true, kCrop}});
  const QString badTick = dir.file("tick.vop");
  test::WriteBytes(badTick, "maybe>" + kWidth.toUtf8() + "\r\n");
  const QString clash = dir.file("clash.vop");
  WriteList(clash, {{true, kCrop}, {false, kCrop}, {true, kCrop}});
  const QString bare = dir.file("bare.vop");
  WriteList(bare, {{true, kWidth}, {true, R"(Extract Whole Image Format: "GIF" Quality: "75")"}});
  QString deep = in();
  while (deep.size() <= 4096)
    deep += "/" + QString(200, u'd');
  const QString fifo = dir.file("fifo.vop");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  // Nothing in them a run could do: empty, all unticked, all left out.
  const QString empty = dir.file("empty.vop"), unticked = dir.file("unticked.vop"),
                broken = dir.file("broken.vop");
  test::WriteBytes(empty, "");
  WriteList(unticked, {{false, kWidth}});
  const QString negative = R"(Extract (-10,0)-(50,50) Suffix: "_n" Quality: "75")";
  WriteList(broken, {{true, negative}, {false, kWidth}});
  const auto nothing = [](const QString &file) {
    return "varnholt: nothing to do: the operation list " + file +
           " has no ticked operation that can be read\n";
  };
  struct Row {
    QStringList args;
    QString errorStart;
    QString tmpdir = {};
  } rows[] = {
      {{"--batch", dir.file("gone.vop"), "--input", in()},
       "varnholt: cannot read the operation list " + dir.file("gone.vop") + ": 2 - No such file"},
      {{"--batch", badTick, "--input", in()}, "varnholt: cannot read the operation list"},
      {{"--batch", fifo, "--input", in()},
       "varnholt: cannot read the operation list " + fifo + ": 1006 - Not a regular file"},
      // One job, and one image (so one job whatever is asked): no worker to fall back from.
      {{"--batch", list, "--input", in(), "--jobs", "1"},
       "varnholt: the temporary folder " + list + " cannot be used (Not a directory): set TMPDIR",
       list},
      {{"--batch", list, "--input", in(), "--pattern", "a*"},
       "varnholt: the temporary folder " + list + " cannot be used",
       list},
      {{"--batch", list, "--input", dir.file("nowhere")},
       "varnholt: the input folder " + dir.file("nowhere") + " does not exist"},
      {{"--batch", list, "--input", in(), "--output", dir.file("nowhere")},
       "varnholt: the output folder " + dir.file("nowhere") + " does not exist"},
      {{"--batch", list, "--input", in(), "--output", list},
       "varnholt: the output folder " + list + " is not a folder"},
      {{"--batch", list, "--input", deep},
       "varnholt: the input folder " + deep + " cannot be used: File name too long"},
      {{"--batch", list, "--input", in(), "--pattern", "["},
       "varnholt: the pattern \"[\" is malformed: 93 - Invalid pattern string"},
      {{"--batch", clash, "--input", in()},
       "varnholt: refusing to start, the operations clash.\nThe following prefix/suffix clashes "
       "were found in selected operations (which means files would be overwritten):\n\n"
       "Prefix: \"th_\", Suffix: \"\" at position 3\n\nPlease Adjust"},
      {{"--batch", bare, "--input", in()},
       "varnholt: the operation at position 2 has neither a prefix nor a suffix"},
      {{"--batch", bare, "--input", in(), "--output", in()},
       "varnholt: the operation at position 2 has neither a prefix nor a suffix"},
      {{"--batch", empty, "--input", in()}, nothing(empty)},
      {{"--batch", unticked, "--input", in()}, nothing(unticked)},
      {{"--batch", broken, "--input", in()},
       "varnholt: warning: line 1 of the list is left out, a corner is below 0: 1>" + negative +
           "\n" + nothing(broken)},
      {{"--batch", list, "--input", in(), "--frobnicate"}, "varnholt: unknown option --frobnicate"},
      {{"--batch"}, "varnholt: --batch needs an operation list file\nUsage: varnholt --batch"},
      {{"--batch", list, "--jobs", "many"}, "varnholt: --jobs needs a whole number from 1 to 256"},
      {{"--batch", list, "stray"}, "varnholt: unexpected argument \"stray\""},
      {{"--batch", list, "--shard"}, "varnholt: --shard needs a value"},
      {{"--batch", list, "--input", in(), "--output", out(), "--shard", "auto/2"},
       "varnholt: --shard auto found none of SLURM_ARRAY_TASK_ID"},
      {{"--batch", list, "--input", in(), "--shard", "1/2"},
       "varnholt: --shard needs --output DIR, a folder other than the images'"},
      {{"--batch", list, "--input", in(), "--output", in() + "/", "--shard", "2/2"},
       "varnholt: --shard needs --output DIR"},
  };
  std::vector<Row> all(std::begin(rows), std::end(rows));
  for (const char *shard : {"0/3", "4/3", "3", "1/0", "-1/2", "1/3/5", "a/b", " 1/2", "1/", ""})
    all.push_back({{"--batch", list, "--input", in(), QStringLiteral("--shard=") + shard},
                   QStringLiteral("varnholt: --shard needs K/N, whole numbers with K from 1 to N "
                                  "(such as 2/8), or auto, not \"%1\"\nUsage: ")
                       .arg(shard)});
  for (const Row &row : all) {
    QProcessEnvironment withTemp = env;
    if (!row.tmpdir.isEmpty()) withTemp.insert("TMPDIR", row.tmpdir);
    const Result r = RunProgram(QStringLiteral(VARNHOLT_EXECUTABLE), row.args, {}, withTemp);
    EXPECT_EQ(r.exitCode, 2) << row.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.startsWith(row.errorStart)) << r.err.toStdString();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Files(in()), (QStringList{"a.png", "b.jpg"}));
    EXPECT_EQ(Files(out()), QStringList());
  }
}

// What a file manager passes for a folder named in Latin-1, and a program
// installed in such a folder: named, or working, never taken for something else.
TEST_F(Batch, NamesThatAreNotUtf8AreRefusedByNameAndAnInstallPathOfThemWorks) {
  WriteList(list, {{true, kWidth}});
  const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9";
  ASSERT_EQ(::mkdir(latin1.constData(), 0700), 0);
  const Result refused = RunProgram(
      "/bin/sh", {"-c", "exec \"$0\" --batch \"$1\" --input \"$(printf '%s\\351' \"$2\")\"",
                  VARNHOLT_EXECUTABLE, list, dir.path() + "/caf"});
  EXPECT_EQ(refused.said(),
            ("2||varnholt: " + dir.path() + "/caf\\xe9: not valid UTF-8, rename it to use it\n")
                .toStdString());
  // A copy of the program in that folder still starts its workers.
  const QByteArray copy = latin1 + "/varnholt";
  ASSERT_EQ(
      std::system(("cp '" + QByteArray(VARNHOLT_EXECUTABLE) + "' '" + copy + "'").constData()), 0);
  const Result r = RunProgram(
      "/bin/sh", {"-c", "exec \"$(printf '%s\\351/varnholt' \"$0\")\" \"$@\"", dir.path() + "/caf",
                  "--batch", list, "--input", in(), "--output", out(), "--jobs", "2"});
  EXPECT_EQ(r.said(), "0|2 written, 0 skipped, 0 failed\n|");
  ::unlink(copy.constData());
  ::rmdir(latin1.constData());
}

// Exported again beside the images: what the list wrote last time is no image
// of this run (no th_th_*), and an earlier result under a pair's name is
// replaced, kept with the pair skipped, or kept beside the new one.
TEST_F(Batch, ExportingAgainTakesNoResultForAnImage) {
  WriteList(list, {{true, R"(Extract Whole Image Prefix: "th_" Format: "PNG" Quality: "75")"}});
  const Result first = RunVarnholt({"--batch", list, "--quiet"}, in());
  EXPECT_EQ(first.said(), "0|2 written, 0 skipped, 0 failed\n|");
  test::MakeImage(in() + "/th_a.png", 6, 6); // an earlier result, made smaller to tell
  const QByteArray earlier = test::ReadBytes(in() + "/th_a.png");
  const QString note = "varnholt: 2 earlier result(s) of this list beside the images are not "
                       "taken as images: th_a.png, th_b.PNG\n";
  struct Row {
    QStringList more;
    QString said;
    QStringList files;
    QSize thA;
  } rows[] = {
      {{}, "0|2 written, 0 skipped, 0 failed\n|" + note, {}, {20, 12}},
      {{"--existing", "skip"},
       "1|0 written, 2 skipped, 0 failed\n|" + note +
           "varnholt: warning: a.png, operation at position 1: skipped, an earlier result is "
           "kept: th_a.png\n"
           "varnholt: warning: b.jpg, operation at position 1: skipped, an earlier result is "
           "kept: th_b.PNG\n",
       {},
       {6, 6}},
      {{"--existing", "keep-both"},
       "0|2 written, 0 skipped, 0 failed\n|" + note,
       {"th_a-2.png", "th_b-2.PNG"},
       {6, 6}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.more.join(' ').toStdString());
    test::WriteBytes(in() + "/th_a.png", earlier);
    const Result r = RunVarnholt(QStringList{"--batch", list, "--quiet"} + row.more, in());
    EXPECT_EQ(r.said(), row.said.toStdString());
    QStringList files = QStringList({"a.png", "b.jpg", "th_a.png", "th_b.PNG"}) + row.files;
    QStringList found = Files(in());
    files.sort(), found.sort();
    EXPECT_EQ(found, files);
    EXPECT_EQ(test::ImageSize(in() + "/th_a.png"), row.thA);
  }
  // Kept copies are the program's too, when it keeps both.
  const Result again = RunVarnholt({"--batch", list, "--quiet", "--existing", "keep-both"}, in());
  EXPECT_EQ(again.lastLine(), "2 written, 0 skipped, 0 failed");
  QStringList found = Files(in());
  found.sort();
  EXPECT_EQ(found, (QStringList{"a.png", "b.jpg", "th_a-2.png", "th_a-3.png", "th_a.png",
                                "th_b-2.PNG", "th_b-3.PNG", "th_b.PNG"}));
}

// --recursive: the same pattern in every subfolder but hidden ones, results
// mirrored under --output (the same in parts), or beside each image, where a
// second export takes them for results. A folder that cannot be read is
// named once and makes the exit status 1.
TEST_F(Batch, RecursiveMirrorsTheTreeInWholeAndInPartsAndBesideTheImages) {
  QString deep = "2024";
  for (int level = 0; level < 10; ++level)
    deep += QStringLiteral("/level %1 of a long archive path").arg(level);
  for (const QString &name : {QString("2024/c.png"), QString("2024/jan/d.jpg"),
                              QString(".hidden/e.png"), QString("locked/f.png"), deep + "/g.png"}) {
    QDir().mkpath(QFileInfo(in() + '/' + name).path());
    test::MakeImage(in() + '/' + name, 12, 10);
  }
  WriteList(list, {{true, kWidth}});
  ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
  ::chmod(QFile::encodeName(out()).constData(), 0777);
  ::chmod(QFile::encodeName(in() + "/locked").constData(), 0);
  const auto asNobody = [&](const QStringList &args) {
    // Permissions do not stop root.
    const bool root = ::geteuid() == 0;
    const QStringList all = QStringList{"--batch", list, "--input", in(), "--quiet"} + args;
    return RunProgram(root ? "setpriv" : VARNHOLT_EXECUTABLE,
                      root ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                         VARNHOLT_EXECUTABLE} +
                                 all
                           : all);
  };
  const QString warning = "varnholt: warning: cannot read the subfolder locked: Permission "
                          "denied; its images are skipped\n";
  QStringList mirrored{"2024/c_8.png", "2024/jan/d_8.jpg", deep + "/g_8.png", "a_8.png", "b_8.jpg"};
  mirrored.sort();
  EXPECT_EQ(asNobody({"--recursive", "--output", out(), "--jobs", "2"}).said(),
            "1|5 written, 0 skipped, 0 failed\n|" + warning.toStdString());
  EXPECT_EQ(test::FilesBelow(out()), mirrored);
  ::chmod(QFile::encodeName(in() + "/locked").constData(), 0755);
  QDir(in() + "/locked").removeRecursively();
  const QString parts = fresh("parts");
  for (const char *part : {"1/2", "2/2"})
    EXPECT_EQ(run({"--recursive", "--output", parts, "--shard", part}).exitCode, 0) << part;
  EXPECT_EQ(test::FilesBelow(parts), mirrored);

  EXPECT_EQ(run({"--quiet"}).lastLine(), "2 written, 0 skipped, 0 failed");
  QFile::remove(in() + "/a_8.png"), QFile::remove(in() + "/b_8.jpg");
  for (int twice = 0; twice < 2; ++twice)
    EXPECT_EQ(run({"--recursive", "--quiet"}).said(),
              twice ? "0|5 written, 0 skipped, 0 failed\n|varnholt: 5 earlier result(s) of this "
                      "list beside the images are not taken as images: a_8.png, b_8.jpg, "
                      "2024/c_8.png, ...\n"
                    : "0|5 written, 0 skipped, 0 failed\n|");
  QStringList beside = mirrored + QStringList{".hidden/e.png", "2024/c.png", "2024/jan/d.jpg",
                                              deep + "/g.png", "a.png",      "b.jpg"};
  beside.sort();
  EXPECT_EQ(test::FilesBelow(in()), beside);
}

// A tree of many folders keeps a few of their handles open at a time: under
// a low limit of open files every folder's pairs are written.
TEST_F(Batch, ATreeOfManyFoldersRunsUnderALowLimitOfOpenFiles) {
  for (int n = 0; n < 60; ++n) {
    const QString folder = in() + QStringLiteral("/f%1").arg(n, 2, 10, QChar(u'0'));
    QDir().mkpath(folder);
    test::MakeImage(folder + "/p.png", 4, 4);
  }
  WriteList(list, {{true, kWidth}});
  for (const char *jobs : {"1", "2"}) {
    const Result r = RunProgram("prlimit", {"--nofile=128", VARNHOLT_EXECUTABLE, "--batch", list,
                                            "--input", in(), "--output", fresh(jobs), "--recursive",
                                            "--jobs", jobs, "--quiet"});
    EXPECT_EQ(r.said(), "0|62 written, 0 skipped, 0 failed\n|") << jobs;
  }
}

// Its errors, sorted, with the output folder written alike.
QStringList ErrorsIn(const Result &r, const QString &output) {
  QStringList errors = QString(r.err)
                           .replace(QFileInfo(output).canonicalFilePath(), "OUT")
                           .split(u'\n', Qt::SkipEmptyParts);
  errors.sort();
  return errors;
}

TEST_F(Batch, ShardsWriteWhatOneJobWritesAndNoPairReplacesAnEarlierPairsFile) {
  // th_c.jpg is also what c.jpg writes.
  int size = 13;
  for (const char *name : {"a.gif", "c.jpg", "c_8.jpg", "th_c.jpg", "d.bmp", "e.tif"})
    test::MakeImage(in() + "/" + name, size++, 11);
  WriteList(list, {{true, R"(Extract Whole Image LimitWidth (9) Prefix: "th_" Format: "JPG" )"
                          R"(Quality: "75")"},
                   {true, kWidth},
                   {true, kFix}});
  const QString whole = fresh("whole"), sharded = fresh("sharded");
  const Result one = run({"--output", whole, "--jobs", "1"});
  EXPECT_EQ(one.lastLine(), "22 written, 0 skipped, 2 failed");
  // The later of two images with one target does not replace the earlier's file.
  EXPECT_EQ(
      ErrorsIn(one, whole).join(u'\n').toStdString(),
      "varnholt: error: a.png, operation at position 1: 1005 - not run, OUT/th_a.JPG is already "
      "written for a.gif by the operation at position 1\n"
      "varnholt: error: th_c.jpg, operation at position 2: 1005 - not run, OUT/th_c_8.jpg is "
      "already written for c_8.jpg by the operation at position 1");
  Counts totals{0, 0, 0};
  QStringList shardErrors;
  static const QRegularExpression winner("not run, \\S+/(\\S+) is already written");
  for (const char *part : {"1/3", "2/3", "3/3"}) {
    SCOPED_TRACE(part);
    const QStringList before = Files(sharded);
    const Result r = run({"--output", sharded, "--shard", part, "--jobs", "2"});
    const Counts counts = r.counts();
    EXPECT_GT(counts.written, 1) << "every part has work: " << r.err.toStdString();
    EXPECT_EQ(r.exitCode, counts.failed == 0 ? 0 : 1);
    totals = {totals.written + counts.written, totals.skipped + counts.skipped,
              totals.failed + counts.failed};
    shardErrors += ErrorsIn(r, sharded);
    // The pair that wins a clash is written by the part that reports it.
    for (auto m = winner.globalMatch(r.err); m.hasNext();) {
      const QString name = m.next().captured(1);
      EXPECT_TRUE(Files(sharded).contains(name) && !before.contains(name)) << name.toStdString();
    }
  }
  EXPECT_EQ(totals, one.counts());
  shardErrors.sort();
  EXPECT_EQ(shardErrors, ErrorsIn(one, whole));
  EXPECT_EQ(test::ImageSize(sharded + "/th_a.JPG"), QSize(9, 8)) << "a.gif's, not a.png's";
  ExpectSameFiles(whole, sharded);
}

// Parts as people start them: GNU parallel runs one command line three times,
// each taking its part from PARALLEL_SEQ.
TEST_F(Batch, PartsStartedByGnuParallelWriteWhatOneRunWrites) {
  const QString parallel = QStandardPaths::findExecutable("parallel");
  if (parallel.isEmpty()) {
    if (qEnvironmentVariableIsSet("CI"))
      FAIL() << "GNU parallel is missing (scripts/setup installs it)";
    GTEST_SKIP() << "GNU parallel is not installed";
  }
  int size = 12;
  for (const char *name : {"c.gif", "d.bmp", "e.tif", "f.jpg", "g.PNG", "h.jpeg", "i.tga"})
    test::MakeImage(in() + "/" + name, size++, 11);
  WriteList(list, {{true, kCrop}, {true, kWidth}, {true, kFix}});
  const QString whole = fresh("whole"), parts = fresh("parts");
  const Result one = run({"--output", whole});
  ASSERT_EQ(one.lastLine(), "27 written, 0 skipped, 0 failed") << one.err.toStdString();
  // -N0: each job takes one of 1 2 3 and passes none of them on; -q: the
  // folders' names reach the program as they are.
  const Result r = RunProgram(parallel,
                              {"--will-cite", "-q", "-N0", "-j3", "--halt", "never",
                               QStringLiteral(VARNHOLT_EXECUTABLE), "--batch", list, "--input",
                               in(), "--output", parts, "--shard", "auto/3", ":::", "1", "2", "3"},
                              QString(), env);
  EXPECT_EQ(r.exitCode, 0) << "parallel counts the parts that did not exit 0: "
                           << r.err.toStdString();
  int written = 0;
  for (const QString &line : r.out.split(u'\n', Qt::SkipEmptyParts)) {
    static const QRegularExpression count("^([0-9]+) written, 0 skipped, 0 failed$");
    const QRegularExpressionMatch m = count.match(line);
    EXPECT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_GT(m.captured(1).toInt(), 0) << "every part has work";
    written += m.captured(1).toInt();
  }
  EXPECT_EQ(r.out.count(u'\n'), 3);
  EXPECT_EQ(written, 27);
  ExpectSameFiles(whole, parts);
}

TEST_F(Batch, FrameFilesAreProtectedAndComeOutTheSameForEveryJobCount) {
  // a3.gif has three frames: in PNG they are th_a3-0.PNG ... th_a3-2.PNG, and
  // th_a3-1.PNG is also what a3-1.gif writes; th_x-0.PNG is itself an image.
  test::MakeImage(in() + "/th_x-0.PNG", 9, 7);
  test::MakeImage(in() + "/a3-1.gif", 9, 7);
  test::MakeImage(in() + "/IMG_0001.JPG", 9, 7);
  MagickToolkit magick;
  const QString f = in() + "/th_x-0.PNG";
  magick.convert({f, f, in() + "/x.gif"});
  magick.convert({f, f, f, in() + "/a3.gif"});
  const QByteArray source = test::ReadBytes(f);
  WriteList(list, {{true, R"(Extract Whole Image Prefix: "th_" Format: "PNG" Quality: "75")"},
                   {true, R"(Extract Whole Image Prefix: "web_" Format: "JPG" Quality: "75")"}});
  const auto clash = [&](int position, const QString &file) {
    return QStringLiteral("varnholt: error: a3.gif, operation at position %1: 1005 - Another "
                          "operation of this run writes this file for %2/a3-1.gif, so it was not "
                          "written: %3; Operation: Moving into place\n")
        .arg(position)
        .arg(in(), file);
  };

  for (const char *jobs : {"1", "2"}) {
    const QString folder = fresh(QStringLiteral("out%1").arg(jobs));
    const Result r = run({"--output", folder, "--jobs", jobs, "--pattern", "[!t]*"});
    EXPECT_EQ(r.lastLine(), "10 written, 0 skipped, 2 failed") << jobs;
    EXPECT_EQ(
        r.err.toStdString(),
        (clash(1, folder + "/th_a3-1.PNG") + clash(2, folder + "/web_a3-1.JPG")).toStdString());
    EXPECT_EQ(Files(folder).join(' ').toStdString(),
              "th_IMG_0001.PNG th_a.png th_a3-1.PNG th_b.PNG th_x-0.PNG th_x-1.PNG "
              "web_IMG_0001.JPG web_a.JPG web_a3-1.JPG web_b.jpg web_x-0.JPG web_x-1.JPG");
  }

  // Beside the images, th_x-0.PNG is one of them.
  const Result beside = run({"--jobs", "2"});
  EXPECT_EQ(beside.exitCode, 1);
  EXPECT_TRUE(beside.err.contains("x.gif, operation at position 1: 1001 - The result would "
                                  "replace the image " +
                                  f))
      << beside.err.toStdString();
  EXPECT_EQ(test::ReadBytes(f), source);
  EXPECT_FALSE(QFile::exists(in() + "/th_x-1.PNG"));
  EXPECT_TRUE(QFile::exists(in() + "/web_IMG_0001.JPG"));
}

// Workers take ImageMagick's policy from the process that started them, and
// still refuse what it refuses: an SVG under a PNG's name, with the refusals
// of the environment the run was started with emptied.
TEST_F(Batch, WorkersRefuseWhatThePolicyRefuses) {
  test::WriteBytes(in() + "/evil.png",
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>");
  WriteList(list, {{true, kWidth}});
  for (const char *refused : {"", ";EPHEMERAL"}) {
    SCOPED_TRACE(refused);
    if (*refused) env.insert("VARNHOLT_MAGICK_REFUSED", refused);
    const Result r = run({"--output", fresh("out"), "--jobs", "2", "--quiet"});
    EXPECT_EQ(r.counts(), (Counts{2, 0, 1})) << r.said();
    EXPECT_TRUE(r.err.contains("not allowed by the security policy `SVG'")) << r.said();
    EXPECT_EQ(Files(out()), (QStringList{"a_8.png", "b_8.jpg"}));
  }
}

TEST_F(Batch, DrawsProgressOnlyOnATerminalAndNotWhenQuiet) {
  const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
  if (script.isEmpty()) GTEST_SKIP() << "needs script(1) for a terminal";
  WriteList(list, {{true, kWidth}});
  const auto onTerminal = [&](const QString &extra) {
    const QString command = QStringLiteral("'%1' --batch '%2' --input '%3' --output '%4' %5")
                                .arg(QStringLiteral(VARNHOLT_EXECUTABLE), list, in(), out(), extra);
    return RunProgram(script, {"-qec", command, "/dev/null"}).out;
  };
  const QString shown = onTerminal(QString());
  EXPECT_TRUE(shown.contains("\r[############################] 2/2 images  "))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains(" images/s  0:00 left\033[K")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("\r\033[K2 written, 0 skipped, 0 failed"))
      << "the bar is gone at the end";
  EXPECT_EQ(onTerminal(QStringLiteral("--quiet")).trimmed(), "2 written, 0 skipped, 0 failed");
}

// Killed or stopped however, a run leaves only whole pairs under their names,
// nothing hidden and nothing in the temporary folder, counts what it wrote,
// and the next run finishes the rest.
TEST_F(Batch, SignalsAndKilledProcessesLeaveOnlyWholePairs) {
  QFile::remove(in() + "/a.png");
  QFile::remove(in() + "/b.jpg");
  for (int i = 1; i <= 14; ++i)
    test::MakeImage(in() + QStringLiteral("/p%1.jpg").arg(i, 2, 10, QChar(u'0')), 800, 600);
  WriteList(
      list,
      {{true, R"(Extract Whole Image LimitWidth (300) Prefix: "th_" Format: "PNG" Quality: "75")"},
       {true, R"(Extract (0,0)-(599,399) FixToSize (200*100) Prefix: "c_" Quality: "75")"}});
  const QString temp = fresh("tmp");
  env.insert("TMPDIR", temp);
  env.insert("MAGICK_AREA_LIMIT", "100KB"); // pixel caches on disk, in the temporary folder
  enum Target { Worker, Main, Group };
  struct Row {
    const char *what;
    int signal;
    Target target;
    int jobs;
    bool mainSurvives;
  } rows[] = {
      {"kill -9 of a worker", SIGKILL, Worker, 2, true},
      {"SIGTERM of the run", SIGTERM, Main, 2, true},
      {"kill -9 of the run", SIGKILL, Main, 2, false},
      {"Ctrl-C to the run alone", SIGINT, Main, 2, true},
      {"Ctrl-C to a run without workers", SIGINT, Main, 1, true},
      {"Ctrl-C to the whole group as the workers start", SIGINT, Group, 2, true},
  };
  const int pairs = 14 * 2;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    fresh("out");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([] { ::setsid(); });
    process.start(
        QStringLiteral(VARNHOLT_EXECUTABLE),
        {"--batch", list, "--input", in(), "--output", out(), "--jobs", QString::number(row.jobs)});
    ASSERT_TRUE(process.waitForStarted());
    const qint64 main = process.processId();
    const int workerCount = row.jobs > 1 ? row.jobs : 0;
    QList<qint64> workers;
    const auto underWay = [&] {
      workers = test::ChildrenOf(main);
      return workers.size() == workerCount && (row.target == Group || Files(out()).size() >= 3);
    };
    int wait = 0;
    while (!underWay() && ++wait < 3000)
      QThread::msleep(5);
    ASSERT_LT(wait, 3000) << "the run never got under way";
    ::kill(pid_t(row.target == Worker ? workers[0]
                 : row.target == Main ? main
                                      : -main),
           row.signal);
    ASSERT_TRUE(process.waitForFinished(60000));
    for (const qint64 worker : workers) // workers end with their parent
      for (int wait = 0; wait < 400 && ::kill(pid_t(worker), 0) == 0; ++wait)
        QThread::msleep(10);
    const Result r = Finished(process);

    int whole = 0;
    for (const QString &name : Files(out())) {
      EXPECT_TRUE(name.startsWith("th_") || name.startsWith("c_")) << name.toStdString();
      if (name.startsWith("th_")) {
        EXPECT_TRUE(name.endsWith(".PNG")) << name.toStdString();
        EXPECT_EQ(test::ImageSize(out() + "/" + name).width(), 300) << name.toStdString();
        ++whole;
      }
      if (name.startsWith("c_")) ++whole;
    }
    const auto tempLeft = [&] {
      return QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    };
    // A run killed outright cannot clear its own scratch; the next run, seeing
    // its owner gone, does.
    if (row.mainSurvives) EXPECT_EQ(tempLeft(), QStringList());
    // A run that loses one worker goes on; the killed worker may even have
    // finished all it was given, so only the signals to the run stop it early.
    if (row.target != Worker) EXPECT_LT(whole, pairs) << "stopped before the end";
    if (row.mainSurvives) {
      EXPECT_EQ(r.counts().all(), pairs) << r.err.toStdString();
      EXPECT_EQ(r.counts().written, whole) << "written as found: " << r.err.toStdString();
      EXPECT_FALSE(r.err.contains("killed by signal 2")) << r.err.toStdString();
    }
    if (row.mainSurvives && row.target != Worker) {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.counts().failed, 0) << "the pairs not begun are skipped";
      EXPECT_TRUE(r.lastLine().contains(" skipped (stopped), ")) << r.lastLine().toStdString();
      EXPECT_TRUE(r.err.contains("varnholt: stopped (interrupted); ")) << r.err.toStdString();
    }
    const Result next = run({"--output", out()});
    EXPECT_EQ(next.lastLine(), QStringLiteral("%1 written, 0 skipped, 0 failed").arg(pairs));
    EXPECT_EQ(Files(out()).size(), 14 * 2);
    EXPECT_EQ(tempLeft(), QStringList());
  }
}

TEST_F(Batch, WarnsAboutWhatItCannotReadOrReadsOnlyInPart) {
  test::MakeImage(in() + QString::fromUtf8("/\xc3\xa9t\xc3\xa9.png"), 20, 12);
  // Names given as bytes, which Qt can neither make nor remove.
  const QByteArray unreadable[] = {"bad\xff\xc3(.png", "bad\xff.txt"}; // the .txt: never mentioned
  for (const QByteArray &name : unreadable)
    ::close(::open((QFile::encodeName(in()) + "/" + name).constData(), O_CREAT | O_WRONLY, 0644));
  test::MakeImage(in() + "/t.jpg", 200, 150);
  const QByteArray jpeg = test::ReadBytes(in() + "/t.jpg");
  test::WriteBytes(in() + "/t.jpg", jpeg.left(jpeg.size() / 2)); // the lower half missing
  const QString negative = R"(Extract (-10,0)-(50,50) Suffix: "_neg" Quality: "75")";
  WriteList(list, {{true, negative}, {false, negative}, {true, kWidth}, {true, kFix}});
  for (const char *jobs : {"1", "2"}) {
    const Result r = run({"--output", fresh("out"), "-j", jobs});
    // The unreadable name is one skip for each operation.
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lastLine(), "6 written, 2 skipped, 2 failed");
    // Cut short, the picture fails its pairs with the reason and writes nothing.
    const QString cut = "325 - The picture is damaged: Premature end of JPEG file `" + in() +
                        "/t.jpg' @ warning/jpeg.c/JPEGWarningHandler/389; Operation: ";
    EXPECT_EQ(
        r.err.split(u'\n', Qt::SkipEmptyParts),
        (QStringList{"varnholt: warning: line 1 of the list is left out, a corner is "
                     "below 0: 1>" +
                         negative,
                     "varnholt: warning: bad\\xff\\xc3(.png: skipped, its name is not "
                     "valid UTF-8",
                     "varnholt: error: t.jpg, operation at position 1: " + cut +
                         "Resizing (No AA): -quality, 80, -geometry, 8x>, " + out() + "/t_8.jpg",
                     "varnholt: error: t.jpg, operation at position 2: " + cut +
                         "Extracting: -quality, 75, -crop, 10x10+0+0, " + in() + "/t.jpg, " +
                         out() + "/t_fix.PNG"}));
    EXPECT_EQ(Files(out()).size(), 6) << "one file a pair, none for the damaged picture";
    EXPECT_TRUE(Files(out()).contains(QString::fromUtf8("\xc3\xa9t\xc3\xa9_fix.png")));
  }
  // With that name the only image there is nothing to run, yet each of its
  // pairs is still a skip.
  const Result only = run({"--output", out(), "--pattern", "bad*"});
  EXPECT_EQ(only.exitCode, 1);
  EXPECT_EQ(only.out, "0 written, 2 skipped, 0 failed\n");
  for (const QByteArray &name : unreadable)
    ::unlink((QFile::encodeName(in()) + "/" + name).constData());
}

TEST_F(Batch, HelpAndNothingToDoAreSuccess) {
  const Result help = RunVarnholt({"--batch", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(help.out.startsWith("Usage: varnholt --batch LIST.vop")) << help.out.toStdString();
  EXPECT_TRUE(RunVarnholt({"--help"}).out.contains("--batch"));

  WriteList(list, {{true, kWidth}});
  const Result none = run({"--pattern", "*", "--inverse"});
  EXPECT_EQ(none.said(),
            "0|0 written, 0 skipped, 0 failed\n|varnholt: nothing to do: no images in " +
                in().toStdString() + "\n");
}

} // namespace
} // namespace varnholt
