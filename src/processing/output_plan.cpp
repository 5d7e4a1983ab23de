#include "processing/output_plan.h"

#include <QRegularExpression>

#include "platform/failure.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <sys/stat.h>

namespace varnholt {

QString Extension(const QString &name) {
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QString() : name.mid(dot + 1);
}

bool ChangesFormat(const QString &inputName, const Operation &op) {
  if (KeepsFormat(op.OutputFormat)) return false;
  const QString extension = Extension(inputName);
  return extension.isEmpty() || FormatName(extension) != FormatName(op.OutputFormat);
}

QString TargetName(const QString &inputName, const Operation &op) {
  const qsizetype dot = inputName.lastIndexOf(u'.');
  if (dot < 0) return op.Prefix + inputName + op.Suffix;
  return op.Prefix + inputName.left(dot) + op.Suffix + inputName.mid(dot);
}

QString ResultName(const QString &inputName, const Operation &op) {
  if (!ChangesFormat(inputName, op)) return TargetName(inputName, op);
  return op.Prefix + Stem(inputName) + op.Suffix + u'.' + op.OutputFormat;
}

bool FormatHoldsFrames(const QString &extension) {
  for (const char *format : {"gif", "tif", "tiff", "miff", "webp"})
    if (extension.compare(QLatin1String(format), Qt::CaseInsensitive) == 0) return true;
  return false;
}

QStringList PairPlan::names() const { return QStringList{target} + frameFiles; }

QString Stem(const QString &name) {
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? name : name.left(dot);
}

QString PlanFolder(const QString &folder) {
  return folder.endsWith(u'/') && folder.size() > 1 ? folder.chopped(1) : folder;
}

QString SubfolderOf(const QString &folder, const QString &subfolder) {
  const QString plan = PlanFolder(folder);
  if (subfolder.isEmpty()) return plan;
  return (plan.endsWith(u'/') ? plan : plan + u'/') + subfolder;
}

PairPlan PlanImagePair(const QString &outputFolder, const QString &image, const Operation &op) {
  const qsizetype slash = image.lastIndexOf(u'/');
  if (slash < 0) return PlanPair(outputFolder, image, op);
  return PlanPair(SubfolderOf(outputFolder, image.left(slash)), image.mid(slash + 1), op);
}

QString ImageSubfolderIn(const QString &inputFolder, const QString &inputPath) {
  const QString top = inputFolder.endsWith(u'/') ? inputFolder : inputFolder + u'/';
  if (inputFolder.isEmpty() || !inputPath.startsWith(top)) return {};
  const qsizetype slash = inputPath.lastIndexOf(u'/');
  return slash < top.size() ? QString() : inputPath.mid(top.size(), slash - top.size());
}

PairPlan PlanPair(const QString &folder, const QString &inputName, const Operation &op) {
  PairPlan plan;
  plan.folder = PlanFolder(folder);
  plan.target = ResultName(inputName, op);
  return plan;
}

QStringList FrameFilesOf(const QString &target, const QStringList &written) {
  const QString extension = Extension(target);
  const QString stem = (extension.isEmpty() ? target : Stem(target)) + u'-';
  const QString tail = extension.isEmpty() ? QString() : u'.' + extension;
  QStringList frames;
  for (const QString &name : written) {
    if (!name.startsWith(stem) || !name.endsWith(tail)) continue;
    const QStringView number =
        QStringView(name).mid(stem.size(), name.size() - stem.size() - tail.size());
    if (!number.isEmpty() && number.size() <= 9 &&
        std::all_of(number.begin(), number.end(),
                    [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
      frames << name;
  }
  return frames;
}

QStringList EarlierResults(const QStringList &images, const std::vector<Operation> &operations) {
  // Every name the list would write, and from which image.
  QHash<QString, QString> writtenFrom;
  for (const QString &image : images) {
    // A result lies beside its image: in the image's own subfolder.
    const qsizetype slash = image.lastIndexOf(u'/');
    for (const Operation &op : operations)
      writtenFrom.insert(image.left(slash + 1) + ResultName(image.mid(slash + 1), op), image);
  }
  // A copy kept beside a result, whatever the setting is now: its name
  // without "-2", "-3", ... before the extension.
  static const QRegularExpression copy(QStringLiteral("^(.*)-([2-9]|[1-9][0-9]{1,8})(\\.[^.]*)?$"));
  QStringList results;
  for (const QString &name : images) {
    QString from = writtenFrom.value(name);
    if (from.isEmpty())
      if (const QRegularExpressionMatch m = copy.match(name); m.hasMatch())
        from = writtenFrom.value(m.captured(1) + m.captured(3));
    if (!from.isEmpty() && from != name) results << name;
  }
  return results;
}

QString PairKey(const QString &imagePath, const Operation &op) {
  return imagePath + u'\n' +
         QStringList{QString::number(op.Extract),
                     QString::number(op.TopLeftX),
                     QString::number(op.TopLeftY),
                     QString::number(op.BottomRightX),
                     QString::number(op.BottomRightY),
                     QString::number(op.Resize),
                     QString::number(op.ResizeMethod),
                     QString::number(op.ResizeWidth),
                     QString::number(op.ResizeHeight),
                     op.OutputFormat,
                     QString::number(op.JpgQuality),
                     op.Prefix,
                     op.Suffix,
                     QString::number(op.AspectWidth),
                     QString::number(op.AspectHeight)}
             .join(u'\n');
}

QStringList RunClaims::keysOf(const QString &path) const {
  const QFileInfo info(path);
  const QString given = info.absolutePath();
  auto at = canonical_.find(given);
  if (at == canonical_.end()) {
    const QString canonical = QFileInfo(given).canonicalFilePath();
    at = canonical_.insert(given, canonical.isEmpty() ? given : canonical);
  }
  const QString &folder = *at;
  QStringList keys{"n:" + folder + u'/' + info.fileName()};
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) == 0)
    keys << QStringLiteral("i:%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
  return keys;
}

void RunClaims::addSource(const QString &path) {
  const int owner = int(owners_.size());
  owners_.push_back({path, QString(), 0});
  for (const QString &key : keysOf(path))
    sources_.insert(key, owner);
}

RunClaims::Clash RunClaims::find(const PairRef &pair, const QStringList &own, const QString &path,
                                 const QStringList &keys) const {
  for (const QString &key : keys)
    if (own.contains(key)) return {Clash::OwnImage, path, {pair.image, QString(), 0}};
  for (const QString &key : keys)
    if (const auto at = sources_.constFind(key); at != sources_.cend())
      return {Clash::OtherImage, path, owners_[size_t(*at)]};
  // Pairs meet by name only: a file another run replaces meanwhile frees its
  // inode number for any new file, which must not look like a claimed one.
  if (const auto at = claims_.constFind(keys.first());
      at != claims_.cend() && owners_[size_t(*at)].key != pair.key)
    return {Clash::OtherPair, path, owners_[size_t(*at)]};
  return {};
}

RunClaims::Clash RunClaims::claim(const PairRef &pair, const QStringList &paths) {
  std::vector<QStringList> keys;
  const QStringList own = keysOf(pair.image);
  for (const QString &path : paths) {
    keys.push_back(keysOf(path));
    if (Clash clash = find(pair, own, path, keys.back())) return clash;
  }
  int owner = ownerOf_.value(pair.key, -1);
  if (owner < 0) {
    owner = int(owners_.size());
    owners_.push_back(pair);
    ownerOf_.insert(pair.key, owner);
  }
  for (const QStringList &k : keys)
    claims_.insert(k.first(), owner);
  return {};
}

RunClaims::Clash RunClaims::check(const PairRef &pair, const QStringList &paths) const {
  const QStringList own = keysOf(pair.image);
  for (const QString &path : paths)
    if (Clash clash = find(pair, own, path, keysOf(path))) return clash;
  return {};
}

QDataStream &operator<<(QDataStream &out, const RunClaims &claims) {
  out << qint32(claims.owners_.size());
  for (const PairRef &p : claims.owners_)
    out << p.image << p.key << qint32(p.position);
  return out << claims.sources_ << claims.claims_ << claims.ownerOf_;
}

QDataStream &operator>>(QDataStream &in, RunClaims &claims) {
  qint32 count = 0;
  in >> count;
  claims.owners_.clear();
  for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    PairRef p;
    qint32 position = 0;
    in >> p.image >> p.key >> position;
    p.position = position;
    claims.owners_.push_back(p);
  }
  in >> claims.sources_ >> claims.claims_ >> claims.ownerOf_;
  const qsizetype owners = qsizetype(claims.owners_.size());
  for (const auto *table : {&claims.sources_, &claims.claims_, &claims.ownerOf_})
    for (const int owner : *table)
      if (owner < 0 || owner >= owners) in.setStatus(QDataStream::ReadCorruptData);
  return in;
}

Failure ClashFailure(const RunClaims::Clash &clash) {
  switch (clash.kind) {
  case RunClaims::Clash::OwnImage:
    return Failure(kErrTargetIsSource,
                   "The result would replace the image itself, so it was not written: " +
                       clash.path);
  case RunClaims::Clash::OtherImage:
    return Failure(kErrTargetIsSource, "The result would replace the image " + clash.other.image +
                                           " of this run, so it was not written: " + clash.path);
  case RunClaims::Clash::OtherPair:
  case RunClaims::Clash::None: break;
  }
  return Failure(kErrWrittenByAnotherPair, "Another operation of this run writes this file for " +
                                               clash.other.image +
                                               ", so it was not written: " + clash.path);
}

} // namespace varnholt
