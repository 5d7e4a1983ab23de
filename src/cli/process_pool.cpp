#include "cli/process_pool.h"

#include "platform/paths.h"

#include "cli/worker_protocol.h"
#include "platform/failure.h"
#include "processing/magick/magick_policy.h"
#include "processing/pair_stage.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnholt::batch {

namespace {

struct ChildProcess : WorkerProcess {
  QByteArray buffer;
  int image = -1;      // being processed, or -1
  ImageResult partial; // its pairs answered so far
  int pairsAnswered = 0;
};

ChildProcess Child(const WorkerProcess &process) {
  ChildProcess child;
  static_cast<WorkerProcess &>(child) = process;
  return child;
}

} // namespace


void CloseFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

WorkerProcess SpawnWorker(const QString &executable, int folder) {
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
  std::vector<QByteArray> variables;
  for (char **e = environ; *e; ++e)
    if (std::strncmp(*e, kParentVariable, std::strlen(kParentVariable)) != 0)
      variables.emplace_back(*e);
  variables.push_back(QByteArray(kParentVariable) + '=' + QByteArray::number(::getpid()));
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

BatchTotals RunInProcesses(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control) {
  const int imageCount = int(job.images.size());
  const QByteArray jobFrame = JobFrame(job);
  const QString executable = SelfExecutable();
  // A worker that died is noticed by its pipe, not by SIGPIPE.
  struct PipeSignalIgnored {
    struct sigaction old {};
    PipeSignalIgnored() {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      ::sigaction(SIGPIPE, &ignore, &old);
    }
    ~PipeSignalIgnored() { ::sigaction(SIGPIPE, &old, nullptr); }
  } pipeSignalIgnored;
  std::vector<ChildProcess> children;
  int nextImage = 0;
  bool terminated = false;

  const auto failImage = [&](int image, const QString &why) {
    ImageResult r;
    r.failed = int(job.operations.size());
    r.lines << "varnholt: error: " + job.images[image] + ": " + why + "\n";
    reporter.add(image, std::move(r));
  };
  const QString outputFolder =
      job.settings.OutputInDiffDir ? job.settings.OutputDir : job.inputFolder;
  // Hands the child its next image, or lets it go.
  const auto dispatch = [&](ChildProcess &child) {
    child.image = -1;
    child.partial = ImageResult();
    child.pairsAnswered = 0;
    if (child.toChild < 0) return;
    try {
      if (control.stopping() || nextImage >= imageCount) {
        CloseFd(child.toChild);
        return;
      }
      QByteArray payload;
      QDataStream(&payload, QIODevice::WriteOnly) << qint32(nextImage);
      WriteFrame(child.toChild, payload);
      child.image = nextImage++;
    } catch (const Failure &) {
      CloseFd(child.toChild);
    }
  };

  ShareMagickLimitsAmong(jobs); // each worker's ImageMagick takes its part of the machine
  for (int j = 0; j < jobs; ++j) {
    try {
      children.push_back(Child(SpawnWorker(executable)));
      WriteFrame(children.back().toChild, jobFrame);
    } catch (const Failure &) {
      if (children.empty()) throw;
      break; // fewer workers than asked for
    }
  }
  for (ChildProcess &child : children)
    dispatch(child);

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<ChildProcess *> owners;
    for (ChildProcess &child : children)
      if (child.fromChild >= 0) {
        fds.push_back({child.fromChild, POLLIN, 0});
        owners.push_back(&child);
      }
    if (fds.empty()) break;
    if (gAtOnce && !terminated) {
      // The workers end now; what they leave is swept as each is reaped.
      terminated = true;
      for (const ChildProcess &child : children)
        if (child.pid > 0) ::kill(child.pid, SIGTERM);
    }
    const int ready = ::poll(fds.data(), fds.size(), 250);
    if (ready < 0 && errno != EINTR) throw Failure::fromErrno(errno, QStringLiteral("poll"));
    for (size_t f = 0; ready > 0 && f < fds.size(); ++f) {
      if (fds[f].revents == 0) continue;
      ChildProcess &child = *owners[f];
      char chunk[1 << 16];
      const ssize_t got = ::read(child.fromChild, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        child.buffer.append(chunk, got);
        while (auto frame = TakeFrame(child.buffer)) {
          QDataStream in(*frame);
          qint32 image = -1, operation = 0, written = 0, skipped = 0, failed = 0;
          QStringList lines;
          bool stop = false;
          QString stopReason;
          in >> image >> operation;
          if (operation != kImageDone)
            in >> written >> skipped >> failed >> lines >> stop >> stopReason;
          const bool expected = operation == kImageDone
                                    ? child.pairsAnswered == int(job.operations.size())
                                    : operation == child.pairsAnswered;
          if (in.status() != QDataStream::Ok || image != child.image || !expected) {
            if (child.image >= 0) failImage(child.image, "the worker process answered garbled");
            child.image = -1;
            CloseFd(child.toChild); // it leaves, and the others carry on
            break;
          }
          if (operation == kImageDone) {
            reporter.add(image, std::move(child.partial));
            dispatch(child);
            continue;
          }
          child.partial.written += written;
          child.partial.skipped += skipped;
          child.partial.failed += failed;
          child.partial.lines << lines;
          ++child.pairsAnswered;
          if (stop && !control.stop.exchange(true)) control.stopReason = stopReason;
        }
        continue;
      }
      // The worker is gone: after its last image, or in the middle of one.
      CloseFd(child.fromChild);
      CloseFd(child.toChild);
      int status = 0;
      while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
      }
      // What it left: pairs it completed go into place and count as written,
      // the rest goes, with its share of the temporary folder.
      const QStringList completed = SweepLeftovers(outputFolder, child.pid);
      SweepScratchLeftovers(child.pid);
      child.pid = -1;
      if (child.image >= 0) {
        ImageResult &r = child.partial;
        int lost = 0;
        for (int k = child.pairsAnswered; k < int(job.operations.size()); ++k) {
          if (completed.contains(QStringLiteral("%1.%2").arg(child.image).arg(k)))
            ++r.written;
          else
            ++lost;
        }
        // Stopped at once by the user: not written, and not a failure.
        (terminated ? r.skipped : r.failed) += lost;
        if (lost > 0 && !terminated)
          r.lines << "varnholt: error: " + job.images[child.image] +
                         ": the worker process ended while processing it (" + ExitText(status) +
                         ")\n";
        reporter.add(child.image, std::move(r));
      }
      child.image = -1;
      // Its share goes to the others; with none left, to a new one.
      const bool othersLeft = std::any_of(children.begin(), children.end(),
                                          [](const ChildProcess &c) { return c.toChild >= 0; });
      if (!othersLeft && !control.stopping() && nextImage < imageCount) {
        try {
          ChildProcess fresh = Child(SpawnWorker(executable));
          WriteFrame(fresh.toChild, jobFrame);
          children.push_back(std::move(fresh));
          dispatch(children.back());
        } catch (const Failure &failure) {
          while (nextImage < imageCount)
            failImage(nextImage++, failure.text());
        }
        break; // children changed; poll again
      }
    }
    reporter.flush();
  }
  for (ChildProcess &child : children)
    if (child.pid > 0) {
      ::waitpid(child.pid, nullptr, 0);
      SweepLeftovers(outputFolder, child.pid);
      SweepScratchLeftovers(child.pid);
    }
  return reporter.finish(control);
}

} // namespace varnholt::batch
