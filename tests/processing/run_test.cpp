#include "processing/run.h"

#include "workers/ahead_pool.h"

#include "operations/file_listing.h"
#include "operations/operation.h"
#include "platform/owner_tag.h"
#include "platform/paths.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_stage.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace varnholt {
namespace {

using test::ScriptedPrompter;
using test::TempFolder;

// Remembers what the run window would show, in order.
class RecordingView : public RunView {
public:
  void ShowImage(const QString &caption) override { shown << "image " + caption; }
  void ShowOperation(const QString &text) override {
    shown << "op " + text;
    if (onEvents) onEvents();
  }
  void ShowImageNumber(qint64, qint64) override {
    if (onEvents) onEvents();
  }
  void ShowProgress(qint64 value, qint64 maximum) override {
    this->value = value;
    this->maximum = maximum;
  }
  QStringList shown;
  qint64 value = -1;
  qint64 maximum = -1;
  std::function<void()> onEvents;
};

QString Text(const Operation &op) {
  QString error;
  const QString text = OperationDescription(op, error);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  return text;
}

QString Whole(const QString &prefix, const QString &format = kDontChange) {
  return Text({.OutputFormat = format, .Prefix = prefix});
}

QString Crop(const QString &prefix, int x1, int y1, int x2, int y2) {
  return Text({.Extract = true,
               .TopLeftX = x1,
               .TopLeftY = y1,
               .BottomRightX = x2,
               .BottomRightY = y2,
               .Prefix = prefix});
}

QStringList Listing(const QString &folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class Run : public ::testing::Test {
protected:
  void SetUp() override { source.folder = folder.path(); }

  void AddImage(const QString &name, bool ticked = true) {
    test::MakeImage(folder.file(name), 8, 6);
    source.images.push_back({name, ticked});
  }
  void AddBrokenImage(const QString &name) {
    test::WriteBytes(folder.file(name), "not an image at all");
    source.images.push_back({name, true});
  }
  // Images named bad*.png do not read; each prefix is an operation on the whole image.
  void Given(const QStringList &images, const QStringList &prefixes) {
    for (const QString &name : images)
      name.startsWith("bad") ? AddBrokenImage(name) : AddImage(name);
    for (const QString &prefix : prefixes)
      source.operations.push_back({Whole(prefix)});
  }

  RunOutcome Go() {
    return DoOperations(source, view, {settings, toolkit, prompter, ahead.get()}, state);
  }
  // The question, with why the pair failed in its details: by default, why
  // a bad*.png does not read.
  void ExpectQuestion(const QString &image, const QString &operation, Answer answer,
                      QString details = QString()) {
    if (details.isEmpty())
      details = "425 - improper image header `" + folder.file(image) +
                "' @ error/png.c/ReadPNGImage/4115\r\nOperation: Getting Image Size";
    prompter.expect("Error in Operation",
                    "An error occured when processing:\r\n\r\nImage: " + image + "\r\nOperation: " +
                        operation + "\r\n\r\nDo you want to continue? (Cancel = Yes to All)",
                    Buttons::YesNoCancel, Icon::Question, answer, details);
  }

  TempFolder folder;
  ListRunSource source;
  RecordingView view;
  Settings settings;
  MagickToolkit toolkit;
  ScriptedPrompter prompter;
  RunState state;
  std::unique_ptr<AheadPool> ahead; // workers running ahead, or the run alone
};

// The same behaviour whether the run works alone or worker processes run ahead of it.
class Runs : public Run, public ::testing::WithParamInterface<bool> {
protected:
  void SetUp() override {
    Run::SetUp();
    if (GetParam()) ahead = std::make_unique<AheadPool>(2, QStringLiteral(VARNHOLT_EXECUTABLE));
  }
};
INSTANTIATE_TEST_SUITE_P(AloneAndAhead, Runs, ::testing::Bool());

TEST_P(Runs, TickedImagesTimesTickedOperationsImageByImageInListOrder) {
  AddImage("a.png");
  AddImage("skipped.png", false);
  AddImage("b.png");
  // A text that does not read counts towards the maximum, but is passed over
  // without a word and never moves the bar.
  source.operations = {{Whole("o1_")},
                       {Whole("no_"), false},
                       {QStringLiteral("Extract (1,2")},
                       {Crop("o2_", 0, 0, 3, 2)},
                       {Whole("o3_")}};
  // Flags left over from an earlier run do not carry into this one.
  state.StopProcess = true;
  state.SuppressMessages = true;

  const RunOutcome outcome = Go();

  EXPECT_FALSE(outcome.failure);
  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(outcome.progressMaximum, 8);
  EXPECT_EQ(view.maximum, 8);
  EXPECT_EQ(view.value, 6);
  const QStringList expected = {
      "image a.png", "op " + Whole("o1_"), "op " + Crop("o2_", 0, 0, 3, 2), "op " + Whole("o3_"),
      "image b.png", "op " + Whole("o1_"), "op " + Crop("o2_", 0, 0, 3, 2), "op " + Whole("o3_")};
  EXPECT_EQ(view.shown, expected);
  EXPECT_EQ(Listing(folder.path()),
            (QStringList{"a.png", "b.png", "o1_a.png", "o1_b.png", "o2_a.png", "o2_b.png",
                         "o3_a.png", "o3_b.png", "skipped.png"}));
  EXPECT_EQ(test::ImageSize(folder.file("o2_b.png")), QSize(4, 3));
  EXPECT_EQ(outcome.step,
            "Do Operation: " + Whole("o3_") + " >>>  " + AddBackslash(folder.path()) + "b.png");
}

TEST_P(Runs, NoAtTheErrorQuestionEndsTheRunAfterTheFailingOperation) {
  Given({"a.png", "bad.png", "c.png"}, {"o1_", "o2_"});
  ExpectQuestion("bad.png", Whole("o1_"), Answer::No);

  const RunOutcome outcome = Go();

  EXPECT_TRUE(outcome.ProcessAborted);
  EXPECT_TRUE(state.StopProcess);
  EXPECT_FALSE(outcome.failure);
  EXPECT_EQ(view.value, 3);
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.pairsNotRun, 3) << "o2_ on bad.png, both on c.png";
  EXPECT_EQ(view.shown.mid(3), QStringList({"image bad.png", "op " + Whole("o1_")}));
  // Nothing of what was done ahead for c.png is left.
  EXPECT_EQ(Listing(folder.path()),
            (QStringList{"a.png", "bad.png", "c.png", "o1_a.png", "o2_a.png"}));
}

TEST_P(Runs, CancelAtTheErrorQuestionAnswersYesToAllAndFailuresStillCountYesGoesOn) {
  Given({"bad.png", "bad2.png", "a.png"}, {"o1_", "o2_"});
  ExpectQuestion("bad.png", Whole("o1_"), Answer::Cancel);

  const RunOutcome outcome = Go();

  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(view.value, 6);
  EXPECT_TRUE(QFile::exists(folder.file("o2_a.png")));

  // The next run asks again, and Yes goes on to the next pair.
  source.images.pop_back();
  source.operations.pop_back();
  ExpectQuestion("bad.png", Whole("o1_"), Answer::Yes);
  ExpectQuestion("bad2.png", Whole("o1_"), Answer::Yes);
  EXPECT_FALSE(Go().ProcessAborted);
  EXPECT_EQ(view.value, 2);
}

TEST_P(Runs, AMissingOutputFolderIsToldOnceAndEndsTheRun) {
  Given({"a.png", "b.png"}, {"o1_", "o2_"});
  settings.OutputInDiffDir = true;
  settings.OutputDir = folder.file("gone");
  prompter.expect("Invalid Output Directory",
                  "Output Directory: " + folder.file("gone") +
                      " Does not exist or cannot be written to!\r\nPlease change output directory!",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);

  const RunOutcome outcome = Go();

  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(view.value, 1);
  EXPECT_EQ(view.shown, QStringList({"image a.png", "op " + Whole("o1_")}));
  EXPECT_EQ(Listing(folder.path()), (QStringList{"a.png", "b.png"}));
}

TEST_P(Runs, SuppressedOutOfBoundsMessagesStayQuietForTheRestOfTheRunOnly) {
  Given({"a.png", "b.png"}, {});
  source.operations = {{Crop("c_", 20, 0, 30, 3)}};
  const QString tooSmall = "Could not extract image: \"%1\" with coordinates because:\r\n\r\n"
                           "Top Left X Coordiate (20) is greater than image width of 8\r\n"
                           "Bottom Right X Coordiate (30) is greater than image width of 8\r\n"
                           "\r\nDo you want to suppress these messages?";
  prompter.expect("Image too small", tooSmall.arg("a.png"), Buttons::YesNo, Icon::None,
                  Answer::Yes);
  Go(); // b.png goes to ImageMagick unclamped, without a word

  prompter.expect("Image too small", tooSmall.arg("a.png"), Buttons::YesNo, Icon::None, Answer::No);
  prompter.expect("Image too small", tooSmall.arg("b.png"), Buttons::YesNo, Icon::None, Answer::No);
  Go();
}

TEST_P(Runs, ListsAreReadAgainAsTheRunGoesOn) {
  Given({"a.png", "b.png"}, {"o1_", "o2_", "o3_"});
  test::MakeImage(folder.file("late.png"), 8, 6);
  bool changed = false;
  view.onEvents = [&] {
    if (changed || view.shown != QStringList({"image a.png", "op " + Whole("o1_")})) return;
    changed = true;
    source.operations[1].text = Whole("o9_"); // edited in place
    source.operations[2].ticked = false;
    source.images.push_back({QStringLiteral("late.png"), true});
  };

  Go();

  EXPECT_EQ(Listing(folder.path()),
            (QStringList{"a.png", "b.png", "late.png", "o1_a.png", "o1_b.png", "o1_late.png",
                         "o9_a.png", "o9_b.png", "o9_late.png"}));
}

TEST(AheadJobs, OnePerCoreAtMostVarnholtJobs) {
  const int cores = std::max(1, QThread::idealThreadCount());
  for (const auto &[cap, jobs] : std::vector<std::pair<QByteArray, int>>{
           {"1", 1}, {"1000", cores}, {"0", cores}, {"many", cores}}) {
    qputenv("VARNHOLT_JOBS", cap);
    EXPECT_EQ(DefaultJobs(), jobs) << cap.constData();
  }
  qunsetenv("VARNHOLT_JOBS");
  EXPECT_EQ(DefaultJobs(), cores);
}

// Answers every size query at once and writes nothing: the run's own
// bookkeeping, without ImageMagick.
class InstantToolkit : public test::PlainToolkit {
public:
  QString identify(const QStringList &) override { return QStringLiteral("100x100"); }
  void convert(const QStringList &args) override {
    QFile(args.last()).open(QIODevice::WriteOnly); // a result, empty
    ++converts;
  }
  void mogrify(const QStringList &) override {}
  int orientation(const QString &) override { return 1; }
  qint64 converts = 0;
};

TEST_F(Run, SixtyThousandPairsRunToTheEnd) {
  for (int i = 0; i < 300; ++i)
    source.images.push_back({QString("img%1.png").arg(i)});
  for (int k = 0; k < 200; ++k)
    source.operations.push_back({Crop(QString("p%1_").arg(k), 1, 1, 9, 9)});
  InstantToolkit instant;

  const RunOutcome outcome = DoOperations(source, view, {settings, instant, prompter}, state);

  EXPECT_FALSE(outcome.failure);
  EXPECT_EQ(view.maximum, 60000);
  EXPECT_EQ(view.value, 60000);
  EXPECT_EQ(instant.converts, 60000);
}

TEST_P(Runs, PairsNeverWriteOverAnImageOfTheRunOrEachOther) {
  AddImage("IMG_0001.JPG");
  AddImage("a.png");
  // Two frames in PNG give th_x-0.png and th_x-1.png, and the first is an image of the run.
  AddImage("th_x-0.png");
  const QString frame = folder.file("th_x-0.png");
  toolkit.convert({frame, frame, folder.file("x.gif")});
  source.images.push_back({QStringLiteral("x.gif")});
  const QByteArray before = test::ReadBytes(frame);
  source.operations = {{Whole("th_", "png")}, {Whole("web_", "JPG")}};
  ExpectQuestion("x.gif", Whole("th_", "png"), Answer::Yes,
                 "1001 - The result would replace the image " + frame +
                     " of this run, so it was not written: " + frame +
                     "\r\nOperation: Moving into place");

  EXPECT_FALSE(Go().ProcessAborted);

  EXPECT_EQ(test::ReadBytes(frame), before);
  // One file a pair; JPG keeps one frame per file.
  EXPECT_EQ(Listing(folder.path()),
            (QStringList{"IMG_0001.JPG", "a.png", "th_IMG_0001.png", "th_a.png", "th_th_x-0.png",
                         "th_x-0.png", "web_IMG_0001.JPG", "web_a.JPG", "web_th_x-0.JPG",
                         "web_x-0.JPG", "web_x-1.JPG", "x.gif"}));
}

TEST_P(Runs, StopEndsTheRunAfterThePairUnderWayAndLeavesNothingElse) {
  Given({"a.png", "b.png", "c.png"}, {"o1_", "o2_"});
  view.onEvents = [&] {
    if (view.shown.size() == 5) state.StopProcess = true; // at b.png's first operation
  };

  const RunOutcome outcome = Go();

  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(view.value, 3);
  EXPECT_EQ(view.shown.last(), "op " + Whole("o1_"));
  EXPECT_EQ(Listing(folder.path()),
            (QStringList{"a.png", "b.png", "c.png", "o1_a.png", "o1_b.png", "o2_a.png"}));
}

TEST_F(Run, WorkersRunningAheadWriteTheSameFilesAndPixelsAsTheRunAlone) {
  AddImage("a.png");
  AddImage("b.jpg");
  AddImage("c.bmp");
  toolkit.convert({folder.file("a.png"), folder.file("b.jpg"), folder.file("d.gif")});
  source.images.push_back({QStringLiteral("d.gif")});
  const QString resized = Text({.Resize = true,
                                .ResizeMethod = kLimitWidth,
                                .ResizeWidth = 5,
                                .OutputFormat = "png",
                                .Suffix = "_r"});
  source.operations = {{Crop("c_", 1, 1, 6, 4)}, {resized}, {Whole("f_", "JPG")}};
  TempFolder alone;
  for (const RunEntry &image : source.images)
    QFile::copy(folder.file(image.text), alone.file(image.text));

  source.folder = alone.path();
  Go();
  source.folder = folder.path();
  ahead = std::make_unique<AheadPool>(2, QStringLiteral(VARNHOLT_EXECUTABLE));
  Go();

  const QStringList written = Listing(alone.path());
  // One file a pair; d.gif's two frames give two where the format holds one.
  EXPECT_EQ(written.size(), 4 + 3 + 3 + 3 + 5);
  EXPECT_EQ(Listing(folder.path()), written);
  for (const QString &name : written) // the pixels, whatever the file's own dates say
    EXPECT_EQ(toolkit.identify({"-format", "%wx%h %#", folder.file(name)}),
              toolkit.identify({"-format", "%wx%h %#", alone.file(name)}))
        << name.toStdString();
}

// The commonest job, from the window and from a script alike: every photo
// fitted into a box as JPG. One file per pair, upright, never enlarged,
// transparency on white, dotted names included.
TEST_F(Run, TheWindowAndTheBatchModeWriteTheSameOneFilePerPair) {
  test::MakeImage(folder.file("Beach.jpg"), 60, 40);
  test::MakeOrientedJpeg(folder.file("portrait.jpg"), 40, 30, 6);
  test::MakeImage(folder.file("2024.06.01 wedding.jpg"), 30, 20);
  QImage logo(20, 10, QImage::Format_ARGB32);
  logo.fill(Qt::transparent);
  ASSERT_TRUE(logo.save(folder.file("logo.png")));
  test::MakeImage(folder.file("two.png"), 16, 12);
  toolkit.convert({folder.file("two.png"), folder.file("Beach.jpg"), folder.file("anim.gif")});
  QFile::remove(folder.file("two.png"));
  const QStringList list = {
      R"(1>Extract Whole Image LimitWidthHeight (24*12) Prefix: "web_" Format: "JPG" Quality: "85")",
      R"(1>Extract (0,0)-(9,19) Suffix: "_c" Format: "PNG" Quality: "75")"};
  TempFolder batch;
  for (const QString &name : ListImageFiles(folder.path(), "", false)) {
    source.images.push_back({name});
    QFile::copy(folder.file(name), batch.file(name));
  }
  for (const QString &line : list)
    source.operations.push_back({line.mid(2)});
  for (const auto &[image, height] : {std::pair{"anim.gif", 12}, std::pair{"logo.png", 10}})
    prompter.expect(
        "Image too small",
        QStringLiteral("Could not extract image: \"%1\" with coordinates because:\r\n\r\n"
                       "Bottom Right Y Coordiate (19) is greater than image height "
                       "of %2\r\n\r\nDo you want to suppress these messages?")
            .arg(image)
            .arg(height),
        Buttons::YesNo, Icon::None, Answer::No);
  Go();
  test::WriteBytes(batch.file("list.vop"), (list.join("\r\n") + "\r\n").toUtf8());
  QProcess process;
  process.start(QStringLiteral(VARNHOLT_EXECUTABLE),
                {"--batch", batch.file("list.vop"), "--input", batch.path(), "--quiet"});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.readAllStandardOutput().trimmed(), "8 written, 2 skipped, 0 failed");

  QStringList made;
  for (const QString &name : Listing(folder.path()))
    if (std::none_of(source.images.begin(), source.images.end(),
                     [&](const RunEntry &e) { return e.text == name; }))
      made << name + " " + toolkit.identify({"-format", "%m %wx%h", folder.file(name)});
  made.sort();
  EXPECT_EQ(made, (QStringList{"2024.06.01 wedding_c.PNG PNG 10x20", "Beach_c.PNG PNG 10x20",
                               "portrait_c.PNG PNG 10x20", "web_2024.06.01 wedding.jpg JPEG 18x12",
                               "web_Beach.jpg JPEG 18x12", "web_anim-0.JPG JPEG 16x12",
                               "web_anim-1.JPG JPEG 18x12", "web_logo.JPG JPEG 20x10",
                               "web_portrait.jpg JPEG 9x12"}));
  QStringList batchMade = Listing(batch.path());
  batchMade.removeAll("list.vop");
  EXPECT_EQ(batchMade, Listing(folder.path()));
  for (const QString &name : batchMade)
    EXPECT_EQ(toolkit.identify({"-format", "%wx%h %#", folder.file(name)}),
              toolkit.identify({"-format", "%wx%h %#", batch.file(name)}))
        << name.toStdString();
  EXPECT_GT(qGray(QImage(folder.file("web_logo.JPG")).pixel(5, 5)), 245) << "white, not black";
}

TEST_F(Run, AWorkerKilledFailsItsPairAndTheRunGoesOnWithNothingLeftBehind) {
  Given({"a.png", "b.png"}, {"o1_", "o2_"});
  ahead = std::make_unique<AheadPool>(2, QStringLiteral(VARNHOLT_EXECUTABLE));
  bool killed = false;
  view.onEvents = [&] {
    if (killed) return;
    killed = true;
    const QList<qint64> workers = test::ChildrenOf(::getpid());
    EXPECT_EQ(workers.size(), 2);
    for (const qint64 pid : workers)
      ::kill(pid_t(pid), SIGKILL);
  };
  for (const QString image : {"a.png", "b.png"})
    ExpectQuestion(image, Whole("o1_"), Answer::Yes,
                   "1009 - The worker process ended while processing it (killed by signal 9): " +
                       image);

  const RunOutcome outcome = Go();

  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(view.value, 4);
  EXPECT_EQ(Listing(folder.path()), (QStringList{"a.png", "b.png", "o2_a.png", "o2_b.png"}));
  EXPECT_TRUE(test::ChildrenOf(::getpid()).isEmpty());
}

TEST_P(Runs, AnOutputFolderSwappedForALinkMidRunWritesNothingIntoTheImageFolder) {
  Given({"a.png", "b.png"}, {"w_"});
  const QString out = folder.file("out"), moved = folder.file("moved");
  QDir().mkpath(out);
  settings.OutputInDiffDir = true;
  settings.OutputDir = out;
  view.onEvents = [&] {
    if (view.shown.last() != "image b.png") return;
    QDir().rename(out, moved);
    QFile::link(folder.path(), out);
  };

  EXPECT_FALSE(Go().ProcessAborted);

  EXPECT_EQ(Listing(folder.path()), (QStringList{"a.png", "b.png", "moved", "out"}));
  EXPECT_EQ(Listing(moved), (QStringList{"w_a.png", "w_b.png"}));
}

TEST(Leftovers, OnlyThoseOfProcessesThatAreGoneAreSweptAndCompletePairsFinished) {
  TempFolder folder;
  const QString live = OwnerTag();
  QString dead = live; // this process's id with another start: a process that ended
  dead.replace(QRegularExpression("\\.[0-9]+$"), ".1");
  ASSERT_TRUE(OwnerIsGone(dead));
  ASSERT_FALSE(OwnerIsGone(live));
  // A tag is this process's only when every part matches: a machine whose id
  // differs in its last digit, or another PID namespace, may be running it.
  const QStringList parts = dead.split(u'.');
  ASSERT_EQ(parts.size(), 5);
  for (const int part : {0, 1}) {
    QStringList other = parts;
    other[part] = part == 0 ? other[0].left(31) + (other[0].endsWith(u'0') ? "1" : "0")
                            : QString::number(other[1].toULongLong() + 1);
    EXPECT_FALSE(OwnerIsGone(other.join(u'.'))) << other.join(u'.').toStdString();
  }
  const QString staging = folder.file(".varnholt-" + dead + "-s1");
  QDir().mkpath(staging + "/w1");
  QDir().mkpath(staging + "/w2");
  QDir().mkpath(staging + "/w3");
  QDir().mkpath(staging + "/a0.1");
  test::WriteBytes(staging + "/w1/half.png", "unfinished");
  test::WriteBytes(staging + "/w2/th_x.png", "complete");
  // Not one of the pair's names: a step's working copy, never moved into place.
  test::WriteBytes(staging + "/w2/th_x.jpg", "working copy");
  test::WriteBytes(staging + "/a0.1/th z.png", "handed over");
  // A link in a complete pair is not something a pair writes: never followed, never moved.
  test::WriteBytes(folder.file("secret"), "mine alone");
  QFile::link(folder.file("secret"), staging + "/w3/th_y.png");
  // w1 failed; w2 complete, w3 too but holds a link; 2.0 is in place already,
  // its process gone before it could say so; a0.1 came from a worker ahead.
  test::WriteBytes(staging + "/journal",
                   "done w1 0.0 half.png\nfree w1\ndone w2 2.0 th_x.png\nmoved w2 2.0\n"
                   "done w2 3.1 th_x.png\ndone w3 4.1 th_y.png\ndone a0.1 5.0 th%20z.png\n");
  for (const QString &name :
       {".varnholt-" + dead + "-h.png", ".varnholt-" + live + "-h.png", QString(".varnholt-old")})
    test::WriteBytes(folder.file(name), "x");

  EXPECT_EQ(SweepLeftovers(folder.path()), (QStringList{"2.0", "5.0", "3.1"}));

  QStringList left{".varnholt-old", ".varnholt-" + live + "-h.png", "secret", "th z.png",
                   "th_x.png"};
  left.sort();
  EXPECT_EQ(Listing(folder.path()), left);
  EXPECT_EQ(test::ReadBytes(folder.file("th_x.png")), "complete");
}

TEST(Leftovers, AnotherUsersLeftoverIsNeitherFinishedNorRemoved) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant files owned by another user";
  TempFolder folder;
  QString dead = OwnerTag();
  dead.replace(QRegularExpression("\\.[0-9]+$"), ".1");
  const QString staging = folder.file(".varnholt-" + dead + "-s1");
  QDir().mkpath(staging + "/w1");
  test::WriteBytes(staging + "/w1/photo.jpg", "planted");
  test::WriteBytes(staging + "/journal", "done w1 1.1 photo.jpg\n");
  test::WriteBytes(folder.file(".varnholt-" + dead + "-h.png"), "planted");
  test::WriteBytes(folder.file("photo.jpg"), "the victim's");
  const uid_t other = 4242;
  for (const QString &path : {staging, staging + "/w1", staging + "/w1/photo.jpg",
                              staging + "/journal", folder.file(".varnholt-" + dead + "-h.png")})
    ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), other, other), 0);

  EXPECT_EQ(SweepLeftovers(folder.path()), QStringList());

  EXPECT_EQ(test::ReadBytes(folder.file("photo.jpg")), "the victim's");
  EXPECT_EQ(test::ReadBytes(staging + "/w1/photo.jpg"), "planted");
  EXPECT_TRUE(QFile::exists(folder.file(".varnholt-" + dead + "-h.png")));
}

} // namespace
} // namespace varnholt
