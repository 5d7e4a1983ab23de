#pragma once

#include <QIcon>

namespace varnholt {

// The program's own icon, in every size that ships with it.
QIcon ProgramIcon();

} // namespace varnholt
