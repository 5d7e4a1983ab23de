#pragma once

#include "platform/error_reporter.h"

#include <QDialog>

#include <functional>

class QIcon;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varnholt {

class Shell;

// The error dialog: shows an unexpected failure with a report of where it
// happened, and offers to send that report to the bug-report page. One
// dialog serves the whole application and is reused.
class frmError : public QDialog, public ErrorReporter {
  Q_OBJECT
public:
  // Ends the program after a fatal error. The default leaves at once, without
  // returning to the event loop, so no handler runs and nothing is saved.
  using ExitFunction = std::function<void(int exitCode)>;

  explicit frmError(Shell &shell, QWidget *parent = nullptr, ExitFunction exit = {});

  // Shows the report modally and returns when the user has closed it. The
  // dialog takes the icon of the window that was active when it was called.
  void DisplayError(const ErrorReport &report) override;
  void DisplayError(const ErrorReport &report, const QIcon &dialogIcon);
  void Dismiss() override { hide(); }

  void cmdOK_Click();
  void cmdSendToHV_Click();

  // What a click on cmdSendToHV opens for the report on show.
  QString reportAddress() const;

protected:
  void reject() override;

private:
  Shell &shell_;
  ExitFunction exit_;

  QLabel *lblTitle;
  QLabel *imgError;
  QLabel *lblIDTitle;
  QLabel *lblID;
  QLabel *lblDescription;
  QLabel *lblDetails;
  QPlainTextEdit *txtDetails;
  QPushButton *cmdOK;
  QPushButton *cmdSendToHV;

  // The encoded parts of the report address; the version is deliberately
  // left out, as it always was.
  QString programId_;
  QString windowName_;
  QString report_;
  QString programVersion_;
};

} // namespace varnholt
