// The batch mode's command line: its options, their checks and its help.
#include "cli/batch.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace varnholt {

QString BatchUsageText() {
  return QStringLiteral(
      "Usage: varnholt --batch LIST.vop [--input DIR] [--output DIR] [--pattern P] [--inverse]\n"
      "                [--antialias] [--allow-out-of-bounds] [--keep-orientation]\n"
      "                [--enlarge] [--sharpen] [--exact] [--existing replace|skip|keep-both]\n"
      "                [--metadata keep|no-location|none] [--jobs N] [--shard K/N] [--quiet]\n"
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

namespace {

// The options that take no value.
const std::pair<const char *, bool BatchOptions::*> kFlags[] = {
    {"--inverse", &BatchOptions::inverse},
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

// Reads the value of an option that takes one; false (with problem set)
// when it is not one it accepts.
bool TakeValue(const QString &name, const QString &v, BatchOptions &options, QString &problem) {
  if (name == "--batch") {
    options.listFile = v;
  } else if (name == "--pattern") {
    options.pattern = v;
  } else if (name == "--input" || name == "--output") {
    if (v.isEmpty()) {
      problem = name + " needs a folder";
      return false;
    }
    (name == "--input" ? options.inputDir : options.outputDir) = v;
  } else if (name == "--existing") {
    const QHash<QString, QString> words = {
        {"replace", "Replace"}, {"skip", "Skip"}, {"keep-both", "KeepBoth"}};
    if (!words.contains(v)) {
      problem = "--existing needs replace, skip or keep-both, not \"" + v + "\"";
      return false;
    }
    options.existing = words.value(v);
  } else if (name == "--metadata") {
    const QHash<QString, QString> words = {
        {"keep", "KeepAll"}, {"no-location", "RemoveLocation"}, {"none", "RemoveAll"}};
    if (!words.contains(v)) {
      problem = "--metadata needs keep, no-location or none, not \"" + v + "\"";
      return false;
    }
    options.metadata = words.value(v);
  } else if (name == "--jobs" || name == "-j") {
    bool ok = false;
    options.jobs = v.toInt(&ok);
    if (!ok || options.jobs < 1 || options.jobs > 256) {
      problem = "--jobs needs a whole number from 1 to 256, not \"" + v + "\"";
      return false;
    }
  } else { // --shard
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,6})/([0-9]{1,6})$"));
    const QRegularExpressionMatch m = form.match(v);
    options.shardIndex = m.hasMatch() ? m.captured(1).toInt() : 0;
    options.shardCount = m.hasMatch() ? m.captured(2).toInt() : 0;
    if (options.shardIndex < 1 || options.shardIndex > options.shardCount) {
      problem =
          "--shard needs K/N, whole numbers with K from 1 to N (such as 2/8), not \"" + v + "\"";
      return false;
    }
  }
  return true;
}

} // namespace

std::optional<BatchOptions> ParseBatchArguments(const QStringList &args, QString &problem) {
  static const QStringList kValued = {"--batch", "--input", "--output", "--pattern",
                                      "--jobs",  "-j",      "--shard",  "--existing", "--metadata"};
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
        problem = name + " takes no value";
        return std::nullopt;
      }
      options.*(flag->second) = true;
    } else if (kValued.contains(name)) {
      // "--batch --help" asks for help, not for a list named --help.
      if (name == "--batch" && !inlineValue && i + 1 < args.size() &&
          (args[i + 1] == "--help" || args[i + 1] == "-h"))
        continue;
      if (!inlineValue && i + 1 >= args.size()) {
        problem = name == "--batch" ? QStringLiteral("--batch needs an operation list file")
                                    : name + " needs a value";
        return std::nullopt;
      }
      if (!TakeValue(name, inlineValue ? *inlineValue : args[++i], options, problem))
        return std::nullopt;
      haveList = haveList || name == "--batch";
    } else {
      problem = name.startsWith(u'-') ? "unknown option " + name
                                      : "unexpected argument \"" + name + "\"";
      return std::nullopt;
    }
  }
  if (!options.help && (!haveList || options.listFile.isEmpty())) {
    problem = QStringLiteral("--batch needs an operation list file");
    return std::nullopt;
  }
  return options;
}

} // namespace varnholt
