#pragma once

#include "platform/image_toolkit.h"

#include <functional>

namespace varnholt {

// Runs `work` on a worker thread while the calling thread waits in a local
// event loop, and passes on what it throws.
void RunAway(const std::function<void()> &work);

// Runs each call of another toolkit on a worker thread while the calling
// thread waits in a local event loop: windows keep repainting and buttons
// (Stop) stay clickable during a long resize, and the caller still sees one
// step after another. Events handled meanwhile may start further calls; they
// run nested, inner first.
class AsyncToolkit : public ImageToolkit {
public:
  explicit AsyncToolkit(ImageToolkit &inner) : inner_(inner) {}

  QString identify(const QStringList &args) override;
  void convert(const QStringList &args) override;
  void mogrify(const QStringList &args) override;
  int orientation(const QString &path) override;
  void checkSize(qint64 width, qint64 height, const QString &path) override {
    inner_.checkSize(width, height, path);
  }
  QStringList takeWarnings() override { return inner_.takeWarnings(); }
  void releaseDecoded() override { inner_.releaseDecoded(); }
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override;

private:
  ImageToolkit &inner_;
};

} // namespace varnholt
