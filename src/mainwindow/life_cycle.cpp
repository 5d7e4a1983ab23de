// Closing the main window: nothing the user changed may be lost silently.
#include "mainwindow/frm_main.h"

#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "platform/settings_store.h"
#include "settings/paths.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>

namespace varnholt {

bool frmMain::Form_Unload() {
  Settings &settings = services_.settings;
  try {
    if (ListChanged) {
      const QString title = QStringLiteral("Save Changes?");
      if (!settings.LoadedFile.isEmpty()) {
        if (services_.prompter.ask(title, "Save changes to " + FileNamePart(settings.LoadedFile) + "?",
                                   Buttons::YesNo, Icon::Question) == Answer::Yes) {
          QString errorText;
          if (!SaveOperationsFile(settings.LoadedFile, OperationItems(), settings, errorText)) {
            services_.prompter.ask(QStringLiteral("File Write Error"),
                                   "Could not save operations to \"" + settings.LoadedFile +
                                       "\"!\r\n" + errorText,
                                   Buttons::Ok, Icon::Exclamation);
            // Stay open: closing now would throw the changes away.
            return false;
          }
          ListChanged = false;
        }
      } else if (services_.prompter.ask(title,
                                        QStringLiteral("Do you want to save operations to a file?"),
                                        Buttons::YesNo, Icon::Question) == Answer::Yes) {
        cmdSaveList_Click();
        if (ListChanged) return false;
      }
    }
    settings.SelectedDir = txtInputDirectory->text();
    settings.Pattern = txtPattern->text();
    settings.InversePattern = chkInversePattern->isChecked() ? 1 : 0;
    if (services_.settingsStore) SaveSettings(*services_.settingsStore, settings);
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("Form_Unload"));
  }
  return true;
}

void frmMain::closeEvent(QCloseEvent *event) {
  if (Form_Unload())
    event->accept();
  else
    event->ignore();
}

} // namespace varnholt
