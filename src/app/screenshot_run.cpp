// Pictures of the run window: mid-run, after a failed run, the error window
// and the question after a failed pair.

#include "app/screenshot_run.h"
#include "app/screenshot_pictures.h"
#include "app/screenshot_seams.h"
#include "desktop/qt_desktop.h"
#include "dialogs/frm_error.h"
#include "dialogs/frm_go.h"
#include "operations/operation.h"
#include "platform/failure.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace varnholt::shots {
namespace {

QString OperationText(bool extract, bool resize, const QString &format, const QString &prefix) {
  Operation op = OperationDefaults();
  op.Extract = extract;
  op.TopLeftX = 40;
  op.TopLeftY = 30;
  op.BottomRightX = 199;
  op.BottomRightY = 149;
  op.Resize = resize;
  op.ResizeWidth = 120;
  op.ResizeHeight = 90;
  op.OutputFormat = format;
  op.Prefix = prefix;
  QString error;
  return OperationDescription(op, error);
}

void FillFolder(const QString &folder, ListRunSource &source) {
  source.folder = folder;
  for (const char *name : {"harbour at dawn 2024-08-17.png", "lighthouse, north pier.png",
                           "market day (ferry port).png", "storm over the bay.png"}) {
    QImage image(240, 180, QImage::Format_RGB32);
    image.fill(QColor(70, 110, 160));
    QPainter(&image).fillRect(0, 120, 240, 60, QColor(40, 90, 60));
    image.save(folder + '/' + name);
    source.images.push_back({QString::fromUtf8(name), true});
  }
  source.operations = {{OperationText(false, true, "JPG", "th_")},
                       {OperationText(true, false, kDontChange, "crop_")},
                       {OperationText(true, true, "PNG", "web_")}};
}

} // namespace

// The run window while the sixth toolkit call of a run is under way.
bool RunWindowMidRun(const QString &path) {
  QTemporaryDir dir;
  ListRunSource source;
  FillFolder(dir.path(), source);
  Settings settings;
  MagickToolkit magick;
  HoldingToolkit toolkit(magick, 6);
  NoPrompter prompter;
  NoErrors errors;
  frmGo window(source, settings, toolkit, prompter, errors);
  bool saved = false;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!toolkit.held || toolkit.released) return;
    saved = Save(window, path);
    toolkit.letGo();
  });
  poll.start();
  window.exec();
  return saved;
}

// The run window after the run itself failed: it waits to be closed.
bool RunWindowAfterFailure(const QString &path) {
  class BrokenList : public ListRunSource {
  public:
    QString operationText(qsizetype) const override {
      throw Failure(kErrSubscript, QStringLiteral("Subscript out of range"));
    }
  };
  QTemporaryDir dir;
  BrokenList source;
  FillFolder(dir.path(), source);
  Settings settings;
  MagickToolkit magick;
  NoPrompter prompter;
  NoErrors errors;
  frmGo window(source, settings, magick, prompter, errors);
  bool saved = false;
  QTimer::singleShot(200, &window, [&] {
    saved = Save(window, path);
    window.findChild<QPushButton *>(QStringLiteral("cmdStop"))->click();
  });
  window.exec();
  return saved;
}

bool ErrorDialog(const QString &path) {
  NoShell shell;
  frmError dialog(shell);
  const ErrorReport report = ErrorReport::from(
      Failure(6, QStringLiteral("Overflow")), QStringLiteral("Doing Operations..."),
      QStringLiteral("frmGo"), QStringLiteral("Form_Activate"),
      QStringLiteral("Do Operation: Extract (40,30)-(199,149) >>>  /home/me/Pictures/harbour.png"));
  bool saved = false;
  QTimer::singleShot(100, &dialog, [&] {
    saved = Save(dialog, path);
    dialog.cmdOK_Click();
  });
  dialog.DisplayError(report);
  return saved;
}

// The run's question after a failed pair, its details opened: the reason
// ImageMagick gave, under the question's own words.
bool RunErrorQuestion(const QString &path) {
  QTemporaryDir dir;
  ListRunSource source;
  FillFolder(dir.path(), source);
  source.images.insert(source.images.begin(), {QStringLiteral("harbour, cut short.jpg"), true});
  QFile cut(dir.filePath(QStringLiteral("harbour, cut short.jpg")));
  if (!cut.open(QIODevice::WriteOnly) || cut.write("\xff\xd8\xff\xe0 not the rest") < 0)
    return false;
  cut.close();
  Settings settings;
  MagickToolkit magick;
  NoErrors errors;
  QtPrompter prompter;
  frmGo asking(source, settings, magick, prompter, errors);
  prompter.setParent(&asking);
  bool saved = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    for (QAbstractButton *button : box->buttons())
      if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
    QTimer::singleShot(200, box, [&, box] {
      saved = Save(*box, path);
      box->button(QMessageBox::No)->click();
    });
  });
  poll.start();
  asking.exec();
  return saved;
}

} // namespace varnholt::shots
