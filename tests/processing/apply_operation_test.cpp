#include "operations/operation.h"
#include "processing/apply_operation.h"
#include "processing/magick_toolkit.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <unistd.h>

namespace varnholt {
namespace {

using test::ImageSize;
using test::MakeImage;

class ApplyOperationTest : public ::testing::Test {
protected:
  ApplyOperationTest() : recorder(magick) {}

  QString apply(const QString &name, const Operation &op, ApplyOutcome *outcome = nullptr) {
    ApplyEnvironment env{settings, folder.path(), recorder, prompter};
    return ApplyOperation(folder.file(name), op, env, state, outcome);
  }
  std::string run(const QString &name, const Operation &op) {
    return apply(name, op).toStdString();
  }
  static Operation Crop(int x1, int y1, int x2, int y2) {
    Operation op;
    op.Extract = true;
    op.TopLeftX = x1, op.TopLeftY = y1, op.BottomRightX = x2, op.BottomRightY = y2;
    op.Prefix = "c_";
    return op;
  }
  QStringList files() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

  test::TempFolder folder;
  Settings settings;
  MagickToolkit magick;
  test::RecordingToolkit recorder;
  test::ScriptedPrompter prompter;
  RunState state;
};

TEST_F(ApplyOperationTest, WholeImageIsCopiedUnderItsNewName) {
  MakeImage(folder.file("a.png"), 30, 20);
  Operation op;
  op.Prefix = "p_";
  op.Suffix = "_s";
  ApplyOutcome outcome{};
  EXPECT_EQ(apply("a.png", op, &outcome).toStdString(), "");
  EXPECT_EQ(outcome, ApplyOutcome::Written);
  EXPECT_EQ(test::ReadBytes(folder.file("p_a_s.png")), test::ReadBytes(folder.file("a.png")));
  EXPECT_EQ(files(), (QStringList{"a.png", "p_a_s.png"}));
}

TEST_F(ApplyOperationTest, AReadOnlyOriginalStillGivesAResultLaterStepsCanRewrite) {
  MakeImage(folder.file("a.png"), 30, 20);
  QFile::setPermissions(folder.file("a.png"), QFile::ReadOwner | QFile::ReadGroup);
  Operation op;
  op.Suffix = "_r";
  op.Resize = true;
  op.ResizeMethod = kFixToSize;
  op.ResizeWidth = 6, op.ResizeHeight = 4;
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_TRUE(QFileInfo(folder.file("a_r.png")).permissions() & QFile::WriteOwner);
  EXPECT_EQ(ImageSize(folder.file("a_r.png")), QSize(6, 4));
  EXPECT_EQ(QFileInfo(folder.file("a.png")).permissions() & QFile::WriteOwner, 0);
}

TEST_F(ApplyOperationTest, TargetNamesUseTheLastDot) {
  Operation op;
  op.Prefix = "p_";
  op.Suffix = "_s";
  EXPECT_EQ(TargetName("a.b.jpg", op), "p_a.b_s.jpg");
  EXPECT_EQ(TargetName("photo", op), "p_photo_s");
  MakeImage(folder.file("a.b.png"), 8, 8);
  QFile::copy(folder.file("a.b.png"), folder.file("photo"));
  EXPECT_EQ(run("a.b.png", op), "");
  EXPECT_EQ(run("photo", op), "");
  EXPECT_TRUE(QFile::exists(folder.file("p_a.b_s.png")));
  EXPECT_TRUE(QFile::exists(folder.file("p_photo_s")));
}

TEST_F(ApplyOperationTest, CropGivesExactlyTheRectangleWithItsOwnCanvas) {
  MakeImage(folder.file("a.gif"), 200, 100);
  EXPECT_EQ(run("a.gif", Crop(60, 30, 109, 69)), "");
  EXPECT_EQ(ImageSize(folder.file("c_a.gif")), QSize(50, 40));
  EXPECT_EQ(magick.identify({"-format", "%g", folder.file("c_a.gif")}).toStdString(),
            "50x40+0+0");

  // The top-left quarter is red, the bottom-right yellow: a crop across the
  // middle keeps them where they were.
  MakeImage(folder.file("q.png"), 40, 40);
  EXPECT_EQ(run("q.png", Crop(10, 10, 29, 29)), "");
  const QImage crop(folder.file("c_q.png"));
  ASSERT_EQ(crop.size(), QSize(20, 20));
  EXPECT_EQ(crop.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(crop.pixelColor(19, 19), QColor(Qt::yellow));
  EXPECT_EQ(magick.identify({"-format", "%g", folder.file("c_q.png")}).toStdString(),
            "20x20+0+0");
}

TEST_F(ApplyOperationTest, NamesImageMagickWouldReadAsInstructionsWork) {
  for (const QString name : {"x%d.png", "a[1].png", "50%.png", "Ærø ünï.png", "b:c.png"}) {
    SCOPED_TRACE(name.toStdString());
    MakeImage(folder.file(name), 40, 30);
    Operation op = Crop(0, 0, 19, 9);
    op.Resize = true;
    op.ResizeMethod = kFixToSize;
    op.ResizeWidth = 8, op.ResizeHeight = 4;
    op.OutputFormat = "GIF";
    EXPECT_EQ(run(name, op), "");
    const QString target = folder.file("c_" + name);
    EXPECT_EQ(ImageSize(target), QSize(8, 4));
    EXPECT_EQ(ImageSize(target.left(target.size() - 3) + "GIF"), QSize(20, 10));
    EXPECT_EQ(ImageSize(folder.file(name)), QSize(40, 30));
  }
  EXPECT_FALSE(QFile::exists(folder.file("c_x0.png")));
  for (const QString &f : files()) EXPECT_FALSE(f.startsWith('.')) << f.toStdString();
}

TEST_F(ApplyOperationTest, EveryResizeMethodWithAndWithoutAntialias) {
  MakeImage(folder.file("a.png"), 200, 100);
  struct Row {
    int method, width, height;
    QSize expected;
  } rows[] = {
      {kLimitWidthHeight, 50, 50, {50, 25}}, {kLimitWidth, 40, 1, {40, 20}},
      {kLimitHeight, 1, 10, {20, 10}},       {kFixToSize, 30, 70, {30, 70}},
      {9, 33, 11, {33, 11}},
  };
  for (const bool antialias : {false, true}) {
    settings.Antialias = antialias;
    for (const Row &row : rows) {
      Operation op;
      op.Resize = true;
      op.ResizeMethod = row.method;
      op.ResizeWidth = row.width;
      op.ResizeHeight = row.height;
      op.Suffix = "_r";
      EXPECT_EQ(run("a.png", op), "");
      EXPECT_EQ(ImageSize(folder.file("a_r.png")), row.expected)
          << "method " << row.method << " antialias " << antialias;
    }
  }
}

TEST_F(ApplyOperationTest, FormatChangeWritesTheConvertedCopyBesideTheTarget) {
  MakeImage(folder.file("a.png"), 30, 20);
  Operation op;
  op.Suffix = "_j";
  op.OutputFormat = "JPG";
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_EQ(files(), (QStringList{"a.png", "a_j.JPG", "a_j.png"}));
  EXPECT_EQ(magick.identify({"-format", "%m", folder.file("a_j.JPG")}).toStdString(), "JPEG");

  for (const QString keep : {"", "Don't Change", "don't change"}) {
    recorder.calls.clear();
    op.OutputFormat = keep;
    EXPECT_EQ(run("a.png", op), "");
    EXPECT_EQ(recorder.calls.size(), 1u) << "only the size query";
  }
}

TEST_F(ApplyOperationTest, EveryFormatOfTheListIsWrittenAndReadsBack) {
  MakeImage(folder.file("a.png"), 24, 16);
  for (const QString format : {"BMP", "GIF", "JPG", "PNG", "TIFF", "MIFF", "TGA", "tga"}) {
    Operation op = Crop(2, 2, 13, 9);
    op.Prefix = format + "_";
    op.OutputFormat = format;
    EXPECT_EQ(run("a.png", op), "") << format.toStdString();
    EXPECT_EQ(ImageSize(folder.file(format + "_a." + format)), QSize(12, 8)) << format.toStdString();
  }
  MakeImage(folder.file("t.tga"), 10, 6);
  EXPECT_EQ(run("t.tga", Crop(0, 0, 4, 4)), "");
  EXPECT_EQ(ImageSize(folder.file("c_t.tga")), QSize(5, 5));
}

TEST_F(ApplyOperationTest, FullArgumentListsInOrder) {
  MakeImage(folder.file("a.png"), 100, 80);
  Operation op = Crop(10, 20, 59, 69);
  op.Resize = true;
  op.ResizeMethod = kLimitWidth;
  op.ResizeWidth = 25;
  op.OutputFormat = "BMP";
  op.JpgQuality = 90;
  settings.Antialias = true;
  EXPECT_EQ(run("a.png", op), "");
  const QString in = folder.file("a.png"), out = folder.file("c_a.png");
  ASSERT_EQ(recorder.calls.size(), 4u);
  EXPECT_EQ(recorder.calls[0].command, "identify");
  EXPECT_EQ(recorder.calls[0].args, (QStringList{"-format", "%wx%h", "-ping", in}));
  EXPECT_EQ(recorder.calls[1].command, "convert");
  EXPECT_EQ(recorder.calls[1].args,
            (QStringList{"-quality", "90", "-crop", "50x50+10+20", "+repage", in, out}));
  EXPECT_EQ(recorder.calls[2].command, "mogrify");
  EXPECT_EQ(recorder.calls[2].args, (QStringList{"-quality", "90", "-format", "BMP", out}));
  EXPECT_EQ(recorder.calls[3].command, "mogrify");
  EXPECT_EQ(recorder.calls[3].args,
            (QStringList{"-quality", "90", "-antialias", "-geometry", "25x", out}));
  EXPECT_EQ(ImageSize(out), QSize(25, 25));
  EXPECT_EQ(ImageSize(folder.file("c_a.BMP")), QSize(50, 50)) << "the copy is not resized";
}

TEST_F(ApplyOperationTest, RectangleOutsideTheImageAsksAndCanBeSuppressed) {
  MakeImage(folder.file("a.png"), 100, 100);
  const Operation op = Crop(100, 5, 150, 100);
  const QString text = "Could not extract image: \"a.png\" with coordinates because:\r\n\r\n"
                       "Top Left X Coordiate (100) is greater than image width of 100\r\n"
                       "Bottom Right X Coordiate (150) is greater than image width of 100\r\n"
                       "Bottom Right Y Coordiate (100) is greater than image height of 100\r\n"
                       "\r\nDo you want to suppress these messages?";
  prompter.expect("Image too small", text, Buttons::YesNo, Icon::None, Answer::No);
  ApplyOutcome outcome{};
  EXPECT_EQ(apply("a.png", op, &outcome).toStdString(), "");
  EXPECT_EQ(outcome, ApplyOutcome::Skipped);
  EXPECT_FALSE(state.SuppressMessages);
  prompter.expect("Image too small", text, Buttons::YesNo, Icon::None, Answer::Yes);
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_TRUE(state.SuppressMessages);
  EXPECT_FALSE(QFile::exists(folder.file("c_a.png")));

  // Suppressed: no box; the toolkit gets the rectangle unclamped and does
  // with it what ImageMagick does.
  recorder.calls.clear();
  run("a.png", op);
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[1].args[3], "51x96+100+5");
}

TEST_F(ApplyOperationTest, AllowOutOfBoundryClampsToTheEdges) {
  MakeImage(folder.file("a.png"), 100, 100);
  settings.AllowOutOfBoundry = true;
  EXPECT_EQ(run("a.png", Crop(10, 10, 50, 500)), "");
  EXPECT_EQ(recorder.calls[1].args[3], "90x90+10+10");
  EXPECT_EQ(ImageSize(folder.file("c_a.png")), QSize(90, 90));

  // A top-left corner outside is still refused.
  prompter.expect("Image too small",
                  "Could not extract image: \"a.png\" with coordinates because:\r\n\r\n"
                  "Top Left X Coordiate (100) is greater than image width of 100\r\n"
                  "Bottom Right X Coordiate (120) is greater than image width of 100\r\n"
                  "\r\nDo you want to suppress these messages?",
                  Buttons::YesNo, Icon::None, Answer::No);
  EXPECT_EQ(run("a.png", Crop(100, 0, 120, 10)), "");
}

TEST_F(ApplyOperationTest, MissingOutputFolderStopsTheRun) {
  MakeImage(folder.file("a.png"), 10, 10);
  settings.OutputInDiffDir = true;
  settings.OutputDir = folder.file("gone");
  prompter.expect("Invalid Output Directory",
                  "Output Directory: " + folder.file("gone") +
                      " Does not exist or cannot be written to!\r\nPlease change output directory!",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  EXPECT_EQ(run("a.png", Crop(0, 0, 1, 1)), "");
  EXPECT_TRUE(state.StopProcess);
  EXPECT_TRUE(recorder.calls.empty());

  QDir().mkpath(folder.file("out"));
  settings.OutputDir = folder.file("out");
  state = {};
  Operation op; // no prefix or suffix: fine in another folder
  EXPECT_EQ(run("a.png", op), "");
  EXPECT_TRUE(QFile::exists(folder.file("out/a.png")));
}

TEST_F(ApplyOperationTest, AnOutputFolderThatIsAFileFailsEveryStep) {
  MakeImage(folder.file("a.png"), 10, 10);
  test::WriteBytes(folder.file("plain"), "x"); // exists, so no folder message
  settings.OutputInDiffDir = true;
  settings.OutputDir = folder.file("plain");
  EXPECT_EQ(run("a.png", Operation{}).rfind("20 - ", 0), 0u) << "ENOTDIR, for the copy";
  // ImageMagick's own message would carry the errno of a later call.
  const std::string crop = run("a.png", Crop(0, 0, 1, 1));
  EXPECT_EQ(crop.rfind("20 - Not a directory: " + folder.file("plain/c_a.png").toStdString() +
                           "\r\nOperation: Extracting",
                       0),
            0u)
      << crop;
  EXPECT_EQ(test::ReadBytes(folder.file("plain")), "x");
  if (::geteuid() != 0) { // permissions do not stop root
    QDir().mkpath(folder.file("ro"));
    QFile::setPermissions(folder.file("ro"), QFile::ReadOwner | QFile::ExeOwner);
    settings.OutputDir = folder.file("ro");
    EXPECT_EQ(run("a.png", Crop(0, 0, 1, 1)).rfind("13 - Permission denied: ", 0), 0u);
    QFile::setPermissions(folder.file("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

TEST_F(ApplyOperationTest, TheSourceIsNeverOverwritten) {
  MakeImage(folder.file("a.png"), 10, 10);
  const QByteArray before = test::ReadBytes(folder.file("a.png"));
  Operation op; // no prefix, no suffix, same folder: the target is the source
  op.Resize = true;
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

TEST_F(ApplyOperationTest, CorruptAndMissingInputsGiveFailureTexts) {
  test::WriteBytes(folder.file("bad.jpg"), QByteArray("\xFF\xD8\xFF garbage", 12));
  const std::string failure = run("bad.jpg", Crop(0, 0, 1, 1));
  EXPECT_NE(failure.find(" - "), std::string::npos);
  EXPECT_NE(failure.find("\r\nOperation: Getting Image Size"), std::string::npos) << failure;
  EXPECT_FALSE(run("missing.png", Operation{}).empty());
  EXPECT_EQ(files(), QStringList{"bad.jpg"});
}

TEST_F(ApplyOperationTest, ATruncatedJpegThatStillDecodesIsWritten) {
  MakeImage(folder.file("t.jpg"), 64, 64);
  // Cut in the middle of the picture data, after the scan header.
  const QByteArray bytes = test::ReadBytes(folder.file("t.jpg"));
  const qsizetype scan = bytes.indexOf(QByteArray("\xFF\xDA", 2));
  ASSERT_GT(scan, 0);
  test::WriteBytes(folder.file("t.jpg"), bytes.left(scan + (bytes.size() - scan) / 2));
  EXPECT_EQ(run("t.jpg", Crop(0, 0, 31, 31)), "");
  EXPECT_EQ(ImageSize(folder.file("c_t.jpg")), QSize(32, 32));
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

} // namespace
} // namespace varnholt
