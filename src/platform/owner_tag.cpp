#include "platform/owner_tag.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <optional>
#include <sys/stat.h>
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

// A process that has ended but was not yet waited for (a zombie) holds its
// number and start time and writes nothing any more. Where nobody waits for
// orphans (a container whose first process does not), it stays so for good.
// A leader that ended while other threads of it go on is not ended.
bool HasEnded(qint64 pid) {
  const QByteArray stat = ReadSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0 || close + 2 >= stat.size() || (stat[close + 2] != 'Z' && stat[close + 2] != 'X'))
    return false;
  return QDir(QStringLiteral("/proc/%1/task").arg(pid))
             .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
             .size() <= 1;
}

const QString kUnknown = QString(32, u'0');

// 32 hex digits, or kUnknown.
QString Hex32(const QByteArray &text) {
  QString hex = QString::fromLatin1(text.trimmed()).remove(u'-').toLower();
  static const QRegularExpression plain(QStringLiteral("^[0-9a-f]{32}$"));
  return plain.match(hex).hasMatch() ? hex : kUnknown;
}

QString BootId() {
  static const QString id = Hex32(ReadSmallFile("/proc/sys/kernel/random/boot_id"));
  return id;
}

// The machine: its machine id and its whole host name, hashed to a fixed
// length. A clone of a machine keeps the id but gets a name of its own;
// hosts named alike past any length still differ.
QString MachineId() {
  static const QString id = [] {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(ReadSmallFile("/etc/machine-id").trimmed());
    hash.addData(QByteArrayView("\n"));
    hash.addData(QByteArrayView(name));
    return QString::fromLatin1(hash.result().toHex().left(32));
  }();
  return id;
}

// Processes of another PID namespace (a container, a sandboxed app) have
// numbers of their own that this one cannot look up.
QString PidNamespace() {
  struct stat st {};
  if (::stat("/proc/self/ns/pid", &st) != 0) return QStringLiteral("0");
  return QString::number(quint64(st.st_ino));
}

struct Parts {
  QString machine, pidNamespace, boot;
  qint64 pid = -1;
  QString start;
};

std::optional<Parts> Split(const QString &tag) {
  const QStringList p = tag.split(u'.');
  if (p.size() != 5) return std::nullopt;
  bool ok = false;
  const qint64 pid = p[3].toLongLong(&ok);
  if (!ok || pid <= 0) return std::nullopt;
  return Parts{p[0], p[1], p[2], pid, p[4]};
}

const QRegularExpression &TagPattern() {
  static const QRegularExpression pattern(
      QStringLiteral("^\\.?varnholt-([0-9a-f]{32}\\.[0-9]+\\.[0-9a-f]{32}\\.[0-9]+\\.[0-9]+)-"));
  return pattern;
}

} // namespace

QString OwnerTag() {
  // Worked out per call: a child made by fork() alone would otherwise keep its parent's.
  const qint64 pid = ::getpid();
  QString start = StartTimeOf(pid);
  if (start.isEmpty()) start = QStringLiteral("0");
  return MachineId() + u'.' + PidNamespace() + u'.' + BootId() + u'.' + QString::number(pid) +
         u'.' + start;
}

QString OwnerTagOf(const QString &name) {
  const QRegularExpressionMatch m = TagPattern().match(name);
  return m.hasMatch() ? m.captured(1) : QString();
}

qint64 OwnerPid(const QString &tag) {
  const std::optional<Parts> parts = Split(tag);
  return parts ? parts->pid : -1;
}

bool OwnerIsGone(const QString &tag) {
  const std::optional<Parts> parts = Split(tag);
  // Another machine's, or one whose boot this machine cannot tell: not ours to judge.
  if (!parts || parts->machine != MachineId() || BootId() == kUnknown || parts->boot == kUnknown)
    return false;
  if (parts->boot != BootId()) return true; // ran before this machine last started
  if (parts->pidNamespace != PidNamespace() || PidNamespace() == QLatin1String("0")) return false;
  const QString start = StartTimeOf(parts->pid);
  // No such process, another one that got the same number later, or it ended.
  return start.isEmpty() || start != parts->start || HasEnded(parts->pid);
}

} // namespace varnholt
