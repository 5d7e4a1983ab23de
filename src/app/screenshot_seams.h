#pragma once

// Seams that answer without asking anyone, so the windows can be pictured
// unattended, and a toolkit that stops mid-run for the run window's picture.

#include "desktop/folder_command.h"
#include "platform/desktop.h"
#include "platform/error_reporter.h"
#include "platform/forwarding_toolkit.h"
#include "platform/prompter.h"

#include <atomic>

namespace varnholt::shots {

class NoShell : public Shell {
public:
  bool open(const QString &) override { return true; }
};

class NoPrompter : public Prompter {
public:
  Answer ask(const QString &, const QString &, Buttons, Icon) override { return Answer::Yes; }
};

class NoErrors : public ErrorReporter {
public:
  void DisplayError(const ErrorReport &) override {}
  void Dismiss() override {}
};

class NoFolderBrowser : public FolderBrowser {
public:
  QString browse(const QString &, const QString &) override { return QString(); }
};

class RegisteredCommand : public FolderCommand {
public:
  void Register() override {}
  void Unregister() override {}
  bool IsRegistered() override { return true; }
};

// Holds the n-th toolkit call so the run can be pictured in the middle.
class HoldingToolkit : public ForwardingToolkit {
public:
  HoldingToolkit(ImageToolkit &inner, int holdAt) : ForwardingToolkit(inner), holdAt_(holdAt) {}
  QString identify(const QStringList &args) override {
    hold();
    return ForwardingToolkit::identify(args);
  }
  void convert(const QStringList &args) override {
    hold();
    ForwardingToolkit::convert(args);
  }
  void mogrify(const QStringList &args) override {
    hold();
    ForwardingToolkit::mogrify(args);
  }
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override {
    hold();
    ForwardingToolkit::convertInSteps(work, reuseDecoded);
  }
  void letGo() {
    released = true;
    released.notify_all();
  }
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};

private:
  void hold() {
    if (++calls_ != holdAt_) return;
    held = true;
    released.wait(false);
  }
  int holdAt_;
  std::atomic<int> calls_{0};
};

} // namespace varnholt::shots
