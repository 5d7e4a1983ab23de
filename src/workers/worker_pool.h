#pragma once

// The one pool of worker processes, for the batch mode and for the window's
// run alike: it spawns them, hands them images, reads their answers, reaps
// them, sweeps what they leave and starts new ones in their place.
#include "workers/worker_protocol.h"

#include <QList>
#include <QString>

#include <csignal>
#include <sys/types.h>
#include <vector>

namespace varnholt::workers {

// A worker process and the two pipes to it.
struct WorkerProcess {
  pid_t pid = -1;
  int toChild = -1, fromChild = -1;
};
// Starts this executable as a worker, with `folder` (a handle) as its
// kInheritedFolder when given and `environment` ("NAME=value") added to its
// environment; throws Failure.
constexpr int kInheritedFolder = 3;
WorkerProcess SpawnWorker(const QString &executable, int folder = -1,
                          const QList<QByteArray> &environment = {});
void CloseFd(int &fd);
// How a reaped worker ended, for the user.
QString ExitText(int status);

// What the pool tells whoever runs it.
class PoolListener {
public:
  virtual ~PoolListener() = default;
  virtual void answered(int image, int operation, const PairResult &result) = 0;
  virtual void imageDone(int image) = 0;
  // The worker on `image` is gone (or garbled its answers) before answering
  // operation `next`; `completed` holds the labels ("image.operation") of
  // pairs it had put into place without saying so. Returns the operation
  // from which a fresh worker goes on with the image, or -1: the image is
  // finished with.
  virtual int lost(int image, int next, const QString &why, const QStringList &completed) = 0;
  // Nobody can work on `image` from operation `first` on: no worker could
  // be started.
  virtual void unassigned(int image, int first, const QString &why) = 0;
};

class WorkerPool {
public:
  // NextImage: each idle worker takes the next image (the batch mode).
  // InListOrder: images go out in list order, up to a limit the owner moves
  // as it takes the results (a window committing pairs in its own order).
  enum class Order { NextImage, InListOrder };
  struct Setup {
    Order order = Order::NextImage;
    QString executable;
    int outputHandle = -1;  // handed to each worker, which builds its pairs through it
    QString outputFolder;   // where a reaped worker's leftovers are swept
    QStringList subfolders; // and in these subfolders of it
    int images = 0;
    int operations = 0;
  };
  WorkerPool(Setup setup, PoolListener &listener);
  ~WorkerPool();
  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;

  // Starts up to `jobs` workers and sends them the job; throws Failure when
  // not even one starts.
  void start(int jobs, const QByteArray &planFrame);
  // Hands idle workers images up to `lastImage` (InListOrder) or any
  // (NextImage), with the out-of-image questions suppressed or not.
  void handOut(int lastImage = -1, bool suppress = false);
  // No image is handed out any more; idle workers are let go.
  void stopHandingOut();
  // Waits up to `milliseconds` for answers, reads them, reaps the workers
  // that ended. Throws Failure when poll itself fails.
  void wait(int milliseconds);
  // Ends the workers now (SIGTERM); what they leave is swept as each is reaped.
  void terminate();
  // Ends and reaps every worker.
  void end();

  bool reading() const;          // any worker may still answer
  bool working(int image) const; // a worker is on this image
  int nextImage() const { return nextImage_; }
  int workerCount() const { return int(workers_.size()); }

private:
  struct Worker {
    WorkerProcess process;
    QByteArray buffer;
    int image = -1; // being worked on, or -1
    int next = 0;   // the operation it answers next
  };
  bool spawn();
  void send(Worker &worker, const QByteArray &payload);
  bool assign(Worker &worker, int image, int first);
  void read(size_t w);
  void garbled(Worker &worker);
  void reap(size_t w);
  void carryOn(int image, int first);

  Setup setup_;
  PoolListener &listener_;
  QByteArray planFrame_;
  QList<QByteArray> shareVariables_;
  std::vector<Worker> workers_;
  int nextImage_ = 0;
  bool handingOut_ = true;
  bool suppress_ = false;
  bool terminated_ = false;
  struct sigaction oldPipe_ {};
};

} // namespace varnholt::workers
