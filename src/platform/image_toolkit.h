#pragma once

#include "platform/failure.h"

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
class ImageToolkit {
public:
  virtual ~ImageToolkit() = default;
  virtual QString identify(const QStringList &args) = 0;
  virtual void convert(const QStringList &args) = 0;
  virtual void mogrify(const QStringList &args) = 0;
  // The EXIF orientation of the image's first frame (1 to 8, 0 when it
  // has none), read without decoding its pixels.
  virtual int orientation(const QString &path) = 0;

  // The same calls as steps of a run, which reads one image's picture again
  // and again: every operation starts from it, and a resize reads the file
  // the format change read just before. Their input (convert's first file,
  // mogrify's file) may be handed a picture decoded earlier from the same
  // contents, and what they decode is kept for the steps after; the files
  // written are the same. The caller vouches that the options before the
  // input do not change how it decodes, and that mogrify's "-format F" only
  // names the result's format. A toolkit that keeps no pictures reads the file.
  virtual void convertReusingDecoded(const QStringList &args) { convert(args); }
  virtual void mogrifyReusingDecoded(const QStringList &args) { mogrify(args); }

  // The picture is read once, each step applied to it in memory, and the
  // result written once: no file between the steps. A failure names its
  // step (StepFailure); a toolkit that cannot tell throws a plain Failure,
  // taken as the first step's. `reuseDecoded` as for convertReusingDecoded.
  virtual void convertInSteps(const ConvertSteps &work, bool reuseDecoded) {
    reuseDecoded ? convertReusingDecoded(work.arguments()) : convert(work.arguments());
  }

  // Refuses (throws Failure) a picture of this size before any of its pixels
  // is decoded: one larger than the machine can hold.
  virtual void checkSize(qint64 width, qint64 height, const QString &path) {
    (void)width, (void)height, (void)path;
  }
  // The warnings of this thread's calls since the last take (a damaged file
  // read only in part): the calls still succeeded.
  virtual QStringList takeWarnings() { return {}; }
  // The next calls read another file: pictures kept for reuse can go.
  virtual void releaseDecoded() {}
};

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
