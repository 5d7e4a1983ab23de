#include "processing/magick/decoded_cache.h"

#include "processing/magick/magick_command.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <optional>
#include <sys/stat.h>

#include <wand/MagickWand.h>

namespace varnholt::magick {

namespace {

std::optional<FileKey> KeyOf(const QString &path) {
  struct stat st {};
  if (::stat(Native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileKey{st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
                 st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

QByteArray Digest(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Blake2b_256);
  if (!hash.addData(&file)) return {};
  return hash.result();
}

} // namespace

void DecodedCache::clear() {
  for (const Entry &e : entries_)
    DeleteImageRegistry(e.registryKey.toLatin1().constData());
  entries_.clear();
}

QString DecodedCache::keep(const QString &real, Call &call) {
  const std::optional<FileKey> key = KeyOf(real);
  if (!key) return {};
  QByteArray digest;
  for (Entry &e : entries_) {
    if (e.key == *key) {
      e.lastUse = ++clock_;
      ++reuses_;
      Warn(e.warning);
      return e.registryKey;
    }
  }
  // Only a file of the same size can be a copy; hashing is cheap next to
  // decoding, but not free.
  for (Entry &e : entries_) {
    if (e.key.size != key->size) continue;
    if (e.digest.isEmpty()) {
      if (KeyOf(e.path) != e.key) continue;
      e.digest = Digest(e.path);
      if (e.digest.isEmpty() || KeyOf(e.path) != e.key) {
        e.digest.clear();
        continue;
      }
    }
    if (digest.isEmpty()) digest = Digest(real);
    if (!digest.isEmpty() && digest == e.digest && KeyOf(real) == key) {
      e.lastUse = ++clock_;
      ++reuses_;
      Warn(e.warning);
      return e.registryKey;
    }
  }
  return decode(real, *key, call);
}

QString DecodedCache::decode(const QString &real, const FileKey &key, Call &call) {
  ImageInfo *info = AcquireImageInfo();
  ExceptionInfo *exception = AcquireExceptionInfo();
  const QByteArray link = call.input(real).toUtf8();
  CopyMagickString(info->filename, link.constData(), MaxTextExtent);
  Image *image = ReadImage(info, exception);
  if (image) InheritException(exception, &image->exception); // the decoder's warnings
  // A damaged picture is not kept: the pair reads the file itself and fails.
  const bool usable = image && exception->severity < ErrorException &&
                      !DamagedWhenRead(exception) && GetImageListLength(image) == 1 &&
                      KeyOf(real) == key;
  QString registryKey, warning;
  if (usable && exception->severity >= WarningException)
    warning = call.unalias(QString::fromUtf8(exception->reason ? exception->reason : "") +
                           (exception->description
                                ? " (" + QString::fromUtf8(exception->description) + ")"
                                : QString()));
  if (usable) {
    registryKey = prefix_ + QString::number(++next_);
    if (SetImageRegistry(ImageRegistryType, registryKey.toLatin1().constData(), image, exception) ==
        MagickFalse)
      registryKey.clear();
  }
  if (image) DestroyImageList(image);
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);
  if (registryKey.isEmpty()) return {};
  if (entries_.size() >= 2) {
    auto oldest =
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
    DeleteImageRegistry(oldest->registryKey.toLatin1().constData());
    entries_.erase(oldest);
  }
  entries_.push_back({real, key, QByteArray(), registryKey, ++clock_, warning});
  Warn(warning);
  return registryKey;
}

} // namespace varnholt::magick
