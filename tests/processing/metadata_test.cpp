#include "operations/operation.h"
#include "processing/apply_operation.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/metadata_edit.h"
#include "settings/settings.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <map>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

// A TIFF structure written in either byte order, laid out IFD after IFD,
// each followed by the values that do not fit in its entries.
class TiffWriter {
public:
  explicit TiffWriter(bool little) : little_(little) {
    bytes_ = little ? QByteArray("II\x2a\0", 4) : QByteArray("MM\0\x2a", 4);
    bytes_ += n32(8);
  }
  QByteArray n16(quint32 v) const { return n(v, 2); }
  QByteArray n32(quint32 v) const { return n(v, 4); }
  QByteArray rational(quint32 a, quint32 b) const { return n32(a) + n32(b); }
  struct Field {
    quint32 tag, type, count;
    QByteArray value;
  };
  // Appends an IFD; `at` gets where each entry's value field is. Returns
  // where its next-IFD offset is.
  qsizetype ifd(const std::vector<Field> &fields, std::map<quint32, qsizetype> *at = nullptr) {
    const qsizetype start = bytes_.size();
    qsizetype values = start + 2 + 12 * qsizetype(fields.size()) + 4;
    QByteArray tail;
    bytes_ += n16(quint32(fields.size()));
    for (const Field &f : fields) {
      bytes_ += n16(f.tag) + n16(f.type) + n32(f.count);
      if (at) (*at)[f.tag] = bytes_.size();
      if (f.value.size() <= 4) {
        bytes_ += f.value + QByteArray(4 - f.value.size(), '\0');
      } else {
        bytes_ += n32(quint32(values + tail.size()));
        tail += f.value;
      }
    }
    const qsizetype next = bytes_.size();
    bytes_ += n32(0) + tail;
    return next;
  }
  void point(qsizetype field) { bytes_.replace(field, 4, n32(quint32(bytes_.size()))); }
  QByteArray &bytes() { return bytes_; }

private:
  QByteArray n(quint32 v, int size) const {
    QByteArray out(size, '\0');
    for (int k = 0; k < size; ++k)
      out[little_ ? k : size - 1 - k] = char(v >> (8 * k));
    return out;
  }
  bool little_;
  QByteArray bytes_;
};

const QByteArray kThumbnail = QByteArray(6000, '\x5a');

// A camera's EXIF: maker, orientation, the picture's pixel size (one tag a
// SHORT, the other a LONG, as cameras mix them), a GPS position and a large
// small picture of the whole photo.
QByteArray CameraExif(bool little, int width, int height) {
  TiffWriter t(little);
  std::map<quint32, qsizetype> at0, at1;
  const qsizetype next = t.ifd({{0x010F, 2, 6, QByteArray("Canon\0", 6)},
                                {0x0112, 3, 1, t.n16(1)},
                                {0x8769, 4, 1, t.n32(0)},
                                {0x8825, 4, 1, t.n32(0)}},
                               &at0);
  t.point(at0[0x8769]);
  t.ifd({{0xA002, 3, 1, t.n16(quint32(width))}, {0xA003, 4, 1, t.n32(quint32(height))}});
  t.point(at0[0x8825]);
  t.ifd({{0x0001, 2, 2, "N\0"},
         {0x0002, 5, 3, t.rational(52, 1) + t.rational(30, 1) + t.rational(0, 1)}});
  t.point(next);
  t.ifd({{0x0103, 3, 1, t.n16(6)},
         {0x0201, 4, 1, t.n32(0)},
         {0x0202, 4, 1, t.n32(quint32(kThumbnail.size()))}},
        &at1);
  t.point(at1[0x0201]);
  t.bytes() += kThumbnail;
  return QByteArray("Exif\0\0", 6) + t.bytes();
}

const QByteArray kXmp =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
    "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
    "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
    "xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' "
    "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:xmpMM='http://ns.adobe.com/xap/1.0/mm/' "
    "xmlns:stEvt='http://ns.adobe.com/xap/1.0/sType/ResourceEvent#' "
    "photoshop:City='XmpCity' tiff:ImageWidth='6400'>\n"
    "<exif:GPSLatitude>52,30.0N</exif:GPSLatitude>\n"
    "<xmpMM:History><rdf:Seq><rdf:li stEvt:action='saved' "
    "stEvt:changed='/home/ana/private/shoot'/></rdf:Seq></xmpMM:History>\n"
    "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";

// IPTC's keywords and city in Photoshop's block, with Photoshop's own small picture.
QByteArray PhotoshopBlock() {
  const QByteArray iim = QByteArray("\x1c\x02\x00\x00\x02\x00\x04", 7) +
                         QByteArray("\x1c\x02\x19\x00\x04kite", 9) +
                         QByteArray("\x1c\x02\x5a\x00\x08IptcCity", 13);
  const auto resource = [](int id, const QByteArray &data) {
    QByteArray r = QByteArray("8BIM") + char(id >> 8) + char(id & 0xff) + QByteArray(2, '\0');
    r += QByteArray(2, '\0') + char(data.size() >> 8) + char(data.size() & 0xff);
    return r + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
  };
  return resource(0x0404, iim) + resource(0x040C, "PhotoshopThumbnail");
}

// An ICC profile's header as a wide-gamut photo's would start, marked so it
// can be found again byte for byte.
QByteArray ColourProfile() {
  QByteArray icc(132, '\0');
  icc.replace(0, 4, QByteArray("\0\0\0\x84", 4));
  icc.replace(8, 4, QByteArray("\x02\x10\0\0", 4)); // version 2.1
  icc.replace(12, 12, "mntrRGB XYZ ");
  icc.replace(36, 4, "acsp");
  icc.replace(68, 12, QByteArray("\0\0\xf6\xd6\0\x01\0\0\0\0\xd3\x2d", 12)); // D50
  icc.replace(100, 16, "AdobeRGBMarker!!");
  return icc;
}

QByteArray Segment(char marker, const QByteArray &payload) {
  const int length = int(payload.size()) + 2;
  return QByteArray("\xff", 1) + marker + char(length >> 8) + char(length & 0xff) + payload;
}

void MakePhoto(const QString &path, int width, int height, bool little) {
  test::MakeImage(path, width, height);
  const QByteArray jpeg = test::ReadBytes(path);
  test::WriteBytes(path,
                   jpeg.left(2) + Segment('\xe1', CameraExif(little, width, height)) +
                       Segment('\xe1', QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + kXmp) +
                       Segment('\xed', QByteArray("Photoshop 3.0\0", 14) + PhotoshopBlock()) +
                       Segment('\xe2', QByteArray("ICC_PROFILE\0\x01\x01", 14) + ColourProfile()) +
                       jpeg.mid(2));
}

// What ImageMagick's own identify finds in a file: its profiles and their
// sizes, and its properties.
struct Found {
  std::map<QString, int> profiles;
  std::map<QString, QString> properties;
  QByteArray bytes;
  bool has(const char *text) const { return bytes.contains(text); }
};

Found Identify(const QString &path) {
  QProcess identify;
  identify.start("identify", {"-verbose", path});
  identify.waitForFinished(20000);
  Found found;
  found.bytes = test::ReadBytes(path);
  static const QRegularExpression profile("^\\s*Profile-(\\w+): (\\d+) bytes$");
  static const QRegularExpression property("^\\s{4}([\\w:]+): (.*)$");
  for (const QString &line : QString::fromUtf8(identify.readAllStandardOutput()).split('\n')) {
    if (const auto m = profile.match(line); m.hasMatch())
      found.profiles[m.captured(1)] = m.captured(2).toInt();
    else if (const auto p = property.match(line); p.hasMatch())
      found.properties[p.captured(1)] = p.captured(2).trimmed();
  }
  return found;
}

// Each choice through each kind of pair, in both byte orders of EXIF.
TEST(Metadata, EachChoiceCarriesWhatItSaysThroughEveryKindOfPair) {
  enum Kind { Shrunk, Png, Copy };
  struct Row {
    Kind kind;
    KeptMetadata kept;
    bool location, history, exif;
  };
  const Row rows[] = {
      {Shrunk, KeptMetadata::All, true, true, true},
      {Shrunk, KeptMetadata::AllButLocation, false, true, true},
      {Shrunk, KeptMetadata::ColourProfile, false, false, false},
      {Png, KeptMetadata::All, true, true, true},
      {Png, KeptMetadata::AllButLocation, false, true, true},
      {Png, KeptMetadata::ColourProfile, false, false, false},
      {Copy, KeptMetadata::AllButLocation, false, true, true},
      {Copy, KeptMetadata::ColourProfile, false, false, false},
  };
  MagickToolkit magick;
  test::ScriptedPrompter prompter;
  for (const bool little : {true, false}) {
    for (const Row &row : rows) {
      const std::string label = std::string(little ? "II " : "MM ") +
                                QString::number(int(row.kind)).toStdString() + " " +
                                MetadataWord(row.kept).toStdString();
      test::TempFolder folder;
      MakePhoto(folder.file("p.jpg"), 64, 48, little);
      Operation op{.Prefix = "r_"};
      op.OutputFormat = row.kind == Png ? "PNG" : "JPG";
      if (row.kind == Shrunk)
        op.Resize = true, op.ResizeMethod = kLimitWidthHeight, op.ResizeWidth = 40,
        op.ResizeHeight = 40;
      Settings settings;
      settings.Metadata = MetadataWord(row.kept);
      RunState state;
      ApplyEnvironment env{settings, folder.path(), magick, prompter};
      ASSERT_EQ(ApplyOperation(folder.file("p.jpg"), op, env, state), "") << label;
      const QString result = folder.file(row.kind == Png ? "r_p.PNG" : "r_p.jpg");
      const Found f = Identify(result);
      const QSize size = row.kind == Shrunk ? QSize(40, 30) : QSize(64, 48);
      EXPECT_EQ(test::ImageSize(result), size) << label;
      // No small picture of the original, in EXIF or Photoshop's block.
      EXPECT_FALSE(f.has("PhotoshopThumbnail")) << label;
      EXPECT_FALSE(f.bytes.contains(kThumbnail.left(64))) << label;
      EXPECT_EQ(f.profiles.count("xmp") == 1, row.history) << label;
      EXPECT_EQ(f.profiles.count("iptc") == 1, row.history) << label;
      if (row.kind == Png) { // ImageMagick reads no EXIF back from a PNG
        EXPECT_EQ(f.bytes.contains("eXIf"), row.exif) << label;
        EXPECT_EQ(f.has("Canon"), row.exif) << label;
        continue;
      }
      // The colour profile, whatever else goes, byte for byte.
      EXPECT_EQ(f.profiles.count("icc") ? f.profiles.at("icc") : 0, 132) << label;
      EXPECT_TRUE(f.has("AdobeRGBMarker!!")) << label;
      EXPECT_EQ(f.profiles.count("exif") == 1, row.exif) << label;
      EXPECT_EQ(f.properties.count("exif:GPSLatitude") == 1, row.location) << label;
      EXPECT_EQ(f.properties.count("exif:GPSInfo") == 1, row.location) << label;
      EXPECT_EQ(f.properties.count("exif:Make") == 1, row.exif) << label;
      EXPECT_EQ(f.properties.count("exif:thumbnail:JPEGInterchangeFormatLength"), 0u) << label;
      const auto property = [&](const char *name) {
        return f.properties.count(name) ? f.properties.at(name) : QString();
      };
      if (row.exif) {
        EXPECT_EQ(property("exif:PixelXDimension"), QString::number(size.width())) << label;
        EXPECT_EQ(property("exif:PixelYDimension"), QString::number(size.height())) << label;
      }
      EXPECT_EQ(f.has("IptcCity"), row.location) << label;
      EXPECT_EQ(f.has("XmpCity"), row.location) << label;
      EXPECT_EQ(f.has("52,30.0N"), row.location) << label;
      EXPECT_EQ(f.has("/home/ana/private/shoot"), row.history) << label;
      EXPECT_EQ(f.has("kite"), row.history) << label;
      EXPECT_FALSE(f.has("tiff:ImageWidth")) << label;
      if (row.kind == Copy) // the compressed picture copied as it was
        EXPECT_EQ(QImage(result), QImage(folder.file("p.jpg"))) << label;
    }
  }
}

TEST(Metadata, APlainCopyKeepingAllIsTheSameBytes) {
  test::TempFolder folder;
  MakePhoto(folder.file("p.jpg"), 64, 48, true);
  MagickToolkit magick;
  test::ScriptedPrompter prompter;
  Settings settings;
  RunState state;
  ApplyEnvironment env{settings, folder.path(), magick, prompter};
  ASSERT_EQ(ApplyOperation(folder.file("p.jpg"), {.Prefix = "r_"}, env, state), "");
  EXPECT_EQ(test::ReadBytes(folder.file("r_p.jpg")), test::ReadBytes(folder.file("p.jpg")));
}

// What goes leaves no pointer behind: the block edited once has nothing
// left to edit, and the small picture's bytes are gone from it.
TEST(Metadata, AnEditedExifBlockIsWholeAndSmaller) {
  for (const bool little : {true, false}) {
    const QByteArray exif = CameraExif(little, 64, 48);
    for (const KeptMetadata kept : {KeptMetadata::All, KeptMetadata::AllButLocation}) {
      const std::optional<QByteArray> edited = EditExif(exif, kept, {40, 30});
      ASSERT_TRUE(edited && !edited->isEmpty()) << little;
      EXPECT_EQ(EditExif(*edited, kept, {40, 30}), std::nullopt) << little << int(kept);
      EXPECT_LE(edited->size(), exif.size() - kThumbnail.size()) << little << int(kept);
    }
  }
}

// A picture not turned upright keeps its turn even when nothing else stays.
TEST(Metadata, WithNothingKeptATurnNotAppliedStillTravels) {
  EXPECT_EQ(ExifOrientation(OrientationOnlyExif(6)), 6);
  EXPECT_EQ(ExifOrientation(*EditExif(CameraExif(true, 8, 6), KeptMetadata::ColourProfile, {8, 6})),
            0);
  EXPECT_TRUE(OrientationOnlyExif(1).isEmpty());
  EXPECT_TRUE(OrientationOnlyExif(9).isEmpty());
}

// Damaged blocks never crash, never grow, and what cannot be read goes.
TEST(Metadata, DamagedBlocksAreLeftOutNeverTrusted) {
  const QByteArray exif = CameraExif(false, 64, 48);
  for (qsizetype cut = 0; cut < exif.size(); cut += 5) {
    bool unreadable = false;
    const auto edited = EditExif(exif.left(cut), KeptMetadata::All, {4, 3}, &unreadable);
    EXPECT_TRUE(!edited || edited->size() <= cut) << cut;
  }
  // The Exif IFD pointing back at IFD0, and past the end.
  for (const quint32 target : {8u, 0x7fffffffu}) {
    QByteArray looped = exif;
    const qsizetype field = 6 + 8 + 2 + 12 * 2 + 8; // IFD0's third entry's value
    for (int k = 0; k < 4; ++k)
      looped[field + k] = char(target >> (24 - 8 * k));
    bool unreadable = false;
    EXPECT_EQ(EditExif(looped, KeptMetadata::All, {4, 3}, &unreadable), QByteArray()) << target;
    EXPECT_TRUE(unreadable) << target;
  }
  const QByteArray iim("\x1c\x02\x5a\x80\x09", 5); // an extended length too long to hold
  bool bad = false;
  EXPECT_EQ(EditIptc(iim, KeptMetadata::AllButLocation, &bad), QByteArray());
  EXPECT_TRUE(bad);
  bad = false;
  EXPECT_EQ(EditPhotoshopResources("8BIM\x04\x04\0\0\xff\xff\xff\xff", KeptMetadata::All, {}, &bad),
            QByteArray());
  EXPECT_TRUE(bad);
  bad = false;
  EXPECT_EQ(EditXmp("<x:xmpmeta><unclosed>", KeptMetadata::All, &bad), QByteArray());
  EXPECT_TRUE(bad);
  // A JPEG cut anywhere is either walked or refused, never read past its end.
  test::TempFolder folder;
  MakePhoto(folder.file("p.jpg"), 16, 12, true);
  const QByteArray jpeg = test::ReadBytes(folder.file("p.jpg"));
  for (qsizetype cut = 0; cut < jpeg.size(); cut += 97) {
    const auto edited = EditJpegMetadata(jpeg.left(cut), KeptMetadata::AllButLocation, {16, 12});
    if (edited) EXPECT_TRUE(edited->startsWith("\xff\xd8")) << cut;
  }
}

} // namespace
} // namespace varnholt
