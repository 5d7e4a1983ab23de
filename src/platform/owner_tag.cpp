#include "platform/owner_tag.h"

#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

namespace varnholt {

namespace {

QByteArray ReadSmallFile(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(4096);
}

// Field 22 of /proc/PID/stat: when the process started, in ticks since boot.
// The name in field 2 may hold blanks and parentheses, so counting starts after its last ')'.
QString StartTimeOf(qint64 pid) {
  const QByteArray stat = ReadSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return {};
  const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
  // Fields from 3 on; the start time is the 20th of them.
  return fields.size() > 19 ? QString::fromLatin1(fields[19]) : QString();
}

QString BootId() {
  static const QString id = [] {
    QString text = QString::fromLatin1(ReadSmallFile("/proc/sys/kernel/random/boot_id"));
    text.remove(u'-');
    return text.left(8).toLower();
  }();
  return id;
}

QString HostName() {
  static const QString host = [] {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    QString plain;
    for (const QChar c : QString::fromLocal8Bit(name))
      if (c.isLetterOrNumber() && c.unicode() < 128) plain += c;
    return plain.left(24).isEmpty() ? QStringLiteral("h") : plain.left(24);
  }();
  return host;
}

const QRegularExpression &TagPattern() {
  static const QRegularExpression pattern(
      QStringLiteral("^\\.?varnholt-([A-Za-z0-9]+)\\.([0-9a-f]{0,8})\\.([0-9]+)\\.([0-9]+)-"));
  return pattern;
}

} // namespace

QString OwnerTag() {
  // Worked out per call: a child made by fork() alone would otherwise keep its parent's.
  const qint64 pid = ::getpid();
  QString start = StartTimeOf(pid);
  if (start.isEmpty()) start = QStringLiteral("0");
  return HostName() + u'.' + BootId() + u'.' + QString::number(pid) + u'.' + start;
}

QString OwnerTagOf(const QString &name) {
  const QRegularExpressionMatch m = TagPattern().match(name);
  if (!m.hasMatch()) return {};
  return m.captured(1) + u'.' + m.captured(2) + u'.' + m.captured(3) + u'.' + m.captured(4);
}

qint64 OwnerPid(const QString &tag) {
  const QStringList parts = tag.split(u'.');
  return parts.size() == 4 ? parts[2].toLongLong() : -1;
}

bool OwnerIsGone(const QString &tag) {
  const QStringList parts = tag.split(u'.');
  if (parts.size() != 4 || parts[0] != HostName()) return false;
  if (parts[1] != BootId()) return !BootId().isEmpty() && !parts[1].isEmpty();
  bool ok = false;
  const qint64 pid = parts[2].toLongLong(&ok);
  if (!ok || pid <= 0) return false;
  const QString start = StartTimeOf(pid);
  // No such process, or another one that got the same number later.
  return start.isEmpty() || start != parts[3];
}

} // namespace varnholt
