#include "cli/worker_protocol.h"

#include "operations/operation.h"
#include "platform/failure.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace varnholt::batch {

void WriteFrame(int fd, const QByteArray &payload) {
  QByteArray frame;
  QDataStream(&frame, QIODevice::WriteOnly) << quint32(payload.size());
  frame += payload;
  for (qsizetype done = 0; done < frame.size();) {
    const ssize_t put = ::write(fd, frame.constData() + done, size_t(frame.size() - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw Failure::fromErrno(errno, QStringLiteral("worker pipe"));
    }
    done += put;
  }
}

std::optional<QByteArray> TakeFrame(QByteArray &buffer) {
  if (buffer.size() < 4) return std::nullopt;
  quint32 length = 0;
  QDataStream(buffer.left(4)) >> length;
  if (quint64(buffer.size()) < 4 + quint64(length)) return std::nullopt;
  QByteArray payload = buffer.mid(4, length);
  buffer.remove(0, 4 + qsizetype(length));
  return payload;
}

std::optional<QByteArray> ReadFrame(int fd) {
  QByteArray buffer;
  char chunk[1 << 16];
  for (;;) {
    if (auto frame = TakeFrame(buffer)) {
      if (!buffer.isEmpty()) return std::nullopt; // the parent sends one frame at a time
      return frame;
    }
    const size_t want = buffer.size() < 4 ? size_t(4 - buffer.size()) : [&] {
      quint32 length = 0;
      QDataStream(buffer.left(4)) >> length;
      return std::min(sizeof chunk, size_t(4 + quint64(length) - quint64(buffer.size())));
    }();
    const ssize_t got = ::read(fd, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    buffer.append(chunk, got);
  }
}

QByteArray JobFrame(const BatchJob &job) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << job.inputFolder << job.images << qint32(job.operations.size());
  for (const BatchOperation &bo : job.operations)
    out << qint32(bo.position) << bo.text;
  out << job.settings.OutputInDiffDir << job.settings.OutputDir << job.settings.Antialias
      << job.settings.AllowOutOfBoundry << job.settings.AutoOrient << job.settings.NeverEnlarge
      << QStringList(job.notRun.begin(), job.notRun.end())
      << job.claims << job.handOverPlace;
  return payload;
}

std::optional<BatchJob> JobFromFrame(const QByteArray &payload) {
  QDataStream in(payload);
  BatchJob job;
  qint32 count = 0;
  in >> job.inputFolder >> job.images >> count;
  for (qint32 k = 0; k < count && in.status() == QDataStream::Ok; ++k) {
    BatchOperation bo;
    qint32 position = 0;
    in >> position >> bo.text;
    bo.position = position;
    QString ignored; // the parent read the same text
    bo.op = ParseOperation(bo.text, ignored);
    job.operations.push_back(bo);
  }
  QStringList notRun;
  in >> job.settings.OutputInDiffDir >> job.settings.OutputDir >> job.settings.Antialias >>
      job.settings.AllowOutOfBoundry >> job.settings.AutoOrient >> job.settings.NeverEnlarge >>
      notRun >> job.claims >> job.handOverPlace;
  if (in.status() != QDataStream::Ok ||
      notRun.size() != job.images.size() * qsizetype(job.operations.size()))
    return std::nullopt;
  job.notRun.assign(notRun.begin(), notRun.end());
  return job;
}

QByteArray PairFrame(qint32 image, qint32 operation, const ImageResult &r,
                     const RunControl &control) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << image << operation << qint32(r.written) << qint32(r.skipped) << qint32(r.failed) << r.lines
      << bool(control.stop) << control.stopReason;
  return payload;
}

QByteArray AheadFrame(qint32 image, qint32 operation, const RunAhead::Result &r) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << image << operation << qint32(r.outcome) << r.failure << r.doHere << r.handedAs << r.names;
  return payload;
}

bool ReadAheadFrame(const QByteArray &payload, qint32 &image, qint32 &operation,
                    RunAhead::Result &r) {
  QDataStream in(payload);
  qint32 outcome = 0;
  in >> image >> operation;
  if (operation != kImageDone) in >> outcome >> r.failure >> r.doHere >> r.handedAs >> r.names;
  r.outcome = ApplyOutcome(std::clamp(outcome, 0, int(ApplyOutcome::Failed)));
  return in.status() == QDataStream::Ok;
}

} // namespace varnholt::batch
