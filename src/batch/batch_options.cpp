// The batch mode's command line: its options, their checks and its help.
#include "batch/batch.h"

#include <QHash>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace varnholt {
namespace {

[[noreturn]] void Refused(const QString &why) { throw Failure(kErrRefused, why); }

} // namespace

QString BatchUsageText() {
  return QStringLiteral(
      "Usage: varnholt --batch LIST.vop [--input DIR] [--output DIR] [--pattern P] [--inverse]\n"
      "                [--recursive] [--antialias] [--allow-out-of-bounds] [--keep-orientation]\n"
      "                [--enlarge] [--sharpen] [--exact] [--existing replace|skip|keep-both]\n"
      "                [--metadata keep|no-location|none] [--jobs N] [--shard K/N|auto[/N]]\n"
      "                [--quiet]\n"
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
                         dot (png bmp jpg jpeg gif tif tiff tga miff heic heif
                         avif webp, any case), hidden files excepted, in name
                         order ignoring case
  --output DIR           write the results into DIR instead of beside the images
  --pattern P            only images whose name before the last dot matches P
                         (case-sensitive): ? any character, * any run, # a digit,
                         [abc] [a-f] one of, [!abc] none of
  --inverse              only images whose name does NOT match the pattern
  --recursive            the images of every subfolder too (hidden folders and
                         links to folders aside), with the same pattern; their
                         results go into the same subfolders of --output DIR
                         (made as needed), or beside each image
  --antialias            resize with antialiasing
  --allow-out-of-bounds  a rectangle running past the right or bottom edge is cut
                         at the edge instead of skipping the image
  --keep-orientation     work on pictures as they are stored, not turned upright
                         as their EXIF orientation says they are seen
  --enlarge              let the Limit resize methods enlarge smaller images
                         too (by default they only shrink)
  --sharpen              give a picture a resize made smaller a light unsharp
                         mask, stronger the more it shrank
  --exact                decode every JPEG whole. By default a JPEG shrunk as a
                         whole is decoded at a half, a quarter or an eighth of
                         its size when that still leaves the result's size:
                         several times faster, in a fraction of the memory,
                         and the same size, with pixels that differ from a
                         whole decode by ImageMagick's rounding only
  --existing WHAT        where an earlier result has a pair's name: replace it
                         (the default), skip the pair and keep it, or
                         keep-both (the new one gets the first free name
                         NAME-2.EXT, NAME-3.EXT, ...). Beside the images, the
                         results this list wrote earlier are never taken as
                         images
  --metadata WHAT        what of a photo's metadata its results carry: keep
                         (the default) all of it, no-location: all but the GPS
                         position and the places named in XMP and IPTC, none:
                         nothing but the colour profile (and the EXIF
                         orientation of a picture not turned upright). A
                         result encoded anew never carries the original's
                         small preview picture, and its pixel size tags are
                         its own; a plain copy with keep stays the same bytes
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
  --shard auto[/N]       take K (and N) from the engine that started the run: a
                         Slurm array job (SLURM_ARRAY_TASK_ID with its MIN and
                         COUNT or MAX, so --array=0-7 and --array=1-8 both
                         give parts 1 to 8), a Kubernetes Indexed Job
                         (JOB_COMPLETION_INDEX, from 0) or GNU parallel
                         (PARALLEL_SEQ, from 1); the last two need N. Refused
                         when none is set, they disagree with each other or
                         with N, or the part is past the count
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
and "M skipped (stopped)," when Ctrl-C ended the run.

Exit status: 0 every pair written; 1 a pair skipped or failed, a ticked line of
the list left out, or the run was stopped; 2 wrong arguments or refused to
start, as for a list with no ticked operation it can read.

Example:
  varnholt --batch ~/lists/web.vop --input ~/Pictures/shoot --output ~/web --jobs 2
  parallel varnholt --batch /shared/web.vop --input /shared/shoot --output /shared/web \
    --shard auto/8 ::: $(seq 8)
  sbatch --array=1-8 --wrap 'varnholt --batch /shared/web.vop --input /shared/shoot \
    --output /shared/web --shard auto'
)");
}

// Engines that start one copy of a command per part say which part it is in
// their own variable; --shard auto reads them so one command line serves all
// the parts. A value it cannot be sure of refuses the run rather than
// guessing: two parts that both think they are part 3 would do its images
// twice and leave another part's undone, with every part exiting 0.
namespace {

struct EnginePart {
  QString said;  // the variables it came from, with their values, for messages
  int part = 0;  // 1-based
  int count = 0; // 0: the engine does not tell
};

// A variable holding a whole number from 0; nothing when it is not set.
std::optional<long long> Whole(const QProcessEnvironment &env, const char *name) {
  const QString key = QString::fromLatin1(name);
  if (!env.contains(key)) return std::nullopt;
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
  const QString v = env.value(key);
  if (!digits.match(v).hasMatch())
    Refused("--shard auto: " + key + " is \"" + v + "\", not a whole number from 0");
  return v.toLongLong();
}

// A Slurm array: the task's place among MIN, MIN+STEP, ... MAX. A list array
// (--array=1,4,9) has COUNT tasks but more places, and is refused as disagreeing.
std::optional<EnginePart> SlurmPart(const QProcessEnvironment &env) {
  const auto id = Whole(env, "SLURM_ARRAY_TASK_ID");
  const auto min = Whole(env, "SLURM_ARRAY_TASK_MIN");
  const auto max = Whole(env, "SLURM_ARRAY_TASK_MAX");
  const auto count = Whole(env, "SLURM_ARRAY_TASK_COUNT");
  const auto step = Whole(env, "SLURM_ARRAY_TASK_STEP");
  if (!id) return std::nullopt;
  const QString said = QStringLiteral("SLURM_ARRAY_TASK_ID=%1").arg(*id);
  if (!min || (!max && !count)) {
    Refused("--shard auto: " + said + " comes without SLURM_ARRAY_TASK_MIN and " +
            "SLURM_ARRAY_TASK_COUNT or SLURM_ARRAY_TASK_MAX, so its part is not known");
  }
  const long long by = step.value_or(1);
  const bool fits = by > 0 && (!max || (*max >= *min && (*max - *min) % by == 0)) &&
                    (!max || !count || (*max - *min) / by + 1 == *count);
  if (!fits) {
    Refused(QStringLiteral("--shard auto: SLURM_ARRAY_TASK_MIN=%1, SLURM_ARRAY_TASK_MAX=%2, "
                           "SLURM_ARRAY_TASK_STEP=%3 and SLURM_ARRAY_TASK_COUNT=%4 disagree "
                           "(an array of single numbers such as --array=1,4,9 has no parts; "
                           "use a range such as --array=1-8)")
                .arg(*min)
                .arg(max ? QString::number(*max) : QStringLiteral("(not set)"))
                .arg(by)
                .arg(count ? QString::number(*count) : QStringLiteral("(not set)")));
  }
  const long long total = count ? *count : (*max - *min) / by + 1;
  if (*id < *min || (*id - *min) % by != 0 || (*id - *min) / by >= total) {
    Refused(QStringLiteral("--shard auto: %1 is not a task of the array from "
                           "SLURM_ARRAY_TASK_MIN=%2 with %3 tasks")
                .arg(said)
                .arg(*min)
                .arg(total));
  }
  return EnginePart{said, int((*id - *min) / by + 1), int(total)};
}

// The part (1-based) and the count of parts the engine that started this
// process gives for --shard auto or auto/N.
std::pair<int, int> ShardFromEnvironment(const QString &value, const QProcessEnvironment &env) {
  static const QRegularExpression form(QStringLiteral("^auto(?:/([0-9]{1,6}))?$"));
  const QRegularExpressionMatch m = form.match(value);
  const int given = m.hasMatch() && m.hasCaptured(1) ? m.captured(1).toInt() : 0;
  if (!m.hasMatch() || (m.hasCaptured(1) && given < 1)) {
    Refused("--shard auto/N needs N, a whole number from 1 (such as auto/8), not \"" + value +
            "\"");
  }
  std::vector<EnginePart> found;
  if (auto slurm = SlurmPart(env)) found.push_back(*slurm);
  for (const auto &[name, from] : {std::pair{"JOB_COMPLETION_INDEX", 0}, {"PARALLEL_SEQ", 1}})
    if (const auto v = Whole(env, name))
      found.push_back(
          {QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(*v), int(*v - from + 1), 0});
  if (found.empty()) {
    Refused(QStringLiteral(
        "--shard auto found none of SLURM_ARRAY_TASK_ID (a Slurm array job), "
        "JOB_COMPLETION_INDEX (a Kubernetes Indexed Job) or PARALLEL_SEQ (GNU parallel); "
        "give the part as K/N"));
  }
  int total = given;
  QString countSaid = given ? "auto/" + QString::number(given) : QString();
  for (const EnginePart &p : found) {
    if (p.part != found.front().part) {
      Refused(
          "--shard auto: " + found.front().said + " and " + p.said +
          QStringLiteral(" are different parts (%1 and %2)").arg(found.front().part).arg(p.part));
    }
    if (p.count && total && p.count != total) {
      Refused(QStringLiteral("--shard auto: %1 is one of %2 tasks, not of %3 as %4 says")
                  .arg(p.said)
                  .arg(p.count)
                  .arg(total)
                  .arg(countSaid));
    }
    if (p.count) total = p.count, countSaid = p.said;
  }
  if (!total) {
    Refused("--shard auto: " + found.front().said +
            " does not tell how many parts there are; give it as --shard auto/N");
  }
  if (found.front().part < 1 || found.front().part > total) {
    Refused(QStringLiteral("--shard auto: %1 is part %2, not one of parts 1 to %3 (%4)")
                .arg(found.front().said)
                .arg(found.front().part)
                .arg(total)
                .arg(countSaid));
  }
  return {found.front().part, total};
}

} // namespace

bool WantsBatch(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--batch") == 0 || std::strncmp(argv[i], "--batch=", 8) == 0 ||
        std::strcmp(argv[i], "--batch-worker") == 0)
      return true;
  return false;
}

namespace {

// The options that take no value.
const std::pair<const char *, bool BatchOptions::*> kFlags[] = {
    {"--inverse", &BatchOptions::inverse},
    {"--recursive", &BatchOptions::recursive},
    {"--antialias", &BatchOptions::antialias},
    {"--allow-out-of-bounds", &BatchOptions::allowOutOfBounds},
    {"--keep-orientation", &BatchOptions::keepOrientation},
    {"--enlarge", &BatchOptions::enlarge},
    {"--exact", &BatchOptions::exact},
    {"--sharpen", &BatchOptions::sharpen},
    {"--quiet", &BatchOptions::quiet},
    {"-q", &BatchOptions::quiet},
    {"--help", &BatchOptions::help},
    {"-h", &BatchOptions::help},
};

// Reads the value of an option that takes one.
void TakeValue(const QString &name, const QString &v, BatchOptions &options,
               const QProcessEnvironment &env) {
  if (name == "--batch") {
    options.listFile = v;
  } else if (name == "--pattern") {
    options.pattern = v;
  } else if (name == "--input" || name == "--output") {
    if (v.isEmpty()) {
      Refused(name + " needs a folder");
    }
    (name == "--input" ? options.inputFolder : options.outputFolder) = v;
  } else if (name == "--existing") {
    const QHash<QString, QString> words = {
        {"replace", "Replace"}, {"skip", "Skip"}, {"keep-both", "KeepBoth"}};
    if (!words.contains(v)) {
      Refused("--existing needs replace, skip or keep-both, not \"" + v + "\"");
    }
    options.existing = words.value(v);
  } else if (name == "--metadata") {
    const QHash<QString, QString> words = {
        {"keep", "KeepAll"}, {"no-location", "RemoveLocation"}, {"none", "RemoveAll"}};
    if (!words.contains(v)) {
      Refused("--metadata needs keep, no-location or none, not \"" + v + "\"");
    }
    options.metadata = words.value(v);
  } else if (name == "--jobs" || name == "-j") {
    bool ok = false;
    options.jobs = v.toInt(&ok);
    if (!ok || options.jobs < 1 || options.jobs > 256) {
      Refused("--jobs needs a whole number from 1 to 256, not \"" + v + "\"");
    }
  } else if (v == "auto" || v.startsWith(QStringLiteral("auto/"))) {
    std::tie(options.shardIndex, options.shardCount) = ShardFromEnvironment(v, env);
  } else { // --shard K/N
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,6})/([0-9]{1,6})$"));
    const QRegularExpressionMatch m = form.match(v);
    options.shardIndex = m.hasMatch() ? m.captured(1).toInt() : 0;
    options.shardCount = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (options.shardIndex < 1 || options.shardIndex > options.shardCount) {
      Refused("--shard needs K/N, whole numbers with K from 1 to N (such as 2/8), or auto, not \"" +
              v + "\"");
    }
  }
}

BatchOptions ReadArguments(const QStringList &args, const QProcessEnvironment &env) {
  static const QStringList kValued = {"--batch", "--input", "--output",   "--pattern", "--jobs",
                                      "-j",      "--shard", "--existing", "--metadata"};
  BatchOptions options;
  bool haveList = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString name = args[i];
    std::optional<QString> inlineValue;
    if (name.startsWith(QStringLiteral("--")) && name.contains(u'=')) {
      inlineValue = name.mid(name.indexOf(u'=') + 1);
      name = name.left(name.indexOf(u'='));
    }
    const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                   [&](const auto &f) { return name == f.first; });
    if (flag != std::end(kFlags)) {
      // "--help" as such; "--help=x" has always been read as help too.
      if (inlineValue && flag->second != &BatchOptions::help) {
        Refused(name + " takes no value");
      }
      options.*(flag->second) = true;
    } else if (kValued.contains(name)) {
      // "--batch --help" asks for help, not for a list named --help.
      if (name == "--batch" && !inlineValue && i + 1 < args.size() &&
          (args[i + 1] == "--help" || args[i + 1] == "-h"))
        continue;
      if (!inlineValue && i + 1 >= args.size()) {
        Refused(name == "--batch" ? QStringLiteral("--batch needs an operation list file")
                                  : name + " needs a value");
      }
      TakeValue(name, inlineValue ? *inlineValue : args[++i], options, env);
      haveList = haveList || name == "--batch";
    } else {
      Refused(name.startsWith(u'-') ? "unknown option " + name
                                    : "unexpected argument \"" + name + "\"");
    }
  }
  if (!options.help && (!haveList || options.listFile.isEmpty())) {
    Refused(QStringLiteral("--batch needs an operation list file"));
  }
  return options;
}

} // namespace

Expected<BatchOptions> ParseBatchArguments(const QStringList &args) {
  return ParseBatchArguments(args, QProcessEnvironment::systemEnvironment());
}

Expected<BatchOptions> ParseBatchArguments(const QStringList &args,
                                           const QProcessEnvironment &env) {
  try {
    return ReadArguments(args, env);
  } catch (const Failure &refused) {
    return refused;
  }
}

} // namespace varnholt
