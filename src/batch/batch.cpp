#include "batch/batch.h"

#include "batch/batch_run.h"
#include "operations/clash_check.h"
#include "operations/file_listing.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "processing/apply_operation.h"
#include "processing/pair_stage.h"
#include "processing/run.h"
#include "processing/run_plan.h"
#include "settings/settings.h"
#include "version.h"
#include "workers/ahead_pool.h"
#include "workers/worker_main.h"

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

namespace {

// Why the run does not start; printed as it stands, after the warnings
// gathered so far, which may explain it.
[[noreturn]] void Refused(const QString &why) { throw Failure(kErrRefused, why); }

QList<OperationListItem> ReadList(const QString &listFile) {
  QString loaded, error;
  const QStringList lines = LoadOperationsFile(listFile, loaded, error);
  if (!error.isEmpty()) Refused("cannot read the operation list " + listFile + ": " + error);
  QList<OperationListItem> items;
  try {
    for (const QString &line : lines)
      items << SplitListLine(line);
  } catch (const Failure &failure) {
    Refused("cannot read the operation list " + listFile + ": " + failure.text());
  }
  return items;
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
                   .arg(dropped.reason, dropped.text);
  }
  return notes;
}

// "does not exist" only when that is the reason: a path too long or a folder
// that cannot be searched says so.
void RequireFolder(const char *which, const QString &path) {
  struct stat st {};
  const int err = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
  const QString named = QStringLiteral("the %1 folder ").arg(QLatin1String(which)) + path;
  if (err == 0 && S_ISDIR(st.st_mode)) return;
  if (err == 0) Refused(named + " is not a folder");
  if (err == ENOENT) Refused(named + " does not exist");
  Refused(named + " cannot be used: " + QString::fromLocal8Bit(std::strerror(err)));
}

// With subfolders, each one that cannot be read is named once; the rest runs.
QStringList ListImages(BatchPlan &job, const BatchOptions &options, const QString &inputFolder,
                       bool separateOutput) {
  // Results inside the image folder are no images of a run with subfolders.
  const QString skip = separateOutput ? options.outputFolder : QString();
  try {
    if (!options.recursive) {
      job.images = ListImageFiles(job.inputFolder, options.pattern, options.inverse);
      return UnreadableImageNames(job.inputFolder, options.pattern, options.inverse);
    }
    ImageTree tree = ListImageTree(job.inputFolder, options.pattern, options.inverse, skip);
    job.images = tree.images;
    // Counted once, by the first part.
    if (options.shardIndex == 1) {
      job.unreadableFolders = int(tree.unreadableFolders.size());
      for (const QString &folder : tree.unreadableFolders)
        job.notes << "varnholt: warning: cannot read the subfolder " + folder +
                         "; its images are skipped\n";
    }
    return tree.unreadableNames;
  } catch (const Failure &failure) {
    if (failure.number() == 93)
      Refused("the pattern \"" + options.pattern + "\" is malformed: " + failure.text());
    Refused("cannot list the input folder " + inputFolder + ": " + failure.text());
  }
}

// Ticked operations in list order; texts that cannot be read are passed
// over, as in a run from the window.
void TakeOperations(BatchPlan &job, const QList<OperationListItem> &items, bool separateOutput) {
  QList<std::pair<QString, bool>> entries;
  for (const OperationListItem &item : items)
    entries.append({item.text, item.ticked});
  const OperationsRead read(entries, [&](int position, const QString &why) {
    ++job.leftOutLines;
    job.notes << QStringLiteral("varnholt: warning: the operation at position %1 cannot be "
                                "read and is passed over: %2\n")
                     .arg(position)
                     .arg(why);
  });
  for (const PlannedOperation &planned : read.operations()) {
    if (!separateOutput && planned.op.Prefix.isEmpty() && planned.op.Suffix.isEmpty())
      Refused(QStringLiteral("the operation at position %1 has neither a prefix nor a "
                             "suffix, so its results would replace the images; give "
                             "--output DIR, or a prefix or suffix")
                  .arg(planned.position));
    job.operations.push_back(planned);
  }
}

Settings BatchSettings(const BatchOptions &options, bool separateOutput) {
  Settings settings;
  settings.OutputInDiffDir = separateOutput;
  settings.OutputDir = separateOutput ? Absolute(options.outputFolder) : QString();
  settings.Antialias = options.antialias;
  settings.AllowOutOfBoundry = options.allowOutOfBounds;
  settings.AutoOrient = !options.keepOrientation;
  settings.NeverEnlarge = !options.enlarge;
  settings.ExactDecode = options.exact;
  settings.SharpenAfterShrinking = options.sharpen;
  settings.IncludeSubfolders = options.recursive;
  settings.ExistingResults = options.existing;
  settings.Metadata = options.metadata;
  return settings;
}

// What this list wrote beside the images last time is no image of this
// run: taken as one, a second run would write web_web_* from web_*.
void LeaveOutEarlierResults(BatchPlan &job, const BatchOptions &options) {
  std::vector<Operation> ops;
  for (const PlannedOperation &planned : job.operations)
    ops.push_back(planned.op);
  const QStringList results = EarlierResults(job.images, ops);
  if (results.isEmpty()) return;
  for (const QString &result : results)
    job.images.removeOne(result);
  if (options.shardIndex == 1)
    job.notes << QStringLiteral("varnholt: %1 earlier result(s) of this list beside the images "
                                "are not taken as images: %2\n")
                     .arg(results.size())
                     .arg(results.size() > 3 ? results.mid(0, 3).join(", ") + ", ..."
                                             : results.join(", "));
}

// Fills job; its notes so far are printed before a refusal.
void PrepareBatch(const BatchOptions &options, BatchPlan &job, int &allImages) {
  const QList<OperationListItem> items = ReadList(options.listFile);

  const QString inputFolder =
      options.inputFolder.isEmpty() ? QDir::currentPath() : options.inputFolder;
  RequireFolder("input", inputFolder);
  if (!options.outputFolder.isEmpty()) RequireFolder("output", options.outputFolder);
  // An output folder that is the image folder itself protects nothing.
  const bool separateOutput = !options.outputFolder.isEmpty() &&
                              CanonicalFolder(options.outputFolder) != CanonicalFolder(inputFolder);
  // Each part lists the images when it starts: results beside them would be
  // images to the parts that start after another has written some.
  if (options.shardCount > 1 && !separateOutput)
    Refused(QStringLiteral("--shard needs --output DIR, a folder other than the images': "
                           "the parts would take each other's results for images"));

  job.notes = DroppedLineNotes(options.listFile);
  job.leftOutLines = int(job.notes.size());
  job.inputFolder = Absolute(inputFolder);
  const QStringList unreadable = ListImages(job, options, inputFolder, separateOutput);
  // The same check, on the same entries, as a run started from the window.
  if (const QStringList clashes = ClashReportLines(items); !clashes.isEmpty()) {
    QString text = ClashMessageText(clashes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Refused("refusing to start, the operations clash.\n" + text);
  }
  TakeOperations(job, items, separateOutput);
  if (!separateOutput) LeaveOutEarlierResults(job, options);
  // A scheduled job whose list went bad must not look like one with nothing to do.
  if (job.operations.empty())
    Refused("nothing to do: the operation list " + options.listFile +
            " has no ticked operation that can be read");

  // Such a file cannot be opened under any name Qt gives it; saying so is
  // better than a run that looks complete.
  // Counted once, by the first part.
  if (options.shardIndex == 1) {
    job.unreadableImages = int(unreadable.size());
    for (const QString &name : unreadable)
      job.notes << "varnholt: warning: " + name + ": skipped, its name is not valid UTF-8\n";
  }

  job.settings = BatchSettings(options, separateOutput);
  const QString outputFolder = job.outputFolder();
  try {
    RequireScratchRoot();
  } catch (const Failure &failure) {
    const QString why = failure.description();
    Refused(why.left(1).toLower() + why.mid(1));
  }
  // What runs that were killed left behind.
  SweepLeftovers(outputFolder);
  if (options.recursive) SweepLeftoversBelow(outputFolder);
  SweepScratchLeftovers();
  ClaimPairs(job, CanonicalFolder(outputFolder));
  allImages = int(job.images.size() + unreadable.size());
  KeepShard(job, CanonicalFolder(outputFolder), options.shardIndex, options.shardCount);
}

} // namespace

int RunBatch(const BatchOptions &options, const BatchConsole &console) {
  BatchPlan job;
  int allImages = 0;
  try {
    PrepareBatch(options, job, allImages);
  } catch (const Failure &refused) {
    if (refused.number() != kErrRefused) throw;
    for (const QString &note : job.notes)
      Print(console.err, note);
    Print(console.err, "varnholt: " + refused.description() + "\n");
    return kBatchRefused;
  }
  for (const QString &note : job.notes)
    Print(console.err, note);

  const int imageCount = int(job.images.size());
  BatchTotals totals;
  if (imageCount == 0 && job.unreadableImages == 0 && allImages > 0) {
    Print(console.err, QStringLiteral("varnholt: nothing to do: part %1 of %2 has no images "
                                      "(the whole job has %3)\n")
                           .arg(options.shardIndex)
                           .arg(options.shardCount)
                           .arg(allImages));
  } else if (imageCount == 0 && job.unreadableImages == 0) {
    Print(console.err,
          "varnholt: nothing to do: no images in " +
              (options.inputFolder.isEmpty() ? QDir::currentPath() : options.inputFolder) + "\n");
  } else if (imageCount == 0) {
    totals.skipped = job.unreadableImages * int(job.operations.size());
  } else {
    const int jobs = std::clamp(options.jobs > 0 ? options.jobs : DefaultJobs(), 1, imageCount);
    try {
      totals = RunBatchPlan(job, jobs, console, console.errIsTerminal && !options.quiet);
    } catch (const Failure &failure) {
      // ImageMagick could not be started at all: nothing was written.
      Print(console.err, "varnholt: cannot start ImageMagick: " + failure.description() + "\n");
      return kBatchRefused;
    }
  }
  Print(console.out,
        RunCountsText(totals.written, totals.skipped, totals.failed, totals.stopped) + "\n");
  const bool allDone = totals.skipped == 0 && totals.failed == 0 && !totals.stopped &&
                       job.leftOutLines == 0 && job.unreadableFolders == 0;
  return allDone ? kBatchAllWritten : kBatchSomeNotWritten;
}

int BatchMain(int argc, char **argv) {
  const bool worker = argc == 2 && std::strcmp(argv[1], "--batch-worker") == 0;
  if (worker) PrepareWorker();
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  if (worker) return RunWorker();
  // Qt would hand such a name on mangled: a folder that "does not exist".
  if (const QStringList unreadable = NonUtf8Arguments(argc, argv); !unreadable.isEmpty()) {
    Print(stderr,
          "varnholt: " + unreadable.join(", ") + ": not valid UTF-8, rename it to use it\n");
    return kBatchRefused;
  }
  const Expected<BatchOptions> options = ParseBatchArguments(args);
  if (!options) {
    Print(stderr, "varnholt: " + options.error().description() + "\n" + BatchUsageText() +
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
