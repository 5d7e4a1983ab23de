#include "platform/failure.h"

#include <cstring>

namespace varnholt {

Failure::Failure(int number, QString description)
    : number_(number), description_(std::move(description)), what_(text().toUtf8()) {}

QString Failure::text() const { return QString::number(number_) + " - " + description_; }

Failure Failure::fromErrno(int err, const QString &context) {
  QString message = QString::fromLocal8Bit(std::strerror(err));
  if (!context.isEmpty()) message += ": " + context;
  return Failure(err, message);
}

} // namespace varnholt
