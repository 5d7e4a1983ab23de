#pragma once

#include <QString>

namespace varnholt {

class Failure;

// What a panel of the main window asks of the window around it.
class PanelHost {
public:
  virtual ~PanelHost() = default;
  // The error dialog for an unexpected failure, in the window's name; back
  // from it the window is activated as after any window of the program.
  virtual void ReportFailure(const Failure &failure, const QString &source,
                             const QString &operation = QString()) = 0;
  // Another window of the program is about to open over this one: coming
  // back from it is no reason to reload the preview or the operation.
  virtual void ReturningFromDialog() = 0;
  // The window becomes active again once the current handler is done.
  virtual void ActivateLater() = 0;
};

} // namespace varnholt
