// Start: the checks before a run, the run window, and what follows it.
#include "mainwindow/frm_main.h"

#include "dialogs/frm_go.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/operation_list_panel.h"
#include "operations/clash_check.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "processing/run_plan.h"
#include "settings/settings.h"

#include <QCoreApplication>

namespace varnholt {

void frmMain::cmdGo_Click() {
  try {
    if (!editor_->Saved()) {
      switch (services_.prompter.ask(
          QStringLiteral("Save Operation?"),
          QStringLiteral("Do you want to save the selected operation before processing images?"),
          Buttons::YesNoCancel, Icon::Question)) {
      case Answer::Yes: operations_->cmdSaveOperation_Click(); break;
      case Answer::No: break;
      default: return;
      }
    }

    // Counted wide: ten thousand images under a few dozen operations is an
    // ordinary run.
    if (qint64(images_->Images().tickedCount()) * qint64(operations_->Operations().tickedCount()) ==
        0) {
      services_.prompter.ask(QStringLiteral("Nothing to Do"),
                             QStringLiteral("No images or operations selected!"), Buttons::Ok,
                             Icon::Exclamation);
      return;
    }

    const QStringList clashes = ClashReportLines(operations_->OperationItems());
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

    if (!go_->ProcessAborted()) OfferResults();
    images_->RefreshFileList();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdGo_Click"));
  }
}

void frmMain::OfferResults() {
  // The run window comes back with its counts while the question is asked:
  // what was written, skipped or failed matters when deciding to look.
  go_->ShowAfterRun();
  const Answer look = services_.prompter.ask(
      QStringLiteral("Done!"),
      QStringLiteral("Process Finished! Would you like to see the resultant files?"),
      Buttons::YesNo, Icon::Question);
  go_->hide();
  if (look != Answer::Yes) return;
  const Settings &settings = services_.settings;
  const QString folder = OutputFolderFor(settings, images_->Folder());
  // A Yes that silently does nothing reads as a broken button; where no
  // file manager answers, at least say where the files are.
  if (!services_.shell.open(folder))
    services_.prompter.ask(QStringLiteral("Resultant Files"),
                           "No file manager could open the folder of the resultant files:" +
                               QStringLiteral("\r\n\r\n") + folder,
                           Buttons::Ok, Icon::Exclamation);
}

} // namespace varnholt
