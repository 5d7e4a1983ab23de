// Sweeping what processes that are gone left behind: their hidden staging
// folders in an output folder (complete pairs finished first) and their
// scratch folders in the temporary folder.
#include "processing/pair_stage.h"
#include "processing/staging_files.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/owner_tag.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnholt {

using namespace staging_files;

namespace {

bool Mine(const QString &name, qint64 onlyPid) {
  const QString tag = OwnerTagOf(name);
  if (tag.isEmpty()) return false;
  if (onlyPid > 0 && OwnerPid(tag) != onlyPid) return false;
  // A process ending on a signal sweeps its own.
  if (onlyPid == ::getpid() && tag == OwnerTag()) return true;
  return OwnerIsGone(tag);
}

// Only what this user made is ours to remove or finish: in a shared folder
// another user could plant a leftover under any name. Checked without
// following a link, on the handle that is then used where there is one.
bool OursAt(int at, const QByteArray &name, struct stat &st) {
  return ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == ::geteuid();
}

bool OursFolder(int fd) {
  struct stat st {};
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// What the journal says of the pairs in a staging folder.
Journal JournalIn(int staging) {
  const int journal = ::openat(staging, kJournal, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (journal < 0) return {};
  struct stat st {};
  QFile file;
  // A hundred thousand pairs write a few megabytes.
  if (::fstat(journal, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_size > (64 << 20) ||
      !file.open(journal, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(journal);
    return {};
  }
  return ReadJournal(file.read(64 << 20));
}

} // namespace

std::unique_lock<std::recursive_mutex> StopMovingPairs() { return std::unique_lock(gMovingPairs); }

QStringList SweepLeftovers(const QString &folder, qint64 onlyPid) {
  const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  const QStringList finished = SweepLeftoversAt(fd, folder, onlyPid);
  ::close(fd);
  return finished;
}
QStringList SweepLeftoversAt(int fd, const QString &folder, qint64 onlyPid) {
  const std::lock_guard moving(gMovingPairs);
  QStringList finished;
  for (const QByteArray &name : Entries(fd)) {
    if (!name.startsWith(".varnholt-") || !Mine(QFile::decodeName(name), onlyPid)) continue;
    struct stat st {};
    if (!OursAt(fd, name, st)) continue;
    if (S_ISDIR(st.st_mode)) {
      const int staging = OpenFolderAt(fd, name, false);
      if (!OursFolder(staging)) {
        if (staging >= 0) ::close(staging);
        continue;
      }
      // The journal says which pair folders hold a complete pair, and under
      // which names; whatever else is in them goes with the staging folder.
      const Journal journal = JournalIn(staging);
      finished << journal.moved;
      bool keep = false;
      for (const JournalPair &pair : journal.pending) {
        const int work = OpenFolderAt(staging, pair.folder, false);
        if (work < 0 && errno == ENOENT) {
          finished << QFile::decodeName(pair.label); // put in place before it went
          continue;
        }
        if (!OursFolder(work)) {
          if (work >= 0) ::close(work);
          continue;
        }
        bool asideLeft = false;
        if (!PutInPlace(staging, pair.folder, work, fd, folder, pair.names, asideLeft))
          finished << QFile::decodeName(pair.label);
        keep = keep || asideLeft;
        ::close(work);
      }
      ::close(staging);
      // Earlier files of the user's that could not be put back stay for the
      // next sweep, and the journal that says where they belong with them.
      if (keep) continue;
    }
    RemoveTreeAt(fd, name);
  }
  return finished;
}

QStringList SweepSubfolderLeftovers(int handle, const QString &folder,
                                    const QStringList &subfolders, qint64 onlyPid) {
  const int top = handle >= 0
                      ? ::dup(handle)
                      : ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (top < 0) return {};
  QStringList finished;
  for (const QString &subfolder : subfolders) {
    int fd = ::dup(top);
    for (const QString &part : subfolder.split(u'/')) {
      const int next =
          fd >= 0 && !part.startsWith(u'.') ? OpenFolderAt(fd, Native(part), false) : -1;
      if (fd >= 0) ::close(fd);
      fd = next;
    }
    if (fd < 0) continue; // never made, or not ours to reach
    finished << SweepLeftoversAt(fd, SubfolderOf(folder, subfolder), onlyPid);
    ::close(fd);
  }
  ::close(top);
  return finished;
}

namespace {
void SweepBelow(int fd, const QString &folder, int depth) {
  if (depth > 64) return;
  for (const QByteArray &name : Entries(fd)) {
    if (name.startsWith('.')) continue;
    const int sub = OpenFolderAt(fd, name, false);
    if (sub < 0) continue;
    const QString path = SubfolderOf(folder, QFile::decodeName(name));
    SweepLeftoversAt(sub, path);
    SweepBelow(sub, path, depth + 1);
    ::close(sub);
  }
}
} // namespace

void SweepLeftoversBelow(const QString &folder) {
  const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  SweepBelow(fd, PlanFolder(folder), 0);
  ::close(fd);
}

void SweepScratchLeftovers(qint64 onlyPid) {
  const QString root = ScratchRoot();
  const int fd = ::open(Native(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  for (const QByteArray &name : Entries(fd))
    if (name.startsWith("varnholt-") && Mine(QFile::decodeName(name), onlyPid) &&
        OursAt(fd, name, st) && S_ISDIR(st.st_mode))
      RemoveTreeAt(fd, name);
  ::close(fd);
}

QString ScratchRoot() {
  // The folder itself must not hold anything ImageMagick would interpret.
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._-]+$"));
  const QString temp = QDir::tempPath();
  return plain.match(temp).hasMatch() ? temp : QStringLiteral("/tmp");
}

void RequireScratchRoot() {
  // ImageMagick's policy folder goes into the temporary folder as Qt names
  // it, the scratch folders into ScratchRoot(): both must take a folder.
  for (const QString &root : {QDir::tempPath(), ScratchRoot()}) {
    QByteArray name = Native(root + "/varnholt-" + OwnerTag() + "-check-XXXXXX");
    if (::mkdtemp(name.data())) {
      ::rmdir(name.constData());
      continue;
    }
    const int err = errno;
    throw Failure(kErrToolkit, "The temporary folder " + root + " cannot be used (" +
                                   QString::fromLocal8Bit(std::strerror(err)) +
                                   "): set TMPDIR to a folder you can write to");
  }
}

} // namespace varnholt
