#include "mainwindow/frm_main.h"

#include "version.h"

namespace varnholt {

QString ProgramTitle() {
  return QStringLiteral("Varnholt ") + QString::number(kVersionMajor) + "." +
         QString::number(kVersionMinor) + QString::number(kVersionRevision);
}

frmMain::frmMain(QWidget *parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(ProgramTitle());
  resize(520, 430);
}

} // namespace varnholt
