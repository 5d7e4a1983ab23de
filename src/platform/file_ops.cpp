#include "platform/file_ops.h"

#include "platform/failure.h"
#include "platform/owner_tag.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace {
QByteArray Native(const QString &path) { return QFile::encodeName(path); }

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

QString FolderOf(const QString &path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  return slash < 0 ? QStringLiteral(".") : path.left(slash == 0 ? 1 : slash);
}

// Writes all of it, past short writes and interruptions; errno on failure.
bool WriteAll(int fd, const char *data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t put = ::write(fd, data + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

// Closes the hidden file and puts it in place of `to`; on any failure the
// hidden file goes and `to` keeps what it held.
void CloseAndRename(Fd &out, const QString &temp, const QString &to) {
  if (::close(out.release()) != 0 ||
      std::rename(Native(temp).constData(), Native(to).constData()) != 0) {
    const int err = errno;
    ::unlink(Native(temp).constData());
    throw Failure::fromErrno(err, to);
  }
}
} // namespace

QString UniqueHiddenName(const QString &folder, const QString &extension) {
  for (;;) {
    QString name = folder + (folder.endsWith(u'/') ? "" : "/") + ".varnholt-" + OwnerTag() + u'-' +
                   QString::number(QRandomGenerator::global()->generate64(), 36);
    if (!extension.isEmpty()) name += u'.' + extension;
    // Only a name that is taken calls for another try; any other trouble
    // with the folder shows up, with its own errno, when the file is created.
    struct stat st {};
    if (::lstat(Native(name).constData(), &st) != 0) return name;
  }
}

QByteArray ReadRegularFile(const QString &path, qint64 limit) {
  // Not blocking, so that opening a FIFO comes back at once, to be refused.
  Fd in(::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (in.get() < 0) throw Failure::fromErrno(errno, path);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) throw Failure::fromErrno(errno, path);
  if (S_ISDIR(st.st_mode)) throw Failure::fromErrno(EISDIR, path);
  if (!S_ISREG(st.st_mode)) throw Failure(kErrNotAFile, "Not a regular file: " + path);
  if (st.st_size > limit)
    throw Failure(kErrNotAFile, QStringLiteral("Too large, %1 bytes where at most %2 are read: %3")
                                    .arg(st.st_size)
                                    .arg(limit)
                                    .arg(path));
  QByteArray bytes;
  char buffer[1 << 16];
  // The file may grow while it is read: no more than the limit is taken.
  while (bytes.size() <= limit) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Failure::fromErrno(errno, path);
    }
    if (got == 0) return bytes;
    bytes.append(buffer, got);
  }
  throw Failure(kErrNotAFile, "Grew while being read: " + path);
}

bool IsSameFile(const QString &a, const QString &b) {
  struct stat sa {
  }, sb{};
  if (::stat(Native(a).constData(), &sa) != 0 || ::stat(Native(b).constData(), &sb) != 0)
    return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void RenameReplacing(const QString &from, const QString &to) {
  if (std::rename(Native(from).constData(), Native(to).constData()) != 0)
    throw Failure::fromErrno(errno, to);
}

void WriteFileReplacing(const QString &to, const QByteArray &bytes, unsigned mode) {
  // The hidden name ends in ".part" so that nothing scanning the folder for
  // its own kind of file takes it up half written.
  const QString temp = UniqueHiddenName(FolderOf(to), QStringLiteral("part"));
  Fd out(::open(Native(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                static_cast<mode_t>(mode)));
  if (out.get() < 0) throw Failure::fromErrno(errno, to);
  const auto fail = [&](int err) {
    ::close(out.release());
    ::unlink(Native(temp).constData());
    return Failure::fromErrno(err, to);
  };
  if (!WriteAll(out.get(), bytes.constData(), static_cast<size_t>(bytes.size()))) throw fail(errno);
  if (::fsync(out.get()) != 0) throw fail(errno);
  CloseAndRename(out, temp, to);
}

void CopyFileReplacing(const QString &from, const QString &to) {
  Fd in(::open(Native(from).constData(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw Failure::fromErrno(errno, from);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) throw Failure::fromErrno(errno, from);

  const QString temp = UniqueHiddenName(FolderOf(to), QString());
  // The copy is the program's own result, which later steps rewrite: a
  // read-only original must not make it read-only too.
  Fd out(::open(Native(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                (st.st_mode & 0777) | S_IWUSR));
  if (out.get() < 0) throw Failure::fromErrno(errno, to);
  const auto fail = [&](int err) {
    ::close(out.release());
    ::unlink(Native(temp).constData());
    return Failure::fromErrno(err, to);
  };
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    if (got == 0) break;
    if (!WriteAll(out.get(), buffer, static_cast<size_t>(got))) throw fail(errno);
  }
  CloseAndRename(out, temp, to);
}

void RemoveTreeAt(int folder, const QByteArray &name) {
  struct stat st {};
  if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlinkat(folder, name.constData(), 0);
    return;
  }
  // Anything may still appear in it while it goes (a tool finishing a write):
  // a few rounds, then what is left stays.
  for (int round = 0; round < 5; ++round) {
    const int fd =
        ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
      ::close(fd);
      return;
    }
    std::vector<QByteArray> entries;
    while (const dirent *e = ::readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        entries.emplace_back(e->d_name);
    for (const QByteArray &entry : entries)
      RemoveTreeAt(::dirfd(dir), entry);
    ::closedir(dir);
    if (::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) return;
  }
}

} // namespace varnholt
