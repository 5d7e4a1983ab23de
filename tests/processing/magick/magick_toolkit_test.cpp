#include "platform/failure.h"
#include "processing/magick/magick_toolkit.h"
#include "support/fakes.h"
#include "support/test_images.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <thread>

namespace varnholt {
namespace {

using test::ImageSize;
using test::MakeImage;
using test::TempFolder;

QStringList Listing(const QString &folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

TEST(MagickToolkit, IdentifyPrintsTheTemplateForTheFirstFrameOnly) {
  TempFolder dir;
  MakeImage(dir.file("a.png"), 64, 48);
  MagickToolkit toolkit;
  EXPECT_EQ(toolkit.identify({"-format", "%wx%h", "-ping", dir.file("a.png")}), "64x48");
  EXPECT_EQ(toolkit.identify({"-format", "Dimensions: %wx%h Pixels", dir.file("a.png")}),
            "Dimensions: 64x48 Pixels");

  // Three frames: the size is still said once.
  toolkit.convert({dir.file("a.png"), dir.file("a.png"), dir.file("a.png"), dir.file("anim.gif")});
  EXPECT_EQ(toolkit.identify({"-format", "%wx%h", dir.file("anim.gif")}), "64x48");
}

TEST(MagickToolkit, NamesImageMagickWouldInterpretAreTakenLiterally) {
  TempFolder dir;
  QDir().mkpath(dir.file("in [x] %d"));
  const QString folder = dir.file("in [x] %d");
  MagickToolkit toolkit;
  for (const QString name : {"x%d.png", "a[1].png", "50%.png", "Ærø ünï.png", "a:b.png",
                             "@list.png", "~tilde.png", "sp ace.png"}) {
    SCOPED_TRACE(name.toStdString());
    const QString source = folder + "/" + name;
    MakeImage(source, 20, 10);
    const QString output = folder + "/out " + name;
    toolkit.convert({"-crop", "5x4+1+1", "+repage", source, output});
    EXPECT_EQ(ImageSize(output), QSize(5, 4));
    toolkit.mogrify({"-geometry", "10x8!", output});
    EXPECT_EQ(ImageSize(output), QSize(10, 8));
    toolkit.mogrify({"-quality", "80", "-format", "JPG", output}); // a copy beside it
    EXPECT_EQ(ImageSize(output.chopped(4) + ".JPG"), QSize(10, 8));
    EXPECT_EQ(ImageSize(source), QSize(20, 10)) << "the source is untouched";
  }
  // Nothing hidden is left behind, nothing under a rewritten name appears.
  for (const QString &entry : Listing(folder))
    EXPECT_FALSE(entry.startsWith(".varnholt-")) << entry.toStdString();
  EXPECT_FALSE(QFile::exists(folder + "/out x0.png"));
  EXPECT_EQ(Listing(folder).size(), 24);
}

TEST(MagickToolkit, FailuresCarryImageMagicksCodeAndTheUsersFileName) {
  TempFolder dir;
  MagickToolkit toolkit;
  test::WriteBytes(dir.file("broken.jpg"), "not an image at all");
  try {
    toolkit.identify({"-format", "%wx%h", dir.file("missing [1].png")});
    FAIL() << "a missing file was identified";
  } catch (const Failure &f) {
    // Not "not allowed by the security policy": the file is simply gone.
    EXPECT_EQ(f.text(), "2 - No such file or directory: " + dir.file("missing [1].png"));
  }
  // A name too long to link to in a deep folder: the reason names the user's file.
  QString deep = dir.path();
  while (deep.size() < 3900)
    deep += "/" + QString(200, u'd');
  ASSERT_TRUE(QDir().mkpath(deep));
  // Past PATH_MAX whether it exists or not.
  const QString longName = deep + "/" + QString(200, u'b') + ".png";
  try {
    toolkit.identify({"-format", "%wx%h", longName});
    ADD_FAILURE() << "identified through a link it cannot make";
  } catch (const Failure &f) {
    EXPECT_EQ(f.text(), "36 - File name too long: " + longName);
  }
  QDir(dir.file(QString(200, u'd'))).removeRecursively();
  EXPECT_THROW(toolkit.convert({dir.file("broken.jpg"), dir.file("out.png")}), Failure);
  EXPECT_FALSE(QFile::exists(dir.file("out.png")));
  EXPECT_THROW(toolkit.convert({"-crop", "1x1+0+0", dir.file("broken.jpg"),
                                dir.file("no such folder/out.png")}),
               Failure);
  EXPECT_THROW(toolkit.mogrify({"-geometry", "2x2", dir.file("broken.jpg")}), Failure);
  EXPECT_EQ(test::ReadBytes(dir.file("broken.jpg")), QByteArray("not an image at all"));
  EXPECT_EQ(Listing(dir.path()), QStringList{"broken.jpg"});
}

// One pass, and a failure names the step ImageMagick was in: reading is the
// first step's, writing the last's, an operator its own step's. Nothing is
// left behind, hidden or not.
TEST(MagickToolkit, ConvertInStepsNamesTheStepThatFailed) {
  TempFolder dir;
  MagickToolkit toolkit;
  MakeImage(dir.file("a.png"), 30, 20);
  test::WriteBytes(dir.file("broken.jpg"), "not an image at all");
  const QStringList crop{"-crop", "10x5+2+3", "+repage"}, flip{"-flip"};
  struct Row {
    QString input, output;
    std::vector<QStringList> steps;
    int failsAt; // -1: written
    const char *why;
  } rows[] = {
      {"a.png", "ok.gif", {crop, flip, {"-geometry", "5x5>"}}, -1, ""},
      {"broken.jpg", "x.png", {crop, flip, flip}, 0, "insufficient image data"},
      {"a.png", "x.png", {crop, {"-write", dir.file("none/w.png")}, flip}, 1, "WriteBlob Failed"},
      {"a.png", "x.svg", {crop, flip, flip}, 2, "security policy `SVG'"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.output.toStdString());
    const ConvertSteps work{
        {"-quality", "80"}, dir.file(row.input), row.steps, dir.file(row.output)};
    try {
      toolkit.convertInSteps(work, false);
      EXPECT_EQ(row.failsAt, -1);
    } catch (const StepFailure &f) {
      EXPECT_EQ(f.step(), row.failsAt) << f.text().toStdString();
      EXPECT_TRUE(f.description().contains(row.why)) << f.text().toStdString();
      EXPECT_FALSE(f.description().contains("varnholt-"))
          << "names no safe name: " << f.text().toStdString();
    }
  }
  EXPECT_EQ(ImageSize(dir.file("ok.gif")), QSize(5, 3));
  EXPECT_EQ(Listing(dir.path()), (QStringList{"a.png", "broken.jpg", "ok.gif"}));
}

// A preview may run while a run's step is under way: two threads, one
// toolkit, one cache of decoded pictures. Each thread's files come out as
// if it had been alone.
TEST(MagickToolkit, ConcurrentCallsOnOneToolkitFromSeveralThreads) {
  TempFolder dir;
  constexpr int kThreads = 4, kRounds = 3;
  for (int t = 0; t < kThreads; ++t)
    MakeImage(dir.file(QString("in%1.jpg").arg(t)), 40 + 4 * t, 30 + 2 * t);
  MagickToolkit magick;
  magick.setReuseDecoded(true);
  test::RecordingToolkit toolkit(magick);
  QStringList sizes[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const QString in = dir.file(QString("in%1.jpg").arg(t));
      for (int r = 0; r < kRounds; ++r) {
        const QString out = dir.file(QString("out%1_%2.jpg").arg(t).arg(r));
        sizes[t] << toolkit.identify({"-format", "%wx%h", "-ping", in});
        toolkit.convertInSteps(
            {{"-quality", "75"},
             in,
             {{"-crop", "20x10+1+1", "+repage"}, {"-geometry", QString("%1x5!").arg(t + 2)}},
             out},
            true);
      }
    });
  for (std::thread &thread : threads)
    thread.join();
  EXPECT_EQ(toolkit.calls.size(), size_t(kThreads * kRounds * 2));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(sizes[t], QStringList(kRounds, QString("%1x%2").arg(40 + 4 * t).arg(30 + 2 * t)));
    for (int r = 0; r < kRounds; ++r)
      EXPECT_EQ(ImageSize(dir.file(QString("out%1_%2.jpg").arg(t).arg(r))), QSize(t + 2, 5));
  }
}

// A run decodes each image once and hands the picture to every operation
// that reads the same contents; the files must come out as if each had read
// the file itself.
TEST(MagickToolkit, ReusesADecodedPictureOnlyForTheSameContents) {
  TempFolder dir;
  MakeImage(dir.file("a.jpg"), 40, 30);
  const auto pairs = [&](MagickToolkit &toolkit, const QString &tag) {
    const QStringList crop{"-crop", "20x10+5+5", "+repage"};
    toolkit.convertInSteps(
        {{"-quality", "75"}, dir.file("a.jpg"), {crop}, dir.file(tag + "crop.jpg")}, true);
    toolkit.convertInSteps({{"-quality", "75"},
                            dir.file("a.jpg"),
                            {crop, {"-antialias", "-geometry", "8x"}},
                            dir.file(tag + "crop.PNG")},
                           true);
    // Another file with the same contents.
    ASSERT_TRUE(QFile::copy(dir.file("a.jpg"), dir.file(tag + "copy.jpg")));
    toolkit.convertInSteps({{"-quality", "60"},
                            dir.file(tag + "copy.jpg"),
                            {{"-geometry", "7x5!"}},
                            dir.file(tag + "small.jpg")},
                           true);
  };
  MagickToolkit reusing, afresh; // the same pairs, every file read afresh
  reusing.setReuseDecoded(true);
  pairs(reusing, "r_");
  EXPECT_EQ(reusing.decodedReuses(), 2) << "the second crop and the copy";
  pairs(afresh, "f_");
  EXPECT_EQ(afresh.decodedReuses(), 0);
  for (const QString name : {"crop.jpg", "crop.PNG", "small.jpg"}) {
    const QImage reused(dir.file("r_" + name)), fresh(dir.file("f_" + name));
    ASSERT_FALSE(fresh.isNull()) << name.toStdString();
    EXPECT_EQ(reused, fresh) << name.toStdString();
  }
  EXPECT_EQ(ImageSize(dir.file("r_crop.PNG")), QSize(8, 4));

  // A file written anew is decoded anew, whatever its size.
  QImage other(40, 30, QImage::Format_RGB32);
  other.fill(Qt::white);
  ASSERT_TRUE(other.save(dir.file("a.jpg"), "JPG", 95));
  const int before = reusing.decodedReuses();
  const ConvertSteps corner{
      {}, dir.file("a.jpg"), {{"-crop", "4x4+0+0", "+repage"}}, dir.file("white.png")};
  reusing.convertInSteps(corner, true);
  EXPECT_EQ(reusing.decodedReuses(), before);
  EXPECT_EQ(QImage(dir.file("white.png")).pixelColor(1, 1).lightness(), 255);
  // Only the calls that say so are handed a kept picture.
  reusing.convertInSteps(corner, false);
  reusing.convert({"-crop", "1x1+0+0", dir.file("a.jpg"), dir.file("dot.png")});
  EXPECT_EQ(reusing.decodedReuses(), before);

  // Several frames are never kept decoded; the call falls back to the file.
  reusing.convert({dir.file("a.jpg"), dir.file("a.jpg"), dir.file("anim.gif")});
  reusing.convertInSteps(
      {{}, dir.file("anim.gif"), {{"-crop", "10x10+0+0", "+repage"}}, dir.file("crop.gif")}, true);
  EXPECT_EQ(ImageSize(dir.file("crop.gif")), QSize(10, 10));
}

} // namespace
} // namespace varnholt
