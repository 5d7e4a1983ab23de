#pragma once

// What building pairs and sweeping their leftovers share: names as the system
// takes them, folders read through handles, the staging folder's journal and
// the lock that keeps moving a pair and sweeping apart.

#include "platform/failure.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

namespace varnholt::staging_files {

// A process that sweeps its own leftovers while another of its threads moves
// a pair into place would remove the files not yet moved: half a pair under
// its real names. Moving a pair and sweeping exclude each other, so a sweep
// finds a pair either not begun, marked done (the sweep finishes it) or
// wholly in place.
extern std::recursive_mutex gMovingPairs;

// In the staging folder: "done FOLDER LABEL" once a pair's every step has
// succeeded, "free FOLDER" once its files are in place.
inline constexpr const char *kJournal = "journal";

inline QByteArray Native(const QString &path) { return QFile::encodeName(path); }

int OpenFolderAt(int at, const QByteArray &name, bool follow);

// The names in an open folder, "." and ".." aside.
std::vector<QByteArray> Entries(int folder);

// Moves every file of a complete pair's folder into the output folder. The
// first failure is kept; the others are still tried, since a pair half moved
// is worse than one moved as far as it can be.
std::optional<Failure> MoveInto(int pairFolder, int out, const QString &outPath,
                                const QStringList &names);

} // namespace varnholt::staging_files
