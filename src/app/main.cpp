#include "cli/batch.h"
#include "mainwindow/frm_main.h"
#include "version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {
const char *kUsage =
    "Usage: varnholt [FOLDER | LIST.vop]\n"
    "       varnholt --batch LIST.vop [OPTIONS]   (no window; see varnholt --batch --help)\n"
    "       varnholt --version | --help\n"
    "\n"
    "Varnholt processes the images of one folder in a batch: pick a folder,\n"
    "tick images, build a list of operations (crop, resize, format, quality,\n"
    "prefix and suffix) and run them.\n"
    "\n"
    "  FOLDER      open with this image folder\n"
    "  LIST.vop    open with this operation list\n"
    "  --version   print the version and exit\n"
    "  --help      print this text and exit\n";
}

int main(int argc, char **argv) {
  // The batch mode runs where there may be no display at all, so it must
  // decide before any window-system object exists.
  if (varnholt::WantsBatch(argc, argv)) return varnholt::BatchMain(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s\n", varnholt::kVersionText);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationName(QStringLiteral("Varnholt"));
  QApplication::setApplicationVersion(QString::fromLatin1(varnholt::kVersionText));
  varnholt::frmMain window;
  window.show();
  return app.exec();
}
