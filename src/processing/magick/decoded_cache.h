#pragma once

#include "processing/magick/magick_safe_names.h"

#include <QByteArray>
#include <QString>

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

// Every operation of a run starts by decoding the same image. Decoding is
// most of the time a run takes, so the last two pictures decoded stay in
// ImageMagick's registry and are handed, as "mpr:", to the next pair that
// reads the same file, or a file with the same contents, and says it may be
// given one. The commands are the ones ImageMagick would run on the file, so
// the pixels written are the same. Not thread-safe: its owner serialises calls.
class DecodedCache {
public:
  explicit DecodedCache(QString prefix) : prefix_(std::move(prefix)) {}
  ~DecodedCache() { clear(); }
  DecodedCache(const DecodedCache &) = delete;
  DecodedCache &operator=(const DecodedCache &) = delete;

  void clear();

  // The registry name ("mpr:" + it) of the file's picture: one kept from an
  // earlier call when it has the same contents, or else decoded now and kept
  // for the calls after. Empty when it cannot or should not be kept (several
  // frames, an unreadable file); the command then reads the file itself.
  QString keep(const QString &real, Call &call);

  // How many calls were handed a picture decoded before.
  int reuses() const { return reuses_; }

private:
  struct Entry {
    QString path;
    FileKey key;
    QByteArray digest; // worked out when first needed
    QString registryKey;
    quint64 lastUse = 0;
    QString warning; // from decoding; every reuse warns again
  };
  QString decode(const QString &real, const FileKey &key, Call &call);

  std::vector<Entry> entries_;
  quint64 clock_ = 0;
  int next_ = 0;
  int reuses_ = 0;
  QString prefix_;
};

} // namespace varnholt::magick
