#include "workers/worker_protocol.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

namespace varnholt::workers {
namespace {

PlanMessage SomeJob() {
  PlanMessage job;
  RunPlan &plan = job.plan;
  plan.inputFolder = QStringLiteral("/in/Shoot \"1\"");
  plan.images = {QStringLiteral("a.png"), QStringLiteral("2024.06.01 b.jpg")};
  Operation crop;
  crop.Extract = true;
  crop.TopLeftX = 3, crop.TopLeftY = 5, crop.BottomRightX = 70, crop.BottomRightY = 40;
  crop.Resize = true;
  crop.ResizeMethod = kLimitHeight;
  crop.ResizeWidth = 320, crop.ResizeHeight = 240;
  crop.OutputFormat = QStringLiteral("JPG");
  crop.JpgQuality = 85;
  crop.Prefix = QStringLiteral("th_");
  plan.operations = {{2, QStringLiteral("text of 2"), crop}, {5, QStringLiteral("text of 5"), {}}};
  plan.operations[1].op.Suffix = QStringLiteral("_x");
  // A centred crop, scaled, travels as its record too.
  Operation &centred = plan.operations[1].op;
  centred.Extract = centred.Resize = true;
  centred.AspectWidth = 16, centred.AspectHeight = 9;
  centred.ResizeMethod = kScale, centred.ResizeWidth = centred.ResizeHeight = 50;
  plan.settings.OutputInDiffDir = true;
  plan.settings.OutputDir = QStringLiteral("/out");
  plan.settings.Antialias = true;
  plan.settings.AutoOrient = false;
  plan.settings.ExactDecode = true;
  plan.settings.SharpenAfterShrinking = true;
  plan.settings.IncludeSubfolders = true;
  plan.settings.ExistingResults = QStringLiteral("Skip");
  plan.settings.Metadata = QStringLiteral("RemoveLocation");
  plan.notRun = {QString(), QStringLiteral("why"), QString(), QString()};
  plan.claims.addSource(plan.imagePath(0));
  job.handOverPlace = ".varnholt-hand";
  return job;
}

PairResult SomeResult() {
  PairResult r;
  r.outcome = ApplyOutcome::Skipped;
  r.failure = Failure(325, "f");
  r.questionTitle = QStringLiteral("Image too small");
  r.questionText = QStringLiteral("a\r\nb");
  r.handBack = r.stopsRun = true;
  r.warnings = {QStringLiteral("w")};
  r.notes = {QStringLiteral("n")};
  r.handedAs = "a1.2";
  r.names = {QStringLiteral("th_a.JPG")};
  return r;
}

// Every frame kind: what is sent comes back as it was; a frame cut short, one
// with bytes after it, and bytes that are no frame at all are refused.
TEST(WorkerProtocol, FramesRoundTripAndGarbledOnesAreRefused) {
  const PlanMessage job = SomeJob();
  const AnswerMessage answer{1, 1, SomeResult()};
  struct Kind {
    const char *name;
    QByteArray payload;
    std::function<bool(const QByteArray &)> readsBack; // decodes to what was sent
  };
  const std::vector<Kind> kinds = {
      {"job", EncodePlan(job),
       [&](const QByteArray &p) {
         const auto got = DecodePlan(p);
         if (!got) return false;
         const RunPlan &a = got->plan, &b = job.plan;
         bool same = a.inputFolder == b.inputFolder && a.images == b.images &&
                     a.settings == b.settings && a.notRun == b.notRun &&
                     a.operations.size() == b.operations.size() &&
                     got->handOverPlace == job.handOverPlace;
         for (size_t k = 0; same && k < a.operations.size(); ++k)
           same = a.operations[k].op == b.operations[k].op &&
                  a.operations[k].position == b.operations[k].position &&
                  a.operations[k].text == b.operations[k].text;
         return same && a.claims.check({"x", "x", 0}, {b.imagePath(0)}).kind ==
                            RunClaims::Clash::OtherImage;
       }},
      {"work", EncodeWork({7, 2, true}),
       [](const QByteArray &p) {
         const auto got = DecodeWork(p);
         return got && got->image == 7 && got->first == 2 && got->suppress;
       }},
      {"answer", EncodeAnswer(answer),
       [&](const QByteArray &p) {
         const auto got = DecodeAnswer(p);
         if (!got) return false;
         const PairResult &a = got->result, &b = answer.result;
         return got->image == 1 && got->operation == 1 && a.outcome == b.outcome &&
                a.failure == b.failure && a.questionTitle == b.questionTitle &&
                a.questionText == b.questionText && a.handBack && a.stopsRun &&
                a.warnings == b.warnings && a.notes == b.notes && a.handedAs == b.handedAs &&
                a.names == b.names;
       }},
      {"image done", EncodeAnswer({4, kImageDone, {}}),
       [](const QByteArray &p) {
         const auto got = DecodeAnswer(p);
         return got && got->image == 4 && got->operation == kImageDone;
       }},
  };
  for (const Kind &kind : kinds) {
    SCOPED_TRACE(kind.name);
    EXPECT_TRUE(kind.readsBack(kind.payload));
    EXPECT_FALSE(kind.readsBack(kind.payload.left(kind.payload.size() - 1)));
    EXPECT_FALSE(kind.readsBack(kind.payload + '\0'));
    EXPECT_FALSE(kind.readsBack(QByteArray("\xff\xff\xff\xff garbage", 12)));
  }
  // Numbers out of range are refused too.
  EXPECT_FALSE(DecodeWork(EncodeWork({-2, 0, false})));
  AnswerMessage bad = answer;
  bad.result.outcome = ApplyOutcome(7);
  EXPECT_FALSE(DecodeAnswer(EncodeAnswer(bad)));

  // Frames on a pipe: whole ones are taken from the front, a partial one waits.
  QByteArray buffer;
  for (const Kind &kind : kinds) {
    QByteArray length(4, '\0');
    qToBigEndian(quint32(kind.payload.size()), length.data());
    buffer += length + kind.payload;
  }
  buffer.chop(1);
  for (size_t k = 0; k + 1 < kinds.size(); ++k)
    EXPECT_EQ(TakeFrame(buffer), kinds[k].payload);
  EXPECT_FALSE(TakeFrame(buffer));
}

} // namespace
} // namespace varnholt::workers
