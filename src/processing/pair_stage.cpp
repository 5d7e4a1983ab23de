#include "processing/pair_stage.h"
#include "processing/staging_files.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/owner_tag.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace staging_files {

std::recursive_mutex gMovingPairs;

int OpenFolderAt(int at, const QByteArray &name, bool follow) {
  return ::openat(at, name.constData(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

std::vector<QByteArray> Entries(int folder) {
  std::vector<QByteArray> names;
  const int fd = ::dup(folder);
  if (fd < 0) return names;
  DIR *dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return names;
  }
  ::rewinddir(dir);
  while (const dirent *e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  ::closedir(dir);
  return names;
}

} // namespace staging_files

using namespace staging_files;

namespace {

QString ProcFdPath(int fd) {
  const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
  struct stat viaProc {
  }, direct{};
  if (::stat(Native(path).constData(), &viaProc) == 0 && ::fstat(fd, &direct) == 0 &&
      viaProc.st_dev == direct.st_dev && viaProc.st_ino == direct.st_ino)
    return path;
  return {};
}

} // namespace

OutputFolder::OutputFolder(const QString &path) : path_(path) {
  while (path_.size() > 1 && path_.endsWith(u'/'))
    path_.chop(1);
  fd_ = ::open(Native(path_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw Failure::fromErrno(errno, path);
}

OutputFolder::OutputFolder(const QString &path, int handle) : path_(path), fd_(handle) {}

OutputFolder::~OutputFolder() {
  for (const Work &work : free_)
    ::close(work.fd);
  if (journalFd_ >= 0) ::close(journalFd_);
  if (stagingFd_ >= 0) {
    ::close(stagingFd_);
    // Earlier files of the user's that could not be put back wait in it for
    // the next run's sweep.
    if (!keep_) RemoveTreeAt(fd_, stagingName_);
  }
  ::close(fd_);
}

void OutputFolder::openStaging() {
  if (stagingFd_ >= 0) return;
  // A process sweeping its own leftovers as it ends would otherwise miss a
  // staging folder made on another of its threads just after it looked.
  const std::lock_guard moving(gMovingPairs);
  for (int attempt = 0;; ++attempt) {
    const QByteArray name = Native(".varnholt-" + OwnerTag() + u'-' +
                                   QString::number(QRandomGenerator::global()->generate64(), 36));
    if (::mkdirat(fd_, name.constData(), 0700) != 0) {
      if (errno == EEXIST && attempt < 16) continue;
      throw Failure::fromErrno(errno, path_);
    }
    stagingFd_ = OpenFolderAt(fd_, name, false);
    if (stagingFd_ < 0) {
      const int err = errno;
      ::unlinkat(fd_, name.constData(), AT_REMOVEDIR);
      throw Failure::fromErrno(err, path_);
    }
    stagingName_ = name;
    break;
  }
  // Without its journal no pair may go in: a crash in the middle would leave
  // nobody knowing which files to finish and which earlier ones to put back.
  journalFd_ = ::openat(stagingFd_, kJournal, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (journalFd_ < 0) throw Failure::fromErrno(errno, path_);
  // Through the process's own handle when there is one: ImageMagick then
  // writes into this very folder whatever happens to the path meanwhile.
  toolsStaging_ = ProcFdPath(stagingFd_);
  if (toolsStaging_.isEmpty()) toolsStaging_ = path_ + u'/' + QFile::decodeName(stagingName_);
}

std::unique_ptr<PairStage> OutputFolder::stage(QString label) {
  openStaging();
  if (label.isEmpty()) label = QString::number(pairs_ + 1);
  return std::make_unique<PairStage>(*this, Native(label));
}

QByteArray OutputFolder::handOverPlace() {
  openStaging();
  return stagingName_;
}

int OutputFolder::openHiddenFolder(const QByteArray &name) const {
  const int fd = OpenFolderAt(fd_, name, false);
  if (fd < 0) throw Failure::fromErrno(errno, path_ + u'/' + QFile::decodeName(name));
  return fd;
}

std::unique_ptr<PairStage> OutputFolder::adopt(const QByteArray &name, const QString &label) {
  openStaging();
  const int fd = OpenFolderAt(stagingFd_, name, false);
  if (fd < 0) throw Failure::fromErrno(errno, path_);
  return std::make_unique<PairStage>(*this, Native(label), fd, name);
}

std::unique_ptr<PairStage> OutputFolder::adoptFrom(OutputFolder &from, const QByteArray &name,
                                                   const QString &label) {
  openStaging();
  from.openStaging();
  // Not marked done anywhere yet: a crash on either side of the move leaves
  // a pair folder that the sweep removes, not half a pair.
  if (::renameat(from.stagingFd_, name.constData(), stagingFd_, name.constData()) != 0)
    throw Failure::fromErrno(errno, path_);
  return adopt(name, label);
}

// Pair folders are used again and again: on some disks making and removing a
// folder for every pair costs more than the pair's own bookkeeping.
OutputFolder::Work OutputFolder::takeWorkFolder() {
  if (!free_.empty()) {
    const Work work = free_.back();
    free_.pop_back();
    return work;
  }
  const QByteArray name = "w" + QByteArray::number(++pairs_);
  if (::mkdirat(stagingFd_, name.constData(), 0700) != 0 && errno != EEXIST)
    throw Failure::fromErrno(errno, path_);
  const int fd = OpenFolderAt(stagingFd_, name, false);
  if (fd < 0) throw Failure::fromErrno(errno, path_);
  return {name, fd};
}

void OutputFolder::giveBack(const Work &work) {
  const std::vector<QByteArray> left = Entries(work.fd);
  for (const QByteArray &entry : left)
    RemoveTreeAt(work.fd, entry);
  if (left.empty() || Entries(work.fd).empty())
    free_.push_back(work);
  else
    ::close(work.fd); // stays until the run's end
}

bool OutputFolder::note(const QByteArray &line) {
  // One write to a file opened for appending lands whole, or is cut short
  // by a full disk. A line cut short has no end, and nothing more is written
  // after it that could run on from it into a line that reads as another.
  if (journalErrno_ != 0) {
    errno = journalErrno_;
    return false;
  }
  const ssize_t written = ::write(journalFd_, line.constData(), size_t(line.size()));
  if (written == ssize_t(line.size())) return true;
  journalErrno_ = written < 0 ? errno : ENOSPC;
  errno = journalErrno_;
  return false;
}

PairStage::PairStage(OutputFolder &folder, const QByteArray &label)
    : folder_(folder), label_(label), work_(folder.takeWorkFolder()) {
  toolsPath_ = folder_.toolsStaging_ + u'/' + QFile::decodeName(work_.name);
}

PairStage::PairStage(OutputFolder &folder, const QByteArray &label, int handedFd,
                     const QByteArray &handed)
    : folder_(folder), label_(label), work_{handed, handedFd} {
  toolsPath_ = folder_.toolsStaging_ + u'/' + QFile::decodeName(work_.name);
}

PairStage::~PairStage() {
  if (work_.fd < 0) return;
  // A retired folder stays as the journal says it is until the run's end.
  if (retired_)
    ::close(work_.fd);
  else
    folder_.giveBack(work_);
}

void PairStage::handOver(int into, const QByteArray &name) {
  if (::renameat(folder_.stagingFd_, work_.name.constData(), into, name.constData()) != 0)
    throw Failure::fromErrno(errno, folder_.path_);
  ::close(work_.fd);
  work_.fd = -1;
}

QString PairStage::unstaged(QString text) const {
  return text.replace(toolsPath_ + u'/', folder_.path_ + u'/');
}

void PairStage::commit(const QStringList &names) {
  std::vector<QByteArray> present;
  for (const QString &text : names) {
    const QByteArray name = Native(text);
    struct stat st {};
    if (::fstatat(work_.fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A folder under the final name would stop the move half-way: found now,
    // nothing has moved yet.
    if (::fstatat(folder_.fd_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode))
      throw Failure::fromErrno(EISDIR, folder_.path_ + u'/' + text);
    if (std::find(present.begin(), present.end(), name) == present.end()) present.push_back(name);
  }
  if (present.empty()) return;
  // From here on the pair is complete: a process that finds its folder after
  // we are gone puts these names, and only these, into place.
  const std::lock_guard moving(gMovingPairs);
  if (!folder_.note(DoneLine(work_.name, label_, present)))
    throw Failure::fromErrno(errno, folder_.path_);
  bool asideLeft = false;
  const std::optional<Failure> failure = PutInPlace(folder_.stagingFd_, work_.name, work_.fd,
                                                    folder_.fd_, folder_.path_, present, asideLeft);
  if (asideLeft) {
    // The journal still says done: the next sweep puts the pair in or its
    // earlier files back, and until then nothing here may go.
    folder_.keep_ = retired_ = true;
    throw *failure;
  }
  // A process killed before it could say how the pair ended leaves the
  // journal to say it was done, and a sweep finishes it. A pair folder the
  // journal cannot be told about is not used again.
  if (!folder_.note(failure ? FreeLine(work_.name) : MovedLine(work_.name, label_)))
    retired_ = true;
  if (failure) throw *failure;
}

OutputFolder &RunFiles::folder(const QString &path) {
  std::unique_ptr<OutputFolder> &slot = folders_[path];
  if (!slot) slot = std::make_unique<OutputFolder>(path);
  return *slot;
}

OutputFolder &RunFiles::subfolder(const QString &top, const QString &subfolder) {
  const QString path = SubfolderOf(top, subfolder);
  if (subfolder.isEmpty()) return folder(path);
  if (const auto at = folders_.find(path); at != folders_.end() && at->second) return *at->second;
  int fd = ::dup(folder(PlanFolder(top)).handle());
  QString reached = PlanFolder(top);
  for (const QString &part : subfolder.split(u'/')) {
    reached = SubfolderOf(reached, part);
    const QByteArray name = Native(part);
    int next = -1;
    if (fd >= 0 && !part.isEmpty() && part != u'.' && part != QLatin1String("..")) {
      if (::mkdirat(fd, name.constData(), 0777) != 0 && errno != EEXIST) {
        const int err = errno;
        ::close(fd);
        throw Failure::fromErrno(err, reached);
      }
      next = OpenFolderAt(fd, name, false);
    } else {
      errno = fd < 0 ? errno : EINVAL;
    }
    const int err = errno;
    if (fd >= 0) ::close(fd);
    if (next < 0) throw Failure::fromErrno(err, reached);
    fd = next;
  }
  std::unique_ptr<OutputFolder> &slot = folders_[path];
  slot = std::make_unique<OutputFolder>(path, fd);
  // A folder's images come one after another: a tree of thousands of
  // folders must not keep a few handles open for every one of them. No pair
  // of this thread is under way in an earlier one by now.
  subfolders_.push_back(path);
  if (subfolders_.size() > 8) {
    folders_.erase(subfolders_.front());
    subfolders_.pop_front();
  }
  return *slot;
}

void RunFiles::useHandle(const QString &path, int handle) {
  folders_[path] = std::make_unique<OutputFolder>(path, handle);
}

QStringList StagedNames(const PairStage &stage, const QString &target) {
  const QString stem = Extension(target).isEmpty() ? target : Stem(target);
  QStringList names;
  for (const QString &name : QDir(stage.file(QString())).entryList(QDir::Files | QDir::Hidden))
    if (name.startsWith(stem)) names << name;
  return names;
}

} // namespace varnholt
