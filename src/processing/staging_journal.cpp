// The staging folder's journal and the one way a pair goes into place, which
// a live commit and a sweep after a crash share.
#include "processing/staging_files.h"

#include "platform/file_ops.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace varnholt::staging_files {

namespace {

QByteArray Word(const QByteArray &bytes) { return bytes.toPercentEncoding(); }

// A name one folder can hold: not empty, no separator, no NUL, not "." or "..".
bool PlainName(const QByteArray &name) {
  return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
         !name.contains('\0');
}

bool Exists(int at, const QByteArray &name, struct stat &st) {
  return ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Exists(int at, const QByteArray &name) {
  struct stat st {};
  return Exists(at, name, st);
}

} // namespace

QByteArray DoneLine(const QByteArray &folder, const QByteArray &label,
                    const std::vector<QByteArray> &names) {
  QByteArray line = "done " + Word(folder) + ' ' + Word(label);
  for (const QByteArray &name : names)
    line += ' ' + Word(name);
  return line + '\n';
}

QByteArray MovedLine(const QByteArray &folder, const QByteArray &label) {
  return "moved " + Word(folder) + ' ' + Word(label) + '\n';
}

QByteArray FreeLine(const QByteArray &folder) { return "free " + Word(folder) + '\n'; }

Journal ReadJournal(const QByteArray &text) {
  std::map<QByteArray, JournalPair> pending;
  Journal journal;
  qsizetype start = 0;
  // A line the process did not finish writing has no line break yet.
  for (qsizetype end; (end = text.indexOf('\n', start)) >= 0; start = end + 1) {
    const QList<QByteArray> words = text.sliced(start, end - start).split(' ');
    std::vector<QByteArray> plain;
    for (const QByteArray &word : words)
      plain.push_back(QByteArray::fromPercentEncoding(word));
    if (plain.size() < 2 || !PlainName(plain[1])) continue;
    const QByteArray &kind = plain[0], &folder = plain[1];
    if (kind == "done" && plain.size() >= 4) {
      JournalPair pair{folder, plain[2], {plain.begin() + 3, plain.end()}};
      bool allPlain = true;
      for (const QByteArray &name : pair.names)
        allPlain = allPlain && PlainName(name);
      if (allPlain) pending[folder] = std::move(pair);
    } else if (kind == "free" && plain.size() == 2) {
      pending.erase(folder);
    } else if (kind == "moved" && plain.size() == 3) {
      pending.erase(folder);
      journal.moved << QFile::decodeName(plain[2]);
    }
  }
  for (auto &[folder, pair] : pending)
    journal.pending.push_back(std::move(pair));
  return journal;
}

QByteArray AsideFolder(const QByteArray &pairFolder) { return pairFolder + ".aside"; }

std::optional<Failure> PutInPlace(int staging, const QByteArray &pairFolder, int pair, int out,
                                  const QString &outPath, const std::vector<QByteArray> &names,
                                  bool &asideLeft) {
  asideLeft = false;
  const auto failed = [&](int err, const QByteArray &name) {
    return Failure::fromErrno(err, outPath + u'/' + QFile::decodeName(name));
  };
  // Only plain files of this user's with no other name go in: nothing that
  // could reach someone else's data.
  for (const QByteArray &name : names) {
    struct stat st {};
    if (Exists(pair, name, st) &&
        (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()))
      return failed(EPERM, name);
  }
  // One rename replaces one file whole or not at all.
  if (names.size() == 1 && !Exists(staging, AsideFolder(pairFolder))) {
    if (::renameat(pair, names[0].constData(), out, names[0].constData()) == 0 || errno == ENOENT)
      return std::nullopt;
    return failed(errno, names[0]);
  }
  const QByteArray asideName = AsideFolder(pairFolder);
  int aside = -1;
  std::optional<Failure> failure;
  const auto asideNumber = [](size_t i) { return QByteArray::number(qulonglong(i)); };

  // The earlier files go aside, so a name that cannot be replaced stops the
  // pair before any of it is in place.
  if (::mkdirat(staging, asideName.constData(), 0700) != 0 && errno != EEXIST)
    failure = failed(errno, names.front());
  if (!failure) {
    aside = OpenFolderAt(staging, asideName, false);
    if (aside < 0) failure = failed(errno, names.front());
  }
  for (size_t i = 0; i < names.size() && !failure; ++i) {
    struct stat st {};
    if (!Exists(pair, names[i], st)) continue; // in place already
    if (!Exists(out, names[i], st)) continue;
    // A folder under the name would be moved aside and lost with the aside
    // folder; a file under the name while the earlier one waits aside came
    // from someone else since.
    if (S_ISDIR(st.st_mode) || Exists(aside, asideNumber(i))) {
      failure = failed(S_ISDIR(st.st_mode) ? EISDIR : EEXIST, names[i]);
      break;
    }
    if (::renameat(out, names[i].constData(), aside, asideNumber(i).constData()) != 0 &&
        errno != ENOENT)
      failure = failed(errno, names[i]);
  }
  for (size_t i = 0; i < names.size() && !failure; ++i)
    if (::renameat(pair, names[i].constData(), out, names[i].constData()) != 0 && errno != ENOENT)
      failure = failed(errno, names[i]);

  if (failure && aside >= 0) {
    // Back as it was: the pair's files that went in return to the pair
    // folder, then the earlier files to their names.
    for (size_t i = 0; i < names.size(); ++i)
      if (!Exists(pair, names[i]) && Exists(out, names[i]))
        ::renameat(out, names[i].constData(), pair, names[i].constData());
    for (size_t i = 0; i < names.size(); ++i)
      if (Exists(aside, asideNumber(i)) && !Exists(out, names[i]))
        ::renameat(aside, asideNumber(i).constData(), out, names[i].constData());
    asideLeft = !Entries(aside).empty();
  }
  if (aside < 0) return failure;
  ::close(aside);
  // In place, the earlier files are replaced; put back, their folder is empty.
  if (!asideLeft) RemoveTreeAt(staging, asideName);
  return failure;
}

} // namespace varnholt::staging_files
