#pragma once

#include "platform/kept_metadata.h"

#include <QByteArray>
#include <QSize>

#include <optional>

// The metadata a picture carries, edited as bytes, for results that are to
// carry less of it. Every offset and length read from a block is checked
// against the block; nothing here trusts what it reads.
namespace varnholt {

// Each edit answers with the block as the result is to carry it: nullopt when
// it stays as it was, an empty array when none of it is to stay. A block
// that cannot be read is not carried (an empty array): what it holds could
// not be vouched for.

// What an EXIF block starts with in a JPEG's APP1 and in ImageMagick's profile.
inline const QByteArray kExifHeader("Exif\0\0", 6);

// EXIF as a JPEG's APP1 and ImageMagick hold it ("Exif\0\0", then a TIFF
// structure), or the TIFF structure alone. The small picture of the original
// goes in every choice; the pixel size tags become `pixels`.
std::optional<QByteArray> EditExif(const QByteArray &exif, KeptMetadata kept, QSize pixels,
                                   bool *unreadable = nullptr);
// The EXIF a result carries when only a turn is to travel: none for an
// upright picture (orientation 0 or 1).
QByteArray OrientationOnlyExif(int orientation);
// The orientation EXIF gives (1 to 8), or 0.
int ExifOrientation(const QByteArray &exif);

// An XMP packet: pixel sizes and embedded small pictures go in every choice.
std::optional<QByteArray> EditXmp(const QByteArray &xmp, KeptMetadata kept,
                                  bool *unreadable = nullptr);
// IPTC's datasets (IIM), as ImageMagick's "iptc" profile holds them.
std::optional<QByteArray> EditIptc(const QByteArray &iim, KeptMetadata kept,
                                   bool *unreadable = nullptr);
// Photoshop's resource blocks (ImageMagick's "8bim" profile): its small
// pictures go in every choice; the EXIF, XMP and IPTC it holds are edited
// as above.
std::optional<QByteArray> EditPhotoshopResources(const QByteArray &resources, KeptMetadata kept,
                                                 QSize pixels, bool *unreadable = nullptr);

// A JPEG file's bytes with its metadata segments edited and its compressed
// picture untouched, so a copy loses no quality. Under anything but All the
// extra pictures some phones append (and the index of them) go too.
// nullopt: not a JPEG this can walk; `unreadable` names a segment left out.
std::optional<QByteArray> EditJpegMetadata(const QByteArray &file, KeptMetadata kept, QSize pixels,
                                           bool *unreadable = nullptr);

// Writes `to` as a copy of the JPEG `from` with its metadata edited as
// EditJpegMetadata does (the file is read whole, up to 1 GiB). False, and
// nothing written, when `from` is not a JPEG that can be walked. Throws
// Failure when a file cannot be read or written.
bool CopyJpegEditingMetadata(const QString &from, const QString &to, KeptMetadata kept,
                             QSize pixels, bool *unreadable = nullptr);

} // namespace varnholt
