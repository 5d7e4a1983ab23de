#pragma once

#include <QByteArray>
#include <QString>

namespace varnholt {

// File-system steps that never leave a half-written file under the final
// name: each writes beside the destination and renames into place. Failures
// throw Failure with errno and its message.
void CopyFileReplacing(const QString &from, const QString &to);
void RenameReplacing(const QString &from, const QString &to);
// Writes `bytes` to a hidden file beside `to` (with `mode` before the umask),
// syncs it and renames it over `to`.
void WriteFileReplacing(const QString &to, const QByteArray &bytes, unsigned mode);

// The whole of a file the program reads for itself (a list, a licence, an
// entry it wrote), refused unless it is a regular file of at most `limit`
// bytes: a FIFO would block the open, a device read without end.
QByteArray ReadRegularFile(const QString &path, qint64 limit);

// True when both names reach the same file (hard links and symbolic links
// included); false when either does not exist.
bool IsSameFile(const QString &a, const QString &b);

// A name in `folder` that does not exist yet: ".varnholt-", this process's
// owner tag, "-" and a random part.
QString UniqueHiddenName(const QString &folder, const QString &extension);

// Removes a file, or a folder with everything in it, named relative to an open
// folder. Links are removed, never followed. Quiet: what cannot go stays.
void RemoveTreeAt(int folder, const QByteArray &name);

} // namespace varnholt
