#include "operations/operation_list_file.h"

#include "operations/operation.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "settings/settings.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnholt {

namespace {

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

QString FolderOf(const QString &path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  return slash < 0 ? QStringLiteral(".") : path.left(slash == 0 ? 1 : slash);
}

// Saving through a symbolic link updates the file it points to, not the link.
QString ResolvedTarget(const QString &fileName) {
  const QFileInfo info(fileName);
  if (info.isSymLink()) {
    const QString target = info.symLinkTarget();
    if (!target.isEmpty()) return target;
  }
  return fileName;
}

void WriteAll(int fd, const QByteArray &bytes, const QString &fileName) {
  for (qsizetype done = 0; done < bytes.size();) {
    const ssize_t put =
        ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw Failure::fromErrno(errno, fileName);
    }
    done += put;
  }
}

void WriteReplacing(const QString &fileName, const QByteArray &bytes) {
  const QString target = ResolvedTarget(fileName);
  struct stat st {};
  if (::stat(Native(target).constData(), &st) == 0 && S_ISDIR(st.st_mode))
    throw Failure::fromErrno(EISDIR, fileName);
  const mode_t mode = ::stat(Native(target).constData(), &st) == 0 ? (st.st_mode & 0777) : 0666;
  const QString temp = UniqueHiddenName(FolderOf(target), QStringLiteral("vop"));
  const int fd = ::open(Native(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throw Failure::fromErrno(errno, fileName);
  try {
    WriteAll(fd, bytes, fileName);
    if (::fsync(fd) != 0) throw Failure::fromErrno(errno, fileName);
  } catch (...) {
    ::close(fd);
    ::unlink(Native(temp).constData());
    throw;
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(Native(temp).constData());
    throw Failure::fromErrno(err, fileName);
  }
  if (::rename(Native(temp).constData(), Native(target).constData()) != 0) {
    const int err = errno;
    ::unlink(Native(temp).constData());
    throw Failure::fromErrno(err, fileName);
  }
}

// Far more than any list holds (a line is under a hundred bytes).
constexpr qint64 kListLimit = 64 << 20;

QByteArray ReadWhole(const QString &fileName) { return ReadRegularFile(fileName, kListLimit); }

QString DecodeListText(const QByteArray &bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  // Lists written by older versions are in the 8-bit code page.
  return DecodeWindows1252(bytes);
}

// Lines end at CR LF, CR or LF; a last line without an ending still counts.
QStringList SplitLines(const QString &text) {
  QStringList lines;
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c != u'\r' && c != u'\n') continue;
    lines << text.mid(start, i - start);
    if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) lines << text.mid(start);
  return lines;
}

// Why loading leaves a line out; empty when it keeps it. A text that reads
// only in part is kept when what it reads as is a valid operation.
QString LeftOutReason(const QString &line) {
  const QStringList pieces = line.split(u'>');
  if (pieces.size() < 2) return QStringLiteral("it has no \">\" before an operation");
  QString parseError;
  const QString invalid = InvalidReason(ParseOperation(pieces[1], parseError));
  if (invalid.isEmpty()) return QString();
  return parseError.isEmpty() ? invalid : parseError;
}

bool KeepsLine(const QString &line) { return LeftOutReason(line).isEmpty(); }

} // namespace

QString DecodeWindows1252(const QByteArray &bytes) {
  // 0x80-0x9F are where Windows-1252 differs from Latin-1; the five holes
  // read as the control characters of the same value.
  static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  QString text(bytes.size(), Qt::Uninitialized);
  QChar *out = text.data();
  for (const char byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(high[b - 0x80]) : QChar(b);
  }
  return text;
}

bool SaveOperationsFile(const QString &fileName, const QList<OperationListItem> &items,
                        Settings &settings, QString &errorText, const QStringList &keptLines) {
  try {
    if (fileName.isEmpty()) throw Failure::fromErrno(ENOENT, fileName);
    QByteArray bytes = OperationsFileBytes(items);
    for (const QString &line : keptLines)
      bytes += line.toUtf8() + "\r\n";
    WriteReplacing(fileName, bytes);
    settings.LoadedFile = fileName;
    return true;
  } catch (const Failure &failure) {
    errorText = failure.text();
    return false;
  }
}

QStringList LoadOperationsFile(const QString &fileName, QString &loadedFile, QString &errorText) {
  QStringList kept;
  try {
    if (fileName.isEmpty()) throw Failure::fromErrno(ENOENT, fileName);
    kept = KeptOperationLines(ReadWhole(fileName));
  } catch (const Failure &failure) {
    errorText = failure.text();
    return {};
  }
  loadedFile = fileName;
  return kept;
}

QByteArray OperationsFileBytes(const QList<OperationListItem> &items) {
  QString text;
  for (const OperationListItem &item : items)
    text += (item.ticked ? u'1' : u'0') + QStringLiteral(">") + item.text + QStringLiteral("\r\n");
  return text.toUtf8();
}

QStringList KeptOperationLines(const QByteArray &bytes) {
  QStringList kept;
  for (const QString &line : SplitLines(DecodeListText(bytes)))
    if (KeepsLine(line)) kept << line;
  return kept;
}

QList<DroppedListLine> DroppedOperationLines(const QByteArray &bytes) {
  QList<DroppedListLine> dropped;
  const QStringList lines = SplitLines(DecodeListText(bytes));
  for (qsizetype i = 0; i < lines.size(); ++i)
    if (!lines[i].trimmed().isEmpty())
      if (QString why = LeftOutReason(lines[i]); !why.isEmpty())
        dropped.push_back({int(i + 1), lines[i], why});
  return dropped;
}

QList<DroppedListLine> DroppedOperationLinesOfFile(const QString &fileName) {
  try {
    return DroppedOperationLines(ReadWhole(fileName));
  } catch (const Failure &) {
    return {};
  }
}

QString DroppedLinesText(const QList<DroppedListLine> &dropped, int shown) {
  constexpr qsizetype kWidest = 100;
  QStringList lines;
  for (qsizetype i = 0; i < dropped.size() && i < shown; ++i) {
    const QString &text = dropped[i].text;
    lines << QStringLiteral("Line %1: %2")
                 .arg(dropped[i].number)
                 .arg(text.size() > kWidest ? text.left(kWidest) + QStringLiteral("...") : text);
  }
  if (dropped.size() > shown) lines << QStringLiteral("and %1 more").arg(dropped.size() - shown);
  return lines.join(QStringLiteral("\r\n"));
}

OperationListItem SplitListLine(const QString &line) {
  const QStringList pieces = line.split(u'>');
  if (pieces.size() < 2)
    throw Failure(kErrSubscript, "Subscript out of range: no \">\" in " + line);
  OperationListItem item;
  item.text = pieces[1];
  try {
    item.ticked = ReadBoolean(pieces[0], QString());
  } catch (const Failure &) {
    throw Failure(kErrTypeMismatch, "Type mismatch: the tick \"" + pieces[0] +
                                        "\" is neither a number nor True or False");
  }
  return item;
}

} // namespace varnholt
