#pragma once

// Worker processes: this executable again, with "--batch-worker". The job is
// sent once, then image numbers one at a time; each answer is one image's
// result. Frames are a 32-bit length and a QDataStream payload.
#include "cli/batch_internal.h"
#include "processing/run.h"

#include <QByteArray>

#include <optional>

namespace varnholt::batch {

void WriteFrame(int fd, const QByteArray &payload);
// A complete frame from the front of buffer, if there is one.
std::optional<QByteArray> TakeFrame(QByteArray &buffer);
std::optional<QByteArray> ReadFrame(int fd);

QByteArray JobFrame(const BatchJob &job);
std::optional<BatchJob> JobFromFrame(const QByteArray &payload);

// A worker's answers: one per pair as it is done, then one when the image is.
QByteArray PairFrame(qint32 image, qint32 operation, const ImageResult &r,
                     const RunControl &control);
constexpr qint32 kImageDone = -1; // in place of the operation

// Ahead of a window's run the worker is sent (image, first operation,
// suppress) and answers each pair as the window needs it.
QByteArray AheadFrame(qint32 image, qint32 operation, const RunAhead::Result &r);
bool ReadAheadFrame(const QByteArray &payload, qint32 &image, qint32 &operation,
                    RunAhead::Result &r);

// The environment variable that tells a worker its parent's process id.
constexpr const char *kParentVariable = "VARNHOLT_BATCH_PARENT";

} // namespace varnholt::batch
