#pragma once

#include <QObject>
#include <QString>

namespace varnholt {

// Windows build their controls from a table and then point their typed
// members at them by object name; a name missing from the table is a
// programming error, caught in debug builds.
template <typename T> void BindControl(QObject &window, T *&member, const char *name) {
  member = window.findChild<T *>(QString::fromLatin1(name));
  Q_ASSERT_X(member, window.metaObject()->className(), name);
}

} // namespace varnholt

#define VARNHOLT_BIND(control) ::varnholt::BindControl(*this, control, #control)
