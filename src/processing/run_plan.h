#pragma once

// The one plan of a run, whoever started it: the window, --batch, a --shard
// of it, or a worker process carrying out its part.
#include "operations/operation.h"
#include "processing/output_plan.h"
#include "settings/settings.h"

#include <QString>
#include <QStringList>

#include <vector>

class QDataStream;

namespace varnholt {

class RunSource;

// Where the pairs of images in inputFolder are written: the one place that
// decides it.
QString OutputFolderFor(const Settings &settings, const QString &inputFolder);

// One ticked operation that reads, parsed once for the whole run.
struct PlannedOperation {
  int position = 0; // 1-based in its list, unticked entries counted
  QString text;
  Operation op;
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
