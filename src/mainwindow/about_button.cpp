// The two small buttons at the bottom left: the About/Settings window and the
// maker's web site.
#include "mainwindow/frm_main.h"

#include "dialogs/frm_about.h"
#include "mainwindow/image_panel.h"
#include "platform/desktop.h"
#include "platform/prompter.h"
#include "settings/settings.h"
#include "version.h"

namespace varnholt {

void frmMain::cmdAbout_Click() {
  // Coming back from the settings is not a reason to reload the preview.
  ReturningFromDialog();
  // Over this window wherever it stands now: it may have been placed, or
  // moved, after the settings window was made.
  about_->CentreOverOwner();
  const Settings before = services_.settings;
  about_->exec();
  // What the list holds depends on these: the subfolders, and the results'
  // folder left out of them.
  const Settings &after = services_.settings;
  if (after.IncludeSubfolders != before.IncludeSubfolders ||
      (after.IncludeSubfolders &&
       (after.OutputInDiffDir != before.OutputInDiffDir || after.OutputDir != before.OutputDir)))
    images_->RefreshFileList();
  ActivateLater();
}

void frmMain::cmdVisitHV_Click() {
  const QString address = QString::fromUtf8(kWebUrl);
  if (!services_.shell.open(address))
    services_.prompter.ask(QStringLiteral("Open Error"), "Could Not Open: " + address, Buttons::Ok,
                           Icon::Exclamation);
}

} // namespace varnholt
