#include "operations/file_listing.h"

#include "platform/paths.h"

#include "platform/failure.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace {

const int kErrBadPattern = 93;

struct Element {
  enum Kind { Literal, AnyOne, AnyRun, Digit, Set } kind;
  QChar literal;
  bool negate = false;
  std::vector<std::pair<QChar, QChar>> ranges = {};

  bool matches(QChar c) const {
    switch (kind) {
    case Literal: return c == literal;
    case AnyOne: return true;
    case Digit: return c >= u'0' && c <= u'9';
    case Set: {
      const bool in = std::any_of(ranges.begin(), ranges.end(),
                                  [c](const auto &r) { return c >= r.first && c <= r.second; });
      return in != negate;
    }
    case AnyRun: return true;
    }
    return false;
  }
};

Failure BadPattern() { return Failure(kErrBadPattern, QStringLiteral("Invalid pattern string")); }

std::vector<Element> Compile(const QString &pattern) {
  std::vector<Element> elements;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'?') {
      elements.push_back({Element::AnyOne, {}});
    } else if (c == u'*') {
      if (elements.empty() || elements.back().kind != Element::AnyRun)
        elements.push_back({Element::AnyRun, {}});
    } else if (c == u'#') {
      elements.push_back({Element::Digit, {}});
    } else if (c == u'[') {
      const qsizetype close = pattern.indexOf(u']', i + 1);
      if (close < 0) throw BadPattern();
      QString list = pattern.mid(i + 1, close - i - 1);
      i = close;
      if (list.isEmpty()) continue; // "[]" stands for nothing at all
      Element set{Element::Set, {}};
      if (list.startsWith(u'!')) {
        set.negate = true;
        list.remove(0, 1);
      }
      for (qsizetype k = 0; k < list.size(); ++k) {
        if (k + 2 < list.size() && list[k + 1] == u'-') {
          if (list[k] > list[k + 2]) throw BadPattern();
          set.ranges.push_back({list[k], list[k + 2]});
          k += 2;
        } else {
          set.ranges.push_back({list[k], list[k]});
        }
      }
      elements.push_back(set);
    } else {
      elements.push_back({Element::Literal, c});
    }
  }
  return elements;
}

} // namespace

bool MatchesPattern(const QString &text, const QString &pattern) {
  const std::vector<Element> elements = Compile(pattern);
  // Every element but * takes exactly one character, so the classic
  // backtrack-to-the-last-star walk is enough and never quadratic in practice.
  qsizetype t = 0, e = 0, starElement = -1, starText = 0;
  const qsizetype n = text.size(), m = static_cast<qsizetype>(elements.size());
  while (t < n) {
    if (e < m && elements[e].kind == Element::AnyRun) {
      starElement = e++;
      starText = t;
    } else if (e < m && elements[e].matches(text[t])) {
      ++e;
      ++t;
    } else if (starElement >= 0) {
      e = starElement + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (e < m && elements[e].kind == Element::AnyRun)
    ++e;
  return e == m;
}

bool IsListedImage(const QString &fileName, const QString &pattern, bool inverse) {
  // The extension follows the last dot: "2024.06.01 wedding.jpg" is a JPEG
  // named "2024.06.01 wedding". A name that starts with a dot is hidden.
  const qsizetype dot = fileName.lastIndexOf(u'.');
  if (dot <= 0 || fileName.startsWith(u'.')) return false;
  const QString extension = fileName.mid(dot + 1);
  bool match = pattern.isEmpty() || MatchesPattern(fileName.left(dot), pattern);
  if (inverse) match = !match;
  return match && kImageExtensions.contains(u'|' + extension + u'|', Qt::CaseInsensitive);
}

namespace {
bool NameLess(QStringView a, QStringView b) {
  const int folded = a.compare(b, Qt::CaseInsensitive);
  return folded != 0 ? folded < 0 : a < b;
}
} // namespace

bool ImageNameLess(const QString &a, const QString &b) {
  const qsizetype slashA = a.lastIndexOf(u'/'), slashB = b.lastIndexOf(u'/');
  if (slashA < 0 && slashB < 0) return NameLess(a, b);
  // Folder by folder, a folder before what lies below it: the order in which
  // the tree is walked, so a name inserted later finds the same place.
  const QList<QStringView> folderA =
      QStringView(a).left(std::max<qsizetype>(slashA, 0)).split(u'/');
  const QList<QStringView> folderB =
      QStringView(b).left(std::max<qsizetype>(slashB, 0)).split(u'/');
  const qsizetype depthA = slashA < 0 ? 0 : folderA.size(),
                  depthB = slashB < 0 ? 0 : folderB.size();
  for (qsizetype i = 0; i < std::min(depthA, depthB); ++i) {
    if (NameLess(folderA[i], folderB[i])) return true;
    if (NameLess(folderB[i], folderA[i])) return false;
  }
  if (depthA != depthB) return depthA < depthB;
  return NameLess(QStringView(a).mid(slashA + 1), QStringView(b).mid(slashB + 1));
}

QString ImageSubfolder(const QString &image) {
  const qsizetype slash = image.lastIndexOf(u'/');
  return slash < 0 ? QString() : image.left(slash);
}

QStringList ListImageFiles(const QString &folder, const QString &pattern, bool inverse) {
  Compile(pattern); // a malformed pattern is reported even for an empty folder
  QDir dir(folder);
  if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
    throw Failure::fromErrno(dir.exists() ? EACCES : ENOENT, folder);
  QStringList names;
  for (const QString &name : dir.entryList(QDir::Files, QDir::Unsorted))
    if (IsListedImage(name, pattern, inverse)) names << name;
  std::sort(names.begin(), names.end(), ImageNameLess);
  return names;
}

QStringList UnreadableImageNames(const QString &folder, const QString &pattern, bool inverse) {
  Compile(pattern);
  QStringList names;
  DIR *dir = ::opendir(QFile::encodeName(folder).constData());
  if (!dir) return names;
  while (const dirent *entry = ::readdir(dir)) {
    const QByteArray bytes(entry->d_name);
    if (bytes.startsWith('.')) continue;
    const QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) == bytes) continue; // listed as it is
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    if (IsListedImage(name, pattern, inverse)) names << EscapedFileName(bytes);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), ImageNameLess);
  return names;
}

namespace {

struct TreeWalk {
  const QString &pattern;
  bool inverse;
  dev_t skipDevice = 0;
  ino_t skipInode = 0;
  bool skipping = false;
  std::set<std::pair<dev_t, ino_t>> seen; // a bind mount may show a folder twice
  ImageTree tree;

  // The subfolders of the open folder `fd`, at `relative` below the top:
  // entered by handle, never through a link.
  void walk(int fd, const QString &root, const QString &relative) {
    std::vector<std::pair<QString, QByteArray>> folders;
    const int listing = ::dup(fd);
    DIR *dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
      if (listing >= 0) ::close(listing);
      return;
    }
    while (const dirent *entry = ::readdir(dir)) {
      const QByteArray bytes(entry->d_name);
      if (bytes.startsWith('.')) continue; // hidden, and "." and ".."
      struct stat st {};
      if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        continue;
      if (skipping && st.st_dev == skipDevice && st.st_ino == skipInode) continue;
      if (!seen.insert({st.st_dev, st.st_ino}).second) continue;
      const QString name = QFile::decodeName(bytes);
      if (QFile::encodeName(name) != bytes) {
        tree.unreadableNames << relative + EscapedFileName(bytes) + u'/';
        continue;
      }
      folders.emplace_back(name, bytes);
    }
    ::closedir(dir);
    std::sort(folders.begin(), folders.end(),
              [](const auto &x, const auto &y) { return NameLess(x.first, y.first); });
    for (const auto &[name, bytes] : folders) {
      const QString here = relative + name;
      const int sub =
          ::openat(fd, bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const QString path = root + u'/' + here;
      // Why its images cannot be listed: a name the system cannot take whole
      // (deeper than PATH_MAX) or a folder gone meanwhile costs that folder alone.
      QString why;
      if (sub < 0 || ::faccessat(fd, bytes.constData(), R_OK | X_OK, AT_EACCESS) != 0)
        why = QString::fromLocal8Bit(std::strerror(sub < 0 ? errno : EACCES));
      else if (QFile::encodeName(path).size() >= PATH_MAX)
        why = QString::fromLocal8Bit(std::strerror(ENAMETOOLONG));
      QStringList images, unreadable;
      try {
        if (why.isEmpty()) {
          images = ListImageFiles(path, pattern, inverse);
          unreadable = UnreadableImageNames(path, pattern, inverse);
        }
      } catch (const Failure &failure) {
        why = failure.description();
      }
      if (!why.isEmpty()) {
        if (sub >= 0) ::close(sub);
        tree.unreadableFolders << here + ": " + why;
        continue;
      }
      for (const QString &image : std::as_const(images))
        tree.images << here + u'/' + image;
      for (const QString &image : std::as_const(unreadable))
        tree.unreadableNames << here + u'/' + image;
      walk(sub, root, here + u'/');
      ::close(sub);
    }
  }
};

} // namespace

ImageTree ListImageTree(const QString &folder, const QString &pattern, bool inverse,
                        const QString &skip) {
  TreeWalk walk{pattern, inverse, 0, 0, false, {}, {}};
  walk.tree.images = ListImageFiles(folder, pattern, inverse);
  walk.tree.unreadableNames = UnreadableImageNames(folder, pattern, inverse);
  struct stat st {};
  if (!skip.isEmpty() && ::stat(QFile::encodeName(skip).constData(), &st) == 0) {
    walk.skipping = true;
    walk.skipDevice = st.st_dev;
    walk.skipInode = st.st_ino;
  }
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw Failure::fromErrno(errno, folder);
  if (::fstat(fd, &st) == 0) walk.seen.insert({st.st_dev, st.st_ino});
  walk.walk(fd, folder.endsWith(u'/') && folder.size() > 1 ? folder.chopped(1) : folder, QString());
  ::close(fd);
  return std::move(walk.tree);
}

} // namespace varnholt
