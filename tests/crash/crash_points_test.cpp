// A run may die at any instant and lose nothing. Each row runs a small job
// once for every N, with the N-th file-system call that changes something in
// the output folder killing its process (or failing), until a run ends with
// no fault; after each, a run that only sweeps, then the check: each pair's
// names hold all of the earlier files or all of the new ones, everything else
// is as it was to the byte, nothing hidden is left, and a second sweep
// changes nothing.
//
// Calls are counted across the run's processes in the order they come: with
// workers, how their calls interleave varies a little from run to run, so a
// call of theirs is reached by some N in nearly every run, not in every one.
#include "processing/magick/magick_toolkit.h"
#include "support/test_images.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <map>
#include <unistd.h>
#include <vector>

namespace varnholt {
namespace {

enum class Mode { Alone, Workers, Window };
enum class Kind { Kill, Eio };

struct Scenario {
  const char *id, *name;
  bool beside;                 // results beside the images
  std::vector<QString> images; // to run on, in list order
  std::vector<QString> others; // the user's, beside them
  QString pattern;             // the images alone
  std::vector<QString> operations;
  std::vector<std::vector<QString>> pairs; // each pair's result names
  std::map<QString, QByteArray> earlier;   // in the output folder before the run
  bool subfolders = false;                 // images in subfolders, results mirrored
};

const QString kLong = QString(240, u'x');

// Made once: sources by name.
void MakeSources(const QString &folder) {
  test::MakeImage(folder + "/a.png", 20, 12);
  test::MakeImage(folder + "/b.jpg", 16, 10);
  test::MakeImage(folder + "/y.png", 9, 7);
  MagickToolkit magick;
  const QString frame = folder + "/y.png";
  magick.convert({frame, frame, frame, folder + '/' + kLong + ".gif"});
  test::MakeImage(folder + "/x.jpg", 12, 8);
  // A user's own photo under the name a format change once worked under.
  test::MakeImage(folder + "/A_x.jpg", 10, 6);
}

QByteArray Earlier(const QString &name) { return "an earlier run's " + name.toUtf8(); }

std::vector<Scenario> Scenarios() {
  const QString width = R"(Extract Whole Image LimitWidth (8) Suffix: "_8" Quality: "80")";
  const QString fix =
      R"(Extract (0,0)-(9,5) FixToSize (6*4) Suffix: "_fix" Format: "PNG" Quality: "75")";
  const QString png = R"(Extract Whole Image Prefix: "A_" Format: "PNG" Quality: "75")";
  std::vector<QString> frames, olderFrames;
  for (int f = 0; f < 4; ++f)
    (f < 3 ? frames : olderFrames).push_back(QStringLiteral("A_%1-%2.PNG").arg(kLong).arg(f));
  std::map<QString, QByteArray> earlierFrames;
  for (const QString &name : frames)
    earlierFrames[name] = Earlier(name);
  earlierFrames[olderFrames[0]] = Earlier(olderFrames[0]); // an earlier run had one more
  return {
      {"SingleFiles",
       "single files, two operations of one image",
       false,
       {"a.png", "b.jpg"},
       {},
       "*",
       {width, fix},
       {{"a_8.png"}, {"a_fix.png"}, {"b_8.jpg"}, {"b_fix.PNG"}},
       {{"a_8.png", Earlier("a_8.png")}, {"b_fix.PNG", Earlier("b_fix.PNG")}}},
      {"Frames",
       "frames of 248-byte names over earlier frames",
       false,
       {kLong + ".gif", "y.png"},
       {},
       "*",
       {png},
       {frames, {"A_y.png"}},
       earlierFrames},
      {"FormatChangeBeside",
       "a format change beside the images, a user's file under the working name",
       true,
       {"x.jpg", "y.png"},
       {"A_x.jpg"},
       "[!A]*",
       {png},
       {{"A_x.PNG"}, {"A_y.png"}},
       {{"A_x.PNG", Earlier("A_x.PNG")}}},
      {"Subfolders",
       "images in two subfolders, one of them made for the results",
       false,
       {"2024/a.png", "2024/jan/b.jpg"},
       {},
       "*",
       {width},
       {{"2024/a_8.png"}, {"2024/jan/b_8.jpg"}},
       {{"2024/a_8.png", Earlier("2024/a_8.png")}},
       true},
  };
}

// Name -> what it holds: a folder reads as "folder", a file by its first
// bytes, size and digest, so a failure says which earlier file it is.
using Files = std::map<std::string, std::string>;

std::string Key(const QString &name) {
  return name.size() > 40 ? (name.left(12) + "..." + name.right(12)).toStdString()
                          : name.toStdString();
}

// Every entry below a folder by its path from it, hidden ones too.
Files Snapshot(const QString &folder) {
  Files files;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    const QFileInfo entry = it.fileInfo();
    const QByteArray bytes =
        entry.isDir() ? QByteArray() : test::ReadBytes(entry.absoluteFilePath());
    files[Key(QDir(folder).relativeFilePath(entry.filePath()))] =
        entry.isDir()
            ? std::string("folder")
            : (bytes.left(12).toPercentEncoding() + " (" + QByteArray::number(bytes.size()) +
               " bytes, " +
               QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().left(8) + ")")
                  .toStdString();
  }
  return files;
}

struct Row {
  int scenario;
  Mode mode;
  Kind kind;
};

class CrashPoints : public ::testing::TestWithParam<Row> {
protected:
  QString sources() const { return dir.file("sources"); }
  QString in() const { return dir.file("in"); }
  QString out() const { return scenario.beside ? in() : dir.file("out"); }

  // The images and the earlier results, as they are before every run.
  void setUpFolders() {
    QDir(in()).removeRecursively();
    QDir(dir.file("out")).removeRecursively();
    QDir().mkpath(in());
    QDir().mkpath(out());
    for (const std::vector<QString> &names : {scenario.images, scenario.others})
      for (const QString &name : names) {
        QDir(in()).mkpath(QFileInfo(name).path());
        QFile::copy(sources() + '/' + QFileInfo(name).fileName(), in() + '/' + name);
      }
    for (const auto &[name, bytes] : scenario.earlier) {
      QDir(out()).mkpath(QFileInfo(name).path());
      test::WriteBytes(out() + '/' + name, bytes);
    }
  }

  // A run of the job, with the fault at `at` (0: none); true when it had one.
  bool run(int at) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString mark = dir.file("fault");
    QFile::remove(mark);
    if (at > 0) {
      env.insert("LD_PRELOAD", VARNHOLT_FAULT_SHIM);
      env.insert("VARNHOLT_FAULT_AT", QString::number(at));
      env.insert("VARNHOLT_FAULT_UNDER", out());
      env.insert("VARNHOLT_FAULT_MARK", mark);
      test::WriteBytes(dir.file("counter"), QByteArray(8, '\0'));
      env.insert("VARNHOLT_FAULT_COUNTER", dir.file("counter"));
      env.insert("VARNHOLT_FAULT_KIND", row.kind == Kind::Eio ? "eio" : "kill");
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([] { ::setsid(); });
    if (row.mode == Mode::Window) {
      QStringList args{VARNHOLT_EXECUTABLE, in(), scenario.beside ? "-" : out(), operationFile};
      for (const QString &image : scenario.images)
        args << image;
      process.start(VARNHOLT_WINDOW_RUN, args);
    } else {
      process.start(VARNHOLT_EXECUTABLE,
                    QStringList{"--batch", list, "--input", in(), "--output", out(), "--pattern",
                                scenario.pattern, "--jobs", row.mode == Mode::Workers ? "2" : "1"} +
                        recursive());
    }
    EXPECT_TRUE(process.waitForStarted());
    const qint64 session = process.processId();
    EXPECT_TRUE(process.waitForFinished(60000));
    waitForOrphans(session);
    lastErrors = QString::fromLocal8Bit(process.readAllStandardError());
    return QFile::exists(mark);
  }

  // Workers of a killed run end with it, sweeping what is theirs: the next
  // run starts when they are gone, as a user's would some time later. What
  // is left of them unreaped is gone enough.
  void waitForOrphans(qint64 session) {
    for (int wait = 0; wait < 500; ++wait) {
      QProcess ps;
      ps.start("ps", {"-o", "stat=", "-s", QString::number(session)});
      ps.waitForFinished();
      bool running = false;
      for (const QByteArray &state : ps.readAllStandardOutput().split('\n'))
        running = running || (!state.trimmed().isEmpty() && !state.trimmed().startsWith('Z'));
      if (!running) return;
      QThread::msleep(10);
    }
  }

  // The next start: a run with no images, which sweeps what killed runs left.
  void sweep() {
    QProcess process;
    process.start(VARNHOLT_EXECUTABLE, QStringList{"--batch", list, "--input", in(), "--output",
                                                   out(), "--pattern", "*", "--inverse"} +
                                           recursive());
    EXPECT_TRUE(process.waitForFinished(60000));
  }

  QStringList recursive() const {
    return scenario.subfolders ? QStringList{"--recursive"} : QStringList{};
  }

  // What the user finds: every pair whole, old or new; nothing else touched
  // but the folders made for them.
  void check(const Files &before, const Files &after, bool normalEnd, const std::string &at) {
    SCOPED_TRACE(at);
    Files rest = after;
    for (const std::vector<QString> &names : scenario.pairs) {
      bool old = true, fresh = true;
      for (const QString &name : names) {
        const auto was = before.find(Key(name)), is = after.find(Key(name));
        old = old && (was == before.end() ? is == after.end()
                                          : is != after.end() && is->second == was->second);
        fresh = fresh && is != after.end() && (was == before.end() || is->second != was->second);
        rest.erase(Key(name));
        for (QString folder = QFileInfo(name).path(); folder != ".";
             folder = QFileInfo(folder).path())
          if (!before.count(Key(folder))) rest.erase(Key(folder));
      }
      EXPECT_TRUE(normalEnd ? fresh : old || fresh)
          << names.front().left(20).toStdString() << "...: " << (old ? "old" : "")
          << (fresh ? "new" : "") << (old || fresh ? "" : "half") << "\n"
          << lastErrors.toStdString();
    }
    Files unrelated = before;
    for (const std::vector<QString> &names : scenario.pairs)
      for (const QString &name : names)
        unrelated.erase(Key(name));
    EXPECT_EQ(rest, unrelated) << "sources and other files as they were, nothing more";
  }

  void SetUp() override {
    row = GetParam();
    scenario = Scenarios()[size_t(row.scenario)];
    QDir().mkpath(sources());
    MakeSources(sources());
    list = dir.file("list.vop");
    QByteArray listBytes, operationBytes;
    for (const QString &op : scenario.operations) {
      listBytes += "1>" + op.toUtf8() + "\r\n";
      operationBytes += op.toUtf8() + "\n";
    }
    test::WriteBytes(list, listBytes);
    operationFile = dir.file("operations");
    test::WriteBytes(operationFile, operationBytes);
  }

  test::TempFolder dir;
  Row row;
  Scenario scenario;
  QString list, operationFile, lastErrors;
};

TEST_P(CrashPoints, EveryPairWholeAndNothingElseTouched) {
  QElapsedTimer timer;
  timer.start();
  int points = 0;
  for (int at = 1;; ++at) {
    setUpFolders();
    const Files before = Snapshot(out()), sourcesBefore = Snapshot(in());
    const bool fault = run(at);
    sweep();
    const Files after = Snapshot(out());
    const std::string where = "fault at call " + std::to_string(at) + ": " +
                              test::ReadBytes(dir.file("fault")).toStdString();
    check(before, after, !fault, where);
    if (!scenario.beside) EXPECT_EQ(Snapshot(in()), sourcesBefore) << where;
    sweep();
    EXPECT_EQ(Snapshot(out()), after) << "a second sweep changed something; " << where;
    if (!fault) break;
    ++points;
    ASSERT_LT(at, 400) << "the run never ends without a fault";
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GE(points, 10);
  std::printf("[ crash points ] %s, %s: %d points in %.1f s\n",
              Scenarios()[size_t(row.scenario)].name,
              row.mode == Mode::Alone     ? "batch, no workers"
              : row.mode == Mode::Workers ? "batch, two workers"
                                          : "window, two workers ahead",
              points, double(timer.elapsed()) / 1000);
}

std::string RowName(const ::testing::TestParamInfo<Row> &info) {
  const char *modes[] = {"Alone", "Workers", "Window"};
  return Scenarios()[size_t(info.param.scenario)].id + std::string(modes[int(info.param.mode)]) +
         (info.param.kind == Kind::Eio ? "Eio" : "Kill");
}

INSTANTIATE_TEST_SUITE_P(
    , CrashPoints,
    ::testing::Values(Row{0, Mode::Alone, Kind::Kill}, Row{0, Mode::Workers, Kind::Kill},
                      Row{0, Mode::Window, Kind::Kill}, Row{1, Mode::Alone, Kind::Kill},
                      Row{1, Mode::Workers, Kind::Kill}, Row{1, Mode::Window, Kind::Kill},
                      Row{1, Mode::Alone, Kind::Eio}, Row{2, Mode::Alone, Kind::Kill},
                      Row{2, Mode::Workers, Kind::Kill}, Row{2, Mode::Window, Kind::Kill},
                      Row{3, Mode::Alone, Kind::Kill}, Row{3, Mode::Workers, Kind::Kill},
                      Row{3, Mode::Window, Kind::Kill}),
    RowName);

} // namespace
} // namespace varnholt
