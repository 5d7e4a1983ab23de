#pragma once

#include "processing/output_plan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace varnholt {

class PairStage;

// A folder a run writes into, opened once for the whole run. Each pair is
// built in a folder of a hidden one inside it (".varnholt-OWNER-.../wN") and
// its files are renamed into place through the handle, so the folder swapped for
// a link to another folder mid-run cannot redirect them. Whatever is left of
// unfinished pairs goes when the run ends.
class OutputFolder {
public:
  explicit OutputFolder(const QString &path); // throws Failure
  // The folder through a handle opened elsewhere (and handed down to this
  // process), which it now owns.
  OutputFolder(const QString &path, int handle);
  ~OutputFolder();
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  const QString &path() const { return path_; }
  int handle() const { return fd_; }
  // A fresh, empty place for one pair's files; an empty label numbers it.
  std::unique_ptr<PairStage> stage(QString label = QString());

  // Pairs built by other processes (workers running ahead of a window's run)
  // are handed over into this process's hidden folder, which this names; it
  // commits them in its own order or lets them go with the rest at the end.
  QByteArray handOverPlace();
  // A folder of the output folder, opened without following a link: where a
  // worker hands its pairs to.
  int openHiddenFolder(const QByteArray &name) const;
  // The pair handed over under `name`, to commit or to drop.
  std::unique_ptr<PairStage> adopt(const QByteArray &name, const QString &label);
  // The pair handed over under `name` to `from` (the top of the output
  // folders), moved here to go into place in this folder.
  std::unique_ptr<PairStage> adoptFrom(OutputFolder &from, const QByteArray &name,
                                       const QString &label);

private:
  friend class PairStage;
  void openStaging();
  struct Work {
    QByteArray name;
    int fd = -1;
  };
  Work takeWorkFolder();
  void giveBack(const Work &work);
  // False, with errno, when the line is not all in the journal.
  bool note(const QByteArray &line);

  QString path_;
  int fd_ = -1;
  QByteArray stagingName_;
  int stagingFd_ = -1;
  QString toolsStaging_; // the staging folder as the tools reach it
  int pairs_ = 0;
  int journalFd_ = -1;
  std::vector<Work> free_; // pair folders emptied for the next pair
  bool keep_ = false;      // holds earlier files that could not be put back
  int journalErrno_ = 0;   // the journal failed: no pair goes in any more
};

// One pair's files while it is built. Unless committed, all of them are
// removed when it goes.
class PairStage {
public:
  PairStage(OutputFolder &folder, const QByteArray &label);
  PairStage(OutputFolder &folder, const QByteArray &label, int handedFd, const QByteArray &handed);
  ~PairStage();
  PairStage(const PairStage &) = delete;
  PairStage &operator=(const PairStage &) = delete;

  // Where the tools write the file that will be `name` in the output folder.
  QString file(const QString &name) const { return toolsPath_ + u'/' + name; }
  // The same text with this stage's names turned into the output folder's.
  QString unstaged(QString text) const;
  // Marks the pair complete, then renames the named files that exist into
  // the output folder. A leftover found complete is finished the same way.
  void commit(const QStringList &names);
  // Moves the pair's folder, files and all, into the folder `into` (a
  // handle) as `name`; the process there commits it, or not. Nothing of it
  // is left here.
  void handOver(int into, const QByteArray &name);

private:
  OutputFolder &folder_;
  QByteArray label_;
  OutputFolder::Work work_;
  QString toolsPath_;
  bool retired_ = false; // its folder is left as it is, not used again
};

// The files a pair's steps left in its place whose names start as
// `target`'s does (its stem, or the whole name without an extension).
QStringList StagedNames(const PairStage &stage, const QString &target);

// What one run writes: its claims and its output folders.
class RunFiles {
public:
  RunClaims claims;
  OutputFolder &folder(const QString &path);
  // The subfolder ("2024/jan") of the output folder `top`, made where it is
  // missing and reached from the top's handle without following a link, so
  // results stay inside the output folder whatever is swapped in meanwhile;
  // the top itself for an empty one.
  OutputFolder &subfolder(const QString &top, const QString &subfolder);
  // The folder at `path` is the one behind `handle`, which it takes over.
  void useHandle(const QString &path, int handle);

private:
  std::map<QString, std::unique_ptr<OutputFolder>> folders_;
  std::deque<QString> subfolders_; // the subfolders open, the latest last
};

// Removes what processes that are gone left in a folder: hidden files and
// pair folders. A pair found complete is moved into place first; the labels
// of those pairs come back. With a process id, only that process's leftovers
// are looked at (a worker just reaped); with this process's own id, its own
// are swept although it still runs (it is about to end).
QStringList SweepLeftovers(const QString &folder, qint64 onlyPid = -1);
// While held, no pair of this process starts or goes on moving into place: a
// process that sweeps its own leftovers and ends holds it until it is gone,
// so no pair is left half moved behind the sweep.
std::unique_lock<std::recursive_mutex> StopMovingPairs();
// The same in the folder behind a handle, named `folder` in what it says.
QStringList SweepLeftoversAt(int handle, const QString &folder, qint64 onlyPid = -1);
// The same in the subfolders ("2024/jan") of `folder` (behind `handle`, or
// opened by its path when -1) that a run with subfolders writes into,
// reached without following a link; the folder itself is not swept.
QStringList SweepSubfolderLeftovers(int handle, const QString &folder,
                                    const QStringList &subfolders, qint64 onlyPid = -1);
// The same in every folder below `folder` but hidden ones and links: where a
// run with subfolders may have left something.
void SweepLeftoversBelow(const QString &folder);

// Where scratch folders go: the temporary folder, when its name is plain.
QString ScratchRoot();

// Throws a Failure that names the temporary folder and TMPDIR when no scratch
// folder can be made there (TMPDIR naming a file, a missing or read-only folder).
void RequireScratchRoot();

// The same for scratch folders ("varnholt-OWNER-...") in the temporary folder.
void SweepScratchLeftovers(qint64 onlyPid = -1);

} // namespace varnholt
