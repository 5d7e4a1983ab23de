#include "processing/metadata_edit.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace varnholt {

namespace {

struct Unreadable {};

struct Span {
  qint64 from, to;
};

// A TIFF structure inside `bytes` from `base` on; every offset is the
// structure's own (from its header) and checked before it is read.
class Tiff {
public:
  Tiff(QByteArray &bytes, qint64 base) : b_(bytes), base_(base) {
    need(0, 8);
    const uchar *p = at(0);
    if (p[0] == 'I' && p[1] == 'I')
      little_ = true;
    else if (p[0] == 'M' && p[1] == 'M')
      little_ = false;
    else
      throw Unreadable{};
    if (u16(2) != 42) throw Unreadable{};
  }

  qint64 size() const { return b_.size() - base_; }
  bool fits(qint64 offset, qint64 length) const {
    return offset >= 0 && length >= 0 && offset <= size() && length <= size() - offset;
  }
  void need(qint64 offset, qint64 length) const {
    if (!fits(offset, length)) throw Unreadable{};
  }
  quint32 u16(qint64 o) const {
    need(o, 2);
    const uchar *p = at(o);
    return little_ ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
  }
  quint32 u32(qint64 o) const {
    need(o, 4);
    const uchar *p = at(o);
    return little_ ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                   : quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
  }
  void set16(qint64 o, quint32 v) {
    need(o, 2);
    uchar *p = at(o);
    p[little_ ? 0 : 1] = uchar(v), p[little_ ? 1 : 0] = uchar(v >> 8);
  }
  void set32(qint64 o, quint32 v) {
    need(o, 4);
    uchar *p = at(o);
    for (int k = 0; k < 4; ++k)
      p[little_ ? k : 3 - k] = uchar(v >> (8 * k));
  }
  uchar *at(qint64 o) const { return reinterpret_cast<uchar *>(b_.data()) + base_ + o; }

private:
  QByteArray &b_;
  qint64 base_;
  bool little_ = false;
};

struct Entry {
  qint64 at;
  quint32 tag, type, count;
  Span value; // empty when held in the entry, or when it points outside the block
};

struct Ifd {
  qint64 at = 0;
  std::vector<Entry> entries;
  qint64 nextAt() const { return at + 2 + 12 * qint64(entries.size()); }
  Span span() const { return {at, nextAt() + 4}; }
  const Entry *find(quint32 tag) const {
    for (const Entry &e : entries)
      if (e.tag == tag) return &e;
    return nullptr;
  }
};

qint64 TypeSize(quint32 type) {
  static const qint64 sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < std::size(sizes) ? sizes[type] : 0;
}

Ifd ReadIfd(const Tiff &tiff, qint64 at) {
  Ifd ifd;
  ifd.at = at;
  const qint64 count = tiff.u16(at);
  tiff.need(at, 2 + 12 * count + 4);
  for (qint64 k = 0; k < count; ++k) {
    Entry e{at + 2 + 12 * k, 0, 0, 0, {0, 0}};
    e.tag = tiff.u16(e.at), e.type = tiff.u16(e.at + 2), e.count = tiff.u32(e.at + 4);
    const qint64 size = TypeSize(e.type) * qint64(e.count);
    if (size > 4) {
      const qint64 offset = tiff.u32(e.at + 8);
      // A value outside the block (a maker's note often has one) stays as it
      // is; only what lies inside is kept track of.
      if (tiff.fits(offset, size)) e.value = {offset, offset + size};
    }
    ifd.entries.push_back(e);
  }
  return ifd;
}

enum : quint32 {
  kImageWidth = 0x0100,
  kImageLength = 0x0101,
  kStripOffsets = 0x0111,
  kOrientation = 0x0112,
  kStripByteCounts = 0x0117,
  kThumbnailOffset = 0x0201,
  kThumbnailLength = 0x0202,
  kExifIfd = 0x8769,
  kGpsIfd = 0x8825,
  kPixelXDimension = 0xA002,
  kPixelYDimension = 0xA003,
  kInteropIfd = 0xA005,
};

// The IFD an entry points to, read once: a loop of pointers is unreadable.
Ifd SubIfd(const Tiff &tiff, const Entry &e, std::set<qint64> &seen) {
  if (e.count != 1 || (e.type != 4 && e.type != 13)) throw Unreadable{};
  const qint64 at = tiff.u32(e.at + 8);
  if (!seen.insert(at).second) throw Unreadable{};
  return ReadIfd(tiff, at);
}

void Spans(const Ifd &ifd, std::vector<Span> &into) {
  into.push_back(ifd.span());
  for (const Entry &e : ifd.entries)
    if (e.value.to > e.value.from) into.push_back(e.value);
}

// The data a thumbnail IFD points to, besides its own values.
void ThumbnailData(const Tiff &tiff, const Ifd &ifd, std::vector<Span> &into) {
  const auto offsetAndLength = [&](quint32 offsetTag, quint32 lengthTag) {
    const Entry *offset = ifd.find(offsetTag), *length = ifd.find(lengthTag);
    if (!offset || !length || offset->count != 1 || length->count != 1) return;
    const auto value = [&](const Entry &e) {
      return qint64(e.type == 3 ? tiff.u16(e.at + 8) : tiff.u32(e.at + 8));
    };
    const qint64 from = value(*offset), size = value(*length);
    if (tiff.fits(from, size)) into.push_back({from, from + size});
  };
  offsetAndLength(kThumbnailOffset, kThumbnailLength);
  offsetAndLength(kStripOffsets, kStripByteCounts);
}

// Makes a size tag say `value`, as a LONG held in the entry; true if it
// said something else.
bool SetSize(Tiff &tiff, const Entry &e, quint32 value) {
  if (e.type == 4 && e.count == 1 && tiff.u32(e.at + 8) == value) return false;
  if (e.type == 3 && e.count == 1 && tiff.u16(e.at + 8) == value) return false;
  tiff.set16(e.at + 2, 4);
  tiff.set32(e.at + 4, 1);
  tiff.set32(e.at + 8, value);
  return true;
}

// Takes the entries of a tag out of their IFD: the later entries and the
// next IFD's offset move up, and the room left at the end is zeroed.
void RemoveEntries(Tiff &tiff, Ifd &ifd, quint32 tag) {
  for (size_t k = ifd.entries.size(); k-- > 0;) {
    if (ifd.entries[k].tag != tag) continue;
    const qint64 from = ifd.entries[k].at, end = ifd.nextAt() + 4;
    std::memmove(tiff.at(from), tiff.at(from + 12), size_t(end - from - 12));
    std::memset(tiff.at(end - 12), 0, 12);
    tiff.set16(ifd.at, quint32(ifd.entries.size() - 1));
    ifd.entries.erase(ifd.entries.begin() + qsizetype(k));
    for (size_t later = k; later < ifd.entries.size(); ++later)
      ifd.entries[later].at -= 12;
  }
}

bool Within(qint64 offset, const std::vector<Span> &spans) {
  return std::any_of(spans.begin(), spans.end(),
                     [&](const Span &s) { return offset >= s.from && offset < s.to; });
}

bool Overlap(const Span &a, const Span &b) { return a.from < b.to && b.from < a.to; }

std::optional<QByteArray> Edit(QByteArray bytes, qint64 base, KeptMetadata kept, QSize pixels) {
  Tiff tiff(bytes, base);
  std::set<qint64> seen;
  // Everything is read before anything is changed.
  Ifd ifd0 = ReadIfd(tiff, tiff.u32(4));
  seen.insert(ifd0.at);
  std::optional<Ifd> exif, thumbnail;
  std::vector<Span> keep{{0, 8}}, gone; // the header, whatever points into it
  Spans(ifd0, keep);
  if (const Entry *e = ifd0.find(kExifIfd)) {
    exif = SubIfd(tiff, *e, seen);
    Spans(*exif, keep);
    if (const Entry *i = exif->find(kInteropIfd)) {
      try {
        Spans(SubIfd(tiff, *i, seen), keep);
      } catch (const Unreadable &) {
        // Left as it is: it holds neither a place nor a size.
      }
    }
  }
  for (const Entry &e : ifd0.entries) {
    if (e.tag != kGpsIfd) continue;
    try {
      Spans(SubIfd(tiff, e, seen), kept == KeptMetadata::All ? keep : gone);
    } catch (const Unreadable &) {
      // Unlinked all the same where it goes; nothing of it is known to zero.
    }
  }
  // The small picture of the whole original: a crop would still show what
  // was cut away.
  const qint64 next = tiff.u32(ifd0.nextAt());
  if (next != 0 && seen.insert(next).second) {
    try {
      thumbnail = ReadIfd(tiff, next);
      Spans(*thumbnail, gone);
      ThumbnailData(tiff, *thumbnail, gone);
    } catch (const Unreadable &) {
    }
  }
  // The IFDs written to must share no byte with anything else kept, or an
  // edit of one would change another.
  // Nor may any IFD, read or not, start inside them.
  for (const Ifd *edited : {&ifd0, exif ? &*exif : nullptr}) {
    if (!edited) continue;
    const Span own = edited->span();
    int overlaps = 0;
    for (const Span &span : keep)
      overlaps += Overlap(own, span);
    for (const qint64 at : seen)
      overlaps += at != edited->at && Within(at, {own});
    if (overlaps != 1) throw Unreadable{};
  }

  bool changed = false;
  const auto sizes = [&](const Ifd &ifd, quint32 widthTag, quint32 heightTag) {
    for (const Entry &e : ifd.entries) {
      if (e.tag == widthTag) changed |= SetSize(tiff, e, quint32(pixels.width()));
      if (e.tag == heightTag) changed |= SetSize(tiff, e, quint32(pixels.height()));
    }
  };
  sizes(ifd0, kImageWidth, kImageLength);
  if (exif) sizes(*exif, kPixelXDimension, kPixelYDimension);
  if (next != 0) {
    tiff.set32(ifd0.nextAt(), 0);
    changed = true;
  }
  if (kept != KeptMetadata::All && ifd0.find(kGpsIfd)) {
    RemoveEntries(tiff, ifd0, kGpsIfd);
    changed = true;
  }
  if (!changed) return std::nullopt;
  // What went is zeroed where nothing kept shares it; the zeros at the end
  // go, so the block is as small as what it still holds.
  for (const Span &span : gone)
    for (qint64 o = span.from; o < span.to; ++o)
      if (!Within(o, keep)) *tiff.at(o) = 0;
  qint64 end = 8;
  for (const Span &span : keep)
    end = std::max(end, span.to);
  qint64 last = tiff.size();
  while (last > end && *tiff.at(last - 1) == 0)
    --last;
  bytes.truncate(base + last);
  return bytes;
}

qint64 TiffStart(const QByteArray &exif) {
  return exif.startsWith(kExifHeader) ? kExifHeader.size() : 0;
}

} // namespace

std::optional<QByteArray> EditExif(const QByteArray &exif, KeptMetadata kept, QSize pixels,
                                   bool *unreadable) {
  if (kept == KeptMetadata::ColourProfile) return OrientationOnlyExif(ExifOrientation(exif));
  try {
    return Edit(exif, TiffStart(exif), kept, pixels);
  } catch (const Unreadable &) {
    if (unreadable) *unreadable = true;
    return QByteArray();
  }
}

int ExifOrientation(const QByteArray &exif) {
  QByteArray bytes = exif;
  try {
    const Tiff tiff(bytes, TiffStart(bytes));
    const Ifd ifd0 = ReadIfd(tiff, tiff.u32(4));
    const Entry *e = ifd0.find(kOrientation);
    if (!e || e->type != 3 || e->count != 1) return 0;
    const quint32 value = tiff.u16(e->at + 8);
    return value >= 1 && value <= 8 ? int(value) : 0;
  } catch (const Unreadable &) {
    return 0;
  }
}

QByteArray OrientationOnlyExif(int orientation) {
  if (orientation < 2 || orientation > 8) return {};
  // Big-endian TIFF: header, an IFD of one SHORT entry, no next IFD.
  const char tiff[] = {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                       0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, char(orientation),
                       0,    0,    0, 0,  0, 0};
  return kExifHeader + QByteArray(tiff, sizeof tiff);
}

} // namespace varnholt
