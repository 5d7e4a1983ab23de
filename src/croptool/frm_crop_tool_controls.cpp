// The crop tool's controls: made once, where the window was drawn (in twips),
// with the info panel's face shrunk until its captions fit their columns.
#include "croptool/crop_picture.h"
#include "croptool/frm_crop_tool.h"

#include "geometry/window_math.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <cmath>

namespace varnholt {

namespace {
// The window as drawn, in twips.
const int kClientWidth = 7920;
const int kClientHeight = 5925;
const int kMinimumOuterWidth = 6825;
const int kMinimumOuterHeight = 1965;

struct InfoRow {
  const char *name;
  int left, top, width, height;
  const char *caption;
};
// The info panel's controls, inside fraInfo.
const InfoRow kInfoLabels[] = {
    {"Label1", 990, 225, 1950, 195, "Top-Left Coord (Left Click)"},
    {"Label2", 990, 495, 2445, 195, "Bottom-Right Coord (Right Click)"},
    {"lblImageSizeL", 3375, 180, 870, 195, "Image Size:"},
    {"lblImageSize", 4590, 180, 540, 195, "imgSize"},
    {"lblExtractSizeL", 3375, 495, 1185, 195, "Extraction Size:"},
    {"lblExtractSize", 4590, 495, 510, 195, "extSize"},
};
} // namespace

frmCropTool::frmCropTool(const Settings &settings, Prompter &prompter, QWidget *parent)
    : QDialog(parent), settings_(settings), prompter_(prompter) {
  setObjectName(QStringLiteral("frmCropTool"));
  setWindowTitle(QStringLiteral("Form1"));
  setModal(true);
  setSizeGripEnabled(false);
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  setWindowFlag(Qt::WindowMinimizeButtonHint);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    twipsPerPixelX_ = TwipsPerPixel(screen->logicalDotsPerInchX());
    twipsPerPixelY_ = TwipsPerPixel(screen->logicalDotsPerInchY());
  }
  BuildInfoPanel();
  FitInfoFont();
  BuildPictureArea();
  BuildScrollBars();

  tmrPulsate = new QTimer(this);
  tmrPulsate->setObjectName(QStringLiteral("tmrPulsate"));
  tmrPulsate->setInterval(150);
  connect(tmrPulsate, &QTimer::timeout, this, &frmCropTool::tmrPulsate_Timer);
  tmrPulsate->start();

  const QRect outerMinimum = Design(0, 0, kMinimumOuterWidth, kMinimumOuterHeight);
  setMinimumSize(outerMinimum.size());
  resize(Design(0, 0, kClientWidth, kClientHeight).size());

  // Centred on the screen once; afterwards it stays where the user puts it.
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + static_cast<int>(std::lround(area.width() / 2.0 - width() / 2.0)),
         area.y() + static_cast<int>(std::lround(area.height() / 2.0 - height() / 2.0)));
  }
}

frmCropTool::~frmCropTool() = default;

QRect frmCropTool::Design(int left, int top, int width, int height) const {
  return TwipsRectToPixels(QRect(left, top, width, height), twipsPerPixelX_, twipsPerPixelY_);
}

void frmCropTool::BuildInfoPanel() {
  fraInfo = new QGroupBox(this);
  fraInfo->setObjectName(QStringLiteral("fraInfo"));
  fraInfo->setGeometry(Design(45, -45, 6630, 870));
  for (const InfoRow &row : kInfoLabels) {
    auto *label = new QLabel(QString::fromUtf8(row.caption), fraInfo);
    label->setObjectName(QString::fromLatin1(row.name));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("designRect", Design(row.left, row.top, row.width, row.height));
  }
  Label1 = fraInfo->findChild<QLabel *>(QStringLiteral("Label1"));
  Label2 = fraInfo->findChild<QLabel *>(QStringLiteral("Label2"));
  lblImageSizeL = fraInfo->findChild<QLabel *>(QStringLiteral("lblImageSizeL"));
  lblImageSize = fraInfo->findChild<QLabel *>(QStringLiteral("lblImageSize"));
  lblExtractSizeL = fraInfo->findChild<QLabel *>(QStringLiteral("lblExtractSizeL"));
  lblExtractSize = fraInfo->findChild<QLabel *>(QStringLiteral("lblExtractSize"));
  Line1 = new LegendLine(kTopLeftColour, fraInfo);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setGeometry(Design(90, 315 - 30, 765, 60));
  Line2 = new LegendLine(kBottomRightColour, fraInfo);
  Line2->setObjectName(QStringLiteral("Line2"));
  Line2->setGeometry(Design(90, 585 - 30, 765, 60));
  cmdOK = new QPushButton(QStringLiteral("&OK"), fraInfo);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(Design(5310, 180, 1185, 285));
  cmdCancel = new QPushButton(QStringLiteral("C&ancel"), fraInfo);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setGeometry(Design(5310, 495, 1185, 285));
  // Neither is the default button: Enter must not end the picking.
  for (QPushButton *button : {cmdOK, cmdCancel}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(cmdOK, &QPushButton::clicked, this, &frmCropTool::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmCropTool::cmdCancel_Click);
}

void frmCropTool::FitInfoFont() {
  // The panel was drawn for a small 8-point face: each caption must end
  // before the column to its right (the drawing itself lets the longest one
  // run into it), so the size shrinks until they do.
  QFont font = fraInfo->font();
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("Helvetica"), font.family()});
  const std::pair<QLabel *, int> columnEnds[] = {
      {Label1, 3375}, {Label2, 3375}, {lblImageSizeL, 4590}, {lblExtractSizeL, 4590}};
  for (double points = 8.0; points >= 6.0; points -= 0.5) {
    font.setPointSizeF(points);
    const QFontMetrics metrics(font);
    bool fits = true;
    for (const auto &[label, end] : columnEnds)
      fits = fits && label->property("designRect").toRect().left() +
                             metrics.horizontalAdvance(label->text()) + 4 <=
                         TwipsToPixels(end, twipsPerPixelX_);
    if (fits) break;
  }
  fraInfo->setFont(font);
  const int textHeight = QFontMetrics(font).height();
  for (const InfoRow &row : kInfoLabels) {
    auto *label = fraInfo->findChild<QLabel *>(QString::fromLatin1(row.name));
    const QRect design = label->property("designRect").toRect();
    const int height = std::max(design.height(), textHeight);
    label->setGeometry(design.left(), design.center().y() + 1 - height / 2 - height % 2,
                       design.width(), height);
  }
  for (QLabel *label :
       {Label1, Label2, lblImageSizeL, lblExtractSizeL, lblImageSize, lblExtractSize})
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

void frmCropTool::BuildPictureArea() {
  picOuter = new QWidget(this);
  picOuter->setObjectName(QStringLiteral("picOuter"));
  picOuter->setAutoFillBackground(true);
  QPalette workspace = picOuter->palette();
  workspace.setColor(QPalette::Window, workspace.color(QPalette::Dark));
  picOuter->setPalette(workspace);
  picOuter->setGeometry(Design(0, 900, 9915, 7710));
  picOuter->installEventFilter(this);
  picInner = new CropPicture(*this, picOuter);
  picInner->move(0, 0);

  const auto tag = [this](const char *name, const QColor &colour) {
    auto *label = new QLabel(picInner);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setFont(fraInfo->font());
    // A click on a tag is a click on the picture under it.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
  };
  lblTopLeftCoords = tag("lblTopLeftCoords", kTopLeftTagColour);
  lblBottomRightCoords = tag("lblBottomRightCoords", kBottomRightTagColour);
  lblTopLeftCoords->setGeometry(Design(3510, 1935, 1200, 195));
  lblBottomRightCoords->setGeometry(Design(450, 495, 1515, 195));
}

void frmCropTool::BuildScrollBars() {
  HBar = new QScrollBar(Qt::Horizontal, this);
  HBar->setObjectName(QStringLiteral("HBar"));
  HBar->setGeometry(Design(0, 8595, 9870, 240));
  VBar = new QScrollBar(Qt::Vertical, this);
  VBar->setObjectName(QStringLiteral("VBar"));
  VBar->setGeometry(Design(9945, 855, 240, 7755));
  connect(HBar, &QScrollBar::valueChanged, this, &frmCropTool::HBar_Change);
  connect(VBar, &QScrollBar::valueChanged, this, &frmCropTool::VBar_Change);
}

} // namespace varnholt
