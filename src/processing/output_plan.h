#pragma once

#include "operations/operation.h"
#include "platform/failure.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

class QDataStream;

namespace varnholt {

// prefix + the name before its last dot + suffix + the extension with its dot.
QString TargetName(const QString &inputName, const Operation &op);

// What follows a name's last dot; empty without one.
QString Extension(const QString &name);
// Whether the operation writes another format than the image is in: a format
// is chosen and the image's extension does not name it already.
bool ChangesFormat(const QString &inputName, const Operation &op);
// The one file a pair writes: the target name with, when the format changes,
// the chosen format's text for its extension ("web_Beach.JPG").
QString ResultName(const QString &inputName, const Operation &op);

// True for the formats that keep every frame of an image in one file. The
// others get one file per frame from ImageMagick: name-0.ext, name-1.ext, ...
bool FormatHoldsFrames(const QString &extension);

// Every file one operation on one image writes, by name in its output folder:
// the result and, for an image of several frames written where a file holds
// one, the frame files ImageMagick wrote instead (known once they are).
struct PairPlan {
  QString folder;
  QString target;
  QStringList frameFiles;

  QStringList names() const;
  QString path(const QString &name) const { return folder + u'/' + name; }
};

PairPlan PlanPair(const QString &folder, const QString &inputName, const Operation &op);
// The output folder as plans (and the run's folder handles) name it.
QString PlanFolder(const QString &folder);
// The folder `subfolder` ("2024/jan") of `folder` as plans name it; the
// folder itself for an empty one.
QString SubfolderOf(const QString &folder, const QString &subfolder);
// A pair of an image named by its path in a listing ("2024/a.jpg"): its
// files go into the same subfolder of the output folder.
PairPlan PlanImagePair(const QString &outputFolder, const QString &image, const Operation &op);
// The subfolder ("2024/jan") of `inputFolder` that holds the image at
// `inputPath`; empty for an image of the folder itself.
QString ImageSubfolderIn(const QString &inputFolder, const QString &inputPath);
// A file name without its last dot and what follows it.
QString Stem(const QString &name);
// Of the names written for a pair, the frame files of its result: the stem,
// "-", a number, and the result's extension. ImageMagick numbers them after
// the frames' own scene numbers, which need not start at 0.
QStringList FrameFilesOf(const QString &target, const QStringList &written);

// Of the images listed in one folder, those that one of `operations` would
// write from another of them under its result's name, or under the "-2",
// "-3", ... names a run that keeps both gives (whatever the setting is now: a
// run that replaces must not take the copies of an earlier one for photos):
// results of an earlier run of the same list beside the images, not pictures
// of the user's. An image is never a result of itself. A name that only looks
// like the first frame files of a result ("-0", "-1") is not taken for one: it
// may as well be the user's.
// Images of subfolders ("2024/web_a.jpg") are results only of images of the
// same subfolder.
QStringList EarlierResults(const QStringList &images, const std::vector<Operation> &operations);

// One pair of a run, as the claims name it.
struct PairRef {
  QString image;    // the image's path
  QString key;      // the image and the whole operation
  int position = 0; // the operation's place in its list, 1-based; 0 when unknown
};
QString PairKey(const QString &imagePath, const Operation &op);

// What the pairs of one run write and which images it reads. No pair may write
// over an image of the run, nor over a file another pair of the run writes.
// An image is the same file when the file system says so (device and inode)
// or its name is; pairs meet by name, in the folder as resolved once per run.
class RunClaims {
public:
  void addSource(const QString &path);

  struct Clash {
    enum Kind { None, OwnImage, OtherImage, OtherPair } kind = None;
    QString path;  // the file that may not be written
    PairRef other; // the image (OwnImage, OtherImage) or the pair (OtherPair)
    explicit operator bool() const { return kind != None; }
  };
  // Claims the files in run order. A pair claiming again is fine; another
  // pair's file is a clash, and then nothing of this pair is claimed.
  Clash claim(const PairRef &pair, const QStringList &paths);
  // Files known only once the image is open (its frame files): they may not
  // be an image of the run nor a file any other pair claimed. Nothing is
  // claimed, so the answer does not depend on the order pairs run in.
  Clash check(const PairRef &pair, const QStringList &paths) const;

  friend QDataStream &operator<<(QDataStream &out, const RunClaims &claims);
  friend QDataStream &operator>>(QDataStream &in, RunClaims &claims);

private:
  QStringList keysOf(const QString &path) const;
  Clash find(const PairRef &pair, const QStringList &own, const QString &path,
             const QStringList &keys) const;

  std::vector<PairRef> owners_;
  QHash<QString, int> sources_;               // file key -> owner
  QHash<QString, int> claims_;                // file key -> owner
  QHash<QString, int> ownerOf_;               // pair key -> owner
  mutable QHash<QString, QString> canonical_; // folder as given -> as the file system has it
};

// The failure a clash makes for the pair that may not run.
Failure ClashFailure(const RunClaims::Clash &clash);

} // namespace varnholt
