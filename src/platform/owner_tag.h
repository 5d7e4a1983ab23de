#pragma once

#include <QString>

namespace varnholt {

// Hidden and scratch names carry the process that made them
// ("machine.pidnamespace.boot.pid.start"), so a later run can tell a leftover
// of a process that is gone from a file a live run is still working on, here,
// in a container beside us or on another machine sharing the folder.
QString OwnerTag();

// The tag in a name made by UniqueHiddenName or a scratch folder ("varnholt-TAG-..."),
// or empty when the name carries none.
QString OwnerTagOf(const QString &name);

// True only when the tag names a process of this machine that no longer runs
// (or ran before the machine last started). Another machine's tag, another PID
// namespace's, one of an older format, or no tag, is never judged gone.
bool OwnerIsGone(const QString &tag);

// The process id in a tag, or -1.
qint64 OwnerPid(const QString &tag);

} // namespace varnholt
