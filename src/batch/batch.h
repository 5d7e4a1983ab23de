#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "platform/failure.h"

#include <cstdio>
#include <optional>

namespace varnholt {

// The headless batch mode: one operation list over one folder's images, with
// no window and no display.
struct BatchOptions {
  QString listFile;
  QString inputFolder;  // empty: the current folder
  QString outputFolder; // empty: beside the images
  QString pattern;
  bool inverse = false;
  bool recursive = false; // the images of every subfolder too
  bool antialias = false;
  bool allowOutOfBounds = false;
  bool keepOrientation = false;
  bool enlarge = false;
  bool exact = false;
  bool sharpen = false;
  QString existing = QStringLiteral("Replace"); // --existing, as the setting stores it
  QString metadata = QStringLiteral("KeepAll"); // --metadata, likewise
  bool quiet = false;
  int jobs = 0; // 0: one per core
  // --shard K/N: this run does the K-th of N parts of the images, 1-based.
  int shardIndex = 1;
  int shardCount = 1;
  bool help = false;
};

enum BatchExit : int {
  kBatchAllWritten = 0,
  kBatchSomeNotWritten = 1, // skipped or failed pairs, or a stopped run
  kBatchRefused = 2,        // wrong arguments, or refused to start
};

// Where the batch mode talks to. Progress is drawn on err only when it is a
// terminal.
struct BatchConsole {
  std::FILE *out = stdout;
  std::FILE *err = stderr;
  bool errIsTerminal = false;
};

// Reads the arguments after the program name; a mistake is the answer's
// failure (kErrRefused), its description the message. --shard auto reads env
// (the process's own by default).
Expected<BatchOptions> ParseBatchArguments(const QStringList &args);
Expected<BatchOptions> ParseBatchArguments(const QStringList &args, const QProcessEnvironment &env);

QString BatchHelpText();
QString BatchUsageText();

// The whole run; returns the exit status.
int RunBatch(const BatchOptions &options, const BatchConsole &console);

// True when the command line asks for the batch mode.
bool WantsBatch(int argc, char **argv);

// Entry point from main(), before any window exists.
int BatchMain(int argc, char **argv);

} // namespace varnholt
