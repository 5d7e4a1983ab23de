#pragma once

#include "processing/magick_safe_names.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace varnholt::magick {

// A file as it is on disk now: any rewrite changes one of these.
struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileKey &) const = default;
};

// Every operation of a run starts by decoding the same image, and a resize
// decodes the file that the format change decoded just before; a whole-image
// operation works on a byte-for-byte copy of the image. Decoding is most of
// the time a run takes, so the last two pictures decoded stay in
// ImageMagick's registry and are handed to the next command that reads the
// same file, or a file with the same contents, as "mpr:". The commands are
// the ones ImageMagick would run on the file, so the pixels written are the
// same. Not thread-safe: its owner serialises calls.
class DecodedCache {
public:
  explicit DecodedCache(QString prefix) : prefix_(std::move(prefix)) {}
  ~DecodedCache() { clear(); }
  DecodedCache(const DecodedCache &) = delete;
  DecodedCache &operator=(const DecodedCache &) = delete;

  void clear();

  // The registry name of the file's picture, decoding it when needed; empty
  // when it cannot or should not be kept (the command then reads the file).
  QString find(const QString &real, Call &call, std::atomic<int> &reuses);

private:
  struct Entry {
    QString path;
    FileKey key;
    QByteArray digest; // worked out when first needed
    QString registryKey;
    quint64 lastUse = 0;
  };
  QString decode(const QString &real, const FileKey &key, Call &call);

  std::vector<Entry> entries_;
  quint64 clock_ = 0;
  int next_ = 0;
  QString prefix_;
};

// The calls whose input may come from a picture decoded earlier: the ones a
// run makes. Only settings that do not change how a file is decoded may
// come before the input.
bool IsReusableConvert(const QStringList &args);

// mogrify with "-quality Q" and either "-format F" or "[-antialias] -geometry G".
struct ReusableMogrify {
  QStringList options; // for convert, before the decoded input
  QString format;      // set for a format change
};
std::optional<ReusableMogrify> AsReusableMogrify(const QStringList &args);

} // namespace varnholt::magick
