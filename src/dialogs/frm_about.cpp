#include "dialogs/frm_about.h"

#include <QComboBox>

#include "desktop/folder_command.h"
#include "platform/desktop.h"
#include "platform/error_reporter.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "settings/settings.h"
#include "version.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace varnholt {

namespace {

const QString kForm = QStringLiteral("frmAbout");
const QString kLicenceFile = QStringLiteral("ImageMagickLicense.txt");

} // namespace

void frmAbout::FillGeneral() {
  lblTitle->setText(QStringLiteral("Varnholt"));
  lblVersion_->setText(AboutVersionText());
  lblDescription->setText(AboutDescriptionText());
  findChild<QLabel *>(QStringLiteral("lblWrittenBy_"))->setText(QString::fromUtf8(kAuthor));
  lblVisitHalvane_->setText(QString::fromUtf8(kWebUrl));
  lblVisitImageMagick_->setText(QString::fromUtf8(kImageMagickUrl));
  // "ImageMagick (", the address, ")" read as one line whatever the face.
  auto *open = findChild<QLabel *>(QStringLiteral("lblIM1_"));
  auto *close = findChild<QLabel *>(QStringLiteral("lblIM2_"));
  for (QLabel *part : {open, lblVisitImageMagick_, close})
    part->setFixedWidth(part->fontMetrics().horizontalAdvance(part->text()) + 2);
  lblVisitImageMagick_->move(open->geometry().right() + 1, open->y());
  close->move(lblVisitImageMagick_->geometry().right() + 1, open->y());
  lblVisitHalvane_->setFixedWidth(
      lblVisitHalvane_->fontMetrics().horizontalAdvance(lblVisitHalvane_->text()) + 2);

  QString terms = TermsText();
  txtTnC->setPlainText(terms.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void frmAbout::LoadLicence() {
  txtImageMagick->clear();
  const QString folder =
      services_.dataFolder.isEmpty() ? ProgramDataFolder() : services_.dataFolder;
  const QString path = AddBackslash(folder) + kLicenceFile;
  QString text;
  bool read = true;
  try {
    // The licence is some 10 KB; a megabyte is plenty.
    QByteArray bytes = ReadRegularFile(path, 1 << 20);
    if (bytes.endsWith('\n')) bytes.chop(1);
    if (!bytes.isEmpty())
      for (QByteArray line : bytes.split('\n')) {
        while (line.endsWith('\r'))
          line.chop(1);
        text += QString::fromUtf8(line) + u'\n';
      }
  } catch (const Failure &) {
    read = false;
  }
  if (read) {
    txtImageMagick->setPlainText(text);
    txtImageMagick->moveCursor(QTextCursor::Start);
    return;
  }
  services_.prompter.ask(QStringLiteral("File Access Error"),
                         "Could not load ImageMagick license file: " + path +
                             "!\r\n\r\nPlease Re-Install Varnholt!",
                         Buttons::Ok, Icon::Information);
}

void frmAbout::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Form_Activate();
}

void frmAbout::Form_Activate() {
  try {
    const Settings &settings = services_.settings;
    chkXPStyle->setChecked(settings.XPStyle);
    chkAntialias->setChecked(settings.Antialias);
    chkOutputDiffFolder->setChecked(settings.OutputInDiffDir);
    chkOutOfBoundry->setChecked(settings.AllowOutOfBoundry);
    chkAutoOrient->setChecked(settings.AutoOrient);
    chkNeverEnlarge->setChecked(settings.NeverEnlarge);
    chkSharpen->setChecked(settings.SharpenAfterShrinking);
    chkSubfolders->setChecked(settings.IncludeSubfolders);
    chkExactDecode->setChecked(settings.ExactDecode);
    cboExistingResults->setCurrentIndex(
        cboExistingResults->findData(int(EarlierResultRule(settings))));
    cboMetadata->setCurrentIndex(cboMetadata->findData(int(MetadataRule(settings))));
    txtOutputDir->setText(settings.OutputDir);
    if (!settings.OutputInDiffDir && services_.inputFolder)
      txtOutputDir->setText(services_.inputFolder());
    chkOutputDiffFolder_Click();
    chkContextMenu->setChecked(services_.folderCommand && services_.folderCommand->IsRegistered());
    chkOutputDiffFolder_Click();
  } catch (const Failure &) {
    // A window half filled is still better than none; nothing to report.
  }
}

void frmAbout::chkOutputDiffFolder_Click() {
  const bool on = chkOutputDiffFolder->isChecked();
  txtOutputDir->setEnabled(on);
  cmdSelectDir->setEnabled(on);
}

void frmAbout::cmdSelectDir_Click() {
  try {
    const QString folder = services_.folderBrowser.browse(QStringLiteral("Select Output Directory"),
                                                          txtOutputDir->text());
    if (!folder.isEmpty()) txtOutputDir->setText(folder);
  } catch (const Failure &failure) {
    services_.errorReporter.DisplayError(
        ErrorReport::from(failure, windowTitle(), kForm, QStringLiteral("cmdSelectDir_Click"),
                          QStringLiteral("Showing Output Browse Window")));
  }
}

void frmAbout::cmdOK_Click() {
  Settings &settings = services_.settings;
  settings.XPStyle = chkXPStyle->isChecked();
  settings.Antialias = chkAntialias->isChecked();
  settings.OutputInDiffDir = chkOutputDiffFolder->isChecked();
  settings.AllowOutOfBoundry = chkOutOfBoundry->isChecked();
  settings.AutoOrient = chkAutoOrient->isChecked();
  settings.NeverEnlarge = chkNeverEnlarge->isChecked();
  settings.SharpenAfterShrinking = chkSharpen->isChecked();
  settings.IncludeSubfolders = chkSubfolders->isChecked();
  settings.ExactDecode = chkExactDecode->isChecked();
  settings.ExistingResults =
      EarlierResultWord(EarlierResult(cboExistingResults->currentData().toInt()));
  settings.Metadata = MetadataWord(KeptMetadata(cboMetadata->currentData().toInt()));
  settings.OutputDir = txtOutputDir->text();
  if (services_.folderCommand) {
    if (chkContextMenu->isChecked())
      services_.folderCommand->Register();
    else
      services_.folderCommand->Unregister();
  }
  QDialog::accept();
}

void frmAbout::cmdCancel_Click() { QDialog::reject(); }

// Escape and the window's close button leave like Cancel.
void frmAbout::reject() { cmdCancel_Click(); }

void frmAbout::OpenOrSay(const QString &address) {
  if (!services_.shell.open(address))
    services_.prompter.ask(QStringLiteral("Open Error"), "Could Not Open: " + address, Buttons::Ok,
                           Icon::Exclamation);
}

void frmAbout::lblVisitHalvane_Click() { services_.shell.open(QString::fromUtf8(kWebUrl)); }

void frmAbout::lblVisitImageMagick_Click() {
  services_.shell.open(QString::fromUtf8(kImageMagickUrl));
}

void frmAbout::cmdSubmitFeedback_Click() { OpenOrSay(FeedbackAddress()); }

void frmAbout::cmdReportBug_Click() { OpenOrSay(QString::fromUtf8(kBugPageUrl)); }

bool frmAbout::eventFilter(QObject *watched, QEvent *event) {
  const bool release = event->type() == QEvent::MouseButtonRelease &&
                       static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
  const bool key = event->type() == QEvent::KeyPress &&
                   (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space ||
                    static_cast<QKeyEvent *>(event)->key() == Qt::Key_Return ||
                    static_cast<QKeyEvent *>(event)->key() == Qt::Key_Enter);
  if (release || key) {
    if (watched == lblVisitHalvane_) {
      lblVisitHalvane_Click();
      return true;
    }
    if (watched == lblVisitImageMagick_) {
      lblVisitImageMagick_Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

} // namespace varnholt
