#pragma once

#include <QWidget>

#include <stdexcept>

namespace varnholt::test {

// A window's own control by its object name, not one of the windows it owns
// (the settings window has a cmdSelectDir too); a name not there throws.
template <class T> T *Control(const QWidget &window, const QString &name) {
  for (T *child : window.findChildren<T *>(name))
    if (child->window() == &window) return child;
  throw std::logic_error("no " + std::string(T::staticMetaObject.className()) + " named " +
                         name.toStdString() + " in " + window.objectName().toStdString());
}

} // namespace varnholt::test
