#include "platform/async_toolkit.h"

#include <QEventLoop>
#include <QThread>

#include <exception>
#include <memory>

namespace varnholt {

void RunAway(const std::function<void()> &work) {
  std::exception_ptr failure;
  QEventLoop loop;
  std::unique_ptr<QThread> thread(QThread::create([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }));
  QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit,
                   Qt::QueuedConnection);
  thread->start();
  loop.exec();
  thread->wait();
  if (failure) std::rethrow_exception(failure);
}

QString AsyncToolkit::identify(const QStringList &args) {
  QString text;
  RunAway([&] { text = inner().identify(args); });
  return text;
}

void AsyncToolkit::convert(const QStringList &args) {
  RunAway([&] { inner().convert(args); });
}

void AsyncToolkit::mogrify(const QStringList &args) {
  RunAway([&] { inner().mogrify(args); });
}

void AsyncToolkit::convertInSteps(const ConvertSteps &work, bool reuseDecoded) {
  RunAway([&] { inner().convertInSteps(work, reuseDecoded); });
}

int AsyncToolkit::orientation(const QString &path) {
  int orientation = 0;
  RunAway([&] { orientation = inner().orientation(path); });
  return orientation;
}

} // namespace varnholt
