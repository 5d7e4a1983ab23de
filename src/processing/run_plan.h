#pragma once

// The one plan of a run, whoever started it: the window, --batch, a --shard
// of it, or a worker process carrying out its part.
#include "operations/operation.h"
#include "processing/output_plan.h"
#include "settings/settings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

class QDataStream;

namespace varnholt {

class RunSource;

// Where the pairs of images in inputFolder are written: the one place that
// decides it.
QString OutputFolderFor(const Settings &settings, const QString &inputFolder);

// One ticked operation that reads, parsed once for the whole run.
using PlannedOperation = ListedOperation;

// The operation list as a run read it last: each entry's text and tick, and
// the ticked entries that read as operations. The window's lists can change
// during a run; the run reads them again, as a revision of its plan, only
// when an entry it comes to is no longer as it was.
class OperationsRead {
public:
  // Reads the list now; `unread` hears of each ticked entry that does not
  // read as an operation (its position and why).
  explicit OperationsRead(const RunSource &source,
                          const std::function<void(int, const QString &)> &unread = {});
  explicit OperationsRead(QList<std::pair<QString, bool>> entries,
                          const std::function<void(int, const QString &)> &unread = {});

  // The ticked operations that read, in list order.
  const std::vector<PlannedOperation> &operations() const { return operations_; }
  // Entry `k` (0-based) as the source holds it now, read again first when
  // the list changed there; null when it is unticked or does not read.
  const PlannedOperation *at(const RunSource &source, qsizetype k);
  // How many times the list was read again.
  int revisions() const { return revisions_; }

private:
  void read(const std::function<void(int, const QString &)> &unread);
  QList<std::pair<QString, bool>> entries_;
  std::vector<PlannedOperation> operations_;
  std::vector<int> index_; // per entry: its place in operations_, or -1
  int revisions_ = 0;
};

struct RunPlan {
  QString inputFolder;
  QStringList images;                       // in run order
  std::vector<qsizetype> imageRows;         // each image's row in the window's list
  std::vector<PlannedOperation> operations; // in run order
  Settings settings;
  // Per pair, image-major: why it may not run; empty where it may.
  std::vector<QString> notRun;
  RunClaims claims; // the images and every file planned

  QString imagePath(int image) const;
  QString outputFolder() const { return OutputFolderFor(settings, inputFolder); }
  size_t pairCount() const { return size_t(images.size()) * operations.size(); }
  size_t pairIndex(int image, int operation) const {
    return size_t(image) * operations.size() + size_t(operation);
  }
  const QString &whyNotRun(int image, int operation) const {
    return notRun[pairIndex(image, operation)];
  }
};

// The subfolders ("2024/jan") that hold images of the list, each once, in
// order: where a run with subfolders writes besides the output folder itself.
QStringList ImageSubfolders(const QStringList &images);

// The ticked images and the ticked operations that read, as the lists hold
// them now, every pair claimed. Throws what the source throws.
RunPlan PlanFromSource(const RunSource &source, const Settings &settings);

// Claims every pair's files in run order and notes the pairs that may not
// run: they would write over an image of the run or over what an earlier
// pair writes. Whatever order the pairs then run in, the same files come out.
void ClaimPairs(RunPlan &plan, const QString &outputFolder);

// Which of `parts` parts (0-based) each image of the plan is in.
std::vector<int> ShardParts(const RunPlan &plan, const QString &outputFolder, int parts);
// Leaves the plan only the images of part `index` (1-based) of `count`; the
// claims stay those of the whole plan.
void KeepShard(RunPlan &plan, const QString &outputFolder, int index, int count);

QDataStream &operator<<(QDataStream &out, const RunPlan &plan);
QDataStream &operator>>(QDataStream &in, RunPlan &plan);

} // namespace varnholt
