#pragma once

#include "processing/output_plan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
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
  ~OutputFolder();
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  const QString &path() const { return path_; }
  // A fresh, empty place for one pair's files; an empty label numbers it.
  std::unique_ptr<PairStage> stage(QString label = QString());

private:
  friend class PairStage;
  void openStaging();
  struct Work {
    QByteArray name;
    int fd = -1;
  };
  Work takeWorkFolder();
  void giveBack(const Work &work);
  void note(const QByteArray &line);

  QString path_;
  int fd_ = -1;
  QByteArray stagingName_;
  int stagingFd_ = -1;
  QString toolsStaging_; // the staging folder as the tools reach it
  int pairs_ = 0;
  int journalFd_ = -1;
  std::vector<Work> free_; // pair folders emptied for the next pair
};

// One pair's files while it is built. Unless committed, all of them are
// removed when it goes.
class PairStage {
public:
  PairStage(OutputFolder &folder, const QByteArray &label);
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

private:
  OutputFolder &folder_;
  QByteArray label_;
  OutputFolder::Work work_;
  QString toolsPath_;
};

// What one run writes: its claims and its output folders.
class RunFiles {
public:
  RunClaims claims;
  OutputFolder &folder(const QString &path);

private:
  std::map<QString, std::unique_ptr<OutputFolder>> folders_;
};

// Removes what processes that are gone left in a folder: hidden files and
// pair folders. A pair found complete is moved into place first; the labels
// of those pairs come back. With a process id, only that process's leftovers
// are looked at (a worker just reaped); with this process's own id, its own
// are swept although it still runs (it is about to end).
QStringList SweepLeftovers(const QString &folder, qint64 onlyPid = -1);

// Where scratch folders go: the temporary folder, when its name is plain.
QString ScratchRoot();

// The same for scratch folders ("varnholt-OWNER-...") in the temporary folder.
void SweepScratchLeftovers(qint64 onlyPid = -1);

} // namespace varnholt
