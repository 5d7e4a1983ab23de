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
#include <map>
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

// A file a pair wrote: a plain file of this user's, with no other name that
// could make it reach someone else's data.
bool OursPlainFile(int at, const QByteArray &name) {
  struct stat st {};
  return OursAt(at, name, st) && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

// Pair folder -> label, for the pairs the journal marks complete and not yet
// moved; the labels of the pairs it marks moved into place go to `moved`.
std::map<QByteArray, QByteArray> CompletePairs(int staging, QStringList &moved) {
  std::map<QByteArray, QByteArray> complete;
  const int journal =
      ::openat(staging, kJournal, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (journal < 0) return complete;
  struct stat st {};
  // A hundred thousand pairs write a few megabytes.
  if (::fstat(journal, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_size > (64 << 20)) {
    ::close(journal);
    return complete;
  }
  QFile file;
  if (!file.open(journal, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(journal);
    return complete;
  }
  static const QRegularExpression plainFolder(QStringLiteral("^w[0-9]+$"));
  for (const QByteArray &line : file.read(64 << 20).split('\n')) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() == 3 && words[0] == "done" &&
        plainFolder.match(QString::fromLatin1(words[1])).hasMatch())
      complete[words[1]] = words[2];
    if (words.size() == 2 && words[0] == "free") complete.erase(words[1]);
    if (words.size() == 3 && words[0] == "moved") {
      complete.erase(words[1]);
      moved << QString::fromLatin1(words[2]);
    }
  }
  return complete;
}

} // namespace

std::unique_lock<std::recursive_mutex> StopMovingPairs() {
  return std::unique_lock(gMovingPairs);
}

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
      // The journal says which pair folders hold a complete pair.
      for (const auto &[pair, label] : CompletePairs(staging, finished)) {
        const int work = OpenFolderAt(staging, pair, false);
        if (work < 0 && errno == ENOENT) finished << QFile::decodeName(label);
        if (!OursFolder(work)) {
          if (work >= 0) ::close(work);
          continue;
        }
        QStringList names;
        bool plain = true;
        for (const QByteArray &f : Entries(work)) {
          if (f.startsWith(".varnholt-")) continue;
          plain = plain && OursPlainFile(work, f);
          names << QFile::decodeName(f);
        }
        // Anything else in it, and the pair is not finished: removed below.
        if (plain) {
          MoveInto(work, fd, folder, names);
          finished << QFile::decodeName(label);
        }
        ::close(work);
      }
      ::close(staging);
    }
    RemoveTreeAt(fd, name);
  }
  return finished;
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
    throw Failure(kErrToolkit, "The temporary folder " + root +
                                   " cannot be used (" + QString::fromLocal8Bit(std::strerror(err)) +
                                   "): set TMPDIR to a folder you can write to");
  }
}

} // namespace varnholt
