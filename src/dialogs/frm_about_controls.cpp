// The About/Settings window's controls: made from one table, placed in twips
// as the window was drawn, and the frame that a tab shows.
#include "dialogs/frm_about.h"

#include "geometry/window_math.h"
#include "platform/bind_control.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
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

enum class Kind {
  Label,
  Link,
  Image,
  TextArea,
  CheckBox,
  TextBox,
  Button,
  PictureButton,
  ComboBox
};

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
    {"chkAutoOrient", Kind::CheckBox, 2, 240, 2790, 6360, 300, "Turn Photos Upright",
     "Takes every picture the way its camera or phone says it is seen (EXIF orientation), "
     "for coordinates, sizes, the preview, the crop tool and the results."},
    {"chkNeverEnlarge", Kind::CheckBox, 2, 240, 3090, 3120, 300, "Never Enlarge Images",
     "The Limit resize methods only shrink: an image already inside the limit keeps its size. "
     "Fix To Size is always exact."},
    {"chkSharpen", Kind::CheckBox, 2, 3480, 3090, 3120, 300, "Sharpen After Shrinking",
     "Gives a resized picture that came out smaller a light sharpening, stronger the more it "
     "shrank, so fine detail stays crisp. Pictures that keep or grow their size, and plain "
     "copies, are left as they are."},
    {"chkExactDecode", Kind::CheckBox, 2, 240, 3390, 3120, 300, "Decode JPEGs Whole",
     "Decodes every JPEG at its full size, also where a reduced decode gives the same size of "
     "result several times faster: results exactly as from a full decode."},
    {"chkSubfolders", Kind::CheckBox, 2, 3480, 3390, 3120, 300, "Include Subfolders",
     "Lists the images of every folder inside the image folder too, with the same pattern, "
     "shown with their folder (2024/IMG_0001.jpg). Their results go into the same folders "
     "inside the output folder, made as needed, or beside each image. Hidden folders and "
     "links to folders are left out."},
    {"lblExistingResults", Kind::Label, 2, 240, 3735, 1620, 315, "Existing Results:", ""},
    {"cboExistingResults", Kind::ComboBox, 2, 1920, 3705, 2400, 315, "",
     "What a run does where a file of an earlier run has a result's name: replace it, skip "
     "the pair and keep it, or keep both (the new one as NAME-2, NAME-3, ...). Results this "
     "operation list wrote beside the images are listed unticked and greyed, not as images."},
    {"lblMetadata", Kind::Label, 2, 240, 4080, 1620, 315, "Metadata In Results:", ""},
    {"cboMetadata", Kind::ComboBox, 2, 1920, 4050, 2400, 315, "",
     "What of a photo's metadata its results carry: all of it; all but the GPS position and "
     "the places named in it; or nothing but the colour profile. A result that is encoded "
     "anew never carries the original's small preview picture, and its pixel size tags are "
     "its own. With Keep All a plain copy stays the same bytes."},
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
  case Kind::ComboBox: {
    auto *box = new QComboBox(parent);
    // Shown as words, stored as the settings file's.
    if (QByteArray(row.name) == "cboMetadata") {
      for (const auto &[shown, stored] :
           {std::pair{"Keep All", KeptMetadata::All},
            std::pair{"Remove Location", KeptMetadata::AllButLocation},
            std::pair{"Remove All", KeptMetadata::ColourProfile}})
        box->addItem(QString::fromLatin1(shown), int(stored));
    } else {
      for (const auto &[shown, stored] :
           {std::pair{"Replace", EarlierResult::Replace}, std::pair{"Skip", EarlierResult::Skip},
            std::pair{"Keep Both", EarlierResult::KeepBoth}})
        box->addItem(QString::fromLatin1(shown), int(stored));
    }
    w = box;
    break;
  }
  case Kind::TextBox: w = new QLineEdit(parent); break;
  case Kind::Button:
  case Kind::PictureButton: w = new QPushButton(caption, parent); break;
  }
  w->setObjectName(QString::fromLatin1(row.name));
  if (*row.tooltip) w->setToolTip(QString::fromUtf8(row.tooltip));
  return w;
}

} // namespace

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
  BuildTabsAndFrames();

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
  VARNHOLT_BIND(chkSharpen);
  VARNHOLT_BIND(chkSubfolders);
  VARNHOLT_BIND(chkExactDecode);
  VARNHOLT_BIND(cboExistingResults);
  VARNHOLT_BIND(cboMetadata);
  VARNHOLT_BIND(cmdSubmitFeedback);
  VARNHOLT_BIND(cmdReportBug);
  VARNHOLT_BIND(cmdOK);
  VARNHOLT_BIND(cmdCancel);
  StyleControls(font);

  connect(tabAbout, &QTabBar::currentChanged, this, [this] { tabAbout_Click(); });
  connect(chkOutputDiffFolder, &QCheckBox::toggled, this, [this] { chkOutputDiffFolder_Click(); });
  connect(cmdSelectDir, &QPushButton::clicked, this, [this] { cmdSelectDir_Click(); });
  connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(cmdSubmitFeedback, &QPushButton::clicked, this, [this] { cmdSubmitFeedback_Click(); });
  connect(cmdReportBug, &QPushButton::clicked, this, [this] { cmdReportBug_Click(); });
}

void frmAbout::BuildTabsAndFrames() {
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
}

void frmAbout::StyleControls(const QFont &font) {
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
  // Small stock icons are drawn up to the picture's size rather than left
  // tiny; in device pixels, or a scaled screen shows it at a fraction.
  const qreal ratio = Image1->devicePixelRatioF();
  QPixmap picture =
      icon.pixmap(Image1->size(), ratio)
          .scaled(Image1->size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  picture.setDevicePixelRatio(ratio);
  Image1->setPixmap(picture);
  Image1->setAlignment(Qt::AlignCenter);
  cmdSelectDir->setIcon(QIcon::fromTheme(QStringLiteral("folder-open"),
                                         style()->standardIcon(QStyle::SP_DirOpenIcon)));
  // Without a caption, screen readers take the tooltip instead.
  cmdSelectDir->setAccessibleName(cmdSelectDir->toolTip());
  cmdOK->setDefault(true);
  for (QPushButton *b : {cmdSelectDir, cmdSubmitFeedback, cmdReportBug, cmdCancel})
    b->setAutoDefault(false);
}

void frmAbout::CentreOverOwner() {
  const QWidget *owner = parentWidget();
  if (!owner) return;
  const QRect main = owner->geometry();
  move(qRound(main.x() + main.width() / 2.0 - width() / 2.0),
       qRound(main.y() + main.height() / 2.0 - height() / 2.0));
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

} // namespace varnholt
