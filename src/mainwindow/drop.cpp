// A folder or an operation list dropped on the window: opened as if it had
// been named on the command line.
#include "mainwindow/frm_main.h"

#include "mainwindow/image_panel.h"
#include "mainwindow/operation_list_panel.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace varnholt {

namespace {
// What the command line would make of the first thing dropped; nothing
// for a web address, a picture or several files of other kinds.
CommandLineTarget DroppedTarget(const QMimeData *data) {
  if (!data || !data->hasUrls() || data->urls().isEmpty()) return {};
  const QUrl url = data->urls().constFirst();
  if (!url.isLocalFile()) return {};
  // Quoted, as a file manager passes it, so spaces at either end survive.
  return ReadCommandLine(u'"' + url.toLocalFile() + u'"');
}
} // namespace

void frmMain::dragEnterEvent(QDragEnterEvent *event) {
  const CommandLineTarget target = DroppedTarget(event->mimeData());
  if (!target.folder.isEmpty() || !target.listFile.isEmpty()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event) {
  const CommandLineTarget target = DroppedTarget(event->mimeData());
  if (!target.folder.isEmpty()) {
    event->acceptProposedAction();
    images_->SetFolder(target.folder);
  } else if (!target.listFile.isEmpty()) {
    event->acceptProposedAction();
    // The list in the window may hold changes: the same question as before
    // the window closes; a save that fails keeps it.
    if (!operations_->OfferToSave()) return;
    operations_->OperationsFileToList(target.listFile);
    operations_->SetWindowTitle();
  }
}

} // namespace varnholt
