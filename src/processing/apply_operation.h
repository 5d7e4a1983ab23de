#pragma once

#include "operations/operation.h"
#include "processing/output_plan.h"

#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace varnholt {

class ImageToolkit;
class PairStage;
class Prompter;
class RunFiles;
struct Settings;

// Flags that belong to one run and that applying an operation may set.
struct RunState {
  bool StopProcess = false;
  bool SuppressMessages = false;
};

// Everything ApplyOperation reads besides its two arguments.
struct ApplyEnvironment {
  const Settings &settings;
  QString inputFolder; // the image folder as the user typed it
  ImageToolkit &toolkit;
  Prompter &prompter;
  // The run's claims and output folders; without them the pair is a run of its own.
  RunFiles *files = nullptr;
  // Names the pair's place in the output folder while it is built (see
  // PairStage); empty: numbered.
  QString pairLabel = QString();
  // Given, a complete pair goes here instead of into place: a worker hands
  // it to the process that decides when it is committed.
  std::function<void(PairStage &stage, const QStringList &names)> handOver = {};
  // Given, what the user should know of a pair that was written goes here.
  QStringList *notes = nullptr;
};

enum class ApplyOutcome { Written, Skipped, Failed };

// Applies one operation to one image. Returns "" when it was done or skipped
// after a message, else "number - description" CR LF "Operation: " step:
// the text of ApplyPair's failure.
// The pair is one unit: its files are built out of sight and appear under
// their names only when every step has succeeded; a failure leaves none of
// them, and a file of an earlier run under the same name stays as it was.
QString ApplyOperation(const QString &inputPath, const Operation &op, const ApplyEnvironment &env,
                       RunState &state, ApplyOutcome *outcome = nullptr);
// The same, its failure whole: the description ends in CR LF "Operation: "
// and the step it failed in.
std::optional<Failure> ApplyPair(const QString &inputPath, const Operation &op,
                                 const ApplyEnvironment &env, RunState &state,
                                 ApplyOutcome *outcome = nullptr);

// An operation that shrinks the whole picture (width x height, as the
// picture is seen) may have a JPEG decoded at a reduced size: libjpeg's
// reduced decoding keeps at least the result's size, the size the full
// decode would have been resized to. None when the operation crops, keeps or
// enlarges a side: then the picture is decoded whole.
struct ShrinkOnLoad {
  QSize result;
};
std::optional<ShrinkOnLoad> ShrinkOnLoadSize(const Operation &op, qint64 width, qint64 height);

// A crop that is then shrunk may have a JPEG decoded at 1/2, 1/4 or 1/8 of
// its size (`divisor`) when the rectangle (of the upright width x height
// picture, `turned` when it was turned or mirrored to be upright) lies on
// that scale's grid, so that the reduced picture holds exactly the same
// rectangle, still at least as large as the result. The result's size is the
// one the whole rectangle would have been resized to.
struct CropShrinkOnLoad {
  int divisor;
  QSize result;
};
std::optional<CropShrinkOnLoad> CropShrinkOnLoadSize(const Operation &op, const QRect &rect,
                                                     qint64 width, qint64 height, bool turned);

// The unsharp mask a picture of width x height (as seen, or the rectangle
// taken of it) gets after the resize has made it smaller on both sides:
// ImageMagick's operator and its argument, light, and the stronger the more
// it shrank. None when the resize keeps or enlarges a side.
QStringList SharpeningAfterShrinking(const Operation &op, qint64 width, qint64 height);

// A JPEG need not be decoded whole when the result is smaller: libjpeg
// decodes it at a fraction of its size. The hint is for the picture as
// stored; the result is given the size the whole decode would have had.
bool JpegMayShrink(const QString &inputName, const Settings &settings);

// The geometry ImageMagick gets for a resize method of a picture (or the
// rectangle taken of it) of size `from`; the Limit methods only shrink when
// neverEnlarge is set. A scale is asked of what it asks for, enlarging too.
QString ResizeGeometry(const Operation &op, bool neverEnlarge, QSize from);

// A scale by `percent` of a picture of width x height: each side rounded to
// the nearest pixel, halves up, and at least 1. Throws Failure (overflow) for
// a side past 2^31 - 1.
QSize ScaledSize(std::int32_t percent, qint64 width, qint64 height);

// One line (ending in CR LF) for each corner outside a picture of width x
// height: "Top Left X Coordiate (640) is greater than image width of 640".
QString CoordinateErrors(const Operation &op, std::int32_t width, std::int32_t height);

// A centred crop as corners, for a picture of width x height as it is seen:
// the largest rectangle of the operation's aspect ratio, its free side the
// ratio's length rounded to the nearest pixel (halves up), never longer than
// the picture nor shorter than 1. The pixels left over are split evenly; an
// odd one goes to the right or the bottom.
Operation CentredCorners(Operation op, qint64 width, qint64 height);

} // namespace varnholt
