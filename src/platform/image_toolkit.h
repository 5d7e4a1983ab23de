#pragma once

#include <QString>
#include <QStringList>

namespace varnholt {

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
  // How many frames (pages, scenes) the image holds, read without decoding
  // its pixels. ImageMagick writes a frame file for each where the format
  // holds only one.
  virtual int frameCount(const QString &path) = 0;
};

} // namespace varnholt
