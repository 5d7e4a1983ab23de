#include "croptool/frm_crop_tool.h"

#include "geometry/window_math.h"
#include "platform/prompter.h"
#include "settings/settings.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

namespace varnholt {

namespace {
const QColor kTopLeftColour(0, 0, 192);
const QColor kBottomRightColour(255, 0, 0);
const QColor kTopLeftTagColour(128, 255, 128);
const QColor kBottomRightTagColour(255, 128, 128);

// The window as drawn, in twips.
const int kClientWidth = 7920;
const int kClientHeight = 5925;
const int kMinimumOuterWidth = 6825;
const int kMinimumOuterHeight = 1965;
const int kTagGap = 100;

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

QPen DottedPen(const QColor &colour) {
  QPen pen(colour);
  pen.setWidth(1);
  pen.setCosmetic(true);
  const double half = frmCropTool::kDotPeriod / 2.0;
  pen.setDashPattern({half, half});
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

// The legend's short dotted lines.
class LegendLine : public QWidget {
public:
  LegendLine(const QColor &colour, QWidget *parent) : QWidget(parent), colour_(colour) {}

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.setPen(DottedPen(colour_));
    painter.drawLine(0, height() / 2, width(), height() / 2);
  }

private:
  QColor colour_;
};
} // namespace

// The picture at one image pixel per device pixel, with the guide lines on
// it. Only what is exposed is painted: the picture may be far larger than
// the view, and a corner being dragged repaints just its lines.
class CropPicture : public QWidget {
public:
  CropPicture(frmCropTool &tool, QWidget *parent) : QWidget(parent), tool_(tool) {
    setObjectName(QStringLiteral("picInner"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
  }

  void setPicture(QImage picture) {
    picture_ = std::move(picture);
    ratio_ = picture_.isNull() ? 1.0 : picture_.devicePixelRatio();
    resize(picture_.isNull() ? QSize(0, 0) : (QSizeF(picture_.size()) / ratio_).toSize());
    update();
  }
  const QImage &picture() const { return picture_; }
  double ratio() const { return ratio_; }

  // The strip a guide line at `at` (image pixels) covers, in widget pixels.
  QRect strip(Qt::Orientation line, double at) const {
    const int from = static_cast<int>(std::floor(at / ratio_)) - 1;
    const int across = 3 + static_cast<int>(std::ceil(1 / ratio_));
    return line == Qt::Vertical ? QRect(from, 0, across, height())
                                : QRect(0, from, width(), across);
  }

  QPointF imagePosition(const QPointF &widgetPosition) const { return widgetPosition * ratio_; }

protected:
  void paintEvent(QPaintEvent *event) override {
    QPainter painter(this);
    for (const QRect &r : event->region()) {
      if (picture_.isNull() || picture_.hasAlphaChannel())
        painter.fillRect(r, palette().color(QPalette::Dark));
      if (!picture_.isNull())
        painter.drawImage(QPointF(r.topLeft()), picture_,
                          QRectF(QPointF(r.topLeft()) * ratio_, QSizeF(r.size()) * ratio_));
    }
    if (!tool_.GuideVisible() || picture_.isNull()) return;
    painter.scale(1 / ratio_, 1 / ratio_);
    using Guide = frmCropTool::Guide;
    for (const Guide g :
         {Guide::TopLeftX, Guide::TopLeftY, Guide::BottomRightX, Guide::BottomRightY}) {
      // Drawn from the picture's edge; the pen's phase stands for the
      // shifted start, so the dots crawl without a gap at the edge.
      QLineF line = tool_.GuideLine(g);
      if (line.x1() == line.x2())
        line.setP1(QPointF(line.x1(), 0));
      else
        line.setP1(QPointF(0, line.y1()));
      painter.setPen(tool_.GuidePen(g));
      painter.drawLine(line.toLine());
    }
  }

  void mousePressEvent(QMouseEvent *event) override {
    tool_.picInner_MouseDown(event->buttons(), imagePosition(event->position()));
  }
  void mouseMoveEvent(QMouseEvent *event) override {
    tool_.picInner_MouseMove(event->buttons(), imagePosition(event->position()));
  }

private:
  frmCropTool &tool_;
  QImage picture_;
  double ratio_ = 1;
};

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
  const auto px = [this](int left, int top, int width, int height) {
    return TwipsRectToPixels(QRect(left, top, width, height), twipsPerPixelX_, twipsPerPixelY_);
  };

  fraInfo = new QGroupBox(this);
  fraInfo->setObjectName(QStringLiteral("fraInfo"));
  fraInfo->setGeometry(px(45, -45, 6630, 870));
  for (const InfoRow &row : kInfoLabels) {
    auto *label = new QLabel(QString::fromUtf8(row.caption), fraInfo);
    label->setObjectName(QString::fromLatin1(row.name));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("designRect", px(row.left, row.top, row.width, row.height));
  }
  Label1 = fraInfo->findChild<QLabel *>(QStringLiteral("Label1"));
  Label2 = fraInfo->findChild<QLabel *>(QStringLiteral("Label2"));
  lblImageSizeL = fraInfo->findChild<QLabel *>(QStringLiteral("lblImageSizeL"));
  lblImageSize = fraInfo->findChild<QLabel *>(QStringLiteral("lblImageSize"));
  lblExtractSizeL = fraInfo->findChild<QLabel *>(QStringLiteral("lblExtractSizeL"));
  lblExtractSize = fraInfo->findChild<QLabel *>(QStringLiteral("lblExtractSize"));
  Line1 = new LegendLine(kTopLeftColour, fraInfo);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setGeometry(px(90, 315 - 30, 765, 60));
  Line2 = new LegendLine(kBottomRightColour, fraInfo);
  Line2->setObjectName(QStringLiteral("Line2"));
  Line2->setGeometry(px(90, 585 - 30, 765, 60));
  cmdOK = new QPushButton(QStringLiteral("&OK"), fraInfo);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(px(5310, 180, 1185, 285));
  cmdCancel = new QPushButton(QStringLiteral("C&ancel"), fraInfo);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setGeometry(px(5310, 495, 1185, 285));
  // Neither is the default button: Enter must not end the picking.
  for (QPushButton *button : {cmdOK, cmdCancel}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  connect(cmdOK, &QPushButton::clicked, this, &frmCropTool::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmCropTool::cmdCancel_Click);

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

  picOuter = new QWidget(this);
  picOuter->setObjectName(QStringLiteral("picOuter"));
  picOuter->setAutoFillBackground(true);
  QPalette workspace = picOuter->palette();
  workspace.setColor(QPalette::Window, workspace.color(QPalette::Dark));
  picOuter->setPalette(workspace);
  picOuter->setGeometry(px(0, 900, 9915, 7710));
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
  lblTopLeftCoords->setGeometry(px(3510, 1935, 1200, 195));
  lblBottomRightCoords->setGeometry(px(450, 495, 1515, 195));

  HBar = new QScrollBar(Qt::Horizontal, this);
  HBar->setObjectName(QStringLiteral("HBar"));
  HBar->setGeometry(px(0, 8595, 9870, 240));
  VBar = new QScrollBar(Qt::Vertical, this);
  VBar->setObjectName(QStringLiteral("VBar"));
  VBar->setGeometry(px(9945, 855, 240, 7755));
  connect(HBar, &QScrollBar::valueChanged, this, &frmCropTool::HBar_Change);
  connect(VBar, &QScrollBar::valueChanged, this, &frmCropTool::VBar_Change);

  tmrPulsate = new QTimer(this);
  tmrPulsate->setObjectName(QStringLiteral("tmrPulsate"));
  tmrPulsate->setInterval(150);
  connect(tmrPulsate, &QTimer::timeout, this, &frmCropTool::tmrPulsate_Timer);
  tmrPulsate->start();

  const QRect outerMinimum = px(0, 0, kMinimumOuterWidth, kMinimumOuterHeight);
  setMinimumSize(outerMinimum.size());
  resize(px(0, 0, kClientWidth, kClientHeight).size());

  // Centred on the screen once; afterwards it stays where the user puts it.
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + static_cast<int>(std::lround(area.width() / 2.0 - width() / 2.0)),
         area.y() + static_cast<int>(std::lround(area.height() / 2.0 - height() / 2.0)));
  }
}

frmCropTool::~frmCropTool() = default;

QWidget *frmCropTool::PictureArea() const { return picInner; }

void frmCropTool::SetPicture(QImage picture) {
  if (!picture.isNull()) {
    // One image pixel per device pixel, whatever the screen's scale.
    picture.setDevicePixelRatio(devicePixelRatioF());
    if (picture.format() != QImage::Format_RGB32 &&
        picture.format() != QImage::Format_ARGB32_Premultiplied)
      picture.convertTo(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
  }
  picInner->setPicture(std::move(picture));
  newPicture_ = true;
  RefreshScrollRanges();
}

void frmCropTool::ClearPicture() { picInner->setPicture(QImage()); }

void frmCropTool::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // Restored from the task bar is not a new showing.
  if (!event->spontaneous()) Form_Activate();
}

void frmCropTool::Form_Activate() {
  const QImage &picture = picInner->picture();
  imageWidth_ = picture.isNull() ? 0 : static_cast<float>(picture.width());
  imageHeight_ = picture.isNull() ? 0 : static_cast<float>(picture.height());
  lblImageSize->setText(ShortestDecimal(imageWidth_) + u'x' + ShortestDecimal(imageHeight_));
  lblImageSize->adjustSize();

  const QString problem =
      CheckCornersAgainstImage(corners_, imageWidth_, imageHeight_, settings_.AllowOutOfBoundry);
  if (!problem.isEmpty())
    prompter_.ask(kImageTooSmallTitle, problem, Buttons::Ok, Icon::Exclamation);

  PlacingCorners = true;
  HandleMouse(Qt::LeftButton, QPointF(corners_.TopLeftX, corners_.TopLeftY));
  HandleMouse(Qt::RightButton, QPointF(corners_.BottomRightX, corners_.BottomRightY));
  PlacingCorners = false;
  linesVisible_ = true;
  picInner->update();

  if (newPicture_) {
    // A new picture is looked at from its top-left corner.
    newPicture_ = false;
    RefreshScrollRanges();
    HBar->setValue(0);
    VBar->setValue(0);
  }
  WasCancelled = false;
}

void frmCropTool::picInner_MouseDown(Qt::MouseButtons buttons, QPointF position) {
  HandleMouse(buttons, position);
}

void frmCropTool::picInner_MouseMove(Qt::MouseButtons buttons, QPointF position) {
  HandleMouse(buttons, position);
}

void frmCropTool::HandleMouse(Qt::MouseButtons buttons, QPointF position) {
  const std::int32_t px = PixelAt(position.x());
  const std::int32_t py = PixelAt(position.y());
  const CropCorners before = corners_;
  if (buttons == Qt::LeftButton) {
    if (PlacingCorners) {
      corners_.TopLeftX = static_cast<float>(px);
      corners_.TopLeftY = static_cast<float>(py);
    } else {
      corners_.TopLeftX = PlaceTopLeft(px, imageWidth_, corners_.BottomRightX);
      corners_.TopLeftY = PlaceTopLeft(py, imageHeight_, corners_.BottomRightY);
    }
    lblTopLeftCoords->setText(CornerTagText(corners_.TopLeftX, corners_.TopLeftY));
    PlaceTopLeftTag();
  } else if (buttons == Qt::RightButton) {
    if (PlacingCorners) {
      corners_.BottomRightX = static_cast<float>(px);
      corners_.BottomRightY = static_cast<float>(py);
    } else {
      corners_.BottomRightX = PlaceBottomRight(px, imageWidth_, corners_.TopLeftX);
      corners_.BottomRightY = PlaceBottomRight(py, imageHeight_, corners_.TopLeftY);
    }
    lblBottomRightCoords->setText(CornerTagText(corners_.BottomRightX, corners_.BottomRightY));
    PlaceBottomRightTag();
  } else {
    return;
  }
  lblExtractSize->setText(ExtractionSizeText(corners_));
  lblExtractSize->adjustSize();
  UpdateLines(before);
}

double frmCropTool::Gap(Qt::Orientation along) const {
  return kTagGap / (along == Qt::Horizontal ? twipsPerPixelX_ : twipsPerPixelY_);
}

void frmCropTool::PlaceTopLeftTag() {
  lblTopLeftCoords->adjustSize();
  const double ratio = picInner->ratio();
  lblTopLeftCoords->move(
      TopLeftTagPosition(corners_.TopLeftX / ratio, lblTopLeftCoords->width(), Gap(Qt::Horizontal)),
      TopLeftTagPosition(corners_.TopLeftY / ratio, lblTopLeftCoords->height(), Gap(Qt::Vertical)));
}

void frmCropTool::PlaceBottomRightTag() {
  lblBottomRightCoords->adjustSize();
  const double ratio = picInner->ratio();
  lblBottomRightCoords->move(
      BottomRightTagPosition(corners_.BottomRightX / ratio, lblBottomRightCoords->width(),
                             Gap(Qt::Horizontal), picInner->width()),
      BottomRightTagPosition(corners_.BottomRightY / ratio, lblBottomRightCoords->height(),
                             Gap(Qt::Vertical), picInner->height()));
}

void frmCropTool::UpdateLines(const CropCorners &before) {
  if (!linesVisible_) return;
  const auto moved = [this](Qt::Orientation line, float was, float now) {
    if (was == now) return;
    picInner->update(picInner->strip(line, was));
    picInner->update(picInner->strip(line, now));
  };
  moved(Qt::Vertical, before.TopLeftX, corners_.TopLeftX);
  moved(Qt::Horizontal, before.TopLeftY, corners_.TopLeftY);
  moved(Qt::Vertical, before.BottomRightX, corners_.BottomRightX);
  moved(Qt::Horizontal, before.BottomRightY, corners_.BottomRightY);
}

QLineF frmCropTool::GuideLine(Guide guide) const {
  const bool topLeft = guide == Guide::TopLeftX || guide == Guide::TopLeftY;
  const double start = (topLeft ? pulseOffset_ : pulseOffset_ - 60) * kDotPeriod / 60.0;
  const QImage &picture = picInner->picture();
  const double width = picture.width(), height = picture.height();
  switch (guide) {
  case Guide::TopLeftX: return QLineF(corners_.TopLeftX, start, corners_.TopLeftX, height);
  case Guide::TopLeftY: return QLineF(start, corners_.TopLeftY, width, corners_.TopLeftY);
  case Guide::BottomRightX:
    return QLineF(corners_.BottomRightX, start, corners_.BottomRightX, height);
  case Guide::BottomRightY:
    return QLineF(start, corners_.BottomRightY, width, corners_.BottomRightY);
  }
  return {};
}

QPen frmCropTool::GuidePen(Guide guide) const {
  const bool topLeft = guide == Guide::TopLeftX || guide == Guide::TopLeftY;
  QPen pen = DottedPen(topLeft ? kTopLeftColour : kBottomRightColour);
  // Drawn from the edge, the pattern is as far along as it would be had the
  // line been drawn from its start.
  const QLineF line = GuideLine(guide);
  const double start = line.x1() == line.x2() ? line.y1() : line.x1();
  pen.setDashOffset(std::fmod(std::fmod(-start, kDotPeriod) + kDotPeriod, kDotPeriod));
  return pen;
}

void frmCropTool::tmrPulsate_Timer() {
  pulseOffset_ = NextPulseOffset(pulseOffset_);
  if (!linesVisible_ || !isVisible()) return;
  picInner->update(picInner->strip(Qt::Vertical, corners_.TopLeftX));
  picInner->update(picInner->strip(Qt::Horizontal, corners_.TopLeftY));
  picInner->update(picInner->strip(Qt::Vertical, corners_.BottomRightX));
  picInner->update(picInner->strip(Qt::Horizontal, corners_.BottomRightY));
}

void frmCropTool::resizeEvent(QResizeEvent *event) {
  QDialog::resizeEvent(event);
  Form_Resize();
}

void frmCropTool::Form_Resize() {
  if (isMinimized()) return;
  // Qt keeps the window at its minimum; a window manager may not.
  if (width() < minimumWidth() || height() < minimumHeight()) {
    resize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    return;
  }
  const auto px = [this](int twips, Qt::Orientation along) {
    return TwipsToPixels(twips, along == Qt::Horizontal ? twipsPerPixelX_ : twipsPerPixelY_);
  };
  const int top = fraInfo->geometry().bottom() + 1 + px(40, Qt::Vertical);
  picOuter->setGeometry(picOuter->x(), top, width() - picOuter->x() - VBar->width(),
                        height() - HBar->height() - top);
  HBar->setGeometry(picOuter->x(), picOuter->geometry().bottom() + 1, picOuter->width(),
                    HBar->height());
  VBar->setGeometry(picOuter->geometry().right() + 1, picOuter->y(), VBar->width(),
                    picOuter->height());
  fraInfo->resize(width() - px(90, Qt::Horizontal), fraInfo->height());
  cmdOK->move(fraInfo->width() - cmdOK->width() - px(80, Qt::Horizontal), cmdOK->y());
  cmdCancel->move(cmdOK->x(), cmdCancel->y());
  RefreshScrollRanges();
}

void frmCropTool::RefreshScrollRanges() {
  const auto apply = [](QScrollBar *bar, const ScrollSettings &s) {
    // Nothing to scroll: the picture goes back to the view's edge, where
    // the disabled bar would otherwise leave it out of reach.
    bar->setRange(0, s.maximum);
    bar->setEnabled(s.enabled);
    if (!s.enabled) return;
    bar->setPageStep(s.pageStep);
    bar->setSingleStep(s.singleStep);
  };
  apply(HBar, ScrollSettingsFor(picInner->width(), picOuter->width()));
  apply(VBar, ScrollSettingsFor(picInner->height(), picOuter->height()));
}

void frmCropTool::HBar_Change(int value) { picInner->move(-value, picInner->y()); }
void frmCropTool::VBar_Change(int value) { picInner->move(picInner->x(), -value); }

bool frmCropTool::eventFilter(QObject *watched, QEvent *event) {
  if (watched == picOuter && event->type() == QEvent::Wheel) {
    // The wheel scrolls a fifth of the view per notch; sideways with Shift.
    const auto *wheel = static_cast<QWheelEvent *>(event);
    const QPoint delta = wheel->angleDelta();
    const bool sideways = delta.x() != 0 || (wheel->modifiers() & Qt::ShiftModifier);
    QScrollBar *bar = sideways ? HBar : VBar;
    const int notches = delta.x() != 0 ? delta.x() : delta.y();
    if (bar->isEnabled()) bar->setValue(bar->value() - notches * bar->pageStep() / 120);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void frmCropTool::cmdOK_Click() { done(QDialog::Accepted); }

void frmCropTool::cmdCancel_Click() {
  WasCancelled = true;
  done(QDialog::Rejected);
}

// The close box and Escape are Cancel: nothing picked is taken.
void frmCropTool::reject() { cmdCancel_Click(); }

} // namespace varnholt
