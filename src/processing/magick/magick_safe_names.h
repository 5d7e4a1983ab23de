#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// ImageMagick reads "%d", "[...]", "@", ":" and the like in file names as
// instructions, so it never sees a user's name: inputs reach it as links in a
// private scratch folder, outputs are written under a hidden name in their own
// folder and renamed into place once complete.
namespace varnholt::magick {

QByteArray Native(const QString &path);

// Letters and digits only, at most 16: safe for ImageMagick to see as an
// extension or a format.
bool IsPlainWord(const QString &text);

// The template of a scratch folder named for this process, so a later run can
// tell that the process that made it is gone.
QString ScratchTemplate();

// ImageMagick's own temporary files (a large picture's pixel cache) go into a
// scratch folder that lives as long as any toolkit does: each toolkit holds
// it while it lives.
void HoldMagickScratch();
void ReleaseMagickScratch();

// One call's safe names and what they stand for; undoes its traces on exit.
class Call {
public:
  Call(const QString &scratch, int number);
  ~Call();
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  // An input as ImageMagick may see it.
  QString input(const QString &real);

  // An output folder as ImageMagick may see it, and the hidden stem under
  // which results are written there before they get their real names.
  struct Output {
    QString real;       // the file the caller named
    QString realStem;   // real without its extension
    QString hiddenStem; // in the real folder
    QString extension;  // kept when safe, else empty
    QString seenStem;   // hiddenStem as ImageMagick sees it
  };
  Output output(const QString &real);

  void alias(const QString &safe, const QString &real) { aliases_.push_back({safe, real}); }

  // ImageMagick's words with our safe names turned back into the user's.
  QString unalias(QString text) const;

private:
  QString folder_;
  QStringList cleanup_;
  std::vector<std::pair<QString, QString>> aliases_;
};

// The output's hidden name with the extension ext.
QString Named(const Call::Output &out, const QString &ext);
// The output's hidden name as ImageMagick sees it.
QString SeenName(const Call::Output &out);

// Every file ImageMagick wrote under the hidden stem, in the output folder.
// Mostly the one expected name; a multi-frame image may give stem-0.ext, ...
QStringList Written(const Call::Output &out, const QString &expected);
void RemoveHidden(const Call::Output &out);
// Gives what was written the user's name, replacing what was there.
void RenameWritten(const Call::Output &out, const QStringList &written);

} // namespace varnholt::magick
