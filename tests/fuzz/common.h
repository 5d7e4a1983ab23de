#pragma once

// What the fuzz targets share: a check that stops the run with its reason,
// so libFuzzer keeps the input that broke it.
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace varnholt::fuzz {

inline void Check(bool holds, const char *what, const QString &detail = QString()) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.toUtf8().constData());
  std::abort();
}

} // namespace varnholt::fuzz
