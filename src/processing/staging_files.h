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

// The staging folder's journal, appended a line at a time with one write
// each, so a line is there whole or its pair is as good as never begun:
//
//   done FOLDER LABEL NAME...  every step of the pair built in FOLDER has
//                              succeeded; its files NAME... go into place
//                              together, and only they
//   moved FOLDER LABEL         they are in place
//   free FOLDER                they are not, and never will be; FOLDER may
//                              hold another pair next
//
// Every word is percent-encoded (RFC 3986's unreserved bytes stay as they
// are), so a space, a line break or any other byte of a name survives. A
// pair marked done and neither moved nor freed is finished by whoever sweeps
// the folder after its process died, by the same rule as a live commit.
inline constexpr const char *kJournal = "journal";

struct JournalPair {
  QByteArray folder, label;
  std::vector<QByteArray> names;
};
struct Journal {
  std::vector<JournalPair> pending; // done, neither moved nor freed
  QStringList moved;                // labels of pairs in place
};
QByteArray DoneLine(const QByteArray &folder, const QByteArray &label,
                    const std::vector<QByteArray> &names);
QByteArray MovedLine(const QByteArray &folder, const QByteArray &label);
QByteArray FreeLine(const QByteArray &folder);
// Lines that are cut short or name anything but a plain name are left out:
// a pair they speak of is not taken as done.
Journal ReadJournal(const QByteArray &text);

// The folder in the staging folder where the earlier files under a pair's
// names wait while the pair goes in, each under the number of its name in
// the pair's list: a short name, whatever the length of the one it stands for.
QByteArray AsideFolder(const QByteArray &pairFolder);

// Puts a complete pair's files into place together or not at all: the
// earlier files under its names are moved aside first, then the pair's files
// are renamed in; on any failure what moved goes back. Picks up where a
// process that died half-way left off, which a sweep relies on. `asideLeft`:
// files moved aside could not all be put back, and their folder must stay.
std::optional<Failure> PutInPlace(int staging, const QByteArray &pairFolder, int pair, int out,
                                  const QString &outPath, const std::vector<QByteArray> &names,
                                  bool &asideLeft);

inline QByteArray Native(const QString &path) { return QFile::encodeName(path); }

int OpenFolderAt(int at, const QByteArray &name, bool follow);

// The names in an open folder, "." and ".." aside.
std::vector<QByteArray> Entries(int folder);

} // namespace varnholt::staging_files
