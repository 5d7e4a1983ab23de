#pragma once

#include <QMainWindow>

namespace varnholt {

// The main window. Its controls arrive with the image list, the editor and
// the operation list; for now it carries the program's title.
class frmMain : public QMainWindow {
  Q_OBJECT
public:
  explicit frmMain(QWidget *parent = nullptr);
};

// "Varnholt 1.00": major "." minor revision, no separator between the last two.
QString ProgramTitle();

} // namespace varnholt
