#pragma once

#include "platform/failure.h"
#include "platform/kept_metadata.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <vector>

namespace varnholt {

// One picture's way from its file to its result, as convert's arguments:
// `settings` (options that come before the input and hold for the whole way),
// the input, each step's operators in turn, the output. Read as one list
// (arguments()) it is the convert command that does the same.
struct ConvertSteps {
  QStringList settings;
  QString input;
  std::vector<QStringList> steps; // at least one
  QString output;
  // What of the picture's metadata the output carries. Not an argument of
  // convert's: the toolkit edits the metadata itself before it writes.
  KeptMetadata metadata = KeptMetadata::All;

  QStringList arguments() const {
    QStringList all = settings;
    all << input;
    for (const QStringList &step : steps)
      all += step;
    return all << output;
  }
};

// A failure of ConvertSteps, with the index of the step it happened in:
// reading the input counts as the first step, writing the output as the last.
class StepFailure : public Failure {
public:
  StepFailure(int step, const Failure &failure) : Failure(failure), step_(step) {}
  int step() const { return step_; }

private:
  int step_;
};

// ImageMagick's identify, convert and mogrify, each given one argument list in
// the command-line programs' own syntax (without the program name). File names
// are the last argument (identify, mogrify) or the last two (convert: input,
// then output). Failures throw Failure with ImageMagick's exception code.
// Every call must be answered: a toolkit that wraps another derives from
// ForwardingToolkit (forwarding_toolkit.h) and overrides what it changes.
class ImageToolkit {
public:
  virtual ~ImageToolkit() = default;
  virtual QString identify(const QStringList &args) = 0;
  virtual void convert(const QStringList &args) = 0;
  virtual void mogrify(const QStringList &args) = 0;
  // The EXIF orientation of the image's first frame (1 to 8, 0 when it
  // has none), read without decoding its pixels.
  virtual int orientation(const QString &path) = 0;

  // The picture is read once, each step applied to it in memory, and the
  // result written once: no file between the steps. A failure names its
  // step (StepFailure); a toolkit that cannot tell throws a plain Failure,
  // taken as the first step's. With `reuseDecoded` the input may be handed
  // a picture decoded earlier from the same contents, and what is decoded
  // may be kept for the calls after (a run reads each image once for every
  // operation); the caller vouches that the settings do not change how the
  // input decodes. The file written is the same either way. A toolkit
  // without steps of its own runs convert(work.arguments()).
  virtual void convertInSteps(const ConvertSteps &work, bool reuseDecoded) = 0;

  // Refuses (throws Failure) a picture of this size before any of its pixels
  // is decoded: one larger than the machine can hold.
  virtual void checkSize(qint64 width, qint64 height, const QString &path) = 0;
  // The warnings of this thread's calls since the last take (a damaged file
  // read only in part): the calls still succeeded.
  virtual QStringList takeWarnings() = 0;
  // The next calls read another file: pictures kept for reuse can go.
  virtual void releaseDecoded() = 0;
};

// ImageMagick's operators that turn a picture of this EXIF orientation (2 to
// 8) upright; none for any other. The orientation is set before the turn, for
// a reader that does not set it (WebP's), and set to upright after it, so
// that the result says it is upright and no viewer turns it again.
inline QStringList UprightOperators(int orientation) {
  static const char *const names[] = {"TopRight", "BottomRight", "BottomLeft", "LeftTop",
                                      "RightTop", "RightBottom", "LeftBottom"};
  if (orientation < 2 || orientation > 8) return {};
  return {QStringLiteral("-orient"), QString::fromLatin1(names[orientation - 2]),
          QStringLiteral("-auto-orient"), QStringLiteral("-orient"), QStringLiteral("TopLeft")};
}

// The orientation a picture is shown in: 0 when turning is off or the file
// cannot be read (the size query after it then says why).
inline int ShownOrientation(ImageToolkit &toolkit, const QString &path, bool autoOrient) {
  if (!autoOrient) return 0;
  try {
    return toolkit.orientation(path);
  } catch (const std::exception &) {
    return 0;
  }
}

} // namespace varnholt
