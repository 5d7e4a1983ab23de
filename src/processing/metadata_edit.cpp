#include "processing/metadata_edit.h"

#include "platform/file_ops.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace varnholt {

namespace {

struct Unreadable {};

bool Is(KeptMetadata kept, KeptMetadata what) { return kept == what; }

// --- XMP -------------------------------------------------------------------

const QString kTiffNs = QStringLiteral("http://ns.adobe.com/tiff/1.0/");
const QString kExifNs = QStringLiteral("http://ns.adobe.com/exif/1.0/");
const QString kXmpNs = QStringLiteral("http://ns.adobe.com/xap/1.0/");
const QString kPhotoshopNs = QStringLiteral("http://ns.adobe.com/photoshop/1.0/");
const QString kIptcCoreNs = QStringLiteral("http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/");
const QString kIptcExtNs = QStringLiteral("http://iptc.org/std/Iptc4xmpExt/2008-02-29/");

// Whether a property (an element or an attribute) goes from the packet.
bool Goes(QStringView ns, QStringView name, KeptMetadata kept) {
  const auto in = [&](const QString &space, std::initializer_list<const char *> names) {
    if (ns != space) return false;
    for (const char *n : names)
      if (name == QLatin1String(n)) return true;
    return false;
  };
  if (in(kTiffNs, {"ImageWidth", "ImageLength"}) ||
      in(kExifNs, {"PixelXDimension", "PixelYDimension"}) || in(kXmpNs, {"Thumbnails"}))
    return true;
  if (Is(kept, KeptMetadata::All)) return false;
  return (ns == kExifNs && name.startsWith(QLatin1String("GPS"))) ||
         in(kPhotoshopNs, {"City", "State", "Country"}) ||
         in(kIptcCoreNs, {"Location", "CountryCode"}) ||
         in(kIptcExtNs, {"LocationCreated", "LocationShown"});
}

// --- Big-endian blocks (IPTC, Photoshop, JPEG) -----------------------------

void Need(const QByteArray &b, qint64 at, qint64 length) {
  if (at < 0 || length < 0 || at > b.size() || length > b.size() - at) throw Unreadable{};
}
quint32 Be(const QByteArray &b, qint64 at, int bytes) {
  Need(b, at, bytes);
  quint32 value = 0;
  for (int k = 0; k < bytes; ++k)
    value = value << 8 | uchar(b[at + k]);
  return value;
}
QByteArray BeBytes(quint32 value, int bytes) {
  QByteArray out(bytes, '\0');
  for (int k = bytes - 1; k >= 0; --k, value >>= 8)
    out[k] = char(value & 0xFF);
  return out;
}
bool ZerosFrom(const QByteArray &b, qint64 at) {
  for (qint64 k = at; k < b.size(); ++k)
    if (b[k] != 0) return false;
  return true;
}

// Record 2's places: location code and name, city, sublocation, state,
// country code and name.
bool LocationDataset(uchar record, uchar dataset) {
  if (record != 2) return false;
  for (uchar d : {26, 27, 90, 92, 95, 100, 101})
    if (dataset == d) return true;
  return false;
}

// Runs an edit that may find its block unreadable: then none of it stays.
template <class Edit> std::optional<QByteArray> Guarded(bool *unreadable, Edit edit) {
  try {
    return edit();
  } catch (const Unreadable &) {
    if (unreadable) *unreadable = true;
    return QByteArray();
  }
}

} // namespace

std::optional<QByteArray> EditXmp(const QByteArray &xmp, KeptMetadata kept, bool *unreadable) {
  if (Is(kept, KeptMetadata::ColourProfile)) return QByteArray();
  QXmlStreamReader in(xmp);
  QByteArray out;
  QXmlStreamWriter w(&out);
  bool changed = false;
  int skipping = 0; // depth inside a property that goes
  while (!in.atEnd()) {
    const QXmlStreamReader::TokenType token = in.readNext();
    if (skipping) {
      skipping += token == QXmlStreamReader::StartElement ? 1
                  : token == QXmlStreamReader::EndElement ? -1
                                                          : 0;
      continue;
    }
    if (token == QXmlStreamReader::StartDocument) {
      if (!in.documentVersion().isEmpty()) w.writeCurrentToken(in);
    } else if (token == QXmlStreamReader::StartElement) {
      if (Goes(in.namespaceUri(), in.name(), kept)) {
        skipping = 1, changed = true;
        continue;
      }
      // Written by the names as they stand, so the packet keeps its prefixes.
      w.writeStartElement(in.qualifiedName().toString());
      for (const QXmlStreamNamespaceDeclaration &d : in.namespaceDeclarations())
        w.writeAttribute(d.prefix().isEmpty() ? QStringLiteral("xmlns")
                                              : "xmlns:" + d.prefix().toString(),
                         d.namespaceUri().toString());
      for (const QXmlStreamAttribute &a : in.attributes()) {
        if (Goes(a.namespaceUri(), a.name(), kept))
          changed = true;
        else
          w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
      }
    } else if (token != QXmlStreamReader::Invalid) {
      w.writeCurrentToken(in);
    }
  }
  if (in.hasError()) {
    if (unreadable) *unreadable = true;
    return QByteArray();
  }
  return changed ? std::optional(out) : std::nullopt;
}

std::optional<QByteArray> EditIptc(const QByteArray &iim, KeptMetadata kept, bool *unreadable) {
  if (Is(kept, KeptMetadata::All)) return std::nullopt;
  if (Is(kept, KeptMetadata::ColourProfile)) return QByteArray();
  return Guarded(unreadable, [&]() -> std::optional<QByteArray> {
    QByteArray out;
    bool changed = false;
    for (qint64 at = 0; at < iim.size();) {
      if (uchar(iim[at]) != 0x1C) {
        if (!ZerosFrom(iim, at)) throw Unreadable{}; // padding, as Photoshop leaves it
        out += iim.mid(at);
        break;
      }
      qint64 length = Be(iim, at + 3, 2), header = 5;
      if (length & 0x8000) { // an extended dataset: the length's own length
        const int bytes = int(length & 0x7FFF);
        if (bytes < 1 || bytes > 4) throw Unreadable{};
        length = Be(iim, at + 5, bytes), header += bytes;
      }
      Need(iim, at, header + length);
      if (LocationDataset(uchar(iim[at + 1]), uchar(iim[at + 2])))
        changed = true;
      else
        out += iim.mid(at, header + length);
      at += header + length;
    }
    return changed ? std::optional(out) : std::nullopt;
  });
}

std::optional<QByteArray> EditPhotoshopResources(const QByteArray &resources, KeptMetadata kept,
                                                 QSize pixels, bool *unreadable) {
  if (Is(kept, KeptMetadata::ColourProfile)) return QByteArray();
  return Guarded(unreadable, [&]() -> std::optional<QByteArray> {
    QByteArray out;
    bool changed = false;
    for (qint64 at = 0; at < resources.size();) {
      const QByteArray signature = resources.mid(at, 4);
      if (signature != "8BIM" && signature != "MeSa" && signature != "PHUT" &&
          signature != "AgHg" && signature != "DCSR") {
        if (!ZerosFrom(resources, at)) throw Unreadable{};
        out += resources.mid(at);
        break;
      }
      const quint32 id = Be(resources, at + 4, 2);
      const qint64 nameBytes = (1 + qint64(Be(resources, at + 6, 1)) + 1) & ~qint64(1);
      const qint64 sizeAt = at + 6 + nameBytes, dataAt = sizeAt + 4;
      const qint64 size = Be(resources, sizeAt, 4);
      Need(resources, dataAt, size);
      const QByteArray data = resources.mid(dataAt, size);
      const qint64 next = dataAt + size + (size & 1);
      std::optional<QByteArray> edited;
      if (id == 0x0409 || id == 0x040C)
        edited = QByteArray(); // small pictures
      else if (id == 0x0404)
        edited = EditIptc(data, kept, unreadable);
      else if (id == 0x0422 || id == 0x0423)
        edited = EditExif(data, kept, pixels, unreadable);
      else if (id == 0x0424)
        edited = EditXmp(data, kept, unreadable);
      if (!edited) {
        out += resources.mid(at, std::min(next, qint64(resources.size())) - at);
      } else {
        changed = true;
        if (!edited->isEmpty()) {
          out += resources.mid(at, sizeAt - at) + BeBytes(quint32(edited->size()), 4) + *edited;
          if (edited->size() & 1) out += '\0';
        }
      }
      at = next;
    }
    return changed ? std::optional(out) : std::nullopt;
  });
}

namespace {

const QByteArray kJpegXmp("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray kJpegXmpExtension("http://ns.adobe.com/xmp/extension/\0", 35);
const QByteArray kJpegPhotoshop("Photoshop 3.0\0", 14);

// A header segment's payload as the result carries it: nullopt unchanged,
// empty when it goes.
std::optional<QByteArray> JpegSegment(uchar marker, const QByteArray &payload, KeptMetadata kept,
                                      QSize pixels, bool *unreadable) {
  const bool all = Is(kept, KeptMetadata::All), none = Is(kept, KeptMetadata::ColourProfile);
  const auto edited = [&](const QByteArray &prefix, std::optional<QByteArray> body) {
    if (body && !body->isEmpty()) body = prefix + *body;
    return body;
  };
  if (marker == 0xE1 && payload.startsWith(kExifHeader))
    return EditExif(payload, kept, pixels, unreadable);
  if (marker == 0xE1 && payload.startsWith(kJpegXmp))
    return edited(kJpegXmp, EditXmp(payload.mid(kJpegXmp.size()), kept, unreadable));
  if (marker == 0xED && payload.startsWith(kJpegPhotoshop))
    return edited(kJpegPhotoshop, EditPhotoshopResources(payload.mid(kJpegPhotoshop.size()), kept,
                                                         pixels, unreadable));
  if (marker == 0xE2 && payload.startsWith(QByteArray("ICC_PROFILE\0", 12))) return std::nullopt;
  if (marker == 0xE0 && payload.startsWith(QByteArray("JFIF\0", 5))) return std::nullopt;
  if (marker == 0xEE) return std::nullopt; // Adobe's: how the colours are stored
  // The rest of an XMP packet too long for one segment, an index of the
  // pictures appended after this one, JFIF's small picture: none can be
  // vouched for piecemeal.
  if ((marker == 0xE1 && payload.startsWith(kJpegXmpExtension)) ||
      (marker == 0xE2 && payload.startsWith(QByteArray("MPF\0", 4))) ||
      (marker == 0xE0 && payload.startsWith(QByteArray("JFXX\0", 5))))
    return all ? std::nullopt : std::optional(QByteArray());
  if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE)
    return none ? std::optional(QByteArray()) : std::nullopt;
  return std::nullopt;
}

// Where the compressed picture that starts at a scan header ends: after
// its end-of-image marker, or at the end of the file when it has none.
qint64 PictureEnd(const QByteArray &b, qint64 at) {
  while (at + 1 < b.size()) {
    if (uchar(b[at]) != 0xFF) {
      ++at;
      continue;
    }
    const uchar next = uchar(b[at + 1]);
    if (next == 0xD9) return at + 2;
    if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) {
      at += next == 0xFF ? 1 : 2;
      continue;
    }
    if (at + 4 > b.size()) break;
    at += 2 + Be(b, at + 2, 2); // tables and scan headers between scans
  }
  return b.size();
}

} // namespace

std::optional<QByteArray> EditJpegMetadata(const QByteArray &file, KeptMetadata kept, QSize pixels,
                                           bool *unreadable) {
  if (file.size() < 4 || uchar(file[0]) != 0xFF || uchar(file[1]) != 0xD8) return std::nullopt;
  try {
    QByteArray out = file.left(2);
    qint64 at = 2;
    while (true) {
      Need(file, at, 4);
      if (uchar(file[at]) != 0xFF) return std::nullopt;
      if (uchar(file[at + 1]) == 0xFF) { // fill bytes before a marker
        ++at;
        continue;
      }
      const uchar marker = uchar(file[at + 1]);
      const qint64 length = Be(file, at + 2, 2);
      if (length < 2) return std::nullopt;
      Need(file, at + 2, length);
      if (marker == 0xDA) {
        const qint64 end = PictureEnd(file, at + 2 + length);
        out += file.mid(at, end - at);
        // What follows the picture (some phones' further pictures) stays
        // only with everything else.
        if (Is(kept, KeptMetadata::All)) out += file.mid(end);
        return out;
      }
      const QByteArray payload = file.mid(at + 4, length - 2);
      const std::optional<QByteArray> edited =
          JpegSegment(marker, payload, kept, pixels, unreadable);
      if (!edited) {
        out += file.mid(at, 2 + length);
      } else if (edited->size() > 0xFFFF - 2) {
        if (unreadable) *unreadable = true; // grown past what a segment holds
      } else if (!edited->isEmpty()) {
        out += file.mid(at, 2) + BeBytes(quint32(edited->size() + 2), 2) + *edited;
      }
      at += 2 + length;
    }
  } catch (const Unreadable &) {
    return std::nullopt;
  }
}

bool CopyJpegEditingMetadata(const QString &from, const QString &to, KeptMetadata kept,
                             QSize pixels, bool *unreadable) {
  const std::optional<QByteArray> edited =
      EditJpegMetadata(ReadRegularFile(from, qint64(1) << 30), kept, pixels, unreadable);
  if (edited) WriteFileReplacing(to, *edited, 0666);
  return edited.has_value();
}

} // namespace varnholt
