#include "processing/magick/magick_safe_names.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/owner_tag.h"
#include "processing/pair_stage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace varnholt::magick {

namespace {

// An extension ImageMagick may see: letters and digits only.
QString SafeExtension(const QString &path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot <= 0) return QString();
  const QString ext = name.mid(dot + 1);
  return IsPlainWord(ext) ? ext : QString();
}

QString WithoutExtension(const QString &path, const QString &extension) {
  return extension.isEmpty() ? path : path.left(path.size() - extension.size() - 1);
}

// Each toolkit's safe names live in a scratch folder of its own. They go with
// their owner; a process that was killed leaves them to the next run, which
// can tell from their names that it is gone.
std::mutex gScratchMutex;
int gToolkits = 0; // under the mutex
std::unique_ptr<QTemporaryDir> gMagickScratch;

QString Named(const QString &stem, const QString &ext) {
  return ext.isEmpty() ? stem : stem + "." + ext;
}

// A failure names the user's file or folder (`shown`), never the link.
void MakeLink(const QString &target, const QString &link, const QString &shown) {
  if (::symlink(Native(target).constData(), Native(link).constData()) != 0)
    throw Failure::fromErrno(errno, shown);
}

} // namespace

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

bool IsPlainWord(const QString &text) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
  return plain.match(text).hasMatch();
}

QString ScratchTemplate() { return ScratchRoot() + "/varnholt-" + OwnerTag() + "-XXXXXX"; }

void HoldMagickScratch() {
  std::lock_guard lock(gScratchMutex);
  if (gToolkits++ > 0 && gMagickScratch && gMagickScratch->isValid()) return;
  // No toolkit, so no ImageMagick call, is under way while this changes.
  gMagickScratch = std::make_unique<QTemporaryDir>(ScratchTemplate());
  if (gMagickScratch->isValid())
    qputenv("MAGICK_TEMPORARY_PATH", QFile::encodeName(gMagickScratch->path()));
}

void ReleaseMagickScratch() {
  std::lock_guard lock(gScratchMutex);
  if (--gToolkits == 0) gMagickScratch.reset();
}

Call::Call(const QString &scratch, int number) : folder_(scratch + "/c" + QString::number(number)) {
  if (!QDir().mkpath(folder_)) throw Failure::fromErrno(errno, folder_);
}

Call::~Call() {
  for (const QString &path : cleanup_)
    ::unlink(Native(path).constData());
  QDir().rmdir(folder_);
}

QString Call::input(const QString &real) {
  // Asked again for the same file (after the decoded-picture path gave
  // up on it), the same link serves.
  for (const auto &[safe, name] : aliases_)
    if (name == real && safe.startsWith(folder_ + "/in")) return safe;
  const QString absolute = QFileInfo(real).absoluteFilePath();
  // ImageMagick takes a link to nothing for a file its policy refuses: a file
  // gone since it was listed, or one whose path is too long to link to, gets
  // its own reason.
  struct stat st {};
  if (::stat(Native(absolute).constData(), &st) != 0) throw Failure::fromErrno(errno, real);
  const QString ext = SafeExtension(absolute);
  const QString link = folder_ + "/in" + (ext.isEmpty() ? QString() : "." + ext);
  MakeLink(absolute, link, real);
  cleanup_ << link;
  aliases_.push_back({link, real});
  return link;
}

Call::Output Call::output(const QString &real) {
  Output out;
  out.real = QFileInfo(real).absoluteFilePath();
  out.extension = SafeExtension(out.real);
  out.realStem = WithoutExtension(out.real, out.extension);
  const QString folder = QFileInfo(out.real).absolutePath();
  out.hiddenStem = WithoutExtension(UniqueHiddenName(folder, out.extension), out.extension);
  // ImageMagick's message for a folder it cannot write to carries the errno
  // of a later call ("No such file or directory"): trying the name first
  // gives the real reason.
  const QByteArray probe = Native(Named(out.hiddenStem, out.extension));
  const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw Failure::fromErrno(errno, out.real);
  ::close(fd);
  // Left standing, the empty probe would pass for what ImageMagick wrote.
  if (::unlink(probe.constData()) != 0) throw Failure::fromErrno(errno, out.real);
  const QString folderLink = folder_ + "/out";
  MakeLink(folder, folderLink, out.real);
  cleanup_ << folderLink;
  out.seenStem = folderLink + "/" + QFileInfo(out.hiddenStem).fileName();
  aliases_.push_back({out.seenStem, out.realStem});
  aliases_.push_back({out.hiddenStem, out.realStem});
  return out;
}

QString Call::unalias(QString text) const {
  for (const auto &[safe, real] : aliases_)
    text.replace(safe, real);
  return text;
}

QString Named(const Call::Output &out, const QString &ext) { return Named(out.hiddenStem, ext); }

QString SeenName(const Call::Output &out) {
  return out.extension.isEmpty() ? out.seenStem : out.seenStem + "." + out.extension;
}

QStringList Written(const Call::Output &out, const QString &expected) {
  if (QFileInfo::exists(expected)) return {expected};
  QDir folder(QFileInfo(out.hiddenStem).absolutePath());
  QStringList found;
  const QString stem = QFileInfo(out.hiddenStem).fileName();
  for (const QString &name :
       folder.entryList({stem + "*"}, QDir::Files | QDir::Hidden | QDir::System))
    if (!name.endsWith(u'~')) found << folder.absoluteFilePath(name);
  return found;
}

void RemoveHidden(const Call::Output &out) {
  QDir folder(QFileInfo(out.hiddenStem).absolutePath());
  const QString stem = QFileInfo(out.hiddenStem).fileName();
  for (const QString &name :
       folder.entryList({stem + "*"}, QDir::Files | QDir::Hidden | QDir::System))
    ::unlink(Native(folder.absoluteFilePath(name)).constData());
}

void RenameWritten(const Call::Output &out, const QStringList &written) {
  for (const QString &path : written)
    RenameReplacing(path, out.realStem + path.mid(out.hiddenStem.size()));
}

} // namespace varnholt::magick
