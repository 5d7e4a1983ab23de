#include "cli/batch.h"

#include "cli/ahead_pool.h"
#include "cli/batch_run.h"
#include "operations/clash_check.h"
#include "operations/file_listing.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "processing/apply_operation.h"
#include "processing/pair_stage.h"
#include "platform/paths.h"
#include "settings/settings.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace {

QString Absolute(const QString &folder) {
  return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

QString CanonicalFolder(const QString &folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return canonical.isEmpty() ? Absolute(folder) : canonical;
}

} // namespace

QString BatchUsageText() {
  return QStringLiteral(
      "Usage: varnholt --batch LIST.vop [--input DIR] [--output DIR] [--pattern P] [--inverse]\n"
      "                [--antialias] [--allow-out-of-bounds] [--keep-orientation]\n"
      "                [--enlarge] [--jobs N] [--shard K/N] [--quiet]\n"
      "       varnholt --batch --help\n");
}

QString BatchHelpText() {
  return BatchUsageText() + QStringLiteral(R"(
Runs the ticked operations of an operation list (a .vop file saved by
Varnholt) on every image of a folder, without a window; no display is needed.

  LIST.vop               the operation list; its ticked, readable operations run
                         in list order (a ticked line that is not a valid
                         operation is left out with a warning)
  --input DIR            the image folder (default: the current folder). Images
                         are its files with an image extension after the last
                         dot (png bmp jpg jpeg gif tif tiff tga miff, any case),
                         hidden files excepted, in name order ignoring case
  --output DIR           write the results into DIR instead of beside the images
  --pattern P            only images whose name before the last dot matches P
                         (case-sensitive): ? any character, * any run, # a digit,
                         [abc] [a-f] one of, [!abc] none of
  --inverse              only images whose name does NOT match the pattern
  --antialias            resize with antialiasing
  --allow-out-of-bounds  a rectangle running past the right or bottom edge is cut
                         at the edge instead of skipping the image
  --keep-orientation     work on pictures as they are stored, not turned upright
                         as their EXIF orientation says they are seen
  --enlarge              let the Limit resize methods enlarge smaller images
                         too (by default they only shrink)
  --jobs N               process N images at a time, in N worker processes
                         (default: one per core, at most VARNHOLT_JOBS when
                         that is set); the files written do not depend on N
  --shard K/N            process only the K-th of N parts of the images (K from
                         1 to N), to spread one job over N machines that see
                         the same folders: the N parts together write exactly
                         the files of one run. Images whose results could
                         share a name (a.gif and a.png) are in the same part.
                         Each part still protects every image of the job and
                         decides clashes as one run would; its counts and exit
                         status are those of its own images. Needs --output
                         (results beside the images would become images of
                         the parts that start later). Images whose names are
                         not valid UTF-8 are counted in part 1
  --quiet                no progress bar
  --help                 this text

Each pair writes one file: prefix + image name + suffix + the image's
extension, or, when the operation chooses another format, that format's name
as the extension (web_Beach.JPG); cropped, resized and encoded as asked.
Source images are never written over: a pair that would replace a source image,
or a file another pair of the same run writes, fails instead.

It refuses to start, writing nothing, when the list cannot be read, a folder
does not exist, the pattern is malformed, two ticked operations have the same
prefix and suffix (and formats whose files could meet), or an operation has neither prefix nor suffix and no
--output is given.

An image whose name is not valid UTF-8 cannot be opened: it is named on a
warning line, with its other bytes shown as \xNN, and its pairs count as
skipped. A damaged image that can still be read in part (a truncated JPEG)
is written, with ImageMagick's warning on a warning line. A rectangle outside
an image skips that pair with a warning; a failed pair prints an error line and
the run goes on. Each pair is written whole or not
at all: its files are made under hidden names and get their own names only
when every step has succeeded, so a failed pair leaves no file, and a file of
an earlier run under the same name stays as it was.

Ctrl-C (or SIGTERM) lets the pairs under way finish and starts no other; the
rest count as skipped. A second Ctrl-C stops at once: the pairs under way are
not written and nothing of them is left. The worker processes ignore Ctrl-C
(the run decides for them) and end with the run. What a killed run leaves
(hidden files, temporary files) is removed by the next run. Progress goes to
stderr when it is a terminal. The last line on stdout
counts image-operation pairs:
  N written, M skipped, K failed

Exit status: 0 every pair written; 1 a pair skipped or failed, or the run was
stopped; 2 wrong arguments or refused to start.

Example:
  varnholt --batch ~/lists/web.vop --input ~/Pictures/shoot --output ~/web --jobs 2
  parallel varnholt --batch /shared/web.vop --input /shared/shoot --output /shared/web \
    --shard {}/8 ::: $(seq 8)
)");
}

bool WantsBatch(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--batch") == 0 || std::strncmp(argv[i], "--batch=", 8) == 0 ||
        std::strcmp(argv[i], "--batch-worker") == 0)
      return true;
  return false;
}

std::optional<BatchOptions> ParseBatchArguments(const QStringList &args, QString &problem) {
  BatchOptions options;
  bool haveList = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString name = args[i];
    std::optional<QString> inlineValue;
    if (name.startsWith(QStringLiteral("--")) && name.contains(u'=')) {
      inlineValue = name.mid(name.indexOf(u'=') + 1);
      name = name.left(name.indexOf(u'='));
    }
    const auto value = [&]() -> std::optional<QString> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) {
        problem = name == "--batch" ? QStringLiteral("--batch needs an operation list file")
                                    : name + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    const auto flag = [&](bool &field) {
      if (inlineValue) {
        problem = name + " takes no value";
        return false;
      }
      field = true;
      return true;
    };
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--batch") {
      // "--batch --help" asks for help, not for a list named --help.
      if (!inlineValue && i + 1 < args.size() && (args[i + 1] == "--help" || args[i + 1] == "-h"))
        continue;
      const auto v = value();
      if (!v) return std::nullopt;
      options.listFile = *v;
      haveList = true;
    } else if (name == "--input" || name == "--output" || name == "--pattern") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (name == "--pattern") {
        options.pattern = *v;
      } else if (v->isEmpty()) {
        problem = name + " needs a folder";
        return std::nullopt;
      } else {
        (name == "--input" ? options.inputDir : options.outputDir) = *v;
      }
    } else if (name == "--jobs" || name == "-j") {
      const auto v = value();
      if (!v) return std::nullopt;
      bool ok = false;
      const int jobs = v->toInt(&ok);
      if (!ok || jobs < 1 || jobs > 256) {
        problem = "--jobs needs a whole number from 1 to 256, not \"" + *v + "\"";
        return std::nullopt;
      }
      options.jobs = jobs;
    } else if (name == "--shard") {
      const auto v = value();
      if (!v) return std::nullopt;
      static const QRegularExpression form(QStringLiteral("^([0-9]{1,6})/([0-9]{1,6})$"));
      const QRegularExpressionMatch m = form.match(*v);
      const int k = m.hasMatch() ? m.captured(1).toInt() : 0;
      const int n = m.hasMatch() ? m.captured(2).toInt() : 0;
      if (k < 1 || k > n) {
        problem =
            "--shard needs K/N, whole numbers with K from 1 to N (such as 2/8), not \"" + *v + "\"";
        return std::nullopt;
      }
      options.shardIndex = k;
      options.shardCount = n;
    } else if (name == "--inverse") {
      if (!flag(options.inverse)) return std::nullopt;
    } else if (name == "--antialias") {
      if (!flag(options.antialias)) return std::nullopt;
    } else if (name == "--allow-out-of-bounds") {
      if (!flag(options.allowOutOfBounds)) return std::nullopt;
    } else if (name == "--keep-orientation") {
      if (!flag(options.keepOrientation)) return std::nullopt;
    } else if (name == "--enlarge") {
      if (!flag(options.enlarge)) return std::nullopt;
    } else if (name == "--quiet" || name == "-q") {
      if (!flag(options.quiet)) return std::nullopt;
    } else if (name.startsWith(u'-')) {
      problem = "unknown option " + name;
      return std::nullopt;
    } else {
      problem = "unexpected argument \"" + name + "\"";
      return std::nullopt;
    }
  }
  if (!options.help && (!haveList || options.listFile.isEmpty())) {
    problem = QStringLiteral("--batch needs an operation list file");
    return std::nullopt;
  }
  return options;
}

namespace {

// Why the run does not start; printed as it stands.
struct Refusal {
  QString text;
};

QList<OperationListItem> ReadList(const QString &listFile) {
  QString loaded, error;
  const QStringList lines = LoadOperationsFile(listFile, loaded, error);
  if (!error.isEmpty()) throw Refusal{"cannot read the operation list " + listFile + ": " + error};
  QList<OperationListItem> items;
  try {
    for (const QString &line : lines)
      items << SplitListLine(line);
  } catch (const Failure &failure) {
    throw Refusal{"cannot read the operation list " + listFile + ": " + failure.text()};
  }
  return items;
}

// Why the list reader left a line out.
QString DropReason(const QString &line) {
  const qsizetype mark = line.indexOf(u'>');
  if (mark < 0) return QStringLiteral("it has no \">\" before an operation");
  QString parseError;
  const Operation op = ParseOperation(line.section(u'>', 1, 1), parseError);
  if (!parseError.isEmpty()) return parseError;
  if (op.Extract && (op.TopLeftX < 0 || op.TopLeftY < 0))
    return QStringLiteral("a corner is below 0");
  if (op.Extract && (op.TopLeftX > op.BottomRightX || op.TopLeftY > op.BottomRightY))
    return QStringLiteral("the top-left corner is below or right of the bottom-right one");
  if (op.Resize && (op.ResizeWidth < 1 || op.ResizeHeight < 1))
    return QStringLiteral("a size is below 1");
  if (op.JpgQuality < 1 || op.JpgQuality > 100)
    return QStringLiteral("the quality is not from 1 to 100");
  if (!IsValidFilenamePart(op.Prefix) || !IsValidFilenamePart(op.Suffix))
    return QStringLiteral("the prefix or suffix holds characters a file name may not");
  return "the format \"" + op.OutputFormat + "\" is not one Varnholt writes";
}

// Lines the list reader leaves out would run if they were read: a ticked one
// gets a warning, as a ticked text that cannot be read does.
QStringList DroppedLineNotes(const QString &listFile) {
  QStringList notes;
  for (const DroppedListLine &dropped : DroppedOperationLinesOfFile(listFile)) {
    bool ticked = true;
    try {
      ticked = SplitListLine(dropped.text).ticked;
    } catch (const Failure &) {
    }
    if (ticked)
      notes << QStringLiteral("varnholt: warning: line %1 of the list is left out, %2: %3\n")
                   .arg(dropped.number)
                   .arg(DropReason(dropped.text), dropped.text);
  }
  return notes;
}

// Pairs that may not run because they would write over a source image or
// over what an earlier pair writes: whatever the order the pairs run in, the
// same files come out.
void PlanOutputs(BatchJob &job, const QString &outputFolder) {
  RunClaims &claims = job.claims;
  for (int i = 0; i < int(job.images.size()); ++i)
    claims.addSource(job.imagePath(i));
  const int operationCount = int(job.operations.size());
  job.notRun.assign(size_t(job.images.size()) * size_t(operationCount), QString());
  for (int i = 0; i < int(job.images.size()); ++i)
    for (int k = 0; k < operationCount; ++k) {
      const BatchOperation &bo = job.operations[size_t(k)];
      const PairPlan plan = PlanPair(outputFolder, job.images[i], bo.op);
      QStringList paths;
      for (const QString &name : plan.names())
        paths << plan.path(name);
      const QString image = job.imagePath(i);
      const RunClaims::Clash clash =
          claims.claim({image, PairKey(image, bo.op), bo.position}, paths);
      QString &why = job.notRun[size_t(i) * size_t(operationCount) + size_t(k)];
      if (clash.kind == RunClaims::Clash::OtherPair)
        why = QStringLiteral("%1 is already written for %2 by the operation at position %3")
                  .arg(clash.path, FileNamePart(clash.other.image))
                  .arg(clash.other.position);
      else if (clash)
        why = "it would write over the source image " + FileNamePart(clash.path);
    }
}

// Names as a file system that ignores case (and composes accents) compares
// them: a shared folder may be on one.
QString Folded(const QString &name) {
  return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

// Which of `parts` parts (0-based) each image of the job is in. Every part
// plans the whole job, so a clash decided by names comes out the same in all
// of them; what they cannot agree on is a clash that only the file system
// sees (two names for one file on a share that ignores case, found once one
// part has written it). So images whose results could meet that way share a
// part: the same name before the last dot, the same result name, or results
// in the frame family (x.png, x-0.png, ...) of an image that may hold
// frames, all compared without case. The split follows the image list in its
// order, in runs of about equal work, and depends on nothing but the list.
std::vector<int> ShardParts(const BatchJob &job, const QString &outputFolder, int parts) {
  const int imageCount = int(job.images.size());
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
    const QString &image = job.images[i];
    join(i, "image:" + Folded(Stem(image)));
    const bool mayHoldFrames = FormatHoldsFrames(image.section(u'.', -1));
    for (int k = 0; k < int(job.operations.size()); ++k) {
      if (job.whyNotRun(i, k).isEmpty()) ++weight[size_t(i)];
      for (const QString &name :
           PlanPair(outputFolder, image, job.operations[size_t(k)].op).names()) {
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
  std::vector<qint64> groupWeight(size_t(imageCount), 0);
  qint64 total = 0;
  for (int i = 0; i < imageCount; ++i) {
    groupWeight[size_t(root(i))] += weight[size_t(i)];
    total += weight[size_t(i)];
  }
  // A group's part is where the middle of its work falls; groups come in the
  // order of their first image.
  std::vector<int> part(size_t(imageCount), 0);
  qint64 before = 0;
  for (int i = 0; i < imageCount; ++i) {
    const int r = root(i);
    if (r == i) {
      const qint64 middle2 = 2 * before + groupWeight[size_t(i)];
      part[size_t(i)] = int(std::min<qint64>(parts - 1, middle2 * parts / (2 * total)));
      before += groupWeight[size_t(i)];
    } else {
      part[size_t(i)] = part[size_t(r)];
    }
  }
  return part;
}

// Leaves the job only the images of its part; the claims stay those of the
// whole job.
void KeepShard(BatchJob &job, const QString &outputFolder, int index, int count) {
  if (count <= 1) return;
  const std::vector<int> parts = ShardParts(job, outputFolder, count);
  const size_t operationCount = job.operations.size();
  QStringList images;
  std::vector<QString> notRun;
  for (int i = 0; i < int(job.images.size()); ++i) {
    if (parts[size_t(i)] != index - 1) continue;
    images << job.images[i];
    for (size_t k = 0; k < operationCount; ++k)
      notRun.push_back(job.notRun[size_t(i) * operationCount + k]);
  }
  job.images = images;
  job.notRun = std::move(notRun);
}

// "does not exist" only when that is the reason: a path too long or a folder
// that cannot be searched says so.
void RequireFolder(const char *which, const QString &path) {
  struct stat st {};
  const int err = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
  const QString named = QStringLiteral("the %1 folder ").arg(QLatin1String(which)) + path;
  if (err == 0 && S_ISDIR(st.st_mode)) return;
  if (err == 0) throw Refusal{named + " is not a folder"};
  if (err == ENOENT) throw Refusal{named + " does not exist"};
  throw Refusal{named + " cannot be used: " + QString::fromLocal8Bit(std::strerror(err))};
}

BatchJob PrepareBatch(const BatchOptions &options, int &allImages) {
  const QList<OperationListItem> items = ReadList(options.listFile);

  const QString inputDir = options.inputDir.isEmpty() ? QDir::currentPath() : options.inputDir;
  RequireFolder("input", inputDir);
  if (!options.outputDir.isEmpty()) RequireFolder("output", options.outputDir);
  // An output folder that is the image folder itself protects nothing.
  const bool separateOutput = !options.outputDir.isEmpty() &&
                              CanonicalFolder(options.outputDir) != CanonicalFolder(inputDir);
  // Each part lists the images when it starts: results beside them would be
  // images to the parts that start after another has written some.
  if (options.shardCount > 1 && !separateOutput)
    throw Refusal{QStringLiteral("--shard needs --output DIR, a folder other than the images': "
                                 "the parts would take each other's results for images")};

  BatchJob job;
  job.notes = DroppedLineNotes(options.listFile);
  job.inputFolder = Absolute(inputDir);
  try {
    job.images = ListImageFiles(job.inputFolder, options.pattern, options.inverse);
  } catch (const Failure &failure) {
    if (failure.number() == 93)
      throw Refusal{"the pattern \"" + options.pattern + "\" is malformed: " + failure.text()};
    throw Refusal{"cannot list the input folder " + inputDir + ": " + failure.text()};
  }

  // The same check, on the same entries, as a run started from the window.
  if (const QStringList clashes = ClashReportLines(items); !clashes.isEmpty()) {
    QString text = ClashMessageText(clashes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    throw Refusal{"refusing to start, the operations clash.\n" + text};
  }

  // Ticked operations in list order; texts that cannot be read are passed
  // over, as in a run from the window.
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (!items[i].ticked) continue;
    QString parseError;
    const Operation op = ParseOperation(items[i].text, parseError);
    if (!parseError.isEmpty()) {
      job.notes << QStringLiteral("varnholt: warning: the operation at position %1 cannot be "
                                  "read and is passed over: %2\n")
                       .arg(i + 1)
                       .arg(parseError);
      continue;
    }
    if (!separateOutput && op.Prefix.isEmpty() && op.Suffix.isEmpty())
      throw Refusal{QStringLiteral("the operation at position %1 has neither a prefix nor a "
                                   "suffix, so its results would replace the images; give "
                                   "--output DIR, or a prefix or suffix")
                        .arg(i + 1)};
    job.operations.push_back({int(i + 1), items[i].text, op});
  }

  // Such a file cannot be opened under any name Qt gives it; saying so is
  // better than a run that looks complete.
  const QStringList unreadable =
      UnreadableImageNames(job.inputFolder, options.pattern, options.inverse);
  // Counted once, by the first part.
  if (options.shardIndex == 1) {
    job.unreadableImages = int(unreadable.size());
    for (const QString &name : unreadable)
      job.notes << "varnholt: warning: " + name + ": skipped, its name is not valid UTF-8\n";
  }

  job.settings.OutputInDiffDir = separateOutput;
  job.settings.OutputDir = separateOutput ? Absolute(options.outputDir) : QString();
  job.settings.Antialias = options.antialias;
  job.settings.AllowOutOfBoundry = options.allowOutOfBounds;
  job.settings.AutoOrient = !options.keepOrientation;
  job.settings.NeverEnlarge = !options.enlarge;
  const QString outputFolder = separateOutput ? job.settings.OutputDir : job.inputFolder;
  try {
    RequireScratchRoot();
  } catch (const Failure &failure) {
    const QString why = failure.description();
    throw Refusal{why.left(1).toLower() + why.mid(1)};
  }
  // What runs that were killed left behind.
  SweepLeftovers(outputFolder);
  SweepScratchLeftovers();
  PlanOutputs(job, CanonicalFolder(outputFolder));
  allImages = int(job.images.size() + unreadable.size());
  KeepShard(job, CanonicalFolder(outputFolder), options.shardIndex, options.shardCount);
  return job;
}

} // namespace

int RunBatch(const BatchOptions &options, const BatchConsole &console) {
  BatchJob job;
  int allImages = 0;
  try {
    job = PrepareBatch(options, allImages);
  } catch (const Refusal &refusal) {
    Print(console.err, "varnholt: " + refusal.text + "\n");
    return kBatchRefused;
  }
  for (const QString &note : job.notes)
    Print(console.err, note);

  const int imageCount = int(job.images.size());
  BatchTotals totals;
  if (job.operations.empty()) {
    Print(console.err,
          QStringLiteral("varnholt: nothing to do: no ticked operations in the list\n"));
  } else if (imageCount == 0 && job.unreadableImages == 0 && allImages > 0) {
    Print(console.err, QStringLiteral("varnholt: nothing to do: part %1 of %2 has no images "
                                      "(the whole job has %3)\n")
                           .arg(options.shardIndex)
                           .arg(options.shardCount)
                           .arg(allImages));
  } else if (imageCount == 0 && job.unreadableImages == 0) {
    Print(console.err, "varnholt: nothing to do: no images in " +
                           (options.inputDir.isEmpty() ? QDir::currentPath() : options.inputDir) +
                           "\n");
  } else if (imageCount == 0) {
    totals.skipped = job.unreadableImages * int(job.operations.size());
  } else {
    const int jobs =
        std::clamp(options.jobs > 0 ? options.jobs : DefaultJobs(), 1, imageCount);
    try {
      totals = RunBatchJob(job, jobs, console, console.errIsTerminal && !options.quiet);
    } catch (const Failure &failure) {
      // ImageMagick could not be started at all: nothing was written.
      Print(console.err, "varnholt: cannot start ImageMagick: " + failure.description() + "\n");
      return kBatchRefused;
    }
  }
  Print(console.out, QStringLiteral("%1 written, %2 skipped, %3 failed\n")
                         .arg(totals.written)
                         .arg(totals.skipped)
                         .arg(totals.failed));
  return (totals.skipped == 0 && totals.failed == 0 && !totals.stopped) ? kBatchAllWritten
                                                                        : kBatchSomeNotWritten;
}

int BatchMain(int argc, char **argv) {
  const bool worker = argc == 2 && std::strcmp(argv[1], "--batch-worker") == 0;
  if (worker) PrepareBatchWorker();
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  if (worker) return RunBatchWorker();
  // Qt would hand such a name on mangled: a folder that "does not exist".
  if (const QStringList unreadable = NonUtf8Arguments(argc, argv); !unreadable.isEmpty()) {
    Print(stderr, "varnholt: " + unreadable.join(", ") +
                      ": not valid UTF-8, rename it to use it\n");
    return kBatchRefused;
  }
  QString problem;
  const std::optional<BatchOptions> options = ParseBatchArguments(args, problem);
  if (!options) {
    Print(stderr, "varnholt: " + problem + "\n" + BatchUsageText() +
                      "Try 'varnholt --batch --help' for more.\n");
    return kBatchRefused;
  }
  if (options->help) {
    Print(stdout, BatchHelpText());
    return kBatchAllWritten;
  }
  BatchConsole console;
  console.errIsTerminal = ::isatty(fileno(stderr)) == 1;
  return RunBatch(*options, console);
}

} // namespace varnholt
