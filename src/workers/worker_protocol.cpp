#include "workers/worker_protocol.h"

#include "operations/operation.h"
#include "platform/bounded_stream.h"
#include "platform/failure.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace varnholt::workers {

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

namespace {
// A payload read to its end and nothing after it; anything else is garbled.
bool ReadWhole(const QDataStream &in) { return in.status() == QDataStream::Ok && in.atEnd(); }

QDataStream &operator<<(QDataStream &out, const std::optional<Failure> &failure) {
  out << failure.has_value();
  if (failure) out << qint32(failure->number()) << failure->description();
  return out;
}

QDataStream &operator>>(QDataStream &in, std::optional<Failure> &failure) {
  bool has = false;
  qint32 number = 0;
  QString description;
  in >> has;
  if (has) in >> number >> description;
  failure = has ? std::optional(Failure(number, description)) : std::nullopt;
  return in;
}
} // namespace

QByteArray EncodePlan(const PlanMessage &job) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << job.plan << job.handOverPlace;
  return payload;
}

std::optional<PlanMessage> DecodePlan(const QByteArray &payload) {
  QDataStream in(payload);
  PlanMessage job;
  in >> job.plan >> job.handOverPlace;
  if (!ReadWhole(in)) return std::nullopt;
  return job;
}

QByteArray EncodeWork(const WorkMessage &work) {
  QByteArray payload;
  QDataStream(&payload, QIODevice::WriteOnly) << work.image << work.first << work.suppress;
  return payload;
}

std::optional<WorkMessage> DecodeWork(const QByteArray &payload) {
  QDataStream in(payload);
  WorkMessage work;
  in >> work.image >> work.first >> work.suppress;
  if (!ReadWhole(in) || work.image < 0 || work.first < 0) return std::nullopt;
  return work;
}

QByteArray EncodeAnswer(const AnswerMessage &answer) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << answer.image << answer.operation;
  if (answer.operation == kImageDone) return payload;
  const PairResult &r = answer.result;
  out << qint32(r.outcome) << r.failure << r.notStarted << r.questionTitle << r.questionText
      << r.handBack << r.stopsRun << r.warnings << r.notes << r.handedAs << r.names;
  return payload;
}

std::optional<AnswerMessage> DecodeAnswer(const QByteArray &payload) {
  QDataStream in(payload);
  AnswerMessage answer;
  in >> answer.image >> answer.operation;
  if (answer.operation != kImageDone) {
    PairResult &r = answer.result;
    qint32 outcome = -1;
    in >> outcome >> r.failure >> r.notStarted >> r.questionTitle >> r.questionText >> r.handBack >>
        r.stopsRun;
    ReadStringList(ReadStringList(in, r.warnings), r.notes) >> r.handedAs;
    ReadStringList(in, r.names);
    if (outcome < 0 || outcome > qint32(ApplyOutcome::Failed)) return std::nullopt;
    r.outcome = ApplyOutcome(outcome);
  }
  if (!ReadWhole(in) || answer.image < 0 || answer.operation < kImageDone) return std::nullopt;
  return answer;
}

} // namespace varnholt::workers
