// The worker pipe's frames on any bytes, as a parent or a worker reads them.
//
// No frame may crash a decoder; whatever decodes, encoded again, decodes to
// the same bytes.
#include "common.h"
#include "workers/worker_protocol.h"

#include <cstdint>

using namespace varnholt;
using namespace varnholt::workers;
using varnholt::fuzz::Check;

namespace {
template <typename Message>
void Again(const std::optional<Message> &message, QByteArray (*encode)(const Message &),
           std::optional<Message> (*decode)(const QByteArray &), const char *what) {
  if (!message) return;
  const QByteArray once = encode(*message);
  const std::optional<Message> back = decode(once);
  Check(back.has_value(), what);
  Check(encode(*back) == once, what);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size) {
  if (size > 65536) return -1;
  QByteArray buffer(reinterpret_cast<const char *>(bytes), qsizetype(size));
  const qsizetype before = buffer.size();
  int frames = 0;
  while (const std::optional<QByteArray> frame = TakeFrame(buffer)) {
    Check(frame->size() <= before, "a frame is no longer than its bytes");
    Again(DecodePlan(*frame), &EncodePlan, &DecodePlan, "a job reads back");
    Again(DecodeWork(*frame), &EncodeWork, &DecodeWork, "a work frame reads back");
    Again(DecodeAnswer(*frame), &EncodeAnswer, &DecodeAnswer, "an answer reads back");
    ++frames;
  }
  Check(frames <= int(before / 4), "every frame takes its length's four bytes");
  return 0;
}
