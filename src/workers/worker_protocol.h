#pragma once

// Worker processes: this executable again, with "--batch-worker". The job is
// sent once, then one image at a time; the worker answers each pair as it is
// done, then the image. Frames are a 32-bit length and a QDataStream payload;
// each kind has its encoder and a decoder that refuses a payload that is
// short, long or out of range.
#include "processing/pair_runner.h"
#include "processing/run_plan.h"

#include <QByteArray>

#include <optional>

namespace varnholt::workers {

void WriteFrame(int fd, const QByteArray &payload);
// A complete frame from the front of buffer, if there is one.
std::optional<QByteArray> TakeFrame(QByteArray &buffer);
std::optional<QByteArray> ReadFrame(int fd);

// The run's plan, or the part of it this worker may be given. With a
// hand-over place (a hidden folder of the output folder) the worker runs
// ahead of a window: it hands each pair over there instead of putting it
// into place, and hands back every pair that would ask the user something.
struct PlanMessage {
  RunPlan plan;
  QByteArray handOverPlace;
};
QByteArray EncodePlan(const PlanMessage &job);
std::optional<PlanMessage> DecodePlan(const QByteArray &payload);

// One image, from operation `first` on.
struct WorkMessage {
  qint32 image = -1;
  qint32 first = 0;
  bool suppress = false; // the out-of-image questions are suppressed already
};
QByteArray EncodeWork(const WorkMessage &work);
std::optional<WorkMessage> DecodeWork(const QByteArray &payload);

// A pair's result, or with kImageDone for the operation: the image is done.
constexpr qint32 kImageDone = -1;
struct AnswerMessage {
  qint32 image = -1;
  qint32 operation = kImageDone;
  PairResult result;
};
QByteArray EncodeAnswer(const AnswerMessage &answer);
std::optional<AnswerMessage> DecodeAnswer(const QByteArray &payload);

// The environment variable that tells a worker its parent's process id.
constexpr const char *kParentVariable = "VARNHOLT_BATCH_PARENT";

} // namespace varnholt::workers
