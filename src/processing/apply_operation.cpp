#include "processing/apply_operation.h"

#include "operations/vb_text.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/image_toolkit.h"
#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "processing/run_plan.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QDir>

#include <algorithm>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kDQ = QStringLiteral("\"");

QString N(qint64 value) { return QString::number(value); }

// Corner arithmetic in 64 bits, refused when the result leaves 32.
std::int32_t Checked(qint64 value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw Failure(kErrOverflow, "Overflow");
  return static_cast<std::int32_t>(value);
}

QString CoordinateErrors(const Operation &op, std::int32_t width, std::int32_t height) {
  QString errors;
  if (op.TopLeftX >= width)
    errors += "Top Left X Coordiate (" + N(op.TopLeftX) + ") is greater than image width of " +
              N(width) + kCrLf;
  if (op.TopLeftY >= height)
    errors += "Top Left Y Coordiate (" + N(op.TopLeftY) + ") is greater than image height of " +
              N(height) + kCrLf;
  if (op.BottomRightX >= width)
    errors += "Bottom Right X Coordiate (" + N(op.BottomRightX) +
              ") is greater than image width of " + N(width) + kCrLf;
  if (op.BottomRightY >= height)
    errors += "Bottom Right Y Coordiate (" + N(op.BottomRightY) +
              ") is greater than image height of " + N(height) + kCrLf;
  return errors;
}

// Orientations 5 to 8 turn the picture on its side: width and height swap.
bool TurnsSideways(int orientation) { return orientation >= 5 && orientation <= 8; }

// The files a pair's steps left in its place, by name.
QStringList StagedNames(const PairStage &stage, const QString &target) {
  const QString stem = Extension(target).isEmpty() ? target : Stem(target);
  QStringList names;
  for (const QString &name : QDir(stage.file(QString())).entryList(QDir::Files | QDir::Hidden))
    if (name.startsWith(stem)) names << name;
  return names;
}
} // namespace

QString ResizeGeometry(const Operation &op, bool neverEnlarge) {
  // ">" shrinks what is larger and leaves the rest as it is.
  const QString limit = neverEnlarge ? QStringLiteral(">") : QString();
  switch (op.ResizeMethod) {
  case kLimitWidthHeight: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight) + limit;
  case kLimitWidth: return N(op.ResizeWidth) + "x" + limit;
  case kLimitHeight: return "x" + N(op.ResizeHeight) + limit;
  default: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight) + "!";
  }
}

QString ApplyOperation(const QString &inputPath, const Operation &op, const ApplyEnvironment &env,
                       RunState &state, ApplyOutcome *outcome) {
  const auto finish = [&](ApplyOutcome result, QString text) {
    if (outcome) *outcome = result;
    return text;
  };
  const Settings &settings = env.settings;
  QString step;
  // Out here so a failure text can still name the user's files rather than
  // where they were built; the stage goes before the folders that hold it.
  RunFiles ownFiles;
  RunFiles &files = env.files ? *env.files : ownFiles;
  std::unique_ptr<PairStage> stage;
  const auto failed = [&](const QString &text) {
    return finish(ApplyOutcome::Failed,
                  (stage ? stage->unstaged(text) : text) + kCrLf + "Operation: " + step);
  };
  try {
    step = "Setting target file: " + inputPath;
    const QString inputName = FileNamePart(inputPath);

    step = QStringLiteral("Setting Result File");
    // A folder of its own that has gone: the images' folder is there, or
    // no image could be read.
    const QString outputFolder = OutputFolderFor(settings, env.inputFolder);
    if (outputFolder != env.inputFolder && !PathExists(outputFolder)) {
      env.prompter.ask(QStringLiteral("Invalid Output Directory"),
                       "Output Directory: " + outputFolder +
                           " Does not exist or cannot be written to!" + kCrLf +
                           "Please change output directory!",
                       Buttons::Ok, Icon::Exclamation);
      state.StopProcess = true;
      return finish(ApplyOutcome::Skipped, QString());
    }
    // Nothing the pair writes may land on an image of the run, nor on a file
    // another pair of the run writes.
    PairPlan plan = PlanPair(outputFolder, inputName, op);
    const QString target = AddBackslash(outputFolder) + plan.target;
    const PairRef pair{inputPath, PairKey(inputPath, op), 0};
    const auto paths = [&plan](const QStringList &names) {
      QStringList all;
      for (const QString &name : names)
        all << plan.path(name);
      return all;
    };
    if (const RunClaims::Clash clash = files.claims.claim(pair, paths(plan.names())))
      return finish(ApplyOutcome::Failed, ClashFailureText(clash) + kCrLf + "Operation: " + step);
    stage = files.folder(plan.folder).stage(env.pairLabel);
    // The steps before a format change work in the image's own format, under
    // the result's name with the image's extension; only the result leaves.
    const bool changesFormat = ChangesFormat(inputName, op);
    const QString inputExtension = Extension(inputName);
    const QString staged = stage->file(
        changesFormat ? (inputExtension.isEmpty() ? TargetName(inputName, op)
                                                  : Stem(plan.target) + u'.' + inputExtension)
                      : plan.target);

    step = QStringLiteral("Setting up process values");
    std::int32_t w = Checked(qint64(op.BottomRightX) - op.TopLeftX + 1);
    std::int32_t h = Checked(qint64(op.BottomRightY) - op.TopLeftY + 1);

    step = QStringLiteral("Getting Image Size");
    QString coordinateErrors;
    const QString size = env.toolkit.identify(
        {QStringLiteral("-format"), QStringLiteral("%wx%h"), QStringLiteral("-ping"), inputPath});
    const QStringList pieces = size.split(u'x');
    if (pieces.size() < 2)
      throw Failure(kErrNoImageSize,
                    "ImageMagick gave no image size for " + inputPath + " (\"" + size + "\")");
    std::int32_t imageWidth = ToLong(Val(pieces[0]));
    std::int32_t imageHeight = ToLong(Val(pieces[1]));
    env.toolkit.checkSize(imageWidth, imageHeight, inputPath); // before any pixel is decoded
    // A photo is worked on as it is seen: corners and sizes are those of the
    // upright picture. The first step that decodes turns it; the files it
    // writes are upright and say so, so no later step turns them again.
    // A plain copy decodes nothing and stays the same bytes, tag and all.
    const bool decodes = op.Extract || op.Resize || changesFormat;
    const int orientation =
        settings.AutoOrient && decodes ? env.toolkit.orientation(inputPath) : 0;
    bool turn = orientation > 1;
    if (TurnsSideways(orientation)) std::swap(imageWidth, imageHeight);
    // ImageMagick's transverse leaves the canvas of the unturned picture
    // behind, which a crop would take its offsets from: +repage drops it.
    const auto turning = [&turn]() {
      const bool now = turn;
      turn = false;
      return now ? QStringList{QStringLiteral("-auto-orient"), QStringLiteral("+repage")}
                 : QStringList{};
    };
    const QString q = N(op.JpgQuality);

    if (op.Extract) {
      coordinateErrors = CoordinateErrors(op, imageWidth, imageHeight);
      if (!coordinateErrors.isEmpty()) {
        if (op.TopLeftX <= qint64(imageWidth) - 1 && op.TopLeftY <= qint64(imageHeight) - 1 &&
            settings.AllowOutOfBoundry) {
          w = Checked(qint64(imageWidth) - op.TopLeftX);
          h = Checked(qint64(imageHeight) - op.TopLeftY);
        } else {
          // Suppressed or not, a rectangle outside the picture is skipped:
          // sent on, it would come back as a sliver or an empty canvas.
          if (!state.SuppressMessages &&
              env.prompter.ask(QStringLiteral("Image too small"),
                               "Could not extract image: " + kDQ + inputName + kDQ +
                                   " with coordinates because:" + kCrLf + kCrLf + coordinateErrors +
                                   kCrLf + "Do you want to suppress these messages?",
                               Buttons::YesNo, Icon::None) == Answer::Yes)
            state.SuppressMessages = true;
          return finish(ApplyOutcome::Skipped, QString());
        }
      }
      const QString crop = N(w) + "x" + N(h) + "+" + N(op.TopLeftX) + "+" + N(op.TopLeftY);
      step = "Extracting: -quality, " + q + ", -crop, " + crop + ", " + inputPath + ", " + target;
      // +repage drops the original canvas and offset, so the result is just
      // the rectangle (GIF screens and PNG offsets would keep them).
      const QStringList cropping{QStringLiteral("-quality"), q, QStringLiteral("-crop"),
                                 crop, QStringLiteral("+repage"), inputPath, staged};
      env.toolkit.convertReusingDecoded(turning() + cropping);
    } else {
      step = "Copying " + kDQ + inputPath + kDQ + " to " + kDQ + target + kDQ;
      CopyFileReplacing(inputPath, staged);
    }

    // The resize comes before the format change: the one file written is
    // resized, and an image of several frames is resized before a format
    // that holds one frame splits it into files.
    if (op.Resize) {
      const QString geometry = ResizeGeometry(op, settings.NeverEnlarge);
      const QStringList antialias =
          settings.Antialias ? QStringList{QStringLiteral("-antialias")} : QStringList{};
      step = (settings.Antialias ? "Resizing (AA): -quality, " + q + ", -antialias"
                                 : "Resizing (No AA): -quality, " + q) +
             ", -geometry, " + geometry + ", " + target;
      env.toolkit.mogrifyReusingDecoded(QStringList{QStringLiteral("-quality"), q} + turning() +
                                        antialias +
                                        QStringList{QStringLiteral("-geometry"), geometry, staged});
    }

    if (changesFormat) {
      step = "Changing Format: -quality, " + q + ", -format, " + op.OutputFormat + ", " + target;
      // JPEG has no transparency: what was see-through becomes white paper,
      // not the black that dropping the channel would leave.
      const QStringList flatten =
          FormatName(op.OutputFormat) == QLatin1String("JPEG")
              ? QStringList{QStringLiteral("-background"), QStringLiteral("white"),
                            QStringLiteral("-alpha"), QStringLiteral("remove")}
              : QStringList{};
      const QStringList format{QStringLiteral("-format"), op.OutputFormat, staged};
      env.toolkit.mogrifyReusingDecoded(QStringList{QStringLiteral("-quality"), q} + turning() +
                                        flatten + format);
    }

    step = QStringLiteral("Moving into place");
    // What ImageMagick wrote decides the names: an image of several frames
    // becomes frame files numbered as its frames are.
    const QStringList written = StagedNames(*stage, plan.target);
    plan.frameFiles = FrameFilesOf(plan.target, written);
    std::sort(plan.frameFiles.begin(), plan.frameFiles.end(), [](const QString &a, const QString &b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    if (!written.contains(plan.target) && plan.frameFiles.isEmpty())
      throw Failure(kErrToolkit, "ImageMagick wrote no file for " + target);
    if (!plan.frameFiles.isEmpty()) {
      if (const RunClaims::Clash clash = files.claims.check(pair, paths(plan.frameFiles)))
        return finish(ApplyOutcome::Failed, ClashFailureText(clash) + kCrLf + "Operation: " + step);
    }
    QStringList names;
    for (const QString &name : plan.names())
      if (written.contains(name)) names << name;
    if (env.handOver) {
      env.handOver(*stage, names);
    } else {
      stage->commit(names);
      if (env.notes && !plan.frameFiles.isEmpty()) {
        // Frames left from an earlier run of more frames would pass for this
        // run's; they may as well be another image's results, so they stay,
        // and the user is told.
        QStringList stale = FrameFilesOf(
            plan.target, QDir(plan.folder).entryList(QDir::Files | QDir::Hidden, QDir::Name));
        for (const QString &name : std::as_const(names))
          stale.removeAll(name);
        if (!stale.isEmpty())
          *env.notes << "other frame files under its name were left as they are: " +
                            stale.join(QStringLiteral(", "));
      }
    }
    step = QStringLiteral("Done");
    return finish(ApplyOutcome::Written, QString());
  } catch (const Failure &failure) {
    return failed(failure.text());
  } catch (const std::exception &e) {
    return failed(N(kErrToolkit) + " - " + QString::fromLocal8Bit(e.what()));
  }
}

} // namespace varnholt
