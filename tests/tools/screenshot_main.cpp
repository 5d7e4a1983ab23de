// Shows the main window on a folder with the real seams, makes one entry
// current, waits for its preview and saves a picture of the window.
// Usage: screenshot_main FOLDER ROW OUTPUT.png   (scripts/screenshot-main)
#include "mainwindow/frm_main.h"
#include "platform/error_reporter.h"
#include "platform/qt_desktop.h"
#include "processing/magick_toolkit.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
  if (argc != 4) {
    std::fprintf(stderr, "usage: screenshot_main FOLDER ROW OUTPUT.png\n");
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
  window.txtInputDirectory->setText(QString::fromLocal8Bit(argv[1]));
  window.chkExtract->setChecked(true);
  window.lstImages->item(1)->setCheckState(Qt::Unchecked);
  window.lstImages->setCurrentRow(QString::fromLocal8Bit(argv[2]).toInt());
  window.AdjustHorizontalScroll(window.lstImages);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  if (window.ImageLoaded != 1) {
    std::fprintf(stderr, "no preview: %s\n", qPrintable(window.lblViewPictureError->text()));
    return 1;
  }
  const QStringList clipped = ClippedCaptions(&window);
  if (!clipped.isEmpty())
    std::fprintf(stderr, "clipped captions: %s\n", qPrintable(clipped.join(", ")));
  std::printf("window %dx%d px, font %s %.1f pt, preview %s\n", window.width(), window.height(),
              qPrintable(QFontInfo(window.centralWidget()->font()).family()),
              window.centralWidget()->font().pointSizeF(), qPrintable(window.PreviewGeometry));
  return window.grab().save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
