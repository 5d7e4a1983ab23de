#pragma once

#include "platform/kept_metadata.h"
#include "processing/magick/magick_safe_names.h"

#include <QString>
#include <QStringList>

#include <vector>

// Running ImageMagick's command-line programs inside this process.
struct _ExceptionInfo;
typedef struct _ExceptionInfo ExceptionInfo;

namespace varnholt::magick {

enum class Command { Identify, Convert, Mogrify };

// Sets up ImageMagick for the process; later calls do nothing.
void StartOnce();

// Runs one command on safe names (without the program's name); returns what
// it printed. Warnings are not failures; an error, or a command that fails
// without saying why, is. Messages name the user's files, not the safe ones.
QString Run(Command command, const QStringList &args, const Call &call, const QString &subject);

// convert's work on safe names, done as ImageMagick's convert does it but
// a step at a time, so that a failure can name its step: the settings, the
// input read, each step's operators applied to the pictures in memory, the
// output written with the metadata `kept` allows. Throws StepFailure;
// warnings as Run's.
void RunSteps(const QStringList &settings, const QString &input,
              const std::vector<QStringList> &steps, KeptMetadata kept, const QString &output,
              const Call &call, const QString &subject);

// Whether what ImageMagick said while reading means the picture is damaged:
// decoded only in part, the rest made up.
bool DamagedWhenRead(const ExceptionInfo *exception);

// ImageMagick's warnings (a damaged file read only in part) are kept per
// thread until taken: the calls that gave them still succeeded.
void Warn(const QString &text);
QStringList TakeWarnings();

// How many frames the file behind the safe name `input` holds, pinged.
int PingOrientation(const QString &input, const Call &call, const QString &subject);

// Refuses an argument list too short to hold the program's files.
void RequireFile(const QStringList &args, int count, const char *program);

// ImageMagick's WebP reader decodes the whole picture even to tell its size,
// so a WebP's size is checked against the limits from its header first:
// throws Failure, as CheckImageWithinLimits does, for one too large. Any other
// file, or one that cannot be read, passes.
void RefuseOversizedWebP(const QString &path);

} // namespace varnholt::magick
