#include "platform/failure.h"
#include "processing/magick/magick_policy.h"
#include "processing/magick/magick_toolkit.h"
#include "support/test_images.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <vector>

namespace varnholt {
namespace {

constexpr std::uint64_t kMiB = 1024ull * 1024, kGiB = 1024 * kMiB;

TEST(MagickLimits, FollowTheMachineAndItsProcesses) {
  struct Row {
    std::uint64_t physical;
    int processes;
    std::uint64_t free, memory, map, disk, pixels; // pixels: the area, width and height
  } rows[] = {
      // 8 GiB, alone: a 150-megapixel panorama (1.2 GB of pixels) fits in memory.
      {8 * kGiB, 1, 100 * kGiB, 6 * kGiB, 6 * kGiB, 50 * kGiB, 1610612736},
      {8 * kGiB, 4, 100 * kGiB, 1536 * kMiB, 1536 * kMiB, 12800 * kMiB, 402653184},
      // Little scratch space: the mapped cache shrinks with it, never below 256 MiB.
      {8 * kGiB, 1, 2 * kGiB, 6 * kGiB, kGiB, kGiB, 939524096},
      {kGiB, 8, 0, 256 * kMiB, 256 * kMiB, 0, 67108864},
  };
  for (const Row &row : rows)
    EXPECT_EQ(LimitsForMachine(row.physical, row.processes, row.free),
              (MagickLimits{row.memory, row.map, row.disk, row.pixels, row.pixels, row.pixels}))
        << row.physical << " " << row.processes << " " << row.free;
}

// A fake /proc/self/cgroup and /sys/fs/cgroup under a folder of the test's.
TEST(MagickLimits, TheSmallestCgroupLimitOnTheProcesssOwnPathCounts) {
  constexpr std::uint64_t kOneAndAHalf = 1536 * kMiB;
  const QByteArray v1None = "9223372036854771712";
  struct Row {
    const char *name, *cgroup;
    std::vector<std::pair<const char *, QByteArray>> files; // under sys/fs/cgroup
    std::uint64_t limit;
  } rows[] = {
      {"v2 at the root only", "0::/\n", {{"memory.max", "2147483648"}}, 2 * kGiB},
      {"v2 nested: a scope inside a slice with the limit",
       "0::/user.slice/app.slice/x.scope\n",
       {{"user.slice/memory.max", "max"},
        {"user.slice/app.slice/memory.max", QByteArray::number(kOneAndAHalf)},
        {"user.slice/app.slice/x.scope/memory.max", "max"}},
       kOneAndAHalf},
      {"v1, the host's path not visible in the container",
       "12:pids:/docker/abc\n4:cpu,memory:/docker/abc\n",
       {{"memory/memory.limit_in_bytes", QByteArray::number(kOneAndAHalf)}},
       kOneAndAHalf},
      {"v1 nested, the inner one smaller",
       "4:memory:/a/b\n",
       {{"memory/memory.limit_in_bytes", v1None},
        {"memory/a/memory.limit_in_bytes", QByteArray::number(3 * kGiB)},
        {"memory/a/b/memory.limit_in_bytes", QByteArray::number(kGiB)}},
       kGiB},
      {"no limit anywhere",
       "4:memory:/\n0::/\n",
       {{"memory/memory.limit_in_bytes", v1None}, {"memory.max", "max"}},
       0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    test::TempFolder root;
    QDir().mkpath(root.file("proc/self"));
    test::WriteBytes(root.file("proc/self/cgroup"), row.cgroup);
    for (const auto &[file, value] : row.files) {
      const QString path = root.file(QStringLiteral("sys/fs/cgroup/") + file);
      QDir().mkpath(QFileInfo(path).path());
      test::WriteBytes(path, value + "\n");
    }
    EXPECT_EQ(CgroupMemoryLimit(root.path()), row.limit);
  }
}

TEST(MagickLimits, OverridesReadSizesAndPixelCounts) {
  const MagickLimits base{1, 2, 3, 4, 5, 6};
  struct Row {
    const char *text;
    MagickLimits expected; // base when refused
    const char *why;
  } rows[] = {
      {"memory=8GiB, area=300MP", {8 * kGiB, 2, 3, 300000000, 5, 6}, ""},
      {"Map=1.5GB,disk=2TiB,width=40KP,height=12000",
       {1, 1500000000, 2 * 1024 * kGiB, 4, 40000, 12000},
       ""},
      {"area=1GP,", {1, 2, 3, 1000000000, 5, 6}, ""},
      {"memory=8GP", base, "\"8GP\" is not a size (like 4GiB)"},
      {"area=4GiB", base, "\"4GiB\" is not a number of pixels (like 300MP)"},
      {"area=0", base, "\"0\" is not a number of pixels (like 300MP)"},
      {"memory=-1", base, "\"-1\" is not a size (like 4GiB)"},
      {"memory=1,5GiB", base,
       "\"5GiB\" is not one of memory, map, disk, area, width, height = value"},
      {"threads=4", base,
       "\"threads=4\" is not one of memory, map, disk, area, width, height = value"},
      {"area=99999999999999999999P", base,
       "\"99999999999999999999P\" is not a number of pixels (like 300MP)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const Expected<MagickLimits> limits = OverrideLimits(base, row.text);
    EXPECT_EQ(limits.has_value(), *row.why == '\0');
    EXPECT_EQ(limits ? *limits : base, row.expected);
    EXPECT_EQ(limits ? "" : limits.error().description().toStdString(), row.why);
  }
}

// Files that are not what their names say, made to pull something else in.
TEST(MagickPolicy, OnlyTheListedFormatsAreDecodedWhateverTheNameSays) {
  test::TempFolder folder, scratch;
  test::MakeImage(folder.file("secret.jpg"), 20, 20);
  const QByteArray svg =
      "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"20\" height=\"20\"><image "
      "xlink:href=\"HREF\" width=\"20\" height=\"20\"/></svg>";
  struct Row {
    const char *name;
    QByteArray bytes;
    const char *failure; // what the message must hold
  } rows[] = {
      {"evil.png", QByteArray(svg).replace("HREF", folder.file("secret.jpg").toUtf8()),
       "not allowed by the security policy `SVG'"},
      {"draw.png",
       "push graphic-context\nviewbox 0 0 20 20\nimage over 0,0 20,20 '" +
           folder.file("secret.jpg").toUtf8() + "'\npop graphic-context\n",
       "improper image header"},
      // A format the program never names: refused all the same.
      {"icon.png",
       "/* XPM */\nstatic char *x[] = {\n\"2 2 1 1\",\n\"a c #ff0000\",\n\"aa\",\n\"aa\"};\n",
       "not allowed by the security policy `XPM'"},
      {"page.png",
       "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 20 20\nnewpath 0 0 moveto 20 20 lineto "
       "stroke showpage\n",
       "not allowed by the security policy `PS'"},
  };
  const QByteArray oldTemp = qgetenv("TMPDIR");
  qputenv("TMPDIR", scratch.path().toLocal8Bit());
  {
    MagickToolkit magick;
    for (const Row &row : rows) {
      SCOPED_TRACE(row.name);
      test::WriteBytes(folder.file(row.name), row.bytes);
      for (int call = 0; call < 3; ++call) {
        try {
          if (call == 0)
            magick.identify({"-format", "%wx%h", "-ping", folder.file(row.name)});
          else if (call == 1)
            magick.convert({folder.file(row.name), folder.file(QString("out_") + row.name)});
          else
            magick.convertInSteps(
                {{}, folder.file(row.name), {{"-flip"}}, folder.file(QString("out_") + row.name)},
                true);
          ADD_FAILURE() << "decoded";
        } catch (const Failure &failure) {
          EXPECT_TRUE(failure.description().contains(row.failure)) << failure.text().toStdString();
        }
      }
    }
    // A picture under another format's name is read for what it is.
    QFile::copy(folder.file("secret.jpg"), folder.file("photo.png"));
    EXPECT_EQ(magick.identify({"-format", "%wx%h %m", folder.file("photo.png")}), "20x20 JPEG");
  }
  qputenv("TMPDIR", oldTemp);
  EXPECT_EQ(
      QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
      (QStringList{"draw.png", "evil.png", "icon.png", "page.png", "photo.png", "secret.jpg"}));
  EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList())
      << "nothing left in the temporary folder";
}

// A grey PNG of width x height whose IDAT holds `rows` rows of zeros.
QByteArray GreyPng(quint32 width, quint32 height, quint32 rows) {
  const auto crc = [](const QByteArray &bytes) {
    quint32 c = 0xffffffffu;
    for (const char byte : bytes) {
      c ^= quint8(byte);
      for (int k = 0; k < 8; ++k)
        c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
    }
    return ~c;
  };
  const auto be = [](quint32 v) {
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
  };
  const auto chunk = [&](const char *type, const QByteArray &data) {
    const QByteArray body = type + data;
    return be(quint32(data.size())) + body + be(crc(body));
  };
  // qCompress puts the length before the zlib stream PNG wants.
  const QByteArray idat = qCompress(QByteArray(qsizetype(rows) * (width + 1), '\0'), 9).mid(4);
  return "\x89PNG\r\n\x1a\n" +
         chunk("IHDR", be(width) + be(height) + QByteArray("\x08\0\0\0\0", 5)) +
         chunk("IDAT", idat) + chunk("IEND", {});
}

// A header that claims far more pixels than its file could hold, and a real
// picture of nothing but zeros: both refused at once, before decoding.
TEST(MagickPolicy, PictureBombsAreRefusedAsTooLargeForTheirFile) {
  test::TempFolder dir;
  const QString in = dir.file("in"), out = dir.file("out");
  QDir().mkpath(in);
  QDir().mkpath(out);
  const quint32 side = 12000; // 144 megapixels, more than a gigabyte decoded
  test::WriteBytes(in + "/header.png", GreyPng(side, side, 4));
  test::WriteBytes(in + "/zero.png", GreyPng(side, side, side));
  test::MakeImage(in + "/fine.png", 20, 10);
  test::WriteBytes(dir.file("list.vop"), "1>Extract Whole Image LimitWidth (50) Suffix: \"_s\" "
                                         "Quality: \"75\"\r\n");
  QProcess process;
  process.start(VARNHOLT_EXECUTABLE, {"--batch", dir.file("list.vop"), "--input", in, "--output",
                                      out, "--quiet", "--jobs", "1"});
  ASSERT_TRUE(process.waitForFinished(60000));
  QString expected;
  for (const char *name : {"header.png", "zero.png"})
    expected += QStringLiteral("varnholt: error: %1, operation at position 1: 400 - Image too "
                               "large for its file, damaged or made to exhaust memory: "
                               "12000x12000 is 144.0 megapixels from a file of %2 bytes; "
                               "Operation: Getting Image Size\n")
                    .arg(name)
                    .arg(QFileInfo(in + "/" + name).size());
  EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()), expected);
  EXPECT_EQ(process.readAllStandardOutput(), "1 written, 0 skipped, 2 failed\n");
  EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"fine_s.png"});
}

// Through the batch mode, so that each case starts ImageMagick with its own
// limits; the image beyond them is readable only as far as its header, so a
// message about the limit shows it was refused before any pixel was decoded.
TEST(MagickPolicy, ImagesBeyondALimitFailBeforeDecodingAndNameIt) {
  test::TempFolder dir;
  const QString in = dir.file("in"), out = dir.file("out");
  QDir().mkpath(in);
  QDir().mkpath(out);
  test::MakeImage(in + "/inside.png", 100, 100);
  test::MakeImage(in + "/over.png", 101, 100);
  QByteArray png = test::ReadBytes(in + "/over.png");
  const qsizetype idat = png.indexOf("IDAT");
  for (qsizetype i = idat + 6; i < idat + 16; ++i)
    png[i] = char(png[i] ^ 0x5a);
  test::WriteBytes(in + "/over.png", png);
  test::WriteBytes(dir.file("list.vop"), "1>Extract Whole Image LimitWidth (50) Suffix: \"_s\" "
                                         "Quality: \"75\"\r\n");
  struct Row {
    const char *limits;
    std::string why;
  } rows[] = {
      {"area=10000P",
       "101x100 is 10100 pixels, 100 pixels more than the area limit of 10000 pixels"},
      {"width=100", "101 pixels wide, 1 more than the width limit of 100"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.limits);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kMagickLimitsVariable, row.limits);
    process.setProcessEnvironment(env);
    process.start(VARNHOLT_EXECUTABLE,
                  {"--batch", dir.file("list.vop"), "--input", in, "--output", out, "--quiet"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(
        QString::fromUtf8(process.readAllStandardError()).toStdString(),
        "varnholt: error: over.png, operation at position 1: 400 - Image too large: " + row.why +
            " (VARNHOLT_MAGICK_LIMITS can raise it); Operation: Getting Image Size\n");
    EXPECT_EQ(process.readAllStandardOutput(), "1 written, 0 skipped, 1 failed\n");
    EXPECT_EQ(test::ImageSize(out + "/inside_s.png"), QSize(50, 50));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"inside_s.png"});
    QFile::remove(out + "/inside_s.png");
  }
}

// Through the batch mode's worker processes, which take the allow-list from
// the process that started them: the new formats are read there too, and a
// file under a new format's name is still refused for what it is.
TEST(MagickPolicy, WorkersReadPhonesAndTheWebsFormatsAndRefuseTheRest) {
  test::TempFolder folder;
  MagickToolkit magick;
  // What a worker is handed: the new modules allowed, the rest still refused.
  QByteArray refused;
  for (const QByteArray &variable : MagickWorkerVariables(2))
    if (variable.startsWith("VARNHOLT_MAGICK_REFUSED=")) refused = variable.mid(24);
  const QList<QByteArray> parts = refused.split(';');
  ASSERT_EQ(parts.size(), 2) << refused.toStdString();
  const QList<QByteArray> modules = parts[0].split(','), coders = parts[1].split(',');
  for (const char *allowed : {"HEIC", "heic", "WEBP", "webp"})
    EXPECT_FALSE(modules.contains(allowed)) << allowed;
  for (const char *allowed : {"HEIC", "AVIF", "WEBP"})
    EXPECT_FALSE(coders.contains(allowed)) << allowed;
  for (const char *still : {"SVG", "PS", "PDF", "MSL", "URL"})
    EXPECT_TRUE(coders.contains(still)) << still;
  const QString in = folder.file("in"), out = folder.file("out");
  QDir().mkpath(in);
  QDir().mkpath(out);
  test::MakeImage(in + "/a.png", 64, 48);
  for (const char *name : {"a.heic", "c.avif", "b.webp"})
    magick.convert({in + "/a.png", in + "/" + name});
  QFile::remove(in + "/a.png");
  test::WriteBytes(in + "/evil.webp",
                   "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>");
  test::WriteBytes(folder.file("list.vop"), "1>Extract Whole Image LimitWidth (32) Format: "
                                            "\"WEBP\" Suffix: \"_w\" Quality: \"80\"\r\n");
  QProcess process;
  process.start(VARNHOLT_EXECUTABLE, {"--batch", folder.file("list.vop"), "--input", in, "--output",
                                      out, "--quiet", "--jobs", "2", "--sharpen"});
  ASSERT_TRUE(process.waitForFinished(120000));
  const QString errors = QString::fromUtf8(process.readAllStandardError());
  EXPECT_TRUE(errors.startsWith("varnholt: error: evil.webp")) << errors.toStdString();
  EXPECT_TRUE(errors.contains("not allowed by the security policy `SVG'")) << errors.toStdString();
  EXPECT_EQ(process.readAllStandardOutput(), "3 written, 0 skipped, 1 failed\n");
  EXPECT_EQ(QDir(out).entryList(QDir::Files), (QStringList{"a_w.WEBP", "b_w.webp", "c_w.WEBP"}));
  EXPECT_EQ(test::ImageSize(out + "/b_w.webp"), QSize(32, 24));
}

} // namespace
} // namespace varnholt
