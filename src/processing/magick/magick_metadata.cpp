#include "processing/magick/magick_metadata.h"

#include "processing/metadata_edit.h"

#include <QSize>

#include <cstring>
#include <optional>

#include <wand/MagickWand.h>

namespace varnholt::magick {

namespace {

QByteArray Bytes(const StringInfo *profile) {
  return QByteArray(reinterpret_cast<const char *>(GetStringInfoDatum(profile)),
                    qsizetype(GetStringInfoLength(profile)));
}

void Replace(Image *image, const char *name, const QByteArray &bytes) {
  if (bytes.isEmpty()) {
    DeleteImageProfile(image, name);
    return;
  }
  StringInfo *profile = AcquireStringInfo(size_t(bytes.size()));
  SetStringInfoDatum(profile, reinterpret_cast<const unsigned char *>(bytes.constData()));
  SetImageProfile(image, name, profile);
  DestroyStringInfo(profile);
}

bool IsColourProfile(const QByteArray &name) { return name == "icc" || name == "icm"; }

// Properties ImageMagick read out of the profiles (and, with nothing kept,
// any that came with the picture): gone, so a writer that writes them as
// text writes none of what was taken out of the profiles. What is asked of
// the EXIF later is read again from the edited profile.
bool PropertyGoes(const QByteArray &name, KeptMetadata kept) {
  const qsizetype colon = name.indexOf(':');
  const QByteArray space = colon < 0 ? QByteArray() : name.left(colon).toLower();
  if (kept == KeptMetadata::ColourProfile)
    return space != "icc" && space != "jpeg" && space != "png";
  if (space == "exif") return true;
  const QByteArray local = name.mid(colon + 1);
  for (const char *size : {"ImageWidth", "ImageLength", "PixelXDimension", "PixelYDimension"})
    if (local == size) return true;
  if (kept == KeptMetadata::All || colon < 0) return false;
  if (local.startsWith("GPS")) return true;
  for (const char *place : {"City", "State", "Country", "Location", "CountryCode",
                            "LocationCreated", "LocationShown", "Sublocation"})
    if (local == place) return true;
  return false;
}

} // namespace

QStringList KeepMetadata(Image *images, KeptMetadata kept) {
  QStringList unreadable;
  for (Image *image = images; image; image = GetNextImageInList(image)) {
    const QSize pixels(int(image->columns), int(image->rows));
    // A reader that leaves the turn in the EXIF unread (WebP's) would have it
    // written back as unknown: a picture not turned upright would lose it.
    if (image->orientation == UndefinedOrientation && std::strcmp(image->magick, "WEBP") == 0)
      if (const StringInfo *exif = GetImageProfile(image, "exif"))
        image->orientation = OrientationType(ExifOrientation(Bytes(exif)));
    QList<QByteArray> names;
    ResetImageProfileIterator(image);
    for (const char *name = GetNextImageProfile(image); name; name = GetNextImageProfile(image))
      names << QByteArray(name);
    // The Photoshop block before the IPTC it also holds: setting it sets
    // that too.
    std::stable_sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
      return (a.toLower() == "8bim") > (b.toLower() == "8bim");
    });
    for (const QByteArray &name : std::as_const(names)) {
      const StringInfo *profile = GetImageProfile(image, name.constData());
      if (!profile || IsColourProfile(name.toLower())) continue;
      const QByteArray bytes = Bytes(profile), lower = name.toLower();
      bool bad = false;
      std::optional<QByteArray> edited;
      if (lower == "exif")
        edited = kept == KeptMetadata::ColourProfile ? OrientationOnlyExif(int(image->orientation))
                                                     : EditExif(bytes, kept, pixels, &bad);
      else if (lower == "xmp")
        edited = EditXmp(bytes, kept, &bad);
      else if (lower == "iptc")
        edited = EditIptc(bytes, kept, &bad);
      else if (lower == "8bim")
        edited = EditPhotoshopResources(bytes, kept, pixels, &bad);
      else if (kept == KeptMetadata::ColourProfile)
        edited = QByteArray();
      if (bad && !unreadable.contains(QString::fromLatin1(name)))
        unreadable << QString::fromLatin1(name);
      if (edited) Replace(image, name.constData(), *edited);
    }
    QList<QByteArray> gone;
    ResetImagePropertyIterator(image);
    for (const char *p = GetNextImageProperty(image); p; p = GetNextImageProperty(image))
      if (PropertyGoes(QByteArray(p), kept)) gone << QByteArray(p);
    for (const QByteArray &name : std::as_const(gone))
      DeleteImageProperty(image, name.constData());
  }
  return unreadable;
}

} // namespace varnholt::magick
