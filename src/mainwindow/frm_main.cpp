// The main window put together: its controls made and placed, its three
// panels made over them and wired to each other.
#include "mainwindow/frm_main.h"

#include "dialogs/frm_about.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/list_extent.h"
#include "mainwindow/main_resize.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/operation_list_panel.h"
#include "platform/bind_control.h"
#include "platform/error_reporter.h"
#include "processing/output_plan.h"
#include "settings/settings.h"
#include "version.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>

namespace varnholt {

QString ProgramTitle() {
  return QStringLiteral("Varnholt ") + QString::number(kVersionMajor) + "." +
         QString::number(kVersionMinor) + QString::number(kVersionRevision);
}

frmMain::frmMain(const MainWindowServices &services, QWidget *parent)
    : QMainWindow(parent), services_(services) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(ProgramTitle());
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    twipsPerPixelX_ = varnholt::TwipsPerPixel(screen->logicalDotsPerInchX());
    twipsPerPixelY_ = varnholt::TwipsPerPixel(screen->logicalDotsPerInchY());
  }
  auto *client = new QWidget(this);
  client->setObjectName(QStringLiteral("frmMainClient"));
  setCentralWidget(client);
  const QRect area = TwipsToPixels(QRect(0, 0, kMainClientWidth, kMainClientHeight));
  // The first size is the smallest: larger, the lists and the preview grow.
  client->setMinimumSize(area.size());
  setMinimumSize(area.size());
  resize(area.size());

  BuildMainControls(client, twipsPerPixelX_, twipsPerPixelY_);
  PlaceControls();
  images_ = new ImagePanel(client, services_, *this, twipsPerPixelX_, twipsPerPixelY_, this);
  editor_ = new OperationEditor(client, services_, *this, *images_, this);
  operations_ = new OperationListPanel(client, services_, *this, *editor_, twipsPerPixelX_, this);
  source_ = std::make_unique<WindowRunSource>(images_->Images(), operations_->Operations(),
                                              [this] { return images_->Folder(); });
  FitFont();
  StretchMainControls(client, MainRoom{});
  SetMainFocusOrder(this);
  WirePanels();
  setAcceptDrops(true); // a folder or a list file dropped on the window opens it
  // The editor starts from the default operation, already in step.
  operations_->cmdNewOperation_Click();

  // The About/Settings window is made once, hidden, with this window: a
  // missing licence file is told at start, and the window keeps its state
  // between showings.
  about_ = new frmAbout({services_.settings, services_.prompter, services_.folderBrowser,
                         services_.shell, services_.errorReporter, services_.folderCommand,
                         [this] { return images_->Folder(); }, services_.dataFolder},
                        this);
  connect(cmdAbout, &QPushButton::clicked, this, [this] { cmdAbout_Click(); });
  connect(cmdVisitHV, &QPushButton::clicked, this, [this] { cmdVisitHV_Click(); });

  if (const auto &failure = services_.initialisation.failure)
    services_.errorReporter.DisplayError(ErrorReport::from(
        *failure, windowTitle(), QStringLiteral("frmMain"), QStringLiteral("Form_Initialize")));
}

frmMain::~frmMain() {
  Form_Terminate();
  // The panels go before their controls: a focused box being deleted sends
  // one last focus-out, and emptying a list may signal a change; neither may
  // reach a panel that is half gone.
  delete operations_;
  delete editor_;
  delete images_;
  for (QObject *child : findChildren<QObject *>())
    QObject::disconnect(child, nullptr, this, nullptr);
}

QRect frmMain::TwipsToPixels(const QRect &twips) const {
  return TwipsRectToPixels(twips, twipsPerPixelX_, twipsPerPixelY_);
}

void frmMain::PlaceControls() {
  VARNHOLT_BIND(cmdAbout);
  VARNHOLT_BIND(cmdVisitHV);
  VARNHOLT_BIND(cmdGo);
  QFont bold = cmdGo->font();
  bold.setBold(true);
  cmdGo->setFont(bold);
  // A check box without caption is just its box: as large as the style draws
  // it, centred where the layout puts it.
  auto *inverse = findChild<QCheckBox *>(QStringLiteral("chkInversePattern"));
  const QRect design = inverse->geometry();
  const QSize box = CheckBoxIconSize(inverse) + QSize(2, 2);
  inverse->setGeometry(
      QRect(QPoint(0, 0), box.expandedTo(design.size()))
          .translated(design.center() - QPoint(box.width() / 2, box.height() / 2)));
}

void frmMain::resizeEvent(QResizeEvent *event) {
  QMainWindow::resizeEvent(event);
  StretchToSize();
}

void frmMain::StretchToSize() {
  if (!images_) return;
  QWidget *client = centralWidget();
  const MainRoom room = MainRoomFor(client, client->size() - client->minimumSize());
  StretchMainControls(client, room);
  images_->SetPreviewRoom(QSize(room.column, room.preview));
}

void frmMain::FitFont() {
  // The layout was drawn for a small 8-point face; fonts with Arial's
  // proportions come closest, and the size shrinks until every caption fits.
  const QLabel *picture = findChild<QLabel *>(QStringLiteral("imgPreview"));
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arimo"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("Helvetica"), QApplication::font().family()});
  for (double points = 8.0; points >= 6.0; points -= 0.5) {
    font.setPointSizeF(points);
    centralWidget()->setFont(font);
    QFont bold = font;
    bold.setBold(true);
    cmdGo->setFont(bold);
    // Labels are as tall as the face needs, centred where the layout put them.
    const int needed = QFontMetrics(font).height();
    for (QLabel *label : centralWidget()->findChildren<QLabel *>()) {
      if (label == picture || label->wordWrap()) continue;
      if (label->property("designRect").isNull())
        label->setProperty("designRect", label->geometry());
      const QRect design = label->property("designRect").toRect();
      const int height = std::max(design.height(), needed);
      label->setGeometry(design.left(), design.center().y() + 1 - height / 2 - height % 2,
                         design.width(), height);
    }
    if (ClippedCaptions(this).isEmpty()) break;
  }
}

void frmMain::WirePanels() {
  // What the ticked operations wrote beside the images last time is shown
  // apart and unticked: exported again, it is no picture to export.
  images_->SetResultFinder([this](const QStringList &names) {
    if (!WritesBesideImages(services_.settings)) return QStringList();
    std::vector<Operation> ops;
    const OperationsRead read(*source_);
    for (const PlannedOperation &planned : read.operations())
      ops.push_back(planned.op);
    return EarlierResults(names, ops);
  });
  const CheckListModel *ops = &operations_->Operations();
  const auto remark = [this] { images_->MarkResults(); };
  connect(ops, &QAbstractItemModel::dataChanged, this, remark);
  connect(ops, &QAbstractItemModel::rowsInserted, this, remark);
  connect(ops, &QAbstractItemModel::rowsRemoved, this, remark);
  connect(ops, &QAbstractItemModel::modelReset, this, remark);
  // The operation list is as tall as its rows need.
  const auto restretch = [this] { StretchToSize(); };
  connect(ops, &QAbstractItemModel::rowsInserted, this, restretch);
  connect(ops, &QAbstractItemModel::rowsRemoved, this, restretch);
  connect(ops, &QAbstractItemModel::modelReset, this, restretch);
  // The crop tool opens on the picture the preview shows, and only then.
  connect(images_, &ImagePanel::previewShown, editor_, &OperationEditor::SetPreviewShown);
  connect(images_, &ImagePanel::previewStarting, editor_, &OperationEditor::SetPreviewName);
  connect(operations_, &OperationListPanel::titleChanged, this, &QWidget::setWindowTitle);
  connect(cmdGo, &QPushButton::clicked, this, [this] { cmdGo_Click(); });
}

void frmMain::ReportFailure(const Failure &failure, const QString &source,
                            const QString &operation) {
  services_.errorReporter.DisplayError(
      ErrorReport::from(failure, windowTitle(), QStringLiteral("frmMain"), source, operation));
  // Back from the error dialog the window is activated as after any window
  // of the program, except when the activation itself failed: that would
  // only fail again.
  if (!activating_) ActivateLater();
}

} // namespace varnholt
