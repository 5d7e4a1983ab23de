// Restarts itself once through the real restarter, printing its process id,
// its arguments (percent-encoded) and one variable of its environment each
// time; the manifest tests read what it prints.
#include "settings/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv) {
  using varnholt::ProcessRestarter;
  const bool restarted = ProcessRestarter::TakeRestartedMark();
  QByteArrayList arguments;
  for (int i = 0; i < argc; ++i)
    arguments << QByteArray(argv[i]);
  QByteArrayList shown{arguments[0]};
  for (int i = 1; i < argc; ++i)
    shown << arguments[i].toPercentEncoding();
  const char *kept = std::getenv("VARNHOLT_PROBE");
  std::printf("%s %d %s %s\n", restarted ? "after" : "before", int(::getpid()),
              shown.join(' ').constData(), kept ? kept : "-");
  if (restarted) return 0;
  ProcessRestarter(arguments).restart();
  std::puts("not replaced");
  return 1;
}
