// Shows the main window on a folder with the real seams, makes one entry
// current, waits for its preview and saves a picture of the window. With a
// second picture named, it then loads an operation list file, clicks an
// entry into the editor and saves the window again under its title.
// Usage: screenshot_main FOLDER ROW OUTPUT.png [EDITOR.png]   (scripts/screenshot-main)
#include "mainwindow/frm_main.h"
#include "operations/operation_list_file.h"
#include "platform/error_reporter.h"
#include "platform/program_icon.h"
#include "platform/qt_desktop.h"
#include "processing/magick_toolkit.h"
#include "settings/settings.h"
#include "support/controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

namespace {
class PrintingErrorReporter : public varnholt::ErrorReporter {
public:
  void DisplayError(const varnholt::ErrorReport &report) override {
    std::fprintf(stderr, "error report: %s %s\n", qPrintable(report.source),
                 qPrintable(report.errorDescription));
  }
};
} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStringLiteral("Fusion")); // the look of a first start
  QApplication::setWindowIcon(varnholt::ProgramIcon());
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: screenshot_main FOLDER ROW OUTPUT.png [EDITOR.png]\n");
    return 2;
  }
  using namespace varnholt;
  Settings settings;
  QtPrompter prompter;
  QtFolderBrowser browser;
  QtFileDialogs dialogs;
  QtShell shell;
  MagickToolkit toolkit;
  PrintingErrorReporter errors;
  QTemporaryDir work;
  frmMain window(
      {settings, prompter, browser, dialogs, shell, toolkit, errors, QString(), work.path()});
  window.show();
  using test::Control;
  auto *lstImages = Control<QListWidget>(window, "lstImages");
  Control<QLineEdit>(window, "txtInputDirectory")->setText(QString::fromLocal8Bit(argv[1]));
  Control<QCheckBox>(window, "chkExtract")->setChecked(true);
  lstImages->item(1)->setCheckState(Qt::Unchecked);
  lstImages->setCurrentRow(QString::fromLocal8Bit(argv[2]).toInt());
  window.AdjustHorizontalScroll(lstImages);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  if (window.PreviewedFile().isEmpty()) {
    std::fprintf(stderr, "no preview: %s\n",
                 qPrintable(Control<QLabel>(window, "lblViewPictureError")->text()));
    return 1;
  }
  const QStringList clipped = ClippedCaptions(&window);
  if (!clipped.isEmpty())
    std::fprintf(stderr, "clipped captions: %s\n", qPrintable(clipped.join(", ")));
  const QSize preview = Control<QLabel>(window, "imgPreview")->size();
  std::printf("window %dx%d px, font %s %.1f pt, preview %dx%d\n", window.width(), window.height(),
              qPrintable(QFontInfo(window.centralWidget()->font()).family()),
              window.centralWidget()->font().pointSizeF(), preview.width(), preview.height());
  if (!window.grab().save(QString::fromLocal8Bit(argv[3]))) return 1;
  if (argc < 5) return 0;

  // A list file of three operations, the second one clicked into the editor.
  const QString list = work.filePath(QStringLiteral("web.vop"));
  const QList<OperationListItem> items = {
      {QStringLiteral("Extract (40,30)-(599,449) LimitWidthHeight (800*600) Prefix: \"crop_\" "
                      "Format: \"JPG\" Quality: \"90\""),
       true},
      {QStringLiteral("Extract Whole Image LimitWidth (640) Suffix: \"_web\" Format: \"JPG\" "
                      "Quality: \"82\""),
       true},
      {QStringLiteral("Extract Whole Image FixToSize (128*128) Prefix: \"th_\" Format: "
                      "\"PNG\" Quality: \"75\""),
       false}};
  QString error;
  if (!SaveOperationsFile(list, items, settings, error)) {
    std::fprintf(stderr, "cannot write the list: %s\n", qPrintable(error));
    return 1;
  }
  window.OperationsFileToList(list);
  window.SetWindowTitle();
  Control<QListWidget>(window, "lstOperations")->setCurrentRow(0);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();

  // Without a window manager there is no title bar; draw one so the title
  // with the list's file name is in the picture.
  const QPixmap client = window.grab();
  const int bar = QFontMetrics(window.font()).height() + 10;
  QPixmap framed(client.width(), client.height() + bar);
  framed.fill(window.palette().color(QPalette::Highlight));
  QPainter painter(&framed);
  painter.setPen(window.palette().color(QPalette::HighlightedText));
  const int icon = bar - 8;
  painter.drawPixmap(6, 4, window.windowIcon().pixmap(icon, icon));
  painter.drawText(QRect(12 + icon, 0, client.width() - 18 - icon, bar),
                   Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  painter.drawPixmap(0, bar, client);
  painter.end();
  std::printf("title: %s\n", qPrintable(window.windowTitle()));
  return framed.save(QString::fromLocal8Bit(argv[4])) ? 0 : 1;
}
