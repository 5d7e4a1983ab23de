#include "processing/apply_operation.h"

#include "operations/vb_text.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/image_toolkit.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "processing/metadata_edit.h"
#include "processing/pair_stage.h"
#include "processing/run_plan.h"
#include "settings/settings.h"

#include <QDir>
#include <QSize>

#include <algorithm>
#include <cmath>
#include <optional>

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

// Orientations 5 to 8 turn the picture on its side: width and height swap.
bool TurnsSideways(int orientation) { return orientation >= 5 && orientation <= 8; }

// One operation on one image, step by step. Each step names itself in
// `step` before it starts, so a failure says where it happened.
class PairSteps {
public:
  PairSteps(const QString &inputPath, const Operation &op, const ApplyEnvironment &env,
            RunState &state, QString &step, std::unique_ptr<PairStage> &stage, RunFiles &files)
      : inputPath_(inputPath), inputName_(FileNamePart(inputPath)), op_(op), env_(env),
        settings_(env.settings), state_(state), step(step), stage_(stage), files_(files) {}

  // Throws Failure.
  ApplyOutcome run();

private:
  bool outputFolderThere();
  bool besideEarlierResult();
  void claim();
  void setUp();
  void readSize();
  bool extract();
  void resize();
  void changeFormat();
  void convert();
  void copyCarryingLess();
  void moveIntoPlace();
  QStringList turning();
  QStringList paths(const QStringList &names) const;

  const QString &inputPath_;
  const QString inputName_;
  Operation op_; // a centred crop's corners are set once the picture's size is known
  const ApplyEnvironment &env_;
  const Settings &settings_;
  RunState &state_;
  QString &step;
  std::unique_ptr<PairStage> &stage_;
  RunFiles &files_;

  QString outputFolder_, topFolder_, subfolder_, target_, staged_, q_;
  PairPlan plan_;
  PairRef pair_;
  bool changesFormat_ = false;
  std::int32_t w_ = 0, h_ = 0; // the rectangle's size
  std::int32_t imageWidth = 0, imageHeight = 0;
  int orientation = 0;
  bool turn_ = false;
  // The pair's one pass over the picture: each step's operators and the text
  // that names it, should ImageMagick fail there.
  ConvertSteps work_;
  QStringList stepTexts_;
  bool reuseDecoded_ = true; // false once the picture is read at a reduced size
  QRect rect_;               // the rectangle taken, in the upright picture
  std::optional<CropShrinkOnLoad> cropShrink_;
};

ApplyOutcome PairSteps::run() {
  step = "Setting target file: " + inputPath_;
  step = QStringLiteral("Setting Result File");
  if (!outputFolderThere()) return ApplyOutcome::Skipped;
  subfolder_ = ImageSubfolderIn(env_.inputFolder, inputPath_);
  topFolder_ = std::exchange(outputFolder_, SubfolderOf(outputFolder_, subfolder_));
  plan_ = PlanPair(outputFolder_, inputName_, op_);
  if (!besideEarlierResult()) return ApplyOutcome::Skipped;
  claim();
  setUp();
  readSize();
  if (!op_.Extract && !op_.Resize && !changesFormat_) {
    // Nothing to decode: the same bytes under the new name.
    step = "Copying " + kDQ + inputPath_ + kDQ + " to " + kDQ + target_ + kDQ;
    if (work_.metadata == KeptMetadata::All)
      CopyFileReplacing(inputPath_, staged_);
    else
      copyCarryingLess();
  } else {
    if (op_.Extract && !extract()) return ApplyOutcome::Skipped;
    // The resize comes before the format change: an image of several
    // frames is resized before a format that holds one frame splits it.
    if (op_.Resize) resize();
    if (changesFormat_) changeFormat();
    convert();
  }
  moveIntoPlace();
  step = QStringLiteral("Done");
  return ApplyOutcome::Written;
}

bool PairSteps::outputFolderThere() {
  // A folder of its own that has gone: the images' folder is there, or
  // no image could be read.
  outputFolder_ = OutputFolderFor(settings_, env_.inputFolder);
  if (outputFolder_ == env_.inputFolder || PathExists(outputFolder_)) return true;
  env_.prompter.ask(QStringLiteral("Invalid Output Directory"),
                    "Output Directory: " + outputFolder_ +
                        " Does not exist or cannot be written to!" + kCrLf +
                        "Please change output directory!",
                    Buttons::Ok, Icon::Exclamation);
  state_.StopProcess = true;
  return false;
}

QStringList PairSteps::paths(const QStringList &names) const {
  QStringList all;
  for (const QString &name : names)
    all << plan_.path(name);
  return all;
}

// A result of an earlier run under the name: replaced, as a run always did;
// kept, and the pair skipped; or kept, and the new one named beside it.
// False: skipped.
bool PairSteps::besideEarlierResult() {
  const EarlierResult rule = EarlierResultRule(settings_);
  if (rule == EarlierResult::Replace || !PathExists(plan_.path(plan_.target))) return true;
  if (rule == EarlierResult::Skip) {
    if (env_.notes) *env_.notes << "an earlier result is kept: " + plan_.target;
    return false;
  }
  const QString extension = Extension(plan_.target);
  const QString stem = extension.isEmpty() ? plan_.target : Stem(plan_.target);
  for (int n = 2;; ++n) {
    const QString name =
        stem + u'-' + QString::number(n) + (extension.isEmpty() ? QString() : u'.' + extension);
    if (!PathExists(plan_.path(name))) {
      plan_.target = name;
      return true;
    }
  }
}

// Nothing the pair writes may land on an image of the run, nor on a file
// another pair of the run writes.
void PairSteps::claim() {
  target_ = AddBackslash(outputFolder_) + plan_.target;
  pair_ = {inputPath_, PairKey(inputPath_, op_), 0};
  if (const RunClaims::Clash clash = files_.claims.claim(pair_, paths(plan_.names())))
    throw ClashFailure(clash);
  stage_ = files_.subfolder(topFolder_, subfolder_).stage(env_.pairLabel);
  changesFormat_ = ChangesFormat(inputName_, op_);
  // The result is written once, straight under its own name: nothing else
  // is ever in the pair's place.
  staged_ = stage_->file(plan_.target);
}

void PairSteps::setUp() {
  const Operation &op = op_;
  step = QStringLiteral("Setting up process values");
  std::int32_t w = Checked(qint64(op.BottomRightX) - op.TopLeftX + 1);
  std::int32_t h = Checked(qint64(op.BottomRightY) - op.TopLeftY + 1);
  w_ = w, h_ = h;
}

void PairSteps::readSize() {
  step = QStringLiteral("Getting Image Size");
  const QString size = env_.toolkit.identify(
      {QStringLiteral("-format"), QStringLiteral("%wx%h"), QStringLiteral("-ping"), inputPath_});
  const QStringList pieces = size.split(u'x');
  if (pieces.size() < 2)
    throw Failure(kErrNoImageSize,
                  "ImageMagick gave no image size for " + inputPath_ + " (\"" + size + "\")");
  imageWidth = ToLong(Val(pieces[0]));
  imageHeight = ToLong(Val(pieces[1]));
  env_.toolkit.checkSize(imageWidth, imageHeight, inputPath_); // before any pixel is decoded
  // A photo is worked on as it is seen: corners and sizes are those of the
  // upright picture, and the result is upright and says so.
  // A plain copy decodes nothing and stays the same bytes, tag and all.
  const bool decodes = op_.Extract || op_.Resize || changesFormat_;
  orientation = settings_.AutoOrient && decodes ? env_.toolkit.orientation(inputPath_) : 0;
  turn_ = orientation > 1;
  if (TurnsSideways(orientation)) std::swap(imageWidth, imageHeight);
  if (IsCentredCrop(op_)) {
    op_ = CentredCorners(op_, imageWidth, imageHeight);
    setUp();
  }
  q_ = N(op_.JpgQuality);
  work_.settings = QStringList{QStringLiteral("-quality"), q_};
  work_.input = inputPath_;
  work_.output = staged_;
  work_.metadata = MetadataRule(settings_);
}

// ImageMagick's transverse leaves the canvas of the unturned picture
// behind, which a crop would take its offsets from: +repage drops it. Only
// the first step turns the picture.
QStringList PairSteps::turning() {
  const bool now = std::exchange(turn_, false);
  return now ? UprightOperators(orientation) << QStringLiteral("+repage") : QStringList{};
}

// False: the rectangle is outside the picture, and the pair is skipped.
bool PairSteps::extract() {
  const Operation &op = op_;
  std::int32_t w = w_, h = h_;
  const QString coordinateErrors = CoordinateErrors(op, imageWidth, imageHeight);
  if (!coordinateErrors.isEmpty()) {
    if (op.TopLeftX <= qint64(imageWidth) - 1 && op.TopLeftY <= qint64(imageHeight) - 1 &&
        settings_.AllowOutOfBoundry) {
      w = Checked(qint64(imageWidth) - op.TopLeftX);
      h = Checked(qint64(imageHeight) - op.TopLeftY);
    } else {
      // Suppressed or not, a rectangle outside the picture is skipped:
      // sent on, it would come back as a sliver or an empty canvas.
      if (!state_.SuppressMessages &&
          env_.prompter.ask(QStringLiteral("Image too small"),
                            "Could not extract image: " + kDQ + inputName_ + kDQ +
                                " with coordinates because:" + kCrLf + kCrLf + coordinateErrors +
                                kCrLf + "Do you want to suppress these messages?",
                            Buttons::YesNo, Icon::None) == Answer::Yes)
        state_.SuppressMessages = true;
      return false;
    }
  }
  const QString crop = N(w) + "x" + N(h) + "+" + N(op.TopLeftX) + "+" + N(op.TopLeftY);
  rect_ = QRect(op.TopLeftX, op.TopLeftY, w, h);
  QString taken = crop;
  if (JpegMayShrink(inputName_, settings_))
    cropShrink_ = CropShrinkOnLoadSize(op, rect_, imageWidth, imageHeight, orientation > 1);
  if (cropShrink_) {
    const int d = cropShrink_->divisor;
    QSize stored(imageWidth, imageHeight);
    if (TurnsSideways(orientation)) stored.transpose();
    // libjpeg's scale is the whole part of the size over the hint: 1/d.
    work_.settings
        << QStringLiteral("-define")
        << QStringLiteral("jpeg:size=%1x%2").arg(stored.width() / d).arg(stored.height() / d);
    reuseDecoded_ = false; // a picture decoded small is no other pair's picture
    taken = N(w / d) + "x" + N(h / d) + "+" + N(op.TopLeftX / d) + "+" + N(op.TopLeftY / d);
  }
  stepTexts_ << "Extracting: -quality, " + q_ + ", -crop, " + crop + ", " + inputPath_ + ", " +
                    target_;
  // +repage drops the original canvas and offset, so the result is just
  // the rectangle (GIF screens and PNG offsets would keep them).
  work_.steps.push_back(turning() +
                        QStringList{QStringLiteral("-crop"), taken, QStringLiteral("+repage")});
  return true;
}

void PairSteps::resize() {
  const QSize from = op_.Extract ? rect_.size() : QSize(imageWidth, imageHeight);
  QString geometry = ResizeGeometry(op_, settings_.NeverEnlarge, from);
  const QStringList antialias =
      settings_.Antialias ? QStringList{QStringLiteral("-antialias")} : QStringList{};
  stepTexts_ << (settings_.Antialias ? "Resizing (AA): -quality, " + q_ + ", -antialias"
                                     : "Resizing (No AA): -quality, " + q_) +
                    ", -geometry, " + geometry + ", " + target_;
  // The reduced picture's sides need not keep the full one's proportion to
  // the pixel: the result gets the size the full decode would have given.
  const auto exactly = [](QSize size) { return N(size.width()) + "x" + N(size.height()) + "!"; };
  if (cropShrink_) {
    geometry = exactly(cropShrink_->result);
  } else if (!op_.Extract && JpegMayShrink(inputName_, settings_)) {
    if (const std::optional<ShrinkOnLoad> shrink = ShrinkOnLoadSize(op_, imageWidth, imageHeight)) {
      QSize hint = shrink->result;
      if (TurnsSideways(orientation)) hint.transpose();
      work_.settings << QStringLiteral("-define")
                     << QStringLiteral("jpeg:size=%1x%2").arg(hint.width()).arg(hint.height());
      reuseDecoded_ = false;
      geometry = exactly(shrink->result);
    }
  }
  if (IsScaled(op_)) { // a result past the limits fails before a pixel is decoded
    step = stepTexts_.last();
    const QSize result = ScaledSize(op_.ResizeWidth, from.width(), from.height());
    env_.toolkit.checkSize(result.width(), result.height(), QString());
  }
  const QStringList sharpen = settings_.SharpenAfterShrinking
                                  ? SharpeningAfterShrinking(op_, from.width(), from.height())
                                  : QStringList{};
  work_.steps.push_back(turning() + antialias + QStringList{QStringLiteral("-geometry"), geometry} +
                        sharpen);
}

void PairSteps::changeFormat() {
  stepTexts_ << "Changing Format: -quality, " + q_ + ", -format, " + op_.OutputFormat + ", " +
                    target_;
  // JPEG has no transparency: what was see-through becomes white paper,
  // not the black that dropping the channel would leave. ImageMagick 6
  // writes AVIF without it too, showing whatever colour the hidden pixels had.
  const QString format = FormatName(op_.OutputFormat);
  const QStringList flatten =
      format == QLatin1String("JPEG") || format == QLatin1String("AVIF")
          ? QStringList{QStringLiteral("-background"), QStringLiteral("white"),
                        QStringLiteral("-alpha"), QStringLiteral("remove")}
          : QStringList{};
  work_.steps.push_back(turning() + flatten);
}

// One read, the steps in memory, one write in the format the result's name
// says; a failure is named for the step ImageMagick was in.
void PairSteps::convert() {
  step = stepTexts_.first();
  try {
    env_.toolkit.convertInSteps(work_, reuseDecoded_);
  } catch (const StepFailure &failure) {
    step = stepTexts_.value(failure.step(), stepTexts_.last());
    throw Failure(failure.number(), failure.description());
  }
}

// A copy that is to carry less metadata: a JPEG keeps its compressed
// picture as it is, and only its metadata is edited, so it loses no quality;
// any other picture (or a JPEG this cannot walk) is written anew.
void PairSteps::copyCarryingLess() {
  bool unreadable = false;
  if (FormatName(Extension(inputName_)) == QLatin1String("JPEG") &&
      CopyJpegEditingMetadata(inputPath_, staged_, work_.metadata, {imageWidth, imageHeight},
                              &unreadable)) {
    if (unreadable && env_.notes)
      *env_.notes << QStringLiteral("metadata that could not be read was left out");
    return;
  }
  stepTexts_ << step;
  work_.steps.push_back({});
  convert();
}

void PairSteps::moveIntoPlace() {
  step = QStringLiteral("Moving into place");
  // What ImageMagick wrote decides the names: an image of several frames
  // becomes frame files numbered as its frames are.
  const QStringList written = StagedNames(*stage_, plan_.target);
  plan_.frameFiles = FrameFilesOf(plan_.target, written);
  std::sort(plan_.frameFiles.begin(), plan_.frameFiles.end(),
            [](const QString &a, const QString &b) {
              return a.size() != b.size() ? a.size() < b.size() : a < b;
            });
  if (!written.contains(plan_.target) && plan_.frameFiles.isEmpty())
    throw Failure(kErrToolkit, "ImageMagick wrote no file for " + target_);
  if (!plan_.frameFiles.isEmpty()) {
    if (const RunClaims::Clash clash = files_.claims.check(pair_, paths(plan_.frameFiles)))
      throw ClashFailure(clash);
  }
  QStringList names;
  for (const QString &name : plan_.names())
    if (written.contains(name)) names << name;
  if (env_.handOver) {
    env_.handOver(*stage_, names);
    return;
  }
  stage_->commit(names);
  if (env_.notes && !plan_.frameFiles.isEmpty()) {
    // Frames left from an earlier run of more frames would pass for this
    // run's; they may as well be another image's results, so they stay,
    // and the user is told.
    QStringList stale = FrameFilesOf(
        plan_.target, QDir(plan_.folder).entryList(QDir::Files | QDir::Hidden, QDir::Name));
    for (const QString &name : std::as_const(names))
      stale.removeAll(name);
    if (!stale.isEmpty())
      *env_.notes << "other frame files under its name were left as they are: " +
                         stale.join(QStringLiteral(", "));
  }
}

} // namespace

std::optional<Failure> ApplyPair(const QString &inputPath, const Operation &op,
                                 const ApplyEnvironment &env, RunState &state,
                                 ApplyOutcome *outcome) {
  QString step;
  // Out here so a failure text can still name the user's files rather than
  // where they were built; the stage goes before the folders that hold it.
  RunFiles ownFiles;
  RunFiles &files = env.files ? *env.files : ownFiles;
  std::unique_ptr<PairStage> stage;
  const auto failed = [&](int number, const QString &description) {
    return Failure(number, (stage ? stage->unstaged(description) : description) + kCrLf +
                               "Operation: " + step);
  };
  ApplyOutcome result = ApplyOutcome::Failed;
  std::optional<Failure> failure;
  try {
    result = PairSteps(inputPath, op, env, state, step, stage, files).run();
  } catch (const Failure &thrown) {
    failure = failed(thrown.number(), thrown.description());
  } catch (const std::exception &e) {
    failure = failed(kErrToolkit, QString::fromLocal8Bit(e.what()));
  }
  if (outcome) *outcome = result;
  return failure;
}

QString ApplyOperation(const QString &inputPath, const Operation &op, const ApplyEnvironment &env,
                       RunState &state, ApplyOutcome *outcome) {
  const std::optional<Failure> failure = ApplyPair(inputPath, op, env, state, outcome);
  return failure ? failure->text() : QString();
}

} // namespace varnholt
