#include "processing/apply_operation.h"

#include "operations/vb_text.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/image_toolkit.h"
#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "processing/magick_policy.h"
#include "settings/paths.h"
#include "settings/settings.h"

#include <QDir>

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

bool ChangesFormat(const Operation &op) { return !KeepsFormat(op.OutputFormat); }
} // namespace

QString ResizeGeometry(const Operation &op) {
  switch (op.ResizeMethod) {
  case kLimitWidthHeight: return N(op.ResizeWidth) + "x" + N(op.ResizeHeight);
  case kLimitWidth: return N(op.ResizeWidth) + "x";
  case kLimitHeight: return "x" + N(op.ResizeHeight);
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
    const QString targetName = TargetName(inputName, op);
    QString target;
    if (settings.OutputInDiffDir && !PathExists(settings.OutputDir)) {
      env.prompter.ask(QStringLiteral("Invalid Output Directory"),
                       "Output Directory: " + settings.OutputDir +
                           " Does not exist or cannot be written to!" + kCrLf +
                           "Please change output directory!",
                       Buttons::Ok, Icon::Exclamation);
      state.StopProcess = true;
      return finish(ApplyOutcome::Skipped, QString());
    }
    const QString outputFolder = settings.OutputInDiffDir ? settings.OutputDir : env.inputFolder;
    target = AddBackslash(outputFolder) + targetName;
    // Nothing the pair writes may land on an image of the run, nor on a file
    // another pair of the run writes.
    PairPlan plan = PlanPair(outputFolder, inputName, op);
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
    const QString staged = stage->file(targetName);

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
    const std::int32_t imageWidth = ToLong(Val(pieces[0]));
    const std::int32_t imageHeight = ToLong(Val(pieces[1]));
    CheckImageWithinLimits(imageWidth, imageHeight, inputPath); // before any pixel is decoded
    const QString q = N(op.JpgQuality);
    if (PlanNeedsFrameCount(plan, op)) {
      AddFrameFiles(plan, op, env.toolkit.frameCount(inputPath));
      if (const RunClaims::Clash clash = files.claims.check(pair, paths(plan.frameFiles)))
        return finish(ApplyOutcome::Failed, ClashFailureText(clash) + kCrLf + "Operation: " + step);
    }

    if (op.Extract) {
      coordinateErrors = CoordinateErrors(op, imageWidth, imageHeight);
      if (!coordinateErrors.isEmpty()) {
        if (op.TopLeftX <= qint64(imageWidth) - 1 && op.TopLeftY <= qint64(imageHeight) - 1 &&
            settings.AllowOutOfBoundry) {
          w = Checked(qint64(imageWidth) - op.TopLeftX);
          h = Checked(qint64(imageHeight) - op.TopLeftY);
        } else if (!state.SuppressMessages) {
          const Answer answer =
              env.prompter.ask(QStringLiteral("Image too small"),
                               "Could not extract image: " + kDQ + inputName + kDQ +
                                   " with coordinates because:" + kCrLf + kCrLf + coordinateErrors +
                                   kCrLf + "Do you want to suppress these messages?",
                               Buttons::YesNo, Icon::None);
          if (answer == Answer::Yes) state.SuppressMessages = true;
          return finish(ApplyOutcome::Skipped, QString());
        }
      }
      const QString crop = N(w) + "x" + N(h) + "+" + N(op.TopLeftX) + "+" + N(op.TopLeftY);
      step = "Extracting: -quality, " + q + ", -crop, " + crop + ", " + inputPath + ", " + target;
      // +repage drops the original canvas and offset, so the result is just
      // the rectangle (GIF screens and PNG offsets would keep them).
      env.toolkit.convertReusingDecoded({QStringLiteral("-quality"), q, QStringLiteral("-crop"),
                                         crop, QStringLiteral("+repage"), inputPath, staged});
    } else {
      step = "Copying " + kDQ + inputPath + kDQ + " to " + kDQ + target + kDQ;
      CopyFileReplacing(inputPath, staged);
    }

    if (ChangesFormat(op)) {
      step = "Changing Format: -quality, " + q + ", -format, " + op.OutputFormat + ", " + target;
      env.toolkit.mogrifyReusingDecoded(
          {QStringLiteral("-quality"), q, QStringLiteral("-format"), op.OutputFormat, staged});
    }

    if (op.Resize) {
      const QString geometry = ResizeGeometry(op);
      if (settings.Antialias) {
        step = "Resizing (AA): -quality, " + q + ", -antialias, -geometry, " + geometry + ", " +
               target;
        env.toolkit.mogrifyReusingDecoded({QStringLiteral("-quality"), q,
                                           QStringLiteral("-antialias"),
                                           QStringLiteral("-geometry"), geometry, staged});
      } else {
        step = "Resizing (No AA): -quality, " + q + ", -geometry, " + geometry + ", " + target;
        env.toolkit.mogrifyReusingDecoded(
            {QStringLiteral("-quality"), q, QStringLiteral("-geometry"), geometry, staged});
      }
    }

    if (env.handOver)
      env.handOver(*stage, plan.names());
    else
      stage->commit(plan.names());
    step = QStringLiteral("Done");
    return finish(ApplyOutcome::Written, QString());
  } catch (const Failure &failure) {
    return failed(failure.text());
  } catch (const std::exception &e) {
    return failed(N(kErrToolkit) + " - " + QString::fromLocal8Bit(e.what()));
  }
}

} // namespace varnholt
