#include "processing/run_plan.h"

#include "processing/pair_runner.h"
#include "processing/pair_stage.h"
#include "processing/run.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

Operation Named(const QString &prefix, const QString &format = kDontChange) {
  Operation op;
  op.Prefix = prefix;
  op.OutputFormat = format;
  return op;
}

// The window's lists: unticked rows and texts that do not read are left out,
// rows are remembered, and every pair is claimed, in list order.
TEST(RunPlan, PlansTheTickedRowsAndSaysWhichPairsMayNotRun) {
  QTemporaryDir dir;
  for (const char *name : {"a.png", "p_a.png", "b.png", "skip.png"})
    QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  ListRunSource source;
  source.folder = dir.path();
  source.images = {{"a.png"}, {"skip.png", false}, {"p_a.png"}, {"b.png"}};
  QString ignored;
  const auto text = [&](const Operation &op) { return OperationDescription(op, ignored); };
  source.operations = {{text(Named("p_"))},
                       {QStringLiteral("not an operation")},
                       {text(Named("t_")), false},
                       {text(Named("q_"))},
                       {text(Named("q_", "PNG"))}};
  const RunPlan plan = PlanFromSource(source, Settings());
  EXPECT_EQ(plan.images, QStringList({"a.png", "p_a.png", "b.png"}));
  EXPECT_EQ(plan.imageRows, std::vector<qsizetype>({0, 2, 3}));
  ASSERT_EQ(plan.operations.size(), 3u);
  EXPECT_EQ(plan.operations[1].position, 4);
  EXPECT_EQ(plan.operations[2].op, Named("q_", "PNG"));
  EXPECT_EQ(plan.whyNotRun(0, 0), "it would write over the source image p_a.png");
  EXPECT_EQ(plan.whyNotRun(2, 2), dir.path() + "/q_b.png is already written for b.png by the "
                                               "operation at position 4");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(plan.whyNotRun(i, 1), "") << i;
  EXPECT_EQ(plan.outputFolder(), dir.path());
}

// Images whose results could meet on a file system that ignores case stay in
// one part; the rest is split in list order into parts of about equal work.
TEST(RunPlan, ShardsKeepImagesWhoseFilesCouldMeetTogether) {
  RunPlan plan;
  plan.inputFolder = QStringLiteral("/in");
  plan.images = {"x.gif", "X.png", "y.jpg", "z.jpg", "w.jpg", "v.jpg"};
  plan.operations = {{1, QString(), Named("p_", "PNG")}};
  ClaimPairs(plan, QStringLiteral("/out"));
  EXPECT_EQ(ShardParts(plan, QStringLiteral("/out"), 3), std::vector<int>({0, 0, 1, 1, 2, 2}));
  EXPECT_EQ(ShardParts(plan, QStringLiteral("/out"), 1), std::vector<int>(6, 0));

  RunPlan part = plan;
  KeepShard(part, QStringLiteral("/out"), 2, 3);
  EXPECT_EQ(part.images, QStringList({"y.jpg", "z.jpg"}));
  EXPECT_EQ(part.notRun.size(), 2u);
}

} // namespace
} // namespace varnholt

namespace varnholt {
namespace {

// A run that is stopping starts no further pair of the image it is on: those
// are skipped as not begun, and no toolkit is asked for them.
TEST(RunImage, AStoppingRunStartsNoFurtherPair) {
  RunPlan plan;
  plan.inputFolder = QStringLiteral("/in");
  plan.images = {"a.png"};
  plan.operations = {{1, QString(), {}}, {2, QString(), {}}, {3, QString(), {}}};
  plan.notRun.assign(3, QString());
  RunFiles files;
  PairRunner runner(plan, nullptr, files, Failure(kErrToolkit, "no toolkit here"));
  int asked = 0;
  std::vector<std::pair<bool, QString>> seen;
  ImageRun run;
  run.first = 1;
  run.stopping = [&] { return ++asked > 1; };
  run.done = [&](int, const PairResult &r) {
    seen.emplace_back(r.notStarted, r.failure ? r.failure->text() : "");
  };
  RunImage(runner, run);
  EXPECT_EQ(seen,
            (std::vector<std::pair<bool, QString>>{{false, "1002 - no toolkit here"}, {true, ""}}));
}

} // namespace
} // namespace varnholt
