#include "processing/magick/magick_toolkit.h"

#include "processing/magick/magick_policy.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "processing/magick/decoded_cache.h"
#include "processing/magick/magick_command.h"
#include "processing/magick/magick_safe_names.h"
#include "processing/pair_stage.h"

#include <cerrno>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace varnholt {

using namespace magick;

void MagickToolkit::initialise() {
  // Without it ImageMagick's policy and every safe name fail, each with a
  // message of its own that does not say why.
  RequireScratchRoot();
  StartOnce();
}

QStringList MagickToolkit::takeWarnings() { return TakeWarnings(); }

void MagickToolkit::checkSize(qint64 width, qint64 height, const QString &path) {
  CheckImageWithinLimits(width, height, path);
}

MagickToolkit::MagickToolkit()
    : scratch_((initialise(), ScratchTemplate())),
      cache_(std::make_unique<DecodedCache>(
          QStringLiteral("varnholt%1x").arg(quintptr(this), 0, 16))) {
  if (!scratch_.isValid())
    throw Failure(kErrToolkit, "Cannot create a scratch folder: " + scratch_.errorString());
  HoldMagickScratch();
}

MagickToolkit::~MagickToolkit() {
  cache_.reset(); // its pictures may have pixels in the scratch folder
  ReleaseMagickScratch();
}

int MagickToolkit::decodedReuses() {
  std::lock_guard lock(cacheMutex_);
  return cache_->reuses();
}

void MagickToolkit::releaseDecoded() {
  std::lock_guard lock(cacheMutex_);
  cache_->clear();
}

QString MagickToolkit::identify(const QStringList &args) {
  RequireFile(args, 1, "identify");
  Call call(scratch_.path(), ++calls_);
  QStringList words = args;
  // Only the first frame: a GIF's every frame would otherwise repeat the
  // template one after another ("200x100200x100...").
  words.last() = call.input(args.last()) + "[0]";
  RefuseOversizedWebP(args.last());
  return Run(Command::Identify, words, call, args.last());
}

void MagickToolkit::convert(const QStringList &args) {
  RequireFile(args, 2, "convert");
  const QString input = args[args.size() - 2];
  convertWith(input, args.last(), false, [&](const QString &in, const QString &out, Call &call) {
    Run(Command::Convert, args.mid(0, args.size() - 2) << in << out, call, input);
  });
}

void MagickToolkit::convertInSteps(const ConvertSteps &work, bool reuseDecoded) {
  if (work.steps.empty() || work.input.isEmpty() || work.output.isEmpty())
    throw StepFailure(0, Failure(kErrToolkit, "ImageMagick's convert was given no file"));
  // Safe names fail before the picture is read, so in the first step; the
  // written files' names after it is written, so in the last.
  bool written = false;
  try {
    convertWith(work.input, work.output, reuseDecoded && reuseDecoded_,
                [&](const QString &in, const QString &out, Call &call) {
                  RunSteps(work.settings, in, work.steps, work.metadata, out, call, work.input);
                  written = true;
                });
  } catch (const StepFailure &) {
    throw;
  } catch (const Failure &failure) {
    throw StepFailure(written ? int(work.steps.size()) - 1 : 0, failure);
  }
}

void MagickToolkit::convertWith(
    const QString &input, const QString &output, bool reuse,
    const std::function<void(const QString &, const QString &, Call &)> &run) {
  Call call(scratch_.path(), ++calls_);
  std::unique_lock<std::mutex> cacheLock(cacheMutex_, std::defer_lock);
  QString decoded;
  if (reuse) {
    cacheLock.lock();
    decoded = cache_->keep(input, call);
  }
  QString seenInput;
  if (decoded.isEmpty()) {
    if (cacheLock.owns_lock()) cacheLock.unlock();
    seenInput = call.input(input);
  } else {
    seenInput = "mpr:" + decoded;
    call.alias(seenInput, input);
  }
  const Call::Output out = call.output(output);
  try {
    run(seenInput, SeenName(out), call);
    const QStringList written = Written(out, Named(out, out.extension));
    if (written.isEmpty())
      throw Failure(kErrToolkit, "ImageMagick's convert wrote no file for " + output);
    RenameWritten(out, written);
  } catch (...) {
    RemoveHidden(out);
    throw;
  }
}

void MagickToolkit::mogrify(const QStringList &args) {
  RequireFile(args, 1, "mogrify");
  Call call(scratch_.path(), ++calls_);
  const QString real = args.last();
  const Call::Output out = call.output(real);
  const QString hidden = Named(out, out.extension);
  // The file is worked on under a second name; the original name keeps the
  // old contents until the result is renamed over it.
  if (::link(Native(out.real).constData(), Native(hidden).constData()) != 0) {
    if (errno == ENOENT) throw Failure::fromErrno(ENOENT, real);
    CopyFileReplacing(out.real, hidden);
  }
  QStringList words = args;
  words.last() = SeenName(out);
  // With -format the result is a copy beside the file, named for the format.
  QString expected = hidden;
  if (const qsizetype at = args.lastIndexOf(QStringLiteral("-format"));
      at >= 0 && at + 1 < args.size())
    expected = out.hiddenStem + "." + args[at + 1];
  try {
    Run(Command::Mogrify, words, call, real);
    const QStringList written = Written(out, expected);
    if (written.isEmpty())
      throw Failure(kErrToolkit, "ImageMagick's mogrify wrote no file for " + real);
    RenameWritten(out, written);
    ::unlink(Native(hidden).constData());
  } catch (...) {
    RemoveHidden(out);
    throw;
  }
}

int MagickToolkit::orientation(const QString &path) {
  RefuseOversizedWebP(path);
  Call call(scratch_.path(), ++calls_);
  return PingOrientation(call.input(path) + "[0]", call, path);
}

} // namespace varnholt
