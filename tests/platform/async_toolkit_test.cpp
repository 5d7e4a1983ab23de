#include "app/screenshot_seams.h"
#include "platform/async_toolkit.h"
#include "platform/failure.h"
#include "processing/magick/magick_toolkit.h"
#include "support/fakes.h"
#include "support/test_images.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace varnholt {
namespace {

// Each call waits until it is let go; says which thread ran it.
class SlowToolkit : public test::PlainToolkit {
public:
  QString identify(const QStringList &args) override {
    wait();
    if (args.value(0) == "fail") throw Failure(450, "no such image");
    return args.join(',');
  }
  void convert(const QStringList &) override { wait(); }
  void mogrify(const QStringList &) override { wait(); }
  int orientation(const QString &) override { return 1; }

  void letGo() {
    const std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::thread::id ranOn;

private:
  void wait() {
    ranOn = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return released_; });
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

TEST(AsyncToolkit, EventsAreHandledWhileACallRunsAndItsFailureReachesTheCaller) {
  SlowToolkit slow;
  AsyncToolkit toolkit(slow);
  int ticks = 0;
  QTimer timer;
  timer.setInterval(1);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 3) slow.letGo(); // the call ends only because the timer ran
  });
  timer.start();
  EXPECT_EQ(toolkit.identify({"a", "b"}).toStdString(), "a,b");
  EXPECT_GE(ticks, 3);
  EXPECT_NE(slow.ranOn, std::this_thread::get_id());

  try {
    toolkit.identify({"fail"});
    FAIL() << "no failure";
  } catch (const Failure &f) {
    EXPECT_EQ(f.text().toStdString(), "450 - no such image");
  }
}

// Says which of its calls were made, and answers each with something of its own.
class TallyToolkit : public ImageToolkit {
public:
  QString identify(const QStringList &) override { return tally("identify"), "1x1"; }
  void convert(const QStringList &) override { tally("convert"); }
  void mogrify(const QStringList &) override { tally("mogrify"); }
  int orientation(const QString &) override { return tally("orientation"), 6; }
  void convertInSteps(const ConvertSteps &, bool reuse) override {
    tally(reuse ? "convertInSteps reuse" : "convertInSteps");
  }
  void checkSize(qint64, qint64, const QString &) override { tally("checkSize"); }
  QStringList takeWarnings() override { return tally("takeWarnings"), QStringList{"w"}; }
  void releaseDecoded() override { tally("releaseDecoded"); }
  QStringList calls;

private:
  void tally(const char *call) { calls << call; }
};

// Every wrapper reaches the toolkit it wraps with every call, as asked, and
// hands back its answer: a call a wrapper answers on its own would run the
// program without the real one (without its decoded pictures, its size
// limits, its warnings).
TEST(ToolkitWrappers, ForwardEveryCallWithItsArgumentsAndAnswer) {
  const std::vector<
      std::pair<const char *, std::function<std::unique_ptr<ImageToolkit>(ImageToolkit &)>>>
      wrappers{
          {"forwarding", [](ImageToolkit &t) { return std::make_unique<ForwardingToolkit>(t); }},
          {"async", [](ImageToolkit &t) { return std::make_unique<AsyncToolkit>(t); }},
          {"recording",
           [](ImageToolkit &t) { return std::make_unique<test::RecordingToolkit>(t); }},
          {"holding",
           [](ImageToolkit &t) { return std::make_unique<shots::HoldingToolkit>(t, 0); }},
      };
  for (const auto &[name, wrap] : wrappers) {
    TallyToolkit inner;
    const std::unique_ptr<ImageToolkit> wrapper = wrap(inner);
    EXPECT_EQ(wrapper->identify({"a"}), "1x1") << name;
    wrapper->convert({"a", "b"});
    wrapper->mogrify({"a"});
    EXPECT_EQ(wrapper->orientation("a"), 6) << name;
    wrapper->convertInSteps({{}, "a", {{"-flip"}}, "b"}, true);
    wrapper->convertInSteps({{}, "a", {{"-flip"}}, "b"}, false);
    wrapper->checkSize(1, 2, "a");
    EXPECT_EQ(wrapper->takeWarnings().join(""), "w") << name;
    wrapper->releaseDecoded();
    EXPECT_EQ(inner.calls.join(", ").toStdString(),
              "identify, convert, mogrify, orientation, convertInSteps reuse, convertInSteps, "
              "checkSize, takeWarnings, releaseDecoded")
        << name;
  }
}

// The tests' recorder stands between a run and ImageMagick: what the run
// would take from decoded pictures it takes through the recorder too.
TEST(ToolkitWrappers, TheRecorderGoesThroughTheDecodedPictures) {
  test::TempFolder dir;
  test::MakeImage(dir.file("a.png"), 12, 8);
  MagickToolkit magick;
  magick.setReuseDecoded(true);
  test::RecordingToolkit recorder(magick);
  for (const QString out : {"1.png", "2.png"})
    recorder.convertInSteps({{}, dir.file("a.png"), {{"-flip"}}, dir.file(out)}, true);
  EXPECT_EQ(magick.decodedReuses(), 1);
  EXPECT_EQ(recorder.calls.size(), 2u);
}

} // namespace
} // namespace varnholt
