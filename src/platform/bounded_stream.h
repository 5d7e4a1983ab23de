#pragma once

// Reading lists from a stream that may be garbled: Qt's own list reading
// reserves room for as many entries as the stream claims before reading one,
// so four bytes could ask for gigabytes.
#include <QDataStream>
#include <QIODevice>
#include <QStringList>

namespace varnholt {

// A QStringList as QDataStream writes it; a count that the bytes left cannot
// hold (every entry takes at least four) marks the stream corrupt.
inline QDataStream &ReadStringList(QDataStream &in, QStringList &list) {
  list.clear();
  quint32 count = 0;
  in >> count;
  const qint64 left = in.device() ? in.device()->bytesAvailable() : 0;
  if (in.status() != QDataStream::Ok || qint64(count) > left / 4) {
    in.setStatus(QDataStream::ReadCorruptData);
    return in;
  }
  list.reserve(qsizetype(count));
  for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    QString entry;
    in >> entry;
    list << entry;
  }
  return in;
}

} // namespace varnholt
