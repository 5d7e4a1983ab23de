#include "workers/worker_pool.h"

#include "platform/failure.h"
#include "processing/magick/magick_policy.h"
#include "processing/pair_stage.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnholt::workers {

void CloseFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

namespace {
// A worker decodes one picture after another, each in blocks of tens of
// megabytes. In huge pages those cost a fraction of the page faults (a worker
// fits camera JPEGs into a screen size about a third faster), and a fixed
// mapping threshold hands each picture's blocks back once it is done, where
// glibc would keep the largest picture's worth on its heap for the rest of
// the run. The user's own tunables come after these, so theirs win.
constexpr char kTunablesName[] = "GLIBC_TUNABLES=";
constexpr char kWorkerTunables[] = "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=8388608";

// This process's environment, told who the parent is and how to allocate,
// with `environment`'s entries in place of any of the same names.
std::vector<QByteArray> WorkerEnvironment(const QList<QByteArray> &environment) {
  std::vector<QByteArray> variables;
  QByteArray tunables = QByteArray(kTunablesName) + kWorkerTunables;
  for (char **e = environ; *e; ++e)
    if (std::strncmp(*e, kTunablesName, std::strlen(kTunablesName)) == 0)
      tunables += ':' + QByteArray(*e + std::strlen(kTunablesName));
    else if (std::strncmp(*e, kParentVariable, std::strlen(kParentVariable)) != 0)
      variables.emplace_back(*e);
  variables.push_back(tunables);
  variables.push_back(QByteArray(kParentVariable) + '=' + QByteArray::number(::getpid()));
  for (const QByteArray &entry : environment) {
    const QByteArray name = entry.left(entry.indexOf('=') + 1);
    std::erase_if(variables, [&](const QByteArray &v) { return v.startsWith(name); });
    variables.push_back(entry);
  }
  return variables;
}
} // namespace

WorkerProcess SpawnWorker(const QString &executable, int folder,
                          const QList<QByteArray> &environment) {
  int down[2], up[2];
  if (::pipe2(down, O_CLOEXEC) != 0) throw Failure::fromErrno(errno, QStringLiteral("pipe"));
  if (::pipe2(up, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(down[0]);
    ::close(down[1]);
    throw Failure::fromErrno(err, QStringLiteral("pipe"));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, down[0], 0);
  posix_spawn_file_actions_adddup2(&actions, up[1], 1);
  if (folder >= 0) posix_spawn_file_actions_adddup2(&actions, folder, kInheritedFolder);
  // Nothing else of this process's goes with it: a lock or a pipe a worker
  // held on to would keep others waiting for as long as it lives.
  posix_spawn_file_actions_addclosefrom_np(&actions,
                                           folder >= 0 ? kInheritedFolder + 1 : kInheritedFolder);
  const QByteArray path = QFile::encodeName(executable);
  char arg0[] = "varnholt", arg1[] = "--batch-worker";
  char *argv[] = {arg0, arg1, nullptr};
  // Ctrl-C goes to the whole process group, and the parent alone decides what
  // it means: the worker starts with it (and SIGTERM, until it is ready for
  // it) held back from its first instruction on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t held, defaults;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &held);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<QByteArray> variables = WorkerEnvironment(environment);
  std::vector<char *> envp;
  for (QByteArray &v : variables)
    envp.push_back(v.data());
  envp.push_back(nullptr);
  WorkerProcess child;
  const int err =
      ::posix_spawn(&child.pid, path.constData(), &actions, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(down[0]);
  ::close(up[1]);
  if (err != 0) {
    ::close(down[1]);
    ::close(up[0]);
    throw Failure::fromErrno(err, executable);
  }
  child.toChild = down[1];
  child.fromChild = up[0];
  return child;
}

QString ExitText(int status) {
  if (WIFSIGNALED(status)) return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
  return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
}

WorkerPool::WorkerPool(Setup setup, PoolListener &listener)
    : setup_(std::move(setup)), listener_(listener) {
  // A worker that died is noticed by its pipe, not by SIGPIPE.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &oldPipe_);
}

WorkerPool::~WorkerPool() {
  end();
  ::sigaction(SIGPIPE, &oldPipe_, nullptr);
}

void WorkerPool::start(int jobs, const QByteArray &planFrame) {
  planFrame_ = planFrame;
  // Each worker's ImageMagick takes its part of the machine.
  shareVariables_ = MagickWorkerVariables(jobs);
  // All start before any is sent the job, which can be larger than a pipe
  // holds: the first images wait for one start-up, not one after another.
  QString why;
  for (int j = 0; j < std::min(jobs, setup_.images); ++j) {
    try {
      workers_.emplace_back().process =
          SpawnWorker(setup_.executable, setup_.outputHandle, shareVariables_);
    } catch (const Failure &failure) {
      why = failure.text();
      break; // fewer workers than asked for
    }
  }
  if (workers_.empty()) throw Failure(kErrToolkit, why);
  for (Worker &worker : workers_)
    send(worker, planFrame_);
}

bool WorkerPool::spawn() {
  try {
    const WorkerProcess process =
        SpawnWorker(setup_.executable, setup_.outputHandle, shareVariables_);
    workers_.emplace_back().process = process;
  } catch (const Failure &) {
    return false;
  }
  send(workers_.back(), planFrame_);
  return workers_.back().process.toChild >= 0;
}

void WorkerPool::send(Worker &worker, const QByteArray &payload) {
  try {
    WriteFrame(worker.process.toChild, payload);
  } catch (const Failure &) {
    CloseFd(worker.process.toChild); // it is going; its pipe says so soon
  }
}

bool WorkerPool::assign(Worker &worker, int image, int first) {
  if (worker.process.toChild < 0) return false;
  send(worker, EncodeWork({image, first, suppress_}));
  if (worker.process.toChild < 0) return false;
  worker.image = image;
  worker.next = first;
  return true;
}

void WorkerPool::handOut(int lastImage, bool suppress) {
  suppress_ = suppress;
  if (!handingOut_) return;
  for (Worker &worker : workers_) {
    if (worker.image >= 0 || worker.process.toChild < 0) continue;
    if (nextImage_ >= setup_.images) {
      // Nothing left to give: in the batch mode the worker may go.
      if (setup_.order == Order::NextImage) CloseFd(worker.process.toChild);
      continue;
    }
    if (setup_.order == Order::InListOrder && nextImage_ > lastImage) return;
    if (assign(worker, nextImage_, 0)) ++nextImage_;
  }
}

void WorkerPool::stopHandingOut() {
  handingOut_ = false;
  for (Worker &worker : workers_)
    if (worker.image < 0) CloseFd(worker.process.toChild);
}

bool WorkerPool::reading() const {
  return std::any_of(workers_.begin(), workers_.end(),
                     [](const Worker &w) { return w.process.fromChild >= 0; });
}

bool WorkerPool::working(int image) const {
  return std::any_of(workers_.begin(), workers_.end(),
                     [&](const Worker &w) { return w.process.pid > 0 && w.image == image; });
}

void WorkerPool::wait(int milliseconds) {
  std::vector<pollfd> fds;
  std::vector<size_t> owners;
  for (size_t w = 0; w < workers_.size(); ++w)
    if (workers_[w].process.fromChild >= 0) {
      fds.push_back({workers_[w].process.fromChild, POLLIN, 0});
      owners.push_back(w);
    }
  if (fds.empty()) return;
  const int ready = ::poll(fds.data(), fds.size(), milliseconds);
  if (ready < 0 && errno != EINTR) throw Failure::fromErrno(errno, QStringLiteral("poll"));
  // Reading may start a worker and so move the others: by index, not by reference.
  for (size_t f = 0; ready > 0 && f < fds.size(); ++f)
    if (fds[f].revents != 0) read(owners[f]);
  std::erase_if(workers_, [](const Worker &w) { return w.process.pid <= 0; });
  handOut(setup_.order == Order::NextImage ? setup_.images : -1, suppress_);
}

void WorkerPool::read(size_t w) {
  Worker &worker = workers_[w];
  char chunk[1 << 16];
  const ssize_t got = ::read(worker.process.fromChild, chunk, sizeof chunk);
  if (got < 0 && errno == EINTR) return;
  if (got <= 0) {
    reap(w);
    return;
  }
  worker.buffer.append(chunk, got);
  while (auto frame = TakeFrame(worker.buffer)) {
    const std::optional<AnswerMessage> answer = DecodeAnswer(*frame);
    const int operations = setup_.operations;
    if (!answer || worker.image < 0 || answer->image != worker.image ||
        (answer->operation == kImageDone ? worker.next != operations
                                         : answer->operation != worker.next)) {
      garbled(worker);
      return;
    }
    if (answer->operation == kImageDone) {
      worker.image = -1;
      listener_.imageDone(answer->image);
      continue;
    }
    ++worker.next;
    listener_.answered(answer->image, answer->operation, answer->result);
  }
}

// The worker leaves, and the others carry on; the rest of its image is lost.
void WorkerPool::garbled(Worker &worker) {
  const int image = worker.image;
  worker.image = -1;
  ::kill(worker.process.pid, SIGTERM);
  CloseFd(worker.process.toChild);
  if (image >= 0) carryOn(image, listener_.lost(image, worker.next, "answered garbled", {}));
}

// A worker that is gone: the pairs it put into place without a word are
// the listener's to count; the rest of its image goes on elsewhere if the
// listener says so, else it is finished with.
void WorkerPool::reap(size_t w) {
  Worker &worker = workers_[w];
  CloseFd(worker.process.fromChild);
  CloseFd(worker.process.toChild);
  int status = 0;
  while (::waitpid(worker.process.pid, &status, 0) < 0 && errno == EINTR) {
  }
  const QStringList completed =
      (setup_.outputHandle >= 0
           ? SweepLeftoversAt(setup_.outputHandle, setup_.outputFolder, worker.process.pid)
           : SweepLeftovers(setup_.outputFolder, worker.process.pid)) +
      SweepSubfolderLeftovers(setup_.outputHandle, setup_.outputFolder, setup_.subfolders,
                              worker.process.pid);
  SweepScratchLeftovers(worker.process.pid);
  worker.process.pid = -1;
  const int image = std::exchange(worker.image, -1);
  const int next = worker.next;
  // `worker` may move as a new one is added: nothing of it is used after this.
  if (image >= 0)
    carryOn(image,
            listener_.lost(image, next, "ended while processing it (" + ExitText(status) + ")",
                           completed));
  // In the batch mode the last worker gone with images left is replaced.
  const bool othersLeft = std::any_of(workers_.begin(), workers_.end(),
                                      [](const Worker &o) { return o.process.toChild >= 0; });
  if (setup_.order == Order::NextImage && handingOut_ && !terminated_ && !othersLeft &&
      nextImage_ < setup_.images && !spawn()) {
    while (nextImage_ < setup_.images)
      listener_.unassigned(nextImage_++, 0, QStringLiteral("no worker process could be started"));
  }
}

void WorkerPool::carryOn(int image, int first) {
  if (first < 0 || first >= setup_.operations || terminated_) return;
  if (spawn() && assign(workers_.back(), image, first)) return;
  listener_.unassigned(image, first, QStringLiteral("no worker process could be started"));
}

void WorkerPool::terminate() {
  terminated_ = true;
  for (const Worker &worker : workers_)
    if (worker.process.pid > 0) ::kill(worker.process.pid, SIGTERM);
}

void WorkerPool::end() {
  handingOut_ = false;
  terminated_ = true;
  for (Worker &worker : workers_) {
    CloseFd(worker.process.toChild);
    if (worker.process.pid > 0) ::kill(worker.process.pid, SIGTERM);
  }
  for (size_t w = 0; w < workers_.size(); ++w)
    if (workers_[w].process.pid > 0) {
      workers_[w].image = -1; // nobody is waiting for it any more
      reap(w);
    }
  workers_.clear();
}

} // namespace varnholt::workers
