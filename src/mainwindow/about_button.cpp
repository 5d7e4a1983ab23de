// The two small buttons at the bottom left: the About/Settings window and the
// maker's web site.
#include "mainwindow/frm_main.h"

#include "dialogs/frm_about.h"
#include "platform/desktop.h"
#include "platform/prompter.h"
#include "version.h"

namespace varnholt {

void frmMain::cmdAbout_Click() {
  // Coming back from the settings is not a reason to reload the preview.
  ReturningFromDialog();
  // Over this window wherever it stands now: it may have been placed, or
  // moved, after the settings window was made.
  about_->CentreOverOwner();
  about_->exec();
  ActivateLater();
}

void frmMain::cmdVisitHV_Click() {
  const QString address = QString::fromUtf8(kWebUrl);
  if (!services_.shell.open(address))
    services_.prompter.ask(QStringLiteral("Open Error"), "Could Not Open: " + address, Buttons::Ok,
                           Icon::Exclamation);
}

} // namespace varnholt
