#pragma once

#include <QByteArrayList>
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

// The real restarter: this very executable takes the place of the running
// process (execv: same process id, same arguments, same environment), so a
// terminal keeps waiting and a start costs one program start. The new image
// is marked so that it never restarts in its turn, whatever happens to the
// manifest in between.
class ProcessRestarter : public Restarter {
public:
  // Replaces the process; returns only when that failed.
  using ExecFunction = std::function<bool(const QByteArray &program, const QByteArrayList &argv)>;
  // argv: main's, as it came, before anything took options out of it.
  // exec: empty replaces the process for real; tests record instead.
  explicit ProcessRestarter(QByteArrayList argv, ExecFunction exec = {});
  bool restart() override;

  // True in an instance that a restart started. Takes the mark off, so
  // that nothing this instance starts inherits it.
  static bool TakeRestartedMark();
  // What is executed: the file this process runs, even if its name has
  // since been given to another file.
  static QByteArray ThisExecutable();

private:
  QByteArrayList argv_;
  ExecFunction exec_;
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
