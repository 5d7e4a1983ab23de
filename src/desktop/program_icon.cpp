#include "desktop/program_icon.h"

namespace varnholt {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/varnholt/icons/varnholt-%1.png").arg(size), QSize(size, size));
  return icon;
}

} // namespace varnholt
