#include "processing/run_plan.h"

#include "operations/file_listing.h"
#include "platform/bounded_stream.h"
#include "platform/paths.h"
#include "processing/run.h"

#include <QDataStream>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace varnholt {

namespace {
// Names as a file system that ignores case (and composes accents) compares
// them: a shared folder may be on one.
QString Folded(const QString &name) {
  return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

} // namespace

QString OutputFolderFor(const Settings &settings, const QString &inputFolder) {
  return settings.OutputInDiffDir ? settings.OutputDir : inputFolder;
}

QString RunPlan::imagePath(int image) const { return AddBackslash(inputFolder) + images[image]; }

namespace {
QList<std::pair<QString, bool>> OperationEntries(const RunSource &source) {
  QList<std::pair<QString, bool>> entries;
  for (qsizetype k = 0; k < source.operationCount(); ++k)
    entries.append({source.operationText(k), source.operationTicked(k)});
  return entries;
}
} // namespace

OperationsRead::OperationsRead(const RunSource &source,
                               const std::function<void(int, const QString &)> &unread)
    : OperationsRead(OperationEntries(source), unread) {}

OperationsRead::OperationsRead(QList<std::pair<QString, bool>> entries,
                               const std::function<void(int, const QString &)> &unread)
    : entries_(std::move(entries)) {
  read(unread);
}

void OperationsRead::read(const std::function<void(int, const QString &)> &unread) {
  operations_ = TickedOperations(entries_, unread);
  index_.assign(size_t(entries_.size()), -1);
  for (size_t n = 0; n < operations_.size(); ++n)
    index_[size_t(operations_[n].position - 1)] = int(n);
}

const PlannedOperation *OperationsRead::at(const RunSource &source, qsizetype k) {
  const bool ticked = source.operationTicked(k);
  if (k >= entries_.size() || entries_[k].second != ticked ||
      (ticked && entries_[k].first != source.operationText(k))) {
    entries_ = OperationEntries(source);
    read({});
    ++revisions_;
  }
  const int n = k < qsizetype(index_.size()) ? index_[size_t(k)] : -1;
  return n < 0 ? nullptr : &operations_[size_t(n)];
}

QStringList ImageSubfolders(const QStringList &images) {
  QStringList folders;
  QSet<QString> seen;
  for (const QString &image : images)
    if (const QString folder = ImageSubfolder(image); !folder.isEmpty() && !seen.contains(folder)) {
      seen.insert(folder);
      folders << folder;
    }
  return folders;
}

RunPlan PlanFromSource(const RunSource &source, const Settings &settings) {
  RunPlan plan;
  plan.inputFolder = source.inputFolder();
  plan.settings = settings;
  plan.operations = OperationsRead(source).operations();
  for (qsizetype i = 0; i < source.imageCount(); ++i)
    if (source.imageTicked(i)) {
      plan.images << source.imageText(i);
      plan.imageRows.push_back(i);
    }
  ClaimPairs(plan, PlanFolder(plan.outputFolder()));
  return plan;
}

// Pairs that may not run because they would write over a source image or
// over what an earlier pair writes: whatever the order the pairs run in, the
// same files come out.
void ClaimPairs(RunPlan &plan, const QString &outputFolder) {
  RunClaims &claims = plan.claims;
  for (int i = 0; i < int(plan.images.size()); ++i)
    claims.addSource(plan.imagePath(i));
  const int operationCount = int(plan.operations.size());
  plan.notRun.assign(size_t(plan.images.size()) * size_t(operationCount), QString());
  for (int i = 0; i < int(plan.images.size()); ++i)
    for (int k = 0; k < operationCount; ++k) {
      const PlannedOperation &bo = plan.operations[size_t(k)];
      const PairPlan files = PlanImagePair(outputFolder, plan.images[i], bo.op);
      QStringList paths;
      for (const QString &name : files.names())
        paths << files.path(name);
      const QString image = plan.imagePath(i);
      const RunClaims::Clash clash =
          claims.claim({image, PairKey(image, bo.op), bo.position}, paths);
      QString &why = plan.notRun[size_t(i) * size_t(operationCount) + size_t(k)];
      if (clash.kind == RunClaims::Clash::OtherPair)
        why = QStringLiteral("%1 is already written for %2 by the operation at position %3")
                  .arg(clash.path, FileNamePart(clash.other.image))
                  .arg(clash.other.position);
      else if (clash)
        why = "it would write over the source image " + FileNamePart(clash.path);
    }
}

namespace {
// Each image's part when images of one group share it: a group's part is
// where the middle of its work falls; groups come in the order of their
// first image, each image's group named by its first image.
std::vector<int> PartsOfGroups(const std::vector<int> &roots, const std::vector<qint64> &weight,
                               int parts) {
  const size_t count = roots.size();
  std::vector<qint64> groupWeight(count, 0);
  qint64 total = 0;
  for (size_t i = 0; i < count; ++i) {
    groupWeight[size_t(roots[i])] += weight[i];
    total += weight[i];
  }
  std::vector<int> part(count, 0);
  qint64 before = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t r = size_t(roots[i]);
    if (r == i) {
      const qint64 middle2 = 2 * before + groupWeight[i];
      part[i] = int(std::min<qint64>(parts - 1, middle2 * parts / (2 * total)));
      before += groupWeight[i];
    } else {
      part[i] = part[r];
    }
  }
  return part;
}

} // namespace

// Which of `parts` parts (0-based) each image of the plan is in. Every part
// plans the whole plan, so a clash decided by names comes out the same in all
// of them; what they cannot agree on is a clash that only the file system
// sees (two names for one file on a share that ignores case, found once one
// part has written it). So images whose results could meet that way share a
// part: the same name before the last dot, the same result name, or results
// in the frame family (x.png, x-0.png, ...) of an image that may hold
// frames, all compared without case. The split follows the image list in its
// order, in runs of about equal work, and depends on nothing but the list.
std::vector<int> ShardParts(const RunPlan &plan, const QString &outputFolder, int parts) {
  const int imageCount = int(plan.images.size());
  std::vector<int> parent(static_cast<size_t>(imageCount));
  for (int i = 0; i < imageCount; ++i)
    parent[size_t(i)] = i;
  const auto root = [&](int i) {
    while (parent[size_t(i)] != i)
      i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
    return i;
  };
  QHash<QString, int> firstWith; // key -> an image that has it
  const auto join = [&](int image, const QString &key) {
    const auto at = firstWith.constFind(key);
    if (at == firstWith.cend()) {
      firstWith.insert(key, image);
      return;
    }
    const int a = root(image), b = root(*at);
    if (a != b) parent[size_t(std::max(a, b))] = std::min(a, b);
  };
  static const QRegularExpression frameNumber(QStringLiteral("-[0-9]+$"));
  // Names that look like frame files meet only the images that may make
  // frames: DSC-0001.jpg and DSC-0002.jpg have nothing to share.
  std::vector<std::pair<int, QString>> frameLike;
  std::vector<qint64> weight(size_t(imageCount), 0);
  for (int i = 0; i < imageCount; ++i) {
    const QString &image = plan.images[i];
    join(i, "image:" + Folded(Stem(image)));
    const bool mayHoldFrames = FormatHoldsFrames(image.section(u'.', -1));
    // Results meet only in the same folder.
    const QString folder = image.left(image.lastIndexOf(u'/') + 1);
    for (int k = 0; k < int(plan.operations.size()); ++k) {
      if (plan.whyNotRun(i, k).isEmpty()) ++weight[size_t(i)];
      for (const QString &result :
           PlanImagePair(outputFolder, image, plan.operations[size_t(k)].op).names()) {
        const QString name = folder + result;
        join(i, "file:" + Folded(name));
        const QString extension = Folded(name.section(u'.', -1));
        if (mayHoldFrames) join(i, "frames:" + Folded(Stem(name)) + u'/' + extension);
        if (QString stem = Stem(name); stem.contains(frameNumber)) {
          stem.remove(frameNumber);
          frameLike.emplace_back(i, "frames:" + Folded(stem) + u'/' + extension);
        }
      }
    }
    weight[size_t(i)] = std::max<qint64>(weight[size_t(i)], 1);
  }
  for (const auto &[image, key] : frameLike)
    if (firstWith.contains(key)) join(image, key);
  std::vector<int> roots(static_cast<size_t>(imageCount));
  for (int i = 0; i < imageCount; ++i)
    roots[size_t(i)] = root(i);
  return PartsOfGroups(roots, weight, parts);
}

void KeepShard(RunPlan &plan, const QString &outputFolder, int index, int count) {
  if (count <= 1) return;
  const std::vector<int> parts = ShardParts(plan, outputFolder, count);
  const size_t operationCount = plan.operations.size();
  QStringList images;
  std::vector<QString> notRun;
  for (int i = 0; i < int(plan.images.size()); ++i) {
    if (parts[size_t(i)] != index - 1) continue;
    images << plan.images[i];
    for (size_t k = 0; k < operationCount; ++k)
      notRun.push_back(plan.notRun[size_t(i) * operationCount + k]);
  }
  plan.images = images;
  plan.notRun = std::move(notRun);
}

QDataStream &operator<<(QDataStream &out, const Operation &op) {
  return out << op.Extract << op.TopLeftX << op.TopLeftY << op.BottomRightX << op.BottomRightY
             << op.Resize << op.ResizeMethod << op.ResizeWidth << op.ResizeHeight << op.OutputFormat
             << op.JpgQuality << op.Prefix << op.Suffix << op.AspectWidth << op.AspectHeight;
}

QDataStream &operator>>(QDataStream &in, Operation &op) {
  return in >> op.Extract >> op.TopLeftX >> op.TopLeftY >> op.BottomRightX >> op.BottomRightY >>
         op.Resize >> op.ResizeMethod >> op.ResizeWidth >> op.ResizeHeight >> op.OutputFormat >>
         op.JpgQuality >> op.Prefix >> op.Suffix >> op.AspectWidth >> op.AspectHeight;
}

// The records go as they are, not as texts: a worker reads no operation text.
QDataStream &operator<<(QDataStream &out, const RunPlan &plan) {
  out << plan.inputFolder << plan.images << qint32(plan.operations.size());
  for (const PlannedOperation &po : plan.operations)
    out << qint32(po.position) << po.text << po.op;
  const Settings &s = plan.settings;
  return out << s.OutputInDiffDir << s.OutputDir << s.Antialias << s.AllowOutOfBoundry
             << s.AutoOrient << s.NeverEnlarge << s.ExactDecode << s.ExistingResults << s.Metadata
             << s.SharpenAfterShrinking << s.IncludeSubfolders
             << QStringList(plan.notRun.begin(), plan.notRun.end()) << plan.claims;
}

QDataStream &operator>>(QDataStream &in, RunPlan &plan) {
  qint32 count = 0;
  in >> plan.inputFolder;
  ReadStringList(in, plan.images) >> count;
  plan.operations.clear();
  for (qint32 k = 0; k < count && in.status() == QDataStream::Ok; ++k) {
    PlannedOperation po;
    qint32 position = 0;
    in >> position >> po.text >> po.op;
    po.position = position;
    plan.operations.push_back(po);
  }
  QStringList notRun;
  Settings &s = plan.settings;
  in >> s.OutputInDiffDir >> s.OutputDir >> s.Antialias >> s.AllowOutOfBoundry >> s.AutoOrient >>
      s.NeverEnlarge >> s.ExactDecode >> s.ExistingResults >> s.Metadata >>
      s.SharpenAfterShrinking >> s.IncludeSubfolders;
  ReadStringList(in, notRun) >> plan.claims;
  if (in.status() == QDataStream::Ok && size_t(notRun.size()) != plan.pairCount())
    in.setStatus(QDataStream::ReadCorruptData);
  plan.notRun.assign(notRun.begin(), notRun.end());
  return in;
}

} // namespace varnholt
