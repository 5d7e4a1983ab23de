#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace varnholt {

// The visual-style manifest: while it exists the program runs with the
// themed look. Writing it for the first time restarts the program once, so
// that the new instance starts themed; the program removes it again when it
// ends.
struct ManifestPlace {
  QString folder;         // the per-user data folder: an installed program's folder is read-only
  QString executableName; // the executable's file name, "varnholt"
  QString version;        // major "." minor "." revision ".0"
  QString description;    // the executable's file description

  // <folder>/<executable file name>.manifest
  QString path() const;
  // This program's own manifest.
  static ManifestPlace ForThisProgram();
};

// The 22 lines of the manifest with the placeholders filled in, CR LF after
// each.
QByteArray ManifestText(const ManifestPlace &place);

// Starts a new instance of the program with the arguments of this one.
class Restarter {
public:
  virtual ~Restarter() = default;
  // True when the new instance was started.
  virtual bool restart() = 0;
};

// The real restarter: this executable with the given arguments, detached.
// The new instance is marked so that it never restarts in its turn, whatever
// happens to the manifest in between.
class ProcessRestarter : public Restarter {
public:
  using StartFunction = std::function<bool(const QString &program, const QStringList &arguments)>;
  // start: empty starts the process for real; tests record instead.
  explicit ProcessRestarter(QStringList arguments, StartFunction start = {});
  bool restart() override;

  // True in an instance that a restart started. Takes the mark off, so
  // that nothing this instance starts inherits it.
  static bool TakeRestartedMark();

private:
  QStringList arguments_;
  StartFunction start_;
};

struct ManifestWrite {
  bool existed = false;   // a manifest was there before the call
  bool written = false;   // this call wrote it
  bool restarted = false; // a new instance was started: this one must end at once
};

// With restart, an existing manifest is left alone and a new one is followed
// by a restart (when a restarter is given). Every failure is passed over: a
// folder that cannot be written means no manifest, no restart and a plain
// run.
ManifestWrite WriteManifest(const ManifestPlace &place, bool restart, bool overwrite,
                            Restarter *restarter);
// True when the manifest is gone without error.
bool DeleteManifest(const ManifestPlace &place);

} // namespace varnholt
