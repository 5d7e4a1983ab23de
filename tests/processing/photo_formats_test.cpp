// Phones' and the web's formats (HEIC, HEIF, AVIF, WebP) read and written on
// small pictures ImageMagick writes here, and sharpening after shrinking.
#include "operations/file_listing.h"
#include "operations/operation.h"
#include "processing/apply_operation.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/output_plan.h"
#include "settings/settings.h"
#include "support/fakes.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QtEndian>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

using test::ImageSize;

quint32 Be32(const QByteArray &d, qsizetype at) {
  return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(d.constData() + at));
}
void SetBe32(QByteArray &d, qsizetype at, quint32 v) {
  qToBigEndian(v, reinterpret_cast<uchar *>(d.data() + at));
}

// The box of `type` among the boxes from `from` to `to`: its offset, or -1.
qsizetype FindBox(const QByteArray &d, qsizetype from, qsizetype to, const char *type) {
  for (qsizetype at = from; at + 8 <= to; at += Be32(d, at)) {
    if (d.mid(at + 4, 4) == type) return at;
    if (Be32(d, at) < 8) break;
  }
  return -1;
}

// The HEIC ImageMagick wrote, told to be shown turned 90 degrees clockwise
// the way phones store a turn: an "irot" property of the primary picture.
// (ImageMagick writes no irot itself.) The boxes it writes: meta with pitm,
// iloc (version 1, 4-byte offsets and lengths, no index), iprp with ipco and
// a version 0 ipma of 1-byte associations.
QByteArray TurnedHeic(QByteArray d) {
  const qsizetype meta = FindBox(d, 0, d.size(), "meta");
  const qsizetype metaEnd = meta + Be32(d, meta);
  const qsizetype pitm = FindBox(d, meta + 12, metaEnd, "pitm");
  const qsizetype iloc = FindBox(d, meta + 12, metaEnd, "iloc");
  const qsizetype iprp = FindBox(d, meta + 12, metaEnd, "iprp");
  const qsizetype ipco = FindBox(d, iprp + 8, iprp + Be32(d, iprp), "ipco");
  const qsizetype ipma = FindBox(d, iprp + 8, iprp + Be32(d, iprp), "ipma");
  EXPECT_TRUE(meta > 0 && pitm > 0 && iloc > 0 && ipco > 0 && ipma > ipco);
  EXPECT_EQ(d[iloc + 8], 1);
  EXPECT_EQ(d.mid(iloc + 12, 2), QByteArray("\x44\x40", 2));
  const int primary = (uchar(d[pitm + 12]) << 8) | uchar(d[pitm + 13]);
  int properties = 0;
  for (qsizetype at = ipco + 8; at < ipco + Be32(d, ipco); at += Be32(d, at))
    ++properties;
  // The picture's bytes move on by the 10 added to meta.
  const int items = (uchar(d[iloc + 14]) << 8) | uchar(d[iloc + 15]);
  for (qsizetype at = iloc + 16, i = 0; i < items; ++i) {
    const int method = uchar(d[at + 3]) & 15;
    const qsizetype base = at + 6;
    const int extents = (uchar(d[at + 10]) << 8) | uchar(d[at + 11]);
    at += 12;
    for (int e = 0; e < extents; ++e, at += 8)
      if (method == 0 && Be32(d, base) == 0) SetBe32(d, at, Be32(d, at) + 10);
    if (method == 0 && Be32(d, base) != 0) SetBe32(d, base, Be32(d, base) + 10);
  }
  for (qsizetype at = ipma + 16, i = 0; i < qsizetype(Be32(d, ipma + 12)); ++i) {
    const int item = (uchar(d[at]) << 8) | uchar(d[at + 1]), count = uchar(d[at + 2]);
    if (item == primary) {
      d[at + 2] = char(count + 1);
      d.insert(at + 3 + count, char(properties + 1));
    }
    at += 3 + count;
  }
  d.insert(ipco + Be32(d, ipco), QByteArray("\0\0\0\x09irot\x03", 9)); // 270 anticlockwise
  SetBe32(d, ipma + 9, Be32(d, ipma + 9) + 1);
  SetBe32(d, ipco, Be32(d, ipco) + 9);
  SetBe32(d, iprp, Be32(d, iprp) + 10);
  SetBe32(d, meta, Be32(d, meta) + 10);
  return d;
}

// The test pattern (red, green / blue, yellow quarters) with its yellow
// quarter see-through.
QImage SeeThroughPattern(int width, int height) {
  QImage image = test::TestPattern(width, height).convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::transparent);
  return image;
}

bool Near(QRgb p, QColor c) {
  return std::abs(qRed(p) - c.red()) < 48 && std::abs(qGreen(p) - c.green()) < 48 &&
         std::abs(qBlue(p) - c.blue()) < 48;
}

class PhotoFormats : public ::testing::Test {
protected:
  PhotoFormats() : recorder(magick) {}
  std::string run(const QString &name, const Operation &op) {
    ApplyEnvironment env{settings, folder.path(), recorder, prompter};
    return ApplyOperation(folder.file(name), op, env, state).toStdString();
  }
  // Any format, as ImageMagick reads it, in Qt's hands.
  QImage Pixels(const QString &name) {
    const QString png = folder.file(name + ".seen.png");
    magick.convert({folder.file(name), png});
    const QImage image(png);
    QFile::remove(png);
    return image;
  }
  test::TempFolder folder;
  Settings settings;
  MagickToolkit magick;
  test::RecordingToolkit recorder;
  test::ScriptedPrompter prompter;
  RunState state;
};

TEST_F(PhotoFormats, AreListedReadAndWrittenWithTheirTransparency) {
  ASSERT_TRUE(SeeThroughPattern(40, 30).save(folder.file("t.png")));
  for (const char *name : {"t.heic", "t.avif", "t.webp"})
    magick.convert({folder.file("t.png"), folder.file(name)});
  QFile::copy(folder.file("t.heic"), folder.file("h.HEIF"));
  QFile::remove(folder.file("t.png"));
  EXPECT_EQ(ListImageFiles(folder.path(), "", false),
            (QStringList{"h.HEIF", "t.avif", "t.heic", "t.webp"}));
  struct Row {
    const char *input, *format, *written;
    bool seeThrough; // the yellow quarter stays see-through; else it is white
  } rows[] = {
      {"t.webp", "PNG", "o_t.PNG", true},    {"t.webp", "AVIF", "o_t.AVIF", false},
      {"t.webp", "WEBP", "o_t.webp", true},  {"t.heic", "WEBP", "o_t.WEBP", false},
      {"h.HEIF", "JPG", "o_h.JPG", false},   {"t.avif", "webp", "o_t.webp", false},
      {"t.heic", "AVIF", "o_t.AVIF", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.input) + " to " + row.format);
    // A crop of 30x20 from (4, 6), so each side is told apart.
    const Operation op{.Extract = true,
                       .TopLeftX = 4,
                       .TopLeftY = 6,
                       .BottomRightX = 33,
                       .BottomRightY = 25,
                       .OutputFormat = row.format,
                       .Prefix = "o_"};
    ASSERT_EQ(run(row.input, op), "");
    const QImage seen = Pixels(row.written);
    ASSERT_EQ(seen.size(), QSize(30, 20));
    EXPECT_TRUE(Near(seen.pixel(2, 2), Qt::red));
    EXPECT_TRUE(Near(seen.pixel(27, 2), Qt::green));
    EXPECT_TRUE(Near(seen.pixel(2, 17), Qt::blue));
    const QRgb corner = seen.pixel(27, 17);
    if (row.seeThrough) EXPECT_EQ(qAlpha(corner), 0);
    // The HEIC and AVIF read here have no see-through part: their writer
    // left it as the colour beneath, which is kept; AVIF written is opaque.
    else if (QString(row.input) == "t.webp")
      EXPECT_TRUE(qAlpha(corner) == 255 && Near(corner, Qt::white)) << std::hex << corner;
    // ImageMagick names an AVIF it reads by its module, HEIC.
    const QString format = FormatName(row.format);
    if (format == "AVIF")
      EXPECT_EQ(test::ReadBytes(folder.file(row.written)).mid(4, 8), "ftypavif");
    else
      EXPECT_EQ(magick.identify({"-format", "%m", folder.file(row.written)}), format);
    QFile::remove(folder.file(row.written));
  }
}

// WebP keeps the EXIF but ImageMagick's reader does not read the turn from it;
// a HEIC's reader turns the picture itself and says it is upright. Each is
// turned exactly once, and the result says it is upright.
TEST_F(PhotoFormats, PhotosAreTurnedUprightOnce) {
  test::MakeOrientedJpeg(folder.file("o6.jpg"), 40, 30, 6);
  magick.convert({folder.file("o6.jpg"), folder.file("o6.webp")});
  test::MakeImage(folder.file("s.png"), 40, 30);
  magick.convert({folder.file("s.png"), folder.file("s.heic")});
  test::WriteBytes(folder.file("r.heic"), TurnedHeic(test::ReadBytes(folder.file("s.heic"))));
  EXPECT_EQ(magick.orientation(folder.file("o6.webp")), 6);
  EXPECT_EQ(magick.orientation(folder.file("r.heic")), 1);
  for (const char *name : {"o6.webp", "r.heic"}) {
    for (const char *format : {"PNG", "WEBP"}) {
      SCOPED_TRACE(std::string(name) + " to " + format);
      // Resized within its size, so that the WebP is decoded, not copied.
      const Operation op{.Resize = true,
                         .ResizeWidth = 500,
                         .ResizeHeight = 500,
                         .OutputFormat = format,
                         .Prefix = "u_"};
      ASSERT_EQ(run(name, op), "");
      const QString result = ResultName(name, op);
      const QImage seen = Pixels(result);
      ASSERT_EQ(seen.size(), QSize(30, 40));
      EXPECT_TRUE(Near(seen.pixel(27, 2), Qt::red)) << "turned clockwise, once";
      EXPECT_LE(magick.orientation(folder.file(result)), 1) << "says it is upright";
    }
  }
  // Turning off: the WebP as stored, still saying how it is to be turned,
  // also when nothing but the turn is to travel.
  settings.AutoOrient = false;
  settings.Metadata = "RemoveAll";
  ASSERT_EQ(run("o6.webp", {.Resize = true, .ResizeWidth = 20, .ResizeHeight = 20, .Prefix = "k_"}),
            "");
  EXPECT_EQ(ImageSize(folder.file("k_o6.webp")), QSize(20, 15));
  EXPECT_EQ(magick.orientation(folder.file("k_o6.webp")), 6);
}

QByteArray Le(quint32 v, int bytes) {
  QByteArray out;
  for (int i = 0; i < bytes; ++i)
    out += char(v >> (8 * i));
  return out;
}

// Headers that claim far more pixels than their small files could hold are
// refused before decoding, as every other format's are. The WebPs are their
// headers alone, which ImageMagick's reader would refuse as cut short: the
// size was refused before it read them (it decodes a WebP whole to tell its
// size). Each of WebP's three headers, with sides that differ.
TEST_F(PhotoFormats, PictureBombsAreRefusedBeforeDecoding) {
  const QByteArray webps[] = {
      "VP8X" + Le(10, 4) + Le(0, 4) + Le(9000 - 1, 3) + Le(16000 - 1, 3),
      "VP8L" + Le(5, 4) + '\x2f' + Le((12000 - 1) | (15000 - 1) << 14, 4) + QByteArray(5, '\0'),
      "VP8 " + Le(10, 4) + Le(0, 3) + "\x9d\x01\x2a" + Le(16383, 2) + Le(9000, 2),
  };
  QStringList names;
  for (const QByteArray &chunk : webps) {
    names << QStringLiteral("bomb%1.webp").arg(names.size());
    test::WriteBytes(folder.file(names.last()), "RIFF" + Le(4 + chunk.size(), 4) + "WEBP" + chunk);
  }
  // A HEIC whose picture claims 12000x13000.
  test::MakeImage(folder.file("s.png"), 40, 30);
  magick.convert({folder.file("s.png"), folder.file("s.heic")});
  QByteArray heic = test::ReadBytes(folder.file("s.heic"));
  for (qsizetype at = heic.indexOf("ispe"); at > 0; at = heic.indexOf("ispe", at + 4))
    if (Be32(heic, at + 8) == 40) SetBe32(heic, at + 8, 12000), SetBe32(heic, at + 12, 13000);
  test::WriteBytes(folder.file("bomb.heic"), heic);
  const char *sizes[] = {"9000x16000", "12000x15000", "16383x9000", "12000x13000"};
  names << "bomb.heic";
  for (int i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].toStdString());
    const std::string text = run(names[i], {.OutputFormat = "PNG"});
    EXPECT_NE(text.find(std::string("memory: ") + sizes[i]), std::string::npos) << text;
    EXPECT_NE(text.find("Operation: Getting Image Size"), std::string::npos) << text;
    // The preview asks for the turn first: a WebP is refused there too, not
    // decoded (a HEIC's reader only reads its header).
    if (names[i].endsWith(".webp"))
      EXPECT_THROW(magick.orientation(folder.file(names[i])), Failure);
  }
}

TEST(Sharpening, IsLightAndGrowsWithTheShrinkOnBothSidesOnly) {
  struct Row {
    std::int32_t method, width, height; // the resize
    qint64 fromWidth, fromHeight;       // the picture
    const char *unsharp;                // "" none
  } rows[] = {
      {kLimitWidthHeight, 100, 100, 200, 100, "0x0.67+0.60+0.02"}, // half: one halving
      {kLimitWidthHeight, 100, 100, 100, 200, "0x0.67+0.60+0.02"},
      {kLimitWidthHeight, 1920, 1920, 6000, 4000, "0x0.77+0.73+0.02"},
      {kLimitWidth, 50, 1, 1600, 900, "0x1.00+1.00+0.02"}, // 1/32: no stronger than 1/8
      {kLimitHeight, 1, 75, 90, 100, "0x0.57+0.48+0.02"},
      {kLimitWidthHeight, 300, 300, 200, 100, ""}, // inside the box
      {kFixToSize, 50, 300, 100, 200, ""},         // narrower but taller
      {kFixToSize, 300, 50, 200, 100, ""},         // wider but lower
      {kFixToSize, 50, 60, 100, 200, "0x0.79+0.75+0.02"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::Message() << row.method << " " << row.width << "x" << row.height
                                      << " of " << row.fromWidth << "x" << row.fromHeight);
    const Operation op{.Resize = true,
                       .ResizeMethod = row.method,
                       .ResizeWidth = row.width,
                       .ResizeHeight = row.height};
    const QStringList expected =
        *row.unsharp ? QStringList{"-unsharp", row.unsharp} : QStringList{};
    EXPECT_EQ(SharpeningAfterShrinking(op, row.fromWidth, row.fromHeight), expected);
  }
  EXPECT_EQ(SharpeningAfterShrinking({.ResizeWidth = 10, .ResizeHeight = 10}, 100, 100),
            QStringList())
      << "no resize";
}

// The setting reaches the resize step only, and only where the picture
// shrank: never a plain copy, a crop alone or a format change.
TEST_F(PhotoFormats, SharpeningIsAppliedOnlyWhenTheResizeShrank) {
  test::MakeImage(folder.file("a.png"), 120, 80);
  const Operation shrink{.Resize = true, .ResizeWidth = 60, .ResizeHeight = 60, .Suffix = "_s"};
  const Operation crop{.Extract = true,
                       .BottomRightX = 59,
                       .BottomRightY = 39,
                       .Resize = true,
                       .ResizeWidth = 30,
                       .ResizeHeight = 30,
                       .Suffix = "_c"};
  const Operation inside{.Resize = true, .ResizeWidth = 500, .ResizeHeight = 500, .Suffix = "_i"};
  const Operation copy{.Suffix = "_k"}, format{.OutputFormat = "WEBP", .Suffix = "_f"};
  const auto convertArgs = [&] {
    for (const auto &call : recorder.calls)
      if (call.command == "convert") return call.args.join(' ');
    return QString("no convert");
  };
  struct Row {
    const Operation &op;
    bool on;
    const char *unsharp; // in the resize step; "" none
    QSize size;
  } rows[] = {
      {shrink, true, "0x0.67+0.60+0.02", {60, 40}},
      {shrink, false, "", {60, 40}},
      {crop, true, "0x0.67+0.60+0.02", {30, 20}},
      {inside, true, "", {120, 80}},
      {copy, true, "", {120, 80}},
      {format, true, "", {120, 80}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.op.Suffix.toStdString() + (row.on ? " on" : " off"));
    settings.SharpenAfterShrinking = row.on;
    recorder.calls.clear();
    ASSERT_EQ(run("a.png", row.op), "");
    EXPECT_EQ(convertArgs().contains("-unsharp"), *row.unsharp != '\0')
        << convertArgs().toStdString();
    if (*row.unsharp)
      EXPECT_TRUE(
          convertArgs().contains(QString("-geometry %1 -unsharp %2")
                                     .arg(row.op.Extract ? "30x30>" : "60x60>", row.unsharp)))
          << convertArgs().toStdString();
    EXPECT_EQ(ImageSize(folder.file(ResultName("a.png", row.op))), row.size);
  }
  EXPECT_EQ(test::ReadBytes(folder.file("a_k.png")), test::ReadBytes(folder.file("a.png")));
}

} // namespace
} // namespace varnholt
