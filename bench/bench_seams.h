#pragma once

// The run window's seams for benchmarks: nothing is asked of anyone, and
// what would have been shown is printed instead.
#include "platform/error_reporter.h"
#include "platform/prompter.h"

#include <cstdio>

namespace varnholt::bench {

// Answers Yes to every box, counting them: a benchmark run should show none.
class CountingPrompter : public Prompter {
public:
  Answer ask(const QString &title, const QString &text, Buttons, Icon) override {
    std::fprintf(stderr, "box: %s / %s\n", qPrintable(title), qPrintable(text));
    ++asked;
    return Answer::Yes;
  }
  int asked = 0;
};

class PrintErrors : public ErrorReporter {
public:
  void DisplayError(const ErrorReport &r) override {
    std::fprintf(stderr, "run failed: %s at %s\n", qPrintable(r.description),
                 qPrintable(r.operation));
    failed = true;
  }
  void Dismiss() override {}
  bool failed = false;
};

} // namespace varnholt::bench
