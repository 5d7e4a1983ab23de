// The main window's controls: where each sits, what it says, its tooltip,
// its icon, and the order the Tab key visits them in.
#include "mainwindow/main_layout.h"

#include "geometry/window_math.h"
#include "mainwindow/up_down.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace varnholt {

namespace {

enum class Kind {
  Label,
  CentredLabel,
  TextBox,
  RightTextBox,
  ReadOnlyTextBox,
  ReadOnlyRightTextBox,
  Button,
  PictureButton,
  CheckBox,
  BoxOnlyCheckBox,
  CheckList,
  Frame,
  PlainFrame,
  Image,
  DropDown,
  EditableDropDown,
  Spinner,
};

// One control of the window: where it sits (twips, inside its container),
// what it says and what its tooltip says.
struct ControlRow {
  const char *name;
  Kind kind;
  const char *container; // nullptr: the window itself
  int left, top, width, height;
  const char *caption;
  const char *tooltip;
};

// What the resize boxes add to their tips: how to ask for a long edge.
#define VARNHOLT_FIT_NOTE                                                                          \
  " With Limit Width & Height the picture is fitted into the box, its proportions kept: "          \
  "1920 x 1920 fits any long edge to 1920."

const ControlRow kControls[] = {
    // Image folder, pattern and list
    {"lblDir", Kind::Label, nullptr, 90, 135, 555, 195, "Folder:", ""},
    {"txtInputDirectory", Kind::ReadOnlyTextBox, nullptr, 720, 90, 1545, 285, "", ""},
    {"cmdSelectDir", Kind::PictureButton, nullptr, 2295, 90, 330, 285, "", ""},
    {"lblPattern", Kind::Label, nullptr, 90, 495, 600, 195, "Pattern:", ""},
    {"txtPattern", Kind::TextBox, nullptr, 720, 450, 1545, 285, "",
     "Select the pattern that all files have to match (minus extension) to be added in list "
     "below."},
    {"chkInversePattern", Kind::BoxOnlyCheckBox, nullptr, 2430, 540, 195, 195, "",
     "Inverses pattern match. I.E. list files that do NOT match the pattern on right."},
    {"lstImages", Kind::CheckList, nullptr, 90, 855, 2535, 2310, "",
     "List of images to process. Double-click to open image."},
    {"fraLoadingImages", Kind::Frame, nullptr, 135, 765, 2535, 2400, "", ""},
    {"Label2", Kind::CentredLabel, "fraLoadingImages", 45, 1080, 2445, 195, "Loading Image List...",
     ""},
    {"cmdSelectAll", Kind::PictureButton, nullptr, 90, 3195, 1275, 285, "",
     "Select all images above."},
    {"cmdDeselectAll", Kind::PictureButton, nullptr, 1395, 3195, 1230, 285, "",
     "De-select all images above."},
    // Preview
    {"fraPreview", Kind::Frame, nullptr, 90, 3555, 2535, 2355, "View Picture", ""},
    {"fraViewPicture", Kind::PlainFrame, "fraPreview", 135, 180, 2265, 1905, "", ""},
    {"lblLoading", Kind::CentredLabel, "fraViewPicture", 135, 855, 1995, 195, "No Image Selected.",
     ""},
    {"imgPreview", Kind::Image, "fraViewPicture", 90, 90, 2085, 1725, "",
     "What the selected image above looks like."},
    {"lblViewPictureError", Kind::CentredLabel, "fraViewPicture", 135, 135, 1995, 1635, "", ""},
    {"lblImageDimensions", Kind::CentredLabel, "fraPreview", 135, 2070, 2265, 195, "", ""},
    // Operation list
    {"lstOperations", Kind::CheckList, nullptr, 2745, 135, 4245, 1860, "",
     "The list of operations to preform on each image. Check operations to enable them."},
    {"cmdNewList", Kind::PictureButton, nullptr, 7020, 135, 465, 645, "",
     "New operation list (clears current list)."},
    {"cmdSaveList", Kind::PictureButton, nullptr, 7020, 765, 465, 645, "",
     "Save operation list to file."},
    {"cmdLoadList", Kind::PictureButton, nullptr, 7020, 1395, 465, 600, "",
     "Load operation list from file."},
    // Extract Image
    {"fraExtractImage", Kind::Frame, nullptr, 2745, 2025, 2400, 2310, "Extract Image", ""},
    {"chkExtract", Kind::CheckBox, "fraExtractImage", 135, 315, 2130, 240,
     "Extract With Coordinates:",
     "Check to extract a portion of image out from original image. If un-checked, whole image "
     "is extracted."},
    {"cmbExtractAspect", Kind::EditableDropDown, "fraExtractImage", 75, 562, 900, 285, "",
     "The rectangle to take: Free, between the corners below, or the largest one of an aspect "
     "ratio "
     "(width:height, such as 16:9 or 65:24) from the centre of each picture, as it is seen."},
    {"lblCoordX", Kind::Label, "fraExtractImage", 990, 630, 105, 195, "X", ""},
    {"lblCoordY", Kind::Label, "fraExtractImage", 1710, 630, 105, 195, "Y", ""},
    {"lblTopLeft", Kind::Label, "fraExtractImage", 135, 900, 465, 195, "Top L.", ""},
    {"txtTopLeftX", Kind::RightTextBox, "fraExtractImage", 720, 855, 600, 285, "", ""},
    {"txtTopLeftY", Kind::RightTextBox, "fraExtractImage", 1395, 855, 600, 285, "",
     "The 'y' ordinate (vertical) of the top-left corner for extraction."},
    {"lblBottomRight", Kind::Label, "fraExtractImage", 135, 1260, 495, 195, "Bot. R.", ""},
    {"txtBottomRightX", Kind::RightTextBox, "fraExtractImage", 720, 1215, 600, 285, "", ""},
    {"txtBottomRightY", Kind::RightTextBox, "fraExtractImage", 1395, 1215, 600, 285, "",
     "The 'y' ordinate (vertical) of the bottom-right corner for extraction."},
    {"cmdUseCropTool", Kind::Button, "fraExtractImage", 2025, 855, 195, 645, ">", ""},
    {"lblExtractWidth", Kind::Label, "fraExtractImage", 135, 1665, 420, 195, "Width", ""},
    {"txtExtractWidth", Kind::RightTextBox, "fraExtractImage", 135, 1890, 615, 285, "",
     "The width of the extraction."},
    {"udbExtractWidth", Kind::Spinner, "fraExtractImage", 765, 1890, 255, 285, "", ""},
    {"lblExtractX", Kind::Label, "fraExtractImage", 1035, 1935, 285, 195, "x", ""},
    {"lblExtractHeight", Kind::Label, "fraExtractImage", 1350, 1665, 465, 195, "Height", ""},
    {"txtExtractHeight", Kind::RightTextBox, "fraExtractImage", 1350, 1890, 615, 285, "",
     "The height of the extraction."},
    {"udbExtractHeight", Kind::Spinner, "fraExtractImage", 1980, 1890, 255, 285, "", ""},
    // Dimensions
    {"Frame4", Kind::Frame, nullptr, 5265, 2025, 2265, 2310, "Dimensions", ""},
    {"chkResizeImage", Kind::CheckBox, "Frame4", 135, 315, 1995, 195, "&Resize Extracted Image",
     "Check to resize extracted image. If 'Extract With Coordinates' is un-checked, then whole "
     "image will be resized."},
    {"cmbResizeMethod", Kind::DropDown, "Frame4", 135, 945, 1995, 315, "",
     "The method in which to resize the images."},
    {"lblResizeWidth", Kind::Label, "Frame4", 135, 1665, 825, 195, "Width", ""},
    {"txtResizeWidth", Kind::RightTextBox, "Frame4", 135, 1890, 555, 285, "",
     "The width to resize the extracted image." VARNHOLT_FIT_NOTE},
    {"udbResizeWidth", Kind::Spinner, "Frame4", 720, 1890, 255, 285, "", ""},
    {"lblResizeX", Kind::Label, "Frame4", 945, 1935, 330, 195, "x", ""},
    {"lblResizeHeight", Kind::Label, "Frame4", 1260, 1665, 735, 195, "Height", ""},
    {"txtResizeHeight", Kind::RightTextBox, "Frame4", 1260, 1890, 555, 285, "",
     "The height to resize the extracted image." VARNHOLT_FIT_NOTE},
    {"udbResizeHeight", Kind::Spinner, "Frame4", 1845, 1890, 255, 285, "", ""},
    // Output
    {"Frame3", Kind::Frame, nullptr, 2745, 4365, 4785, 1140, "Output", ""},
    {"Label1", Kind::Label, "Frame3", 135, 315, 825, 195, "Prefix:", ""},
    {"txtPrefix", Kind::TextBox, "Frame3", 720, 270, 1230, 285, "",
     "Text to put at the start of the filename."},
    {"Label6", Kind::Label, "Frame3", 135, 720, 735, 195, "Suffix:", ""},
    {"txtSuffix", Kind::TextBox, "Frame3", 720, 675, 1230, 285, "",
     "Text to put at the end of the filename."},
    {"Label5", Kind::Label, "Frame3", 2160, 315, 645, 195, "Format:", ""},
    {"cmbOutputFormat", Kind::DropDown, "Frame3", 3195, 270, 1410, 315, "",
     "The image's output format. If you want them to remain the same, select 'Don't Change'."},
    {"lblJpgQuality", Kind::Label, "Frame3", 2160, 720, 960, 195, "JPG Quality:", ""},
    {"txtJpgQuality", Kind::ReadOnlyRightTextBox, "Frame3", 3195, 675, 1095, 285, "75",
     "The output quality of the JPG images, form 1 to 100. Default is 75%. If any JPG image is "
     "processed, this value is used."},
    {"udbJpgQuality", Kind::Spinner, "Frame3", 4320, 675, 255, 285, "",
     "Click to change the JPG quality setting."},
    // Operation buttons and the bottom row
    {"cmdNewOperation", Kind::PictureButton, nullptr, 2745, 5535, 1185, 375, "",
     "Reset all of the above options."},
    {"cmdSaveOperation", Kind::PictureButton, nullptr, 3915, 5535, 1230, 375, "",
     "Save selected operation."},
    {"cmdAddOperation", Kind::PictureButton, nullptr, 5130, 5535, 1230, 375, "",
     "Add operation to list."},
    {"cmdRemoveOperation", Kind::PictureButton, nullptr, 6345, 5535, 1185, 375, "",
     "Remove operation from list."},
    {"cmdAbout", Kind::PictureButton, nullptr, 90, 5985, 420, 375, "",
     "About Varnholt/Setup Varnholt"},
    {"cmdVisitHV", Kind::PictureButton, nullptr, 495, 5985, 420, 375, "",
     "Visit the Halvane website: Check for updates, new releases etc."},
    {"cmdGo", Kind::Button, nullptr, 990, 5985, 6540, 375, "Start >>>", "Start processing images."},
};
#undef VARNHOLT_FIT_NOTE

// Picture buttons: an icon of the desktop theme, else one of Qt's own.
struct IconRow {
  const char *name;
  const char *theme;
  QStyle::StandardPixmap fallback;
};

const IconRow kIcons[] = {
    {"cmdSelectDir", "folder-open", QStyle::SP_DirOpenIcon},
    {"cmdNewList", "document-new", QStyle::SP_FileIcon},
    {"cmdSaveList", "document-save", QStyle::SP_DialogSaveButton},
    {"cmdLoadList", "document-open", QStyle::SP_DialogOpenButton},
    {"cmdNewOperation", "edit-clear", QStyle::SP_DialogResetButton},
    {"cmdSaveOperation", "document-save", QStyle::SP_DialogSaveButton},
    {"cmdAddOperation", "list-add", QStyle::SP_ArrowUp},
    {"cmdRemoveOperation", "list-remove", QStyle::SP_TrashIcon},
    {"cmdAbout", "help-about", QStyle::SP_MessageBoxInformation},
    {"cmdVisitHV", "applications-internet", QStyle::SP_DriveNetIcon},
};

// clang-format off
const char *const kFocusOrder[] = {
    "txtInputDirectory",  "cmdSelectDir",       "txtPattern",         "chkInversePattern",
    "lstImages",          "lstOperations",      "cmdNewList",         "cmdSaveList",
    "cmdLoadList",        "chkExtract",         "cmbExtractAspect",   "txtTopLeftX",
    "txtTopLeftY",        "txtBottomRightX",    "txtBottomRightY",    "txtExtractWidth",
    "udbExtractWidth",    "txtExtractHeight",   "udbExtractHeight",   "chkResizeImage",
    "cmbResizeMethod",    "txtResizeWidth",     "udbResizeWidth",     "txtResizeHeight",
    "udbResizeHeight",    "txtPrefix",          "txtSuffix",          "cmbOutputFormat",
    "txtJpgQuality",      "udbJpgQuality",      "cmdNewOperation",    "cmdSaveOperation",
    "cmdAddOperation",    "cmdRemoveOperation", "cmdAbout",           "cmdVisitHV",
    "cmdGo",              "cmdSelectAll",       "cmdDeselectAll",     "cmdUseCropTool",
};
// clang-format on

QWidget *MakeControl(const ControlRow &row, QWidget *parent) {
  QWidget *w = nullptr;
  switch (row.kind) {
  case Kind::Label:
  case Kind::CentredLabel: {
    auto *label = new QLabel(QString::fromUtf8(row.caption), parent);
    label->setAlignment(row.kind == Kind::CentredLabel ? Qt::AlignCenter
                                                       : Qt::AlignLeft | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    w = label;
    break;
  }
  case Kind::TextBox:
  case Kind::RightTextBox:
  case Kind::ReadOnlyTextBox:
  case Kind::ReadOnlyRightTextBox: {
    auto *edit = new QLineEdit(QString::fromUtf8(row.caption), parent);
    edit->setReadOnly(row.kind == Kind::ReadOnlyTextBox || row.kind == Kind::ReadOnlyRightTextBox);
    if (row.kind == Kind::RightTextBox || row.kind == Kind::ReadOnlyRightTextBox)
      edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    w = edit;
    break;
  }
  case Kind::Button:
  case Kind::PictureButton: {
    auto *button = new QPushButton(QString::fromUtf8(row.caption), parent);
    button->setAutoDefault(false);
    w = button;
    break;
  }
  case Kind::CheckBox:
  case Kind::BoxOnlyCheckBox: w = new QCheckBox(QString::fromUtf8(row.caption), parent); break;
  case Kind::CheckList: w = new QListWidget(parent); break;
  case Kind::Frame: w = new QGroupBox(QString::fromUtf8(row.caption), parent); break;
  case Kind::PlainFrame: {
    // Inside a captioned frame: a second border would run along the first.
    auto *frame = new QFrame(parent);
    frame->setFrameShape(QFrame::NoFrame);
    w = frame;
    break;
  }
  case Kind::Image: {
    auto *image = new QLabel(parent);
    image->setScaledContents(false);
    w = image;
    break;
  }
  case Kind::DropDown: w = new QComboBox(parent); break;
  case Kind::EditableDropDown: {
    auto *combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    w = combo;
    break;
  }
  case Kind::Spinner: w = new UpDown(parent); break;
  }
  w->setObjectName(QString::fromLatin1(row.name));
  if (*row.tooltip) w->setToolTip(QString::fromUtf8(row.tooltip));
  return w;
}

// The caption a control shows, with its access-key marker taken out.
QString ShownCaption(const QString &text) {
  QString shown = text;
  return shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
      .remove(u'&')
      .replace(u'\x01', u'&');
}

} // namespace

QSize CheckBoxIconSize(const QWidget *w) {
  const QStyle *style = w->style();
  return QSize(style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w),
               style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, w));
}

namespace {
QIcon CheckBoxIcon(const QWidget *w, bool ticked) {
  const QSize size = CheckBoxIconSize(w);
  const qreal ratio = w->devicePixelRatioF();
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QStyleOptionButton option;
  option.initFrom(w);
  option.rect = QRect(QPoint(0, 0), size);
  option.state = QStyle::State_Enabled | (ticked ? QStyle::State_On : QStyle::State_Off);
  w->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, w);
  return QIcon(pixmap);
}

} // namespace

QStringList ClippedCaptions(const QWidget *window) {
  QStringList clipped;
  for (const QWidget *w : window->findChildren<const QWidget *>()) {
    if (w->objectName().isEmpty()) continue;
    const QFontMetrics fm(w->font());
    const QStyle *style = w->style();
    int needed = 0;
    if (auto *label = qobject_cast<const QLabel *>(w)) {
      if (label->wordWrap() || label->text().isEmpty()) continue;
      needed = fm.horizontalAdvance(label->text());
      if (fm.height() > label->height()) {
        clipped << w->objectName();
        continue;
      }
    } else if (auto *check = qobject_cast<const QCheckBox *>(w)) {
      needed = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w);
      if (!check->text().isEmpty())
        needed += style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) +
                  fm.horizontalAdvance(ShownCaption(check->text()));
    } else if (auto *button = qobject_cast<const QPushButton *>(w)) {
      if (button->text().isEmpty()) continue;
      needed = fm.horizontalAdvance(ShownCaption(button->text())) + 4;
    } else if (auto *frame = qobject_cast<const QGroupBox *>(w)) {
      if (frame->title().isEmpty()) continue;
      needed = fm.horizontalAdvance(frame->title()) + 16;
    } else if (auto *combo = qobject_cast<const QComboBox *>(w)) {
      for (int i = 0; i < combo->count(); ++i)
        needed = std::max(needed, fm.horizontalAdvance(combo->itemText(i)));
      needed += style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w) + 8;
    } else {
      continue;
    }
    if (needed > w->width()) clipped << w->objectName();
  }
  return clipped;
}

void BuildMainControls(QWidget *client, double twipsPerPixelX, double twipsPerPixelY) {
  QHash<QString, QWidget *> made;
  for (const ControlRow &row : kControls) {
    QWidget *parent = row.container ? made.value(QString::fromLatin1(row.container)) : client;
    Q_ASSERT(parent);
    QWidget *w = MakeControl(row, parent);
    w->setGeometry(TwipsRectToPixels(QRect(row.left, row.top, row.width, row.height),
                                     twipsPerPixelX, twipsPerPixelY));
    made.insert(w->objectName(), w);
  }
  for (const IconRow &row : kIcons) {
    auto *button = qobject_cast<QPushButton *>(made.value(QString::fromLatin1(row.name)));
    const QIcon icon =
        QIcon::fromTheme(QString::fromLatin1(row.theme),
                         client->style()->standardIcon(row.fallback, nullptr, button));
    button->setIcon(icon);
    const int side = std::max(8, std::min(button->height(), button->width()) - 6);
    button->setIconSize(QSize(std::min(side, 24), std::min(side, 24)));
    // Without a caption, screen readers take the tooltip instead.
    button->setAccessibleName(button->toolTip());
  }
  // Ticking and unticking every entry is best said with the list's own
  // check boxes, as the style draws them.
  for (const auto &[name, on] : {std::pair{"cmdSelectAll", true}, {"cmdDeselectAll", false}}) {
    auto *button = qobject_cast<QPushButton *>(made.value(QString::fromLatin1(name)));
    button->setIcon(CheckBoxIcon(button, on));
    button->setIconSize(CheckBoxIconSize(button));
    button->setAccessibleName(button->toolTip());
  }
}

void SetMainFocusOrder(QWidget *window) {
  QWidget *previous = nullptr;
  for (const char *name : kFocusOrder) {
    QWidget *w = window->findChild<QWidget *>(QString::fromLatin1(name));
    Q_ASSERT_X(w, "frmMain focus order", name);
    if (previous) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

} // namespace varnholt
