#pragma once

#include "platform/failure.h"

#include <QString>

namespace varnholt {

// What an unexpected failure is reported with: where it happened, and the
// failure itself (the "current error": its number, description and source).
struct ErrorReport {
  QString title; // caption of the calling window, or the module's name
  QString programId = QStringLiteral("73");
  QString description;
  QString form;   // the calling window's name, e.g. "frmGo"
  QString source; // the procedure, e.g. "Form_Activate"
  bool isFatal = false;
  QString operation; // the step text or the parameters
  QString intSettings;

  int errorNumber = 0;
  QString errorDescription;
  QString errorSource = QStringLiteral("Varnholt");

  // The usual report of a caught failure.
  static ErrorReport from(const Failure &failure, const QString &title, const QString &form,
                          const QString &source, const QString &operation = QString()) {
    ErrorReport r;
    r.title = title;
    r.description = failure.description();
    r.form = form;
    r.source = source;
    r.operation = operation;
    r.errorNumber = failure.number();
    r.errorDescription = failure.description();
    return r;
  }
};

// The error dialog's entry point. Returns when the user has closed the dialog.
class ErrorReporter {
public:
  virtual ~ErrorReporter() = default;
  virtual void DisplayError(const ErrorReport &report) = 0;
  // The program's window is closing: a report still showing goes with it.
  virtual void Dismiss() = 0;
};

} // namespace varnholt
