#include "platform/failure.h"
#include "processing/magick/async_toolkit.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace varnholt {
namespace {

// Each call waits until it is let go; says which thread ran it.
class SlowToolkit : public ImageToolkit {
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

} // namespace
} // namespace varnholt
