#include "dialogs/frm_about.h"

#include "geometry/window_math.h"
#include "platform/bind_control.h"
#include "platform/desktop.h"
#include "platform/error_reporter.h"
#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/prompter.h"
#include "settings/folder_command.h"
#include "platform/paths.h"
#include "settings/settings.h"
#include "version.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>

namespace varnholt {

namespace {

const QString kForm = QStringLiteral("frmAbout");
const QString kLicenceFile = QStringLiteral("ImageMagickLicense.txt");

enum class Kind { Label, Link, Image, TextArea, CheckBox, TextBox, Button, PictureButton };

// One control: the frame it sits in (-1: the window), where (twips, inside
// its container), what it says and its tooltip.
struct ControlRow {
  const char *name;
  Kind kind;
  int frame;
  int left, top, width, height;
  const char *caption;
  const char *tooltip;
};

// Label column and value column of the general page.
constexpr int kKeyLeft = 240, kKeyWidth = 1620, kValueLeft = 1920, kValueWidth = 4680;

const ControlRow kControls[] = {
    // General information
    {"Image1", Kind::Image, 0, 240, 240, 720, 720, "", ""},
    {"lblTitle", Kind::Label, 0, 1140, 300, 5000, 600, "Varnholt", ""},
    {"lblVersionT", Kind::Label, 0, kKeyLeft, 1200, kKeyWidth, 255, "Version:", ""},
    {"lblVersion_", Kind::Label, 0, kValueLeft, 1200, kValueWidth, 255, "", ""},
    {"lblDescriptionT", Kind::Label, 0, kKeyLeft, 1500, kKeyWidth, 255, "Description:", ""},
    {"lblDescription", Kind::Label, 0, kValueLeft, 1500, kValueWidth, 960, "", ""},
    {"lblDateWrittenT", Kind::Label, 0, kKeyLeft, 2520, kKeyWidth, 255, "Date Written:", ""},
    {"lblDateWritten_", Kind::Label, 0, kValueLeft, 2520, kValueWidth, 255, "11/04/2004", ""},
    {"lblWrittenByT_", Kind::Label, 0, kKeyLeft, 2820, kKeyWidth, 255, "Written By:", ""},
    {"lblWrittenBy_", Kind::Label, 0, kValueLeft, 2820, kValueWidth, 255, "", ""},
    {"lblWebsiteT", Kind::Label, 0, kKeyLeft, 3120, kKeyWidth, 255, "Website:", ""},
    {"lblVisitHalvane_", Kind::Link, 0, kValueLeft, 3120, kValueWidth, 255, "", ""},
    {"lblPoweredByT", Kind::Label, 0, kKeyLeft, 3420, kKeyWidth, 255, "Powered By:", ""},
    {"lblIM1_", Kind::Label, 0, kValueLeft, 3420, 1200, 255, "ImageMagick (", ""},
    {"lblVisitImageMagick_", Kind::Link, 0, kValueLeft + 1200, 3420, 2400, 255, "", ""},
    {"lblIM2_", Kind::Label, 0, kValueLeft + 3600, 3420, 300, 255, ")", ""},
    {"cmdSubmitFeedback", Kind::Button, 0, 240, 3960, 2400, 375, "Submit Feedback", ""},
    {"cmdReportBug", Kind::Button, 0, 2760, 3960, 2400, 375, "Submit Bug Report", ""},
    // Terms and licence
    {"Label1", Kind::Label, 1, 120, 120, 4000, 255, "Terms and Conditions:", ""},
    {"txtTnC", Kind::TextArea, 1, 120, 390, 6600, 1740, "", ""},
    {"Label2", Kind::Label, 1, 120, 2250, 4000, 255, "ImageMagicK License:", ""},
    {"txtImageMagick", Kind::TextArea, 1, 120, 2520, 6600, 1920, "", ""},
    // Settings
    {"chkOutOfBoundry", Kind::CheckBox, 2, 240, 300, 6360, 300, "Allow Out-Of-Boundry Extraction",
     "If the bottom-right coordinate is greater than the image's size, then make the coordiate "
     "the bottom-right corner of the image."},
    {"chkAntialias", Kind::CheckBox, 2, 240, 720, 6360, 300, "Antialias Resized Images",
     "Will antialias (soften) images that have been resized."},
    {"chkContextMenu", Kind::CheckBox, 2, 240, 1140, 6360, 300, "Enable Explorer Context Menu",
     "Enables a right-click menu option for folders in explorer to process images."},
    {"chkOutputDiffFolder", Kind::CheckBox, 2, 240, 1560, 6360, 300,
     "Output Files in Different Folder:",
     "Check to put all extracted images into a different folder (other than input folder)."},
    {"txtOutputDir", Kind::TextBox, 2, 540, 1950, 5460, 315, "",
     "The directory to output all extracted files."},
    {"cmdSelectDir", Kind::PictureButton, 2, 6060, 1950, 420, 315, "",
     "Click to change output folder."},
    {"chkXPStyle", Kind::CheckBox, 2, 240, 2460, 6360, 300, "XP Style (Requires Restart)",
     "Program look will take on the styles used under \"Windows XP\" (only available under XP, "
     "some people my notice preformance difference)."},
    {"chkAutoOrient", Kind::CheckBox, 2, 240, 2880, 6360, 300, "Turn Photos Upright",
     "Takes every picture the way its camera or phone says it is seen (EXIF orientation), "
     "for coordinates, sizes, the preview, the crop tool and the results."},
    {"chkNeverEnlarge", Kind::CheckBox, 2, 240, 3300, 6360, 300, "Never Enlarge Images",
     "The Limit resize methods only shrink: an image already inside the limit keeps its size. "
     "Fix To Size is always exact."},
    // Along the bottom
    {"cmdOK", Kind::Button, -1, 4500, 5175, 1215, 375, "&OK", ""},
    {"cmdCancel", Kind::Button, -1, 5820, 5175, 1215, 375, "C&ancel", ""},
};

// The window's client area and the frames' size, twips.
constexpr int kClientWidth = 7200, kClientHeight = 5700;
constexpr int kFrameLeft = 180, kFrameWidth = 6840, kFrameBottom = 5070;

QWidget *MakeControl(const ControlRow &row, QWidget *parent) {
  const QString caption = QString::fromUtf8(row.caption);
  QWidget *w = nullptr;
  switch (row.kind) {
  case Kind::Label:
  case Kind::Link:
  case Kind::Image: {
    auto *label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    w = label;
    break;
  }
  case Kind::TextArea: {
    auto *text = new QPlainTextEdit(parent);
    text->setReadOnly(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    w = text;
    break;
  }
  case Kind::CheckBox: w = new QCheckBox(caption, parent); break;
  case Kind::TextBox: w = new QLineEdit(parent); break;
  case Kind::Button:
  case Kind::PictureButton: w = new QPushButton(caption, parent); break;
  }
  w->setObjectName(QString::fromLatin1(row.name));
  if (*row.tooltip) w->setToolTip(QString::fromUtf8(row.tooltip));
  return w;
}

} // namespace

QString AboutVersionText() {
  return QString::number(kVersionMajor) + u'.' + QString::number(kVersionMinor) + u'.' +
         QString::number(kVersionRevision);
}

QString AboutDescriptionText() {
  return QStringLiteral(
      "Extracts sections of images out (based on coordinates) and saves them to differnt files. "
      "Extracted images can be resized, suffixed, prefixed and have their format changed "
      "(png,bmp,jpg,gif,tiff,tga,miff).");
}

QString TermsText() {
  const QString blank = QStringLiteral("\r\n\r\n");
  return QStringLiteral(
             "This software is provided 'as is' and any express or implied warranties, including, "
             "but not limited to, the implied ") +
         QStringLiteral("warranties of merchantability and fitness for a particular purpose are "
                        "disclaimed. In no event shall the author be ") +
         QStringLiteral("liable for any direct, indirect, incidental, special, exemplary, or "
                        "consequential damages (including, but not ") +
         QStringLiteral("limited to, procurement of substitute goods or services; loss of use, "
                        "data, or profits; or business interruption) ") +
         QStringLiteral("however caused and on any theory of liability, whether in contract, "
                        "strict liability, or tort (including negligence ") +
         QStringLiteral("or otherwise) arising in any way out of the use of this software, even if "
                        "advised of the possibility of such ") +
         QStringLiteral("damage.") + blank + QStringLiteral("The author (") +
         QString::fromUtf8(kAuthor) +
         QStringLiteral(") and associates take no responsibility for any outcome of using this "
                        "program, its files or its installation.") +
         blank +
         QStringLiteral("If you do not agree to these terms and conditions please remove this "
                        "program and it's asscociated files from your computer.");
}

QString FeedbackAddress() { return QStringLiteral("mailto:") + QString::fromUtf8(kFeedbackMail); }

frmAbout::frmAbout(const AboutServices &services, QWidget *owner)
    : QDialog(owner), services_(services) {
  setObjectName(kForm);
  setWindowTitle(QStringLiteral("About/Settings"));
  setModal(true);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    twipsPerPixelX_ = TwipsPerPixel(screen->logicalDotsPerInchX());
    twipsPerPixelY_ = TwipsPerPixel(screen->logicalDotsPerInchY());
  }
  setFixedSize(TwipsToPixels(QRect(0, 0, kClientWidth, kClientHeight)).size());
  BuildControls();
  CentreOverOwner();
  visibleFrame_ = 0;
  tabAbout->setCurrentIndex(0);
  tabAbout_Click();
  FillGeneral();
  LoadLicence();
}

QRect frmAbout::TwipsToPixels(const QRect &twips) const {
  return TwipsRectToPixels(twips, twipsPerPixelX_, twipsPerPixelY_);
}

void frmAbout::BuildControls() {
  // The main window's face, so the two windows read alike.
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("Helvetica"), QApplication::font().family()});
  font.setPointSizeF(8);
  setFont(font);

  tabAbout = new QTabBar(this);
  tabAbout->setObjectName(QStringLiteral("tabAbout"));
  for (const char *tab : {"&General Info", "&Terms && Conditions", "Settings"})
    tabAbout->addTab(QString::fromUtf8(tab));
  tabAbout->setDrawBase(true);
  tabAbout->setExpanding(false);
  const QRect tabs = TwipsToPixels(QRect(90, 90, kClientWidth - 180, 360));
  tabAbout->setGeometry(tabs.left(), tabs.top(), tabs.width(), tabAbout->sizeHint().height());

  for (int i = 0; i < 3; ++i) {
    fraAbout[i] = new QGroupBox(this);
    fraAbout[i]->setObjectName(QStringLiteral("fraAbout(%1)").arg(i));
    fraAbout[i]->hide();
  }
  // Every frame is as large as the space below the tabs allows; where it
  // sits is the tab click's business.
  const int framesTop = tabAbout->geometry().bottom() + 1;
  const QRect frame = TwipsToPixels(QRect(kFrameLeft, 0, kFrameWidth, kFrameBottom));
  for (QGroupBox *f : fraAbout)
    f->resize(frame.width(), frame.bottom() + 1 - framesTop);

  for (const ControlRow &row : kControls) {
    QWidget *parent = row.frame < 0 ? static_cast<QWidget *>(this) : fraAbout[row.frame];
    QWidget *w = MakeControl(row, parent);
    w->setGeometry(TwipsToPixels(QRect(row.left, row.top, row.width, row.height)));
  }
  VARNHOLT_BIND(lblTitle);
  VARNHOLT_BIND(Image1);
  VARNHOLT_BIND(lblVersion_);
  VARNHOLT_BIND(lblDescription);
  VARNHOLT_BIND(lblVisitHalvane_);
  VARNHOLT_BIND(lblVisitImageMagick_);
  VARNHOLT_BIND(txtTnC);
  VARNHOLT_BIND(txtImageMagick);
  VARNHOLT_BIND(chkOutOfBoundry);
  VARNHOLT_BIND(chkAntialias);
  VARNHOLT_BIND(chkContextMenu);
  VARNHOLT_BIND(chkOutputDiffFolder);
  VARNHOLT_BIND(txtOutputDir);
  VARNHOLT_BIND(cmdSelectDir);
  VARNHOLT_BIND(chkXPStyle);
  VARNHOLT_BIND(chkAutoOrient);
  VARNHOLT_BIND(chkNeverEnlarge);
  VARNHOLT_BIND(cmdSubmitFeedback);
  VARNHOLT_BIND(cmdReportBug);
  VARNHOLT_BIND(cmdOK);
  VARNHOLT_BIND(cmdCancel);

  QFont title = font;
  title.setFamilies({QStringLiteral("MS Sans Serif"), font.family()});
  title.setPointSizeF(18);
  title.setBold(true);
  lblTitle->setFont(title);
  lblDescription->setWordWrap(true);
  lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  for (QLabel *link : {lblVisitHalvane_, lblVisitImageMagick_}) {
    QFont underlined = link->font();
    underlined.setUnderline(true);
    link->setFont(underlined);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
    link->setPalette(palette);
    link->setCursor(Qt::PointingHandCursor);
    link->setFocusPolicy(Qt::TabFocus);
    link->installEventFilter(this);
  }
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_DesktopIcon, nullptr, this);
  // Small stock icons are drawn up to the picture's size rather than left tiny.
  Image1->setPixmap(icon.pixmap(Image1->size())
                        .scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  Image1->setAlignment(Qt::AlignCenter);
  cmdSelectDir->setIcon(QIcon::fromTheme(QStringLiteral("folder-open"),
                                         style()->standardIcon(QStyle::SP_DirOpenIcon)));
  // Without a caption, screen readers take the tooltip instead.
  cmdSelectDir->setAccessibleName(cmdSelectDir->toolTip());
  cmdOK->setDefault(true);
  for (QPushButton *b : {cmdSelectDir, cmdSubmitFeedback, cmdReportBug, cmdCancel})
    b->setAutoDefault(false);

  connect(tabAbout, &QTabBar::currentChanged, this, [this] { tabAbout_Click(); });
  connect(chkOutputDiffFolder, &QCheckBox::toggled, this, [this] { chkOutputDiffFolder_Click(); });
  connect(cmdSelectDir, &QPushButton::clicked, this, [this] { cmdSelectDir_Click(); });
  connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(cmdSubmitFeedback, &QPushButton::clicked, this, [this] { cmdSubmitFeedback_Click(); });
  connect(cmdReportBug, &QPushButton::clicked, this, [this] { cmdReportBug_Click(); });
}

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

void frmAbout::CentreOverOwner() {
  const QWidget *owner = parentWidget();
  if (!owner) return;
  const QRect main = owner->geometry();
  move(qRound(main.x() + main.width() / 2.0 - width() / 2.0),
       qRound(main.y() + main.height() / 2.0 - height() / 2.0));
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

void frmAbout::tabAbout_Click() {
  fraAbout[visibleFrame_]->hide();
  const int k = std::clamp(tabAbout->currentIndex(), 0, 2);
  const QRect tab = tabAbout->tabRect(k);
  const int top = tabAbout->y() + tab.y() + tab.height() + qRound(20 / twipsPerPixelY_);
  fraAbout[k]->move(qRound(kFrameLeft / twipsPerPixelX_), top);
  fraAbout[k]->show();
  visibleFrame_ = k;
}

void frmAbout::chkOutputDiffFolder_Click() {
  const bool on = chkOutputDiffFolder->isChecked();
  txtOutputDir->setEnabled(on);
  cmdSelectDir->setEnabled(on);
}

void frmAbout::cmdSelectDir_Click() {
  try {
    const QString folder =
        services_.folderBrowser.browse(QStringLiteral("Select Output Directory"));
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
