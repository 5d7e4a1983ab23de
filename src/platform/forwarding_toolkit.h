#pragma once

#include "platform/image_toolkit.h"

namespace varnholt {

// A toolkit that passes every call on to another, unchanged. A wrapper (one
// that runs calls elsewhere, records them, or holds one back) derives from it
// and overrides only the calls it changes: a call added to ImageToolkit has no
// default there, so it must be forwarded here before anything builds, and no
// wrapper can silently answer it on its own.
class ForwardingToolkit : public ImageToolkit {
public:
  explicit ForwardingToolkit(ImageToolkit &inner) : inner_(inner) {}

  QString identify(const QStringList &args) override { return inner_.identify(args); }
  void convert(const QStringList &args) override { inner_.convert(args); }
  void mogrify(const QStringList &args) override { inner_.mogrify(args); }
  int orientation(const QString &path) override { return inner_.orientation(path); }
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override {
    inner_.convertInSteps(work, reuseDecoded);
  }
  void checkSize(qint64 width, qint64 height, const QString &path) override {
    inner_.checkSize(width, height, path);
  }
  QStringList takeWarnings() override { return inner_.takeWarnings(); }
  void releaseDecoded() override { inner_.releaseDecoded(); }

protected:
  ImageToolkit &inner() const { return inner_; }

private:
  ImageToolkit &inner_;
};

} // namespace varnholt
