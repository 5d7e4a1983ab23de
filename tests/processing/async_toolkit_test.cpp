#include "platform/failure.h"
#include "processing/async_toolkit.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace varnholt {
namespace {

// Slow on purpose; says which thread ran it.
class SlowToolkit : public ImageToolkit {
public:
  QString identify(const QStringList &args) override {
    wait();
    if (args.value(0) == "fail") throw Failure(450, "no such image");
    return args.join(',');
  }
  void convert(const QStringList &) override { wait(); }
  void mogrify(const QStringList &) override { wait(); }
  int frameCount(const QString &) override { return 1; }

  std::atomic<bool> release{false};
  std::thread::id ranOn;

private:
  void wait() {
    ranOn = std::this_thread::get_id();
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

TEST(AsyncToolkit, EventsAreHandledWhileACallRuns) {
  SlowToolkit slow;
  AsyncToolkit toolkit(slow);
  int ticks = 0;
  QTimer timer;
  timer.setInterval(1);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 3) slow.release = true; // the call ends only because the timer ran
  });
  timer.start();
  EXPECT_EQ(toolkit.identify({"a", "b"}).toStdString(), "a,b");
  EXPECT_GE(ticks, 3);
  EXPECT_NE(slow.ranOn, std::this_thread::get_id());
}

TEST(AsyncToolkit, FailuresReachTheCaller) {
  SlowToolkit slow;
  slow.release = true;
  AsyncToolkit toolkit(slow);
  try {
    toolkit.identify({"fail"});
    FAIL() << "no failure";
  } catch (const Failure &f) {
    EXPECT_EQ(f.text().toStdString(), "450 - no such image");
  }
}

} // namespace
} // namespace varnholt
