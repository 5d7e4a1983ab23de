#pragma once

#include "operations/operation.h"

#include <QString>

namespace varnholt {

class ImageToolkit;
class Prompter;
struct Settings;

// Flags that belong to one run and that applying an operation may set.
struct RunState {
  bool StopProcess = false;
  bool SuppressMessages = false;
};

// Everything ApplyOperation reads besides its two arguments.
struct ApplyEnvironment {
  const Settings &settings;
  QString inputFolder; // the image folder as the user typed it
  ImageToolkit &toolkit;
  Prompter &prompter;
};

enum class ApplyOutcome { Written, Skipped, Failed };

// Applies one operation to one image. Returns "" when it was done or skipped
// after a message, else "number - description" CR LF "Operation: " step.
QString ApplyOperation(const QString &inputPath, const Operation &op, const ApplyEnvironment &env,
                       RunState &state, ApplyOutcome *outcome = nullptr);

// prefix + the name before its last dot + suffix + the extension with its dot.
QString TargetName(const QString &inputName, const Operation &op);

// The geometry ImageMagick gets for a resize method.
QString ResizeGeometry(const Operation &op);

} // namespace varnholt
