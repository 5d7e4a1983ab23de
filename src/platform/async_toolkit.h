#pragma once

#include "platform/forwarding_toolkit.h"

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
class AsyncToolkit : public ForwardingToolkit {
public:
  using ForwardingToolkit::ForwardingToolkit;

  // The calls that decode or encode; the others answer at once.
  QString identify(const QStringList &args) override;
  void convert(const QStringList &args) override;
  void mogrify(const QStringList &args) override;
  int orientation(const QString &path) override;
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override;
};

} // namespace varnholt
