// Start: the checks before a run, the run window, and what follows it.
#include "mainwindow/frm_main.h"

#include "operations/clash_check.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "dialogs/frm_go.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>

namespace varnholt {

namespace {
qint64 TickedCount(const QListWidget *list) {
  qint64 n = 0;
  for (int row = 0; row < list->count(); ++row)
    n += list->item(row)->checkState() == Qt::Checked;
  return n;
}
} // namespace

qsizetype frmMain::imageCount() const { return lstImages->count(); }
QString frmMain::imageText(qsizetype index) const { return lstImages->item(int(index))->text(); }
bool frmMain::imageTicked(qsizetype index) const {
  return lstImages->item(int(index))->checkState() == Qt::Checked;
}
qsizetype frmMain::operationCount() const { return lstOperations->count(); }
QString frmMain::operationText(qsizetype index) const {
  return lstOperations->item(int(index))->text();
}
bool frmMain::operationTicked(qsizetype index) const {
  return lstOperations->item(int(index))->checkState() == Qt::Checked;
}
QString frmMain::inputFolder() const { return txtInputDirectory->text(); }

void frmMain::cmdGo_Click() {
  try {
    if (!OperationSaved) {
      switch (services_.prompter.ask(
          QStringLiteral("Save Operation?"),
          QStringLiteral("Do you want to save the selected operation before processing images?"),
          Buttons::YesNoCancel, Icon::Question)) {
      case Answer::Yes: cmdSaveOperation_Click(); break;
      case Answer::No: break;
      default: return;
      }
    }

    // Counted wide: ten thousand images under a few dozen operations is an
    // ordinary run.
    if (TickedCount(lstImages) * TickedCount(lstOperations) == 0) {
      services_.prompter.ask(QStringLiteral("Nothing to Do"),
                             QStringLiteral("No images or operations selected!"), Buttons::Ok,
                             Icon::Exclamation);
      return;
    }

    const QStringList clashes = ClashReportLines(OperationItems());
    if (!clashes.isEmpty()) {
      services_.prompter.ask(QStringLiteral("Clashes Detected"), ClashMessageText(clashes),
                             Buttons::Ok, Icon::Exclamation);
      return;
    }

    CreateRunWindow();
    go_->exec();
    QCoreApplication::processEvents();
    // Back from the run window: the preview and the editor are brought up to
    // date once this handler is done.
    ActivateLater();

    if (!go_->ProcessAborted() &&
        services_.prompter.ask(
            QStringLiteral("Done!"),
            QStringLiteral("Process Finished! Would you like to see the resultant files?"),
            Buttons::YesNo, Icon::Question) == Answer::Yes) {
      const Settings &settings = services_.settings;
      services_.shell.open(settings.OutputInDiffDir ? settings.OutputDir
                                                    : txtInputDirectory->text());
    }
    RefreshFileList();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdGo_Click"));
  }
}

} // namespace varnholt
