#include "operations/operation.h"
#include "processing/apply_operation.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_stage.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <QProcess>
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include <unistd.h>

namespace varnholt {
namespace {

using test::ImageSize;
using test::MakeImage;

// The pixels as the file holds them, whatever orientation it claims.
QImage Stored(const QString &path) {
  QImageReader reader(path);
  reader.setAutoTransform(false);
  return reader.read();
}

class ApplyOperationTest : public ::testing::Test {
protected:
  // Decoded pictures are kept between pairs, as the run's workers keep them.
  ApplyOperationTest() : recorder(magick) { magick.setReuseDecoded(true); }

  QString apply(const QString &name, const Operation &op, ApplyOutcome *outcome = nullptr) {
    ApplyEnvironment env{settings, folder.path(), recorder, prompter};
    return ApplyOperation(folder.file(name), op, env, state, outcome);
  }
  std::string run(const QString &name, const Operation &op) {
    return apply(name, op).toStdString();
  }
  static Operation Crop(int x1, int y1, int x2, int y2) {
    return {.Extract = true,
            .TopLeftX = x1,
            .TopLeftY = y1,
            .BottomRightX = x2,
            .BottomRightY = y2,
            .Prefix = "c_"};
  }
  // Each toolkit call as its command and arguments.
  std::vector<QStringList> calls() const {
    std::vector<QStringList> out;
    for (const auto &call : recorder.calls)
      out.push_back(QStringList{call.command} + call.args);
    return out;
  }
  void expectTooSmall(const QString &reasons, Answer answer, const QString &image = "a.png") {
    prompter.expect("Image too small",
                    "Could not extract image: \"" + image + "\" with coordinates because:\r\n\r\n" +
                        reasons + "\r\nDo you want to suppress these messages?",
                    Buttons::YesNo, Icon::None, answer);
  }
  // Hidden files and folders included: nothing may be left out of sight either.
  QStringList files() const {
    return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }

  test::TempFolder folder;
  Settings settings;
  MagickToolkit magick;
  test::RecordingToolkit recorder;
  test::ScriptedPrompter prompter;
  RunState state;
};

// Names are cut at the last dot; a read-only source gives a result the later
// steps can still rewrite.
TEST_F(ApplyOperationTest, WholeImageIsCopiedUnderItsNewNameAndCanBeRewritten) {
  MakeImage(folder.file("a.png"), 30, 20);
  QFile::setPermissions(folder.file("a.png"), QFile::ReadOwner | QFile::ReadGroup);
  Operation op{.Prefix = "p_", .Suffix = "_s"};
  ApplyOutcome outcome{};
  EXPECT_EQ(apply("a.png", op, &outcome).toStdString(), "");
  EXPECT_EQ(outcome, ApplyOutcome::Written);
  EXPECT_EQ(test::ReadBytes(folder.file("p_a_s.png")), test::ReadBytes(folder.file("a.png")));
  op = {.Resize = true,
        .ResizeMethod = kFixToSize,
        .ResizeWidth = 6,
        .ResizeHeight = 4,
        .Prefix = "p_",
        .Suffix = "_s"};
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_TRUE(QFileInfo(folder.file("p_a_s.png")).permissions() & QFile::WriteOwner);
  EXPECT_EQ(ImageSize(folder.file("p_a_s.png")), QSize(6, 4));
  EXPECT_EQ(QFileInfo(folder.file("a.png")).permissions() & QFile::WriteOwner, 0);
  for (const QString name : {"a.b.png", "photo"}) {
    QFile::copy(folder.file("a.png"), folder.file(name));
    EXPECT_EQ(run(name, op), "");
  }
  EXPECT_EQ(files(),
            (QStringList{"a.b.png", "a.png", "p_a.b_s.png", "p_a_s.png", "p_photo_s", "photo"}));
}

// The top-left quarter is red, the bottom-right yellow: a crop across the
// middle keeps them where they were, on a canvas of its own (GIF keeps one).
TEST_F(ApplyOperationTest, CropGivesExactlyTheRectangleWithItsOwnCanvas) {
  MakeImage(folder.file("q.gif"), 40, 40);
  EXPECT_EQ(run("q.gif", Crop(10, 10, 29, 29)), "");
  const QImage crop(folder.file("c_q.gif"));
  ASSERT_EQ(crop.size(), QSize(20, 20));
  EXPECT_EQ(crop.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(crop.pixelColor(19, 19), QColor(Qt::yellow));
  EXPECT_EQ(magick.identify({"-format", "%g", folder.file("c_q.gif")}).toStdString(), "20x20+0+0");
}

// Antialiasing changes one argument, not the size: the full argument list
// below shows it. The Limit methods only shrink unless enlarging is allowed;
// Fix To Size is exact either way.
TEST_F(ApplyOperationTest, EveryResizeMethodGivesItsSize) {
  MakeImage(folder.file("a.png"), 200, 100);
  struct Row {
    bool enlarge;
    int method, width, height;
    QSize expected;
  } rows[] = {
      {false, kLimitWidthHeight, 50, 50, {50, 25}},
      {false, kLimitWidth, 40, 1, {40, 20}},
      {false, kLimitHeight, 1, 10, {20, 10}},
      {false, kFixToSize, 30, 70, {30, 70}},
      {false, 9, 33, 11, {33, 11}},
      {false, kLimitWidthHeight, 400, 300, {200, 100}},
      {false, kLimitWidth, 300, 1, {200, 100}},
      {false, kLimitHeight, 1, 150, {200, 100}},
      {false, kFixToSize, 300, 120, {300, 120}},
      {true, kLimitWidthHeight, 400, 300, {400, 200}},
      {true, kLimitWidth, 300, 1, {300, 150}},
      {true, kLimitHeight, 1, 150, {300, 150}},
  };
  for (const Row &row : rows) {
    settings.NeverEnlarge = !row.enlarge;
    const Operation op{.Resize = true,
                       .ResizeMethod = row.method,
                       .ResizeWidth = row.width,
                       .ResizeHeight = row.height,
                       .Suffix = "_r"};
    EXPECT_EQ(run("a.png", op), "");
    EXPECT_EQ(ImageSize(folder.file("a_r.png")), row.expected)
        << "method " << row.method << " " << row.width << "x" << row.height;
  }
}

// One pair, one file: named for the chosen format, unless the image is in
// that format already (PNG for a .png keeps the image's extension).
TEST_F(ApplyOperationTest, EveryFormatOfTheListIsTheOneFileWrittenAndReadsBack) {
  MakeImage(folder.file("a.png"), 24, 16);
  for (const QString format : {"BMP", "GIF", "JPG", "PNG", "TIFF", "MIFF", "TGA", "tga"}) {
    Operation op = Crop(2, 2, 13, 9);
    op.Prefix = format + "_";
    op.OutputFormat = format;
    EXPECT_EQ(run("a.png", op), "") << format.toStdString();
    EXPECT_EQ(ImageSize(folder.file(format + "_a." + (format == "PNG" ? "png" : format))),
              QSize(12, 8))
        << format.toStdString();
  }
  EXPECT_EQ(magick.identify({"-format", "%m", folder.file("JPG_a.JPG")}).toStdString(), "JPEG");
  QStringList written = files();
  written.sort(); // names that differ only in case come in no set order
  EXPECT_EQ(written, (QStringList{"BMP_a.BMP", "GIF_a.GIF", "JPG_a.JPG", "MIFF_a.MIFF", "PNG_a.png",
                                  "TGA_a.TGA", "TIFF_a.TIFF", "a.png", "tga_a.tga"}));
  MakeImage(folder.file("t.tga"), 10, 6);
  EXPECT_EQ(run("t.tga", Crop(0, 0, 4, 4)), "");
  EXPECT_EQ(ImageSize(folder.file("c_t.tga")), QSize(5, 5));

  for (const QString keep : {"", "Don't Change", "don't change"}) {
    recorder.calls.clear();
    EXPECT_EQ(run("a.png", {.OutputFormat = keep, .Suffix = "_k"}), "");
    EXPECT_EQ(recorder.calls.size(), 1u) << "only the size query";
  }
}

TEST_F(ApplyOperationTest, FullArgumentListsInOrder) {
  MakeImage(folder.file("a.png"), 100, 80);
  const Operation op{.Extract = true,
                     .TopLeftX = 10,
                     .TopLeftY = 20,
                     .BottomRightX = 59,
                     .BottomRightY = 69,
                     .Resize = true,
                     .ResizeMethod = kLimitWidth,
                     .ResizeWidth = 25,
                     .OutputFormat = "BMP",
                     .JpgQuality = 90,
                     .Prefix = "c_"};
  settings.Antialias = true;
  EXPECT_EQ(run("a.png", op), "");
  const QString in = folder.file("a.png"), out = folder.file("c_a.BMP");
  ASSERT_EQ(recorder.calls.size(), 3u);
  // One pass: read once, cropped and resized in memory, written once in the
  // format asked, out of sight, then moved into place.
  const QString built = recorder.calls[2].args.last();
  EXPECT_NE(built, out);
  EXPECT_EQ(QFileInfo(built).fileName(), "c_a.BMP");
  EXPECT_EQ(calls(), (std::vector<QStringList>{
                         {"identify", "-format", "%wx%h", "-ping", in},
                         {"orientation", in},
                         {"convert", "-quality", "90", in, "-crop", "50x50+10+20", "+repage",
                          "-antialias", "-geometry", "25x>", built},
                     }));
  EXPECT_EQ(recorder.calls[2].steps.size(), 3u) << "crop, resize, format: each names a failure";
  EXPECT_EQ(ImageSize(folder.file("c_a.BMP")), QSize(25, 25)) << "the one file is resized";
  EXPECT_EQ(files(), (QStringList{"a.png", "c_a.BMP"}));
}

TEST_F(ApplyOperationTest, RectangleOutsideTheImageAsksCanBeSuppressedOrClamped) {
  MakeImage(folder.file("a.png"), 100, 100);
  // Every corner on the first pixel past the edge.
  const Operation op = Crop(100, 5, 100, 100);
  const QString reasons = "Top Left X Coordiate (100) is greater than image width of 100\r\n"
                          "Bottom Right X Coordiate (100) is greater than image width of 100\r\n"
                          "Bottom Right Y Coordiate (100) is greater than image height of 100\r\n";
  expectTooSmall(reasons, Answer::No);
  ApplyOutcome outcome{};
  EXPECT_EQ(apply("a.png", op, &outcome).toStdString(), "");
  EXPECT_EQ(outcome, ApplyOutcome::Skipped);
  EXPECT_FALSE(state.SuppressMessages);
  EXPECT_FALSE(QFile::exists(folder.file("c_a.png")));

  // Suppressed (Yes earlier in the run): no box, and still skipped; nothing
  // reaches the toolkit after the size query.
  expectTooSmall(reasons, Answer::Yes);
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_TRUE(state.SuppressMessages);
  recorder.calls.clear();
  outcome = {};
  EXPECT_EQ(apply("a.png", op, &outcome).toStdString(), "");
  EXPECT_EQ(outcome, ApplyOutcome::Skipped);
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[0].command, "identify");
  EXPECT_EQ(files(), QStringList{"a.png"});

  // Allowed out of bounds, a rectangle is clamped to the edges.
  state = {};
  recorder.calls.clear();
  settings.AllowOutOfBoundry = true;
  EXPECT_EQ(run("a.png", Crop(10, 10, 50, 500)), "");
  ASSERT_EQ(recorder.calls.size(), 3u);
  EXPECT_EQ(recorder.calls[2].args[4], "90x90+10+10");
  EXPECT_EQ(ImageSize(folder.file("c_a.png")), QSize(90, 90));
  // A top-left corner outside is still refused.
  expectTooSmall("Top Left X Coordiate (100) is greater than image width of 100\r\n"
                 "Bottom Right X Coordiate (120) is greater than image width of 100\r\n",
                 Answer::No);
  EXPECT_EQ(run("a.png", Crop(100, 0, 120, 10)), "");
}

// Allowed out of bounds, on a picture wider than high: the corner that is
// out on one axis only is brought in, and a top-left corner out on either
// axis is refused.
TEST_F(ApplyOperationTest, OutOfBoundsRectanglesAreClampedOnEachAxis) {
  MakeImage(folder.file("a.png"), 100, 60);
  settings.AllowOutOfBoundry = true;
  const struct {
    const char *what;
    Operation op;
    QString crop; // ImageMagick would clip a larger one silently
    QSize result;
  } rows[] = {
      {"inside, to the last pixel", Crop(0, 0, 99, 59), "100x60+0+0", {100, 60}},
      {"out in X only", Crop(10, 5, 150, 20), "90x55+10+5", {90, 55}},
      {"out in Y only", Crop(20, 15, 50, 70), "80x45+20+15", {80, 45}},
  };
  for (const auto &row : rows) {
    QFile::remove(folder.file("c_a.png"));
    recorder.calls.clear();
    EXPECT_EQ(run("a.png", row.op), "") << row.what;
    ASSERT_FALSE(recorder.calls.empty());
    const QStringList args = recorder.calls.back().args;
    EXPECT_EQ(args.value(args.indexOf("-crop") + 1).toStdString(), row.crop.toStdString())
        << row.what;
    EXPECT_EQ(ImageSize(folder.file("c_a.png")), row.result) << row.what;
  }
  expectTooSmall("Top Left X Coordiate (100) is greater than image width of 100\r\n"
                 "Bottom Right X Coordiate (120) is greater than image width of 100\r\n",
                 Answer::No);
  expectTooSmall("Top Left Y Coordiate (60) is greater than image height of 60\r\n"
                 "Bottom Right Y Coordiate (70) is greater than image height of 60\r\n",
                 Answer::No);
  QFile::remove(folder.file("c_a.png"));
  EXPECT_EQ(run("a.png", Crop(100, 0, 120, 10)), "");
  EXPECT_EQ(run("a.png", Crop(0, 60, 10, 70)), "");
  EXPECT_FALSE(QFile::exists(folder.file("c_a.png")));
}

TEST_F(ApplyOperationTest, AnotherOutputFolderMustBeAFolderThatCanBeWritten) {
  MakeImage(folder.file("a.png"), 10, 10);
  settings.OutputInDiffDir = true;
  // A file is found when the folder is opened for the run, before anything is written.
  test::WriteBytes(folder.file("plain"), "x");
  settings.OutputDir = folder.file("plain");
  for (const Operation &op : {Operation{}, Crop(0, 0, 1, 1)})
    EXPECT_EQ(run("a.png", op), "20 - Not a directory: " + folder.file("plain").toStdString() +
                                    "\r\nOperation: Setting Result File");
  EXPECT_EQ(test::ReadBytes(folder.file("plain")), "x");
  if (::geteuid() != 0) { // permissions do not stop root
    QDir().mkpath(folder.file("ro"));
    QFile::setPermissions(folder.file("ro"), QFile::ReadOwner | QFile::ExeOwner);
    settings.OutputDir = folder.file("ro");
    EXPECT_EQ(run("a.png", Crop(0, 0, 1, 1)).rfind("13 - Permission denied: ", 0), 0u);
    QFile::setPermissions(folder.file("ro"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  QDir().mkpath(folder.file("out"));
  settings.OutputDir = folder.file("out");
  EXPECT_EQ(run("a.png", Operation{}), ""); // no prefix or suffix: fine in another folder
  EXPECT_TRUE(QFile::exists(folder.file("out/a.png")));
}

TEST_F(ApplyOperationTest, TheSourceIsNeverOverwritten) {
  MakeImage(folder.file("a.png"), 10, 10);
  const QByteArray before = test::ReadBytes(folder.file("a.png"));
  // No prefix, no suffix, same folder: the target is the source.
  const Operation op{.Resize = true};
  const std::string failure = run("a.png", op);
  EXPECT_EQ(failure.rfind("1001 - ", 0), 0u) << failure;
  EXPECT_NE(failure.find("\r\nOperation: Setting Result File"), std::string::npos) << failure;
  // Through another spelling of the same folder, too.
  settings.OutputInDiffDir = true;
  settings.OutputDir = folder.path() + "/./";
  EXPECT_NE(run("a.png", op), "");
  EXPECT_EQ(test::ReadBytes(folder.file("a.png")), before);
  EXPECT_EQ(files(), QStringList{"a.png"});
}

// A picture that is not all there fails its pair with ImageMagick's reason
// and writes nothing: a file cut short (a card pulled out too early) or a
// damaged middle. Stray bytes between markers leave the picture whole: it is
// written, with the warning.
TEST_F(ApplyOperationTest, ADamagedPictureFailsAndWritesNothing) {
  EXPECT_FALSE(run("missing.png", Operation{}).empty());
  EXPECT_TRUE(files().isEmpty());

  MakeImage(folder.file("ok.jpg"), 64, 48);
  const QByteArray bytes = test::ReadBytes(folder.file("ok.jpg"));
  const qsizetype scan = bytes.indexOf(QByteArray("\xFF\xDA", 2));
  ASSERT_GT(scan, 0);
  QByteArray middle = bytes;
  for (qsizetype i = scan + 40; i < scan + 80; ++i)
    middle[i] = char(0xFF); // markers where the picture's data was
  struct Row {
    const char *name;
    QByteArray bytes;
    const char *reason; // "" when it is written
  } rows[] = {
      {"cut.jpg", bytes.left(scan + (bytes.size() - scan) / 2), "Premature end of JPEG file"},
      {"middle.jpg", middle, "Corrupt JPEG data"},
      {"stray.jpg", bytes.left(scan) + QByteArray("\0\0", 2) + bytes.mid(scan), ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    test::WriteBytes(folder.file(row.name), row.bytes);
    Operation crop = Crop(0, 0, 31, 31);
    crop.OutputFormat = "PNG";
    const QString failure = apply(row.name, crop);
    const QString result = folder.file(ResultName(row.name, crop));
    if (*row.reason) {
      EXPECT_TRUE(failure.startsWith("325 - The picture is damaged: ")) << failure.toStdString();
      EXPECT_TRUE(failure.contains(row.reason)) << failure.toStdString();
      EXPECT_TRUE(failure.endsWith("\r\nOperation: Extracting: -quality, 75, -crop, 32x32+0+0, " +
                                   folder.file(row.name) + ", " + result))
          << failure.toStdString();
      EXPECT_FALSE(QFile::exists(result));
    } else {
      EXPECT_EQ(failure, "");
      EXPECT_EQ(ImageSize(result), QSize(32, 32));
      EXPECT_TRUE(recorder.takeWarnings().join(' ').contains("extraneous bytes"));
    }
  }
}

TEST_F(ApplyOperationTest, CornerArithmeticThatOverflowsFails) {
  MakeImage(folder.file("a.png"), 10, 10);
  const std::string failure = run("a.png", Crop(-2147483647 - 1, 0, 2147483647, 5));
  EXPECT_EQ(failure, "6 - Overflow\r\nOperation: Setting up process values");
  EXPECT_TRUE(recorder.calls.empty());

  // Clamping to the edges subtracts the corner from the image's width.
  MakeImage(folder.file("b.png"), 100, 50);
  settings.AllowOutOfBoundry = true;
  EXPECT_EQ(run("b.png", Crop(-2147483600, 0, 10, 90)),
            "6 - Overflow\r\nOperation: Getting Image Size");
  EXPECT_EQ(files(), (QStringList{"a.png", "b.png"}));
}

TEST_F(ApplyOperationTest, AFailureAtAnyStepLeavesNothingAndKeepsAnEarlierResult) {
  // A noisy picture cut short: its size still reads, its pixels do not.
  MakeImage(folder.file("big.png"), 300, 200);
  test::WriteBytes(folder.file("t.png"), test::ReadBytes(folder.file("big.png")).left(600));
  QFile::remove(folder.file("big.png"));
  test::WriteBytes(folder.file("bad.jpg"), QByteArray("\xFF\xD8\xFF garbage", 12));
  MakeImage(folder.file("a.png"), 30, 20);
  struct Row {
    const char *what, *image;
    bool extract;
    const char *failAt; // a toolkit step made to fail, or "" for a real failure
    const char *step;
  } rows[] = {
      {"no image at all", "bad.jpg", true, "", "Getting Image Size"},
      {"unreadable input", "t.png", false, "", "Resizing (No AA)"},
      {"crop fails", "a.png", true, "-crop", "Extracting"},
      {"crop and resize done, format fails", "a.png", true, "-alpha", "Changing Format"},
      {"resize fails", "a.png", false, "-geometry", "Resizing (No AA)"},
      {"everything written, the result cannot be moved in", "a.png", true, "folder",
       "Moving into place"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const QString name = QString::fromLatin1(row.image);
    const Operation op{.Extract = row.extract,
                       .BottomRightX = 9,
                       .BottomRightY = 9,
                       .Resize = true,
                       .ResizeMethod = kLimitWidth,
                       .ResizeWidth = 8,
                       .OutputFormat = "JPG",
                       .Prefix = "th_"};
    const QString earlier = folder.file(ResultName(name, op));
    for (const char *old : {"th_bad.jpg", "th_t.JPG", "th_a.JPG"}) {
      QFile::remove(folder.file(old));
      QDir().rmdir(folder.file(old));
    }
    if (QByteArray(row.failAt) == "folder")
      QDir().mkdir(earlier); // a folder under the result's name stops the move
    else
      test::WriteBytes(earlier, "an earlier run's result");
    recorder.before = [&](const test::RecordingToolkit::Call &call) {
      for (size_t step = 0; step < call.steps.size(); ++step)
        if (*row.failAt && call.steps[step].contains(QString::fromLatin1(row.failAt)))
          throw StepFailure(int(step), Failure(410, "made to fail"));
    };
    ApplyOutcome outcome{};
    const QString failure = apply(name, op, &outcome);
    EXPECT_EQ(outcome, ApplyOutcome::Failed);
    EXPECT_TRUE(failure.contains(" - ") &&
                failure.contains("\r\nOperation: " + QString::fromLatin1(row.step)))
        << failure.toStdString();
    EXPECT_FALSE(failure.contains(".varnholt-") || failure.contains("/proc/self/fd/"))
        << "names the user's files: " << failure.toStdString();
    if (QFileInfo(earlier).isFile()) EXPECT_EQ(test::ReadBytes(earlier), "an earlier run's result");
    EXPECT_EQ(files(), (QStringList{"a.png", "bad.jpg", "t.png", QFileInfo(earlier).fileName()}))
        << "nothing hidden, nothing half-made";
  }
}

// The images a list wrote before beside the others: under a result's name or
// a kept copy's, not under a name that only looks like one of its first
// frames, never an image of its own.
TEST(PairPlan, EarlierResultsAreTheListsOwnNames) {
  const std::vector<Operation> ops = {{.OutputFormat = "JPG", .Prefix = "web_"}, {.Suffix = "_s"}};
  const QStringList images = {
      "Kite.jpg",       "web_Kite.jpg", "logo.png",       "web_logo.JPG",   "web_logo.png",
      "logo_s.png",     "anim.gif",     "web_anim-0.JPG", "web_Kite-2.jpg", "web_logo-12.JPG",
      "web_anim-1.JPG", "web_.jpg",     "Kite_s.jpg",     "Kite_s_s.jpg",   "photo",
      "web_photo.JPG",  "web_photo"};
  EXPECT_EQ(EarlierResults(images, ops),
            (QStringList{"web_Kite.jpg", "web_logo.JPG", "logo_s.png", "web_Kite-2.jpg",
                         "web_logo-12.JPG", "Kite_s.jpg", "Kite_s_s.jpg", "web_photo.JPG"}));
  EXPECT_EQ(EarlierResults({"a.png", "a_s.png"}, {{.Suffix = ""}}), QStringList());
}

// The one name a pair writes: a format the image is already in, by any of
// its extensions, keeps the image's own; frame files are what was written
// under the result's stem, numbered as ImageMagick numbered them.
TEST(PairPlan, OneResultNameAndTheFrameFilesFoundBesideIt) {
  const auto op = [](const QString &format) {
    return Operation{.OutputFormat = format, .Prefix = "th_"};
  };
  struct Row {
    QString image, format, result;
  } rows[] = {
      {"IMG_0001.JPG", "JPG", "th_IMG_0001.JPG"},
      {"Beach.jpg", "JPG", "th_Beach.jpg"},
      {"a.jpeg", "JPG", "th_a.jpeg"},
      {"a.jpe", "jpg", "th_a.jpe"},
      {"a.tif", "TIFF", "th_a.tif"},
      {"a.png", "png", "th_a.png"},
      {"a.png", "JPG", "th_a.JPG"},
      {"a.b.gif", "PNG", "th_a.b.PNG"},
      {"photo", "GIF", "th_photo.GIF"},
      {"a.png", kDontChange, "th_a.png"},
      {"a.tiff", "", "th_a.tiff"},
  };
  for (const Row &row : rows) {
    const PairPlan plan = PlanPair("/out/", row.image, op(row.format));
    EXPECT_EQ(plan.names(), QStringList{row.result}) << row.image.toStdString();
    EXPECT_EQ(plan.path(plan.target), "/out/" + row.result);
  }
  EXPECT_EQ(FrameFilesOf("th_x.PNG", {"th_x.gif", "th_x-100.PNG", "th_x-101.PNG", "th_x-1.png",
                                      "th_x-.PNG", "th_x-1a.PNG", "th_xy-1.PNG", "th_x.PNG"}),
            (QStringList{"th_x-100.PNG", "th_x-101.PNG"}));
}

// What the user asks for is the one file written: its name, format and size.
TEST_F(ApplyOperationTest, EachPairWritesOneFileInTheFormatAndSizeAsked) {
  MakeImage(folder.file("Beach.jpg"), 60, 40);
  MakeImage(folder.file("c.JPG"), 30, 20);
  MakeImage(folder.file("d.jpeg"), 30, 20);
  MakeImage(folder.file("f.tif"), 50, 30);
  MakeImage(folder.file("g.png"), 40, 30);
  QImage clear(20, 10, QImage::Format_ARGB32);
  clear.fill(Qt::transparent);
  for (int i = 0; i < 16; ++i)
    clear.setPixelColor(i % 4, i / 4, Qt::red);
  ASSERT_TRUE(clear.save(folder.file("e.png")));
  magick.convert({folder.file("g.png"), folder.file("c.JPG"), folder.file("h.gif")});
  // Scenes numbered from 100: ImageMagick names the frame files after them.
  ASSERT_EQ(QProcess::execute("convert", {"-size", "20x10", "xc:red", "xc:blue", "xc:lime", "-set",
                                          "scene", "100", folder.file("s.miff")}),
            0);
  const auto fit = [](int w, int h, const QString &format, int method = kLimitWidthHeight) {
    return Operation{.Resize = true,
                     .ResizeMethod = method,
                     .ResizeWidth = w,
                     .ResizeHeight = h,
                     .OutputFormat = format,
                     .JpgQuality = 85,
                     .Prefix = "web_"};
  };
  Operation crop = Crop(0, 0, 9, 4), frames = crop;
  crop.OutputFormat = "GIF";
  frames.OutputFormat = "PNG";
  struct Row {
    QString image;
    Operation op;
    QStringList files; // name, then ImageMagick's format and size of each
  } rows[] = {
      {"Beach.jpg", fit(24, 12, "JPG"), {"web_Beach.jpg JPEG 18x12"}},
      {"c.JPG", fit(24, 12, "jpg"), {"web_c.JPG JPEG 18x12"}},
      {"d.jpeg", fit(24, 12, "JPG"), {"web_d.jpeg JPEG 18x12"}},
      {"e.png", fit(100, 100, "JPG"), {"web_e.JPG JPEG 20x10"}},
      {"f.tif", fit(25, 1, "PNG", kLimitWidth), {"web_f.PNG PNG 25x15"}},
      {"g.png", crop, {"c_g.GIF GIF 10x5"}},
      {"h.gif", fit(15, 15, "PNG"), {"web_h-0.PNG PNG 15x11", "web_h-1.PNG PNG 15x10"}},
      {"s.miff", frames, {"c_s-100.PNG PNG 10x5", "c_s-101.PNG PNG 10x5", "c_s-102.PNG PNG 10x5"}},
  };
  for (const Row &row : rows) {
    const QStringList before = files();
    EXPECT_EQ(run(row.image, row.op), "") << row.image.toStdString();
    QStringList made;
    for (const QString &name : files())
      if (!before.contains(name))
        made << name + " " + magick.identify({"-format", "%m %wx%h", folder.file(name)});
    EXPECT_EQ(made, row.files) << row.image.toStdString();
  }
  // Transparent becomes white paper, not black.
  const QImage flat(folder.file("web_e.JPG"));
  EXPECT_GT(qGray(flat.pixel(15, 8)), 245);
  EXPECT_GT(qRed(flat.pixel(0, 0)), 200);
}

// What ImageMagick's compare says of two pictures by `metric` (AE: how many
// pixels differ; PSNR: in dB, "inf" when none does).
double Compare(const QString &metric, const QString &a, const QString &b) {
  QProcess compare;
  compare.start("compare", {"-metric", metric, a, b, "null:"});
  compare.waitForFinished();
  const QString said = QString::fromLocal8Bit(compare.readAllStandardError()).trimmed();
  if (said.startsWith("inf")) return 1e9;
  bool ok = false;
  const double value = said.section(u' ', 0, 0).toDouble(&ok);
  return ok ? value : -1;
}

// Each pair is ImageMagick's own one command: the same pixels where the
// result is lossless, the same within rounding where it is JPEG. A PNG crop
// of a JPEG holds exactly the JPEG's pixels, not a JPEG re-encode of them.
TEST_F(ApplyOperationTest, EachPairIsImageMagicksOwnOneCommand) {
  for (const char *name : {"j.jpg", "p.png", "g.gif", "t.tif"})
    ASSERT_EQ(QProcess::execute("convert", {"-size", "120x90", "-seed", "7", "plasma:fractal",
                                            folder.file(name)}),
              0);
  QImage clear(40, 30, QImage::Format_ARGB32);
  clear.fill(QColor(0, 0, 255, 90));
  for (int i = 0; i < 300; ++i)
    clear.setPixelColor(i % 40, i / 40, QColor(255, 0, 0, 200));
  ASSERT_TRUE(clear.save(folder.file("e.png")));
  const auto op = [](Operation o, const QString &format) {
    o.OutputFormat = format;
    o.JpgQuality = 85;
    o.Prefix = "r_";
    return o;
  };
  const Operation fit{
      .Resize = true, .ResizeMethod = kLimitWidthHeight, .ResizeWidth = 50, .ResizeHeight = 70};
  struct Row {
    QString image;
    Operation op;
    QStringList command; // the image is IN, the reference goes last
    QString metric;
    double bound; // AE at most, PSNR at least
  } rows[] = {
      {"j.jpg", op(Crop(10, 5, 69, 54), "PNG"), {"IN", "-crop", "60x50+10+5", "+repage"}, "AE", 0},
      {"p.png", op(fit, "PNG"), {"IN", "-geometry", "50x70>"}, "AE", 0},
      {"g.gif", op(Crop(5, 7, 24, 16), "GIF"), {"IN", "-crop", "20x10+5+7", "+repage"}, "AE", 0},
      {"t.tif", op({}, "PNG"), {"IN"}, "AE", 0},
      {"e.png",
       op({}, "JPG"),
       {"IN", "-background", "white", "-alpha", "remove", "-quality", "85"},
       "PSNR",
       50},
      // Shrunk as a whole, a JPEG is read at a reduced size, as ImageMagick reads it when told.
      {"j.jpg",
       op(fit, "JPG"),
       {"-define", "jpeg:size=50x38", "IN", "-geometry", "50x38!", "-quality", "85"},
       "PSNR",
       50},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.image.toStdString() + " to " + row.op.OutputFormat.toStdString());
    const QString result = folder.file(ResultName(row.image, row.op));
    const QString reference = folder.file("ref." + row.op.OutputFormat.toLower());
    ASSERT_EQ(run(row.image, row.op), "");
    QStringList command = row.command;
    command.replace(command.indexOf("IN"), folder.file(row.image));
    ASSERT_EQ(QProcess::execute("convert", command << reference), 0);
    const double measured = Compare(row.metric, result, reference);
    if (row.metric == "AE")
      EXPECT_EQ(measured, 0);
    else
      EXPECT_GE(measured, row.bound);
    QFile::remove(result);
  }
}

// The pair's place in the output folder holds its result names and nothing
// else when it is handed over: no copy in the image's format, nothing a
// sweep could take for a result.
TEST_F(ApplyOperationTest, ThePairsPlaceHoldsOnlyItsResultNames) {
  MakeImage(folder.file("x.jpg"), 40, 30);
  ASSERT_EQ(
      QProcess::execute("convert", {"-size", "20x10", "xc:red", "xc:blue", folder.file("f.gif")}),
      0);
  struct Row {
    QString image;
    Operation op;
    QStringList names;
  } rows[] = {
      {"x.jpg",
       {.Extract = true,
        .BottomRightX = 9,
        .BottomRightY = 9,
        .OutputFormat = "PNG",
        .Prefix = "A_"},
       {"A_x.PNG"}},
      {"x.jpg",
       {.Resize = true, .ResizeWidth = 10, .ResizeHeight = 10, .Prefix = "A_"},
       {"A_x.jpg"}},
      {"f.gif", {.OutputFormat = "PNG", .Prefix = "A_"}, {"A_f-0.PNG", "A_f-1.PNG"}},
      {"f.gif", {.Suffix = "_copy"}, {"f_copy.gif"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.names.join(' ').toStdString());
    QStringList inPlace, handed;
    ApplyEnvironment env{settings, folder.path(), recorder, prompter};
    env.handOver = [&](PairStage &stage, const QStringList &names) {
      inPlace = QDir(stage.file(QString()))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
      handed = names;
    };
    EXPECT_EQ(ApplyOperation(folder.file(row.image), row.op, env, state), "");
    EXPECT_EQ(inPlace, row.names);
    EXPECT_EQ(handed, row.names);
  }
  EXPECT_EQ(files(), (QStringList{"f.gif", "x.jpg"})) << "handed over, not committed";
}

// The frames of a pair go in as one: an earlier frame file that cannot be
// replaced stops the pair before any of its files is in place.
TEST_F(ApplyOperationTest, FrameFilesGoInTogetherOrNotAtAll) {
  ASSERT_EQ(
      QProcess::execute("convert", {"-size", "20x10", "xc:red", "xc:blue", folder.file("x.gif")}),
      0);
  // An earlier run of three frames: the third stays, and the user is told.
  for (const char *name : {"W_x-0.PNG", "W_x-1.PNG", "W_x-2.PNG"})
    test::WriteBytes(folder.file(name), "earlier");
  QStringList notes;
  ApplyEnvironment env{settings, folder.path(), recorder, prompter};
  env.notes = &notes;
  EXPECT_EQ(
      ApplyOperation(folder.file("x.gif"), {.OutputFormat = "PNG", .Prefix = "W_"}, env, state),
      "");
  EXPECT_EQ(notes, QStringList{"other frame files under its name were left as they are: "
                               "W_x-2.PNG"});
  EXPECT_EQ(test::ReadBytes(folder.file("W_x-2.PNG")), "earlier");
  for (const char *name : {"W_x-0.PNG", "W_x-1.PNG"})
    test::WriteBytes(folder.file(name), "earlier");
  QFile::remove(folder.file("W_x-2.PNG"));
  const QString locked = folder.file("W_x-1.PNG");
  if (QProcess::execute("chattr", {"+i", locked}) != 0)
    GTEST_SKIP() << "chattr +i is not available here (it needs root and a file system with it)";
  ApplyOutcome outcome{};
  const QString failure = apply("x.gif", {.OutputFormat = "PNG", .Prefix = "W_"}, &outcome);
  QProcess::execute("chattr", {"-i", locked});
  EXPECT_EQ(outcome, ApplyOutcome::Failed);
  EXPECT_EQ(failure, "1 - Operation not permitted: " + locked + "\r\nOperation: Moving into place");
  for (const char *name : {"W_x-0.PNG", "W_x-1.PNG"})
    EXPECT_EQ(test::ReadBytes(folder.file(name)), "earlier") << name;
  EXPECT_EQ(files(), (QStringList{"W_x-0.PNG", "W_x-1.PNG", "x.gif"}));
  EXPECT_EQ(run("x.gif", {.OutputFormat = "PNG", .Prefix = "W_"}), "");
  EXPECT_EQ(ImageSize(folder.file("W_x-1.PNG")), QSize(20, 10));
}

// Pairs meet by name: another name for a claimed file (its inode number, free
// again once another run replaced it, given to a new file) is no clash. An
// image of the run is still found under any name.
TEST(RunClaims, PairsMeetByNameImagesByAnyName) {
  test::TempFolder dir;
  for (const char *name : {"a.png", "out.png"})
    test::WriteBytes(dir.file(name), "x");
  ASSERT_EQ(::link(QFile::encodeName(dir.file("out.png")).constData(),
                   QFile::encodeName(dir.file("same.png")).constData()),
            0);
  ASSERT_EQ(::link(QFile::encodeName(dir.file("a.png")).constData(),
                   QFile::encodeName(dir.file("alias.png")).constData()),
            0);
  RunClaims claims;
  claims.addSource(dir.file("a.png"));
  EXPECT_FALSE(claims.claim({dir.file("a.png"), "a", 1}, {dir.file("out.png")}));
  EXPECT_FALSE(claims.claim({dir.file("b.png"), "b", 1}, {dir.file("same.png")}));
  EXPECT_EQ(claims.claim({dir.file("c.png"), "c", 1}, {dir.file("out.png")}).kind,
            RunClaims::Clash::OtherPair);
  EXPECT_EQ(claims.claim({dir.file("c.png"), "c", 1}, {dir.file("alias.png")}).kind,
            RunClaims::Clash::OtherImage);
}

// A photo comes out as it is seen: the stored 40x30 picture (red top-left
// quarter) for each EXIF orientation, as a viewer would turn it.
TEST_F(ApplyOperationTest, PhotosAreTakenUprightWhateverTheirOrientation) {
  struct Row {
    int orientation;
    QSize upright;
    QPoint red; // a pixel of the red quarter, upright
  } rows[] = {
      {1, {40, 30}, {2, 2}},   {2, {40, 30}, {37, 2}}, {3, {40, 30}, {37, 27}},
      {4, {40, 30}, {2, 27}},  {5, {30, 40}, {2, 2}},  {6, {30, 40}, {27, 2}},
      {7, {30, 40}, {27, 37}}, {8, {30, 40}, {2, 37}},
  };
  const auto isRed = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.orientation);
    const QString name = QStringLiteral("o%1.jpg").arg(row.orientation);
    test::MakeOrientedJpeg(folder.file(name), 40, 30, row.orientation);
    // Whole, and through a crop of the whole upright picture; both re-encoded.
    Operation whole{.OutputFormat = "PNG", .Prefix = "w_"};
    Operation crop = Crop(0, 0, row.upright.width() - 1, row.upright.height() - 1);
    crop.Resize = true;
    crop.ResizeWidth = crop.ResizeHeight = 1000;
    for (const Operation &op : {whole, crop}) {
      EXPECT_EQ(run(name, op), "");
      const QImage result = Stored(folder.file(ResultName(name, op)));
      EXPECT_EQ(result.size(), row.upright);
      EXPECT_TRUE(isRed(result.pixel(row.red))) << op.Prefix.toStdString();
    }
    EXPECT_LE(magick.orientation(folder.file("c_" + name)), 1) << "says it is upright";
    // A corner past the upright width is told in upright terms.
    expectTooSmall(
        QStringLiteral("Bottom Right X Coordiate (%1) is greater than image width of %1\r\n")
            .arg(row.upright.width()),
        Answer::No, name);
    EXPECT_EQ(run(name, Crop(0, 0, row.upright.width(), 0)), "");
  }
  // A plain copy stays the very same bytes, orientation and all.
  EXPECT_EQ(run("o6.jpg", {.Suffix = "_copy"}), "");
  EXPECT_EQ(test::ReadBytes(folder.file("o6_copy.jpg")), test::ReadBytes(folder.file("o6.jpg")));
  // Turning off, the stored pixels are used as they are.
  settings.AutoOrient = false;
  EXPECT_EQ(run("o6.jpg", {.OutputFormat = "PNG", .Prefix = "k_"}), "");
  const QImage stored = Stored(folder.file("k_o6.PNG"));
  EXPECT_EQ(stored.size(), QSize(40, 30));
  EXPECT_TRUE(isRed(stored.pixel(2, 2)));
}

} // namespace
} // namespace varnholt

namespace varnholt {
namespace {

Operation Shrink(int method, int w, int h, const QString &prefix = "s_") {
  return {.Resize = true,
          .ResizeMethod = method,
          .ResizeWidth = w,
          .ResizeHeight = h,
          .OutputFormat = "PNG",
          .Prefix = prefix};
}

// The size a JPEG may be decoded at: the result's, when the whole picture
// shrinks on both sides; otherwise it is decoded whole.
TEST(ShrinkOnLoad, TheResultsSizeWhenTheWholePictureShrinks) {
  struct Row {
    Operation op;
    std::optional<QSize> hint; // for a 640x480 picture
  } rows[] = {
      {Shrink(kLimitWidthHeight, 160, 90), QSize(120, 90)},
      {Shrink(kLimitWidthHeight, 100, 300), QSize(100, 75)},
      {Shrink(kLimitWidth, 101, 0), QSize(101, 76)},
      {Shrink(kLimitHeight, 0, 61), QSize(81, 61)},
      {Shrink(kFixToSize, 300, 100), QSize(300, 100)},
      {Shrink(kFixToSize, 700, 100), std::nullopt},
      {Shrink(kFixToSize, 300, 480), std::nullopt},
      {Shrink(kLimitWidthHeight, 800, 800), std::nullopt},
      {Shrink(kLimitWidth, 640, 0), std::nullopt},
      {{.Extract = true, .BottomRightX = 9, .BottomRightY = 9, .Resize = true}, std::nullopt},
      {{.OutputFormat = "PNG"}, std::nullopt},
  };
  for (const Row &row : rows)
    EXPECT_EQ(ShrinkOnLoadSize(row.op, 640, 480).value_or(ShrinkOnLoad{}).result,
              row.hint.value_or(QSize()))
        << row.op.ResizeMethod << " " << row.op.ResizeWidth << "x" << row.op.ResizeHeight;
}

// A crop then a shrink: read at 1/d when the rectangle lies on the grid of
// d pixels (and, for a picture turned upright, its sides do too), keeping at
// least the result's size. Each row wrong on one side only.
TEST(ShrinkOnLoad, ACropIsReadSmallOnlyWhereItLiesOnTheReducedGrid) {
  const Operation fit = Shrink(kLimitWidthHeight, 100, 100);
  struct Row {
    Operation op;
    QRect rect;
    int width, height;
    bool turned;
    int divisor; // 0: read whole
    QSize result;
  } rows[] = {
      {fit, {0, 0, 400, 320}, 640, 480, false, 4, {100, 80}},
      {fit, {8, 16, 400, 320}, 640, 480, false, 4, {100, 80}},
      {fit, {2, 16, 400, 320}, 640, 480, false, 2, {100, 80}},
      {fit, {16, 2, 400, 320}, 640, 480, false, 2, {100, 80}},
      {fit, {3, 16, 400, 320}, 640, 480, false, 0, {}},
      {fit, {16, 3, 400, 320}, 640, 480, false, 0, {}},
      {fit, {0, 0, 401, 320}, 640, 480, false, 0, {}},
      {fit, {0, 0, 400, 321}, 640, 480, false, 0, {}},
      {fit, {0, 0, 1600, 960}, 2000, 1000, false, 8, {100, 60}},
      {fit, {0, 0, 400, 320}, 642, 480, true, 2, {100, 80}},
      {fit, {0, 0, 400, 320}, 640, 482, true, 2, {100, 80}},
      {fit, {0, 0, 400, 320}, 641, 480, true, 0, {}},
      {fit, {0, 0, 400, 320}, 640, 481, true, 0, {}},
      {fit, {0, 0, 400, 320}, 641, 481, false, 4, {100, 80}},
      {fit, {400, 0, 400, 320}, 640, 480, false, 0, {}},
      {fit, {0, 400, 400, 320}, 640, 480, false, 0, {}},
      {Shrink(kFixToSize, 300, 100), {0, 0, 400, 320}, 640, 480, false, 0, {}},
      {Shrink(kFixToSize, 100, 300), {0, 0, 400, 320}, 640, 480, false, 0, {}},
      {Shrink(kLimitWidth, 150, 0), {0, 0, 400, 320}, 640, 480, false, 2, {150, 120}},
      {Shrink(kLimitHeight, 0, 150), {0, 0, 400, 320}, 640, 480, false, 2, {188, 150}},
  };
  for (const Row &row : rows) {
    const std::optional<CropShrinkOnLoad> got =
        CropShrinkOnLoadSize(row.op, row.rect, row.width, row.height, row.turned);
    EXPECT_EQ(got ? got->divisor : 0, row.divisor)
        << row.rect.x() << "," << row.rect.y() << " " << row.rect.width() << "x"
        << row.rect.height() << " of " << row.width << "x" << row.height;
    if (got) EXPECT_EQ(got->result, row.result);
  }
}

// The hint goes to ImageMagick exactly when it may, for the picture as
// stored; the result has the size and the orientation asked, and its pixels
// differ from a whole decode by no more than rounding.
TEST_F(ApplyOperationTest, JpegsShrunkWholeAreDecodedSmallAndComeOutTheSame) {
  const auto hinted = [&] {
    for (const auto &call : recorder.calls)
      for (const QString &arg : call.args)
        if (arg.startsWith("jpeg:size=")) return arg.mid(10);
    return QString();
  };
  test::MakeOrientedJpeg(folder.file("p.jpg"), 400, 300, 1);
  test::MakeImage(folder.file("p.png"), 400, 300);
  struct Row {
    QString image;
    Operation op;
    bool exact;
    QString hint;
  } rows[] = {
      {"p.jpg", Shrink(kLimitWidthHeight, 100, 100), false, "100x75"},
      {"p.jpg", Shrink(kLimitWidthHeight, 100, 100), true, ""},
      {"p.png", Shrink(kLimitWidthHeight, 100, 100), false, ""},
      {"p.jpg", Shrink(kFixToSize, 500, 100), false, ""},
      {"p.jpg",
       [] {
         Operation op = Shrink(kLimitWidth, 50, 0);
         op.Extract = true;
         op.BottomRightX = 199, op.BottomRightY = 149;
         return op;
       }(),
       false, "200x150"},
      {"p.jpg",
       [] {
         Operation op = Shrink(kLimitWidth, 50, 0);
         op.Extract = true;
         op.TopLeftX = 1, op.BottomRightX = 199, op.BottomRightY = 149;
         return op;
       }(),
       false, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.image.toStdString() + (row.exact ? " exact" : ""));
    recorder.calls.clear();
    settings.ExactDecode = row.exact;
    EXPECT_EQ(run(row.image, row.op), "");
    EXPECT_EQ(hinted(), row.hint);
  }
  settings.ExactDecode = false;

  // Every orientation: the hint is for the stored picture, the result upright.
  const auto isRed = [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; };
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const QString name = QStringLiteral("o%1.jpg").arg(orientation);
    test::MakeOrientedJpeg(folder.file(name), 400, 300, orientation);
    recorder.calls.clear();
    EXPECT_EQ(run(name, Shrink(kLimitWidthHeight, 90, 90)), "");
    EXPECT_EQ(hinted(), "90x68") << "for the picture as stored";
    const bool sideways = orientation >= 5;
    const QImage result = Stored(folder.file(ResultName("s_" + name, {.OutputFormat = "PNG"})));
    EXPECT_EQ(result.size(), sideways ? QSize(68, 90) : QSize(90, 68));
    // Where the red quarter of the stored picture is seen (as in the test above).
    const QPoint red[] = {{4, 4}, {85, 4}, {85, 63}, {4, 63}, {4, 4}, {63, 4}, {63, 85}, {4, 85}};
    EXPECT_TRUE(isRed(result.pixel(red[orientation - 1])));
  }

  // A picture with detail at every scale, less the finer it is, as
  // photographs have it.
  QImage photo(1200, 800, QImage::Format_RGB32);
  const auto detail = [](int x, int y, double phase) {
    double v = 0;
    for (double period = 400, amplitude = 70; period >= 12; period /= 2, amplitude /= 2)
      v += amplitude * std::sin((x + phase * y) / period * 6.2832) * std::cos(y / period * 5.1);
    return std::clamp(int(128 + v), 0, 255);
  };
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      photo.setPixel(x, y, qRgb(detail(x, y, 0.3), detail(y, x, 0.7), detail(x + y, y, 0.1)));
  ASSERT_TRUE(photo.save(folder.file("photo.jpg"), "JPEG", 92));
  EXPECT_EQ(run("photo.jpg", Shrink(kLimitWidthHeight, 300, 300, "small_")), "");
  settings.ExactDecode = true;
  EXPECT_EQ(run("photo.jpg", Shrink(kLimitWidthHeight, 300, 300, "whole_")), "");
  // A crop on the half grid, read at half size, against the same crop read whole.
  Operation crop = Shrink(kLimitWidthHeight, 300, 300, "cropwhole_");
  crop.Extract = true;
  crop.TopLeftX = 400, crop.TopLeftY = 200, crop.BottomRightX = 1199, crop.BottomRightY = 799;
  EXPECT_EQ(run("photo.jpg", crop), "");
  settings.ExactDecode = false;
  crop.Prefix = "cropsmall_";
  recorder.calls.clear();
  EXPECT_EQ(run("photo.jpg", crop), "");
  EXPECT_EQ(hinted(), "600x400");
  for (const auto &[small_, whole_, size] :
       {std::tuple{"small_photo.PNG", "whole_photo.PNG", QSize(300, 200)},
        std::tuple{"cropsmall_photo.PNG", "cropwhole_photo.PNG", QSize(300, 225)}}) {
    SCOPED_TRACE(small_);
    const QImage small = Stored(folder.file(small_));
    const QImage whole = Stored(folder.file(whole_));
    ASSERT_EQ(small.size(), size);
    ASSERT_EQ(whole.size(), small.size());
    double squared = 0;
    for (int y = 0; y < small.height(); ++y)
      for (int x = 0; x < small.width(); ++x) {
        const QRgb a = small.pixel(x, y), b = whole.pixel(x, y);
        for (const int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
          squared += d * d;
      }
    const double mse = squared / (3.0 * small.width() * small.height());
    EXPECT_GE(10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9)), 40.0);
  }
}

} // namespace
} // namespace varnholt
