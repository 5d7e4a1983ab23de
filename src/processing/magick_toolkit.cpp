#include "processing/magick_toolkit.h"

#include "platform/failure.h"
#include "platform/file_ops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <functional>
#include <mutex>
#include <unistd.h>
#include <vector>

#include <wand/MagickWand.h>

namespace varnholt {

namespace {

enum class Command { Identify, Convert, Mogrify };

const char *ProgramName(Command c) {
  switch (c) {
  case Command::Identify: return "identify";
  case Command::Convert: return "convert";
  case Command::Mogrify: return "mogrify";
  }
  return "";
}

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

// An extension ImageMagick may see: letters and digits only.
QString SafeExtension(const QString &path) {
  const QString name = QFileInfo(path).fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot <= 0) return QString();
  const QString ext = name.mid(dot + 1);
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
  return plain.match(ext).hasMatch() ? ext : QString();
}

QString WithoutExtension(const QString &path, const QString &extension) {
  return extension.isEmpty() ? path : path.left(path.size() - extension.size() - 1);
}

QString SafeScratchRoot() {
  // TMPDIR itself must not hold anything ImageMagick would interpret.
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._-]+$"));
  const QString temp = QDir::tempPath();
  return plain.match(temp).hasMatch() ? temp : QStringLiteral("/tmp");
}

void MakeLink(const QString &target, const QString &link) {
  if (::symlink(Native(target).constData(), Native(link).constData()) != 0)
    throw Failure::fromErrno(errno, link);
}

// One call's safe names and what they stand for; undoes its traces on exit.
class Call {
public:
  Call(const QString &scratch, int number) : dir_(scratch + "/c" + QString::number(number)) {
    if (!QDir().mkpath(dir_)) throw Failure::fromErrno(errno, dir_);
  }
  ~Call() {
    for (const QString &path : cleanup_) ::unlink(Native(path).constData());
    QDir().rmdir(dir_);
  }

  // An input as ImageMagick may see it.
  QString input(const QString &real) {
    const QString absolute = QFileInfo(real).absoluteFilePath();
    const QString ext = SafeExtension(absolute);
    const QString link = dir_ + "/in" + (ext.isEmpty() ? QString() : "." + ext);
    MakeLink(absolute, link);
    cleanup_ << link;
    aliases_.push_back({link, real});
    return link;
  }

  // An output folder as ImageMagick may see it, and the hidden stem under
  // which results are written there before they get their real names.
  struct Output {
    QString real;       // the file the caller named
    QString realStem;   // real without its extension
    QString hiddenStem; // in the real folder
    QString extension;  // kept when safe, else empty
    QString seenStem;   // hiddenStem as ImageMagick sees it
  };
  Output output(const QString &real) {
    Output out;
    out.real = QFileInfo(real).absoluteFilePath();
    out.extension = SafeExtension(out.real);
    out.realStem = WithoutExtension(out.real, out.extension);
    const QString folder = QFileInfo(out.real).absolutePath();
    out.hiddenStem = WithoutExtension(UniqueHiddenName(folder, out.extension), out.extension);
    const QString folderLink = dir_ + "/out";
    MakeLink(folder, folderLink);
    cleanup_ << folderLink;
    out.seenStem = folderLink + "/" + QFileInfo(out.hiddenStem).fileName();
    aliases_.push_back({out.seenStem, out.realStem});
    aliases_.push_back({out.hiddenStem, out.realStem});
    return out;
  }

  // ImageMagick's words with our safe names turned back into the user's.
  QString unalias(QString text) const {
    for (const auto &[safe, real] : aliases_) text.replace(safe, real);
    return text;
  }

private:
  QString dir_;
  QStringList cleanup_;
  std::vector<std::pair<QString, QString>> aliases_;
};

QString Named(const Call::Output &out, const QString &ext) {
  return ext.isEmpty() ? out.hiddenStem : out.hiddenStem + "." + ext;
}

QString SeenName(const Call::Output &out) {
  return out.extension.isEmpty() ? out.seenStem : out.seenStem + "." + out.extension;
}

// Every file ImageMagick wrote under the hidden stem, in the output folder.
// Mostly the one expected name; a multi-frame image may give stem-0.ext, ...
QStringList Written(const Call::Output &out, const QString &expected) {
  if (QFileInfo::exists(expected)) return {expected};
  QDir folder(QFileInfo(out.hiddenStem).absolutePath());
  QStringList found;
  const QString stem = QFileInfo(out.hiddenStem).fileName();
  for (const QString &name :
       folder.entryList({stem + "*"}, QDir::Files | QDir::Hidden | QDir::System))
    if (!name.endsWith(u'~')) found << folder.absoluteFilePath(name);
  return found;
}

void RemoveHidden(const Call::Output &out) {
  QDir folder(QFileInfo(out.hiddenStem).absolutePath());
  const QString stem = QFileInfo(out.hiddenStem).fileName();
  for (const QString &name :
       folder.entryList({stem + "*"}, QDir::Files | QDir::Hidden | QDir::System))
    ::unlink(Native(folder.absoluteFilePath(name)).constData());
}

void RenameWritten(const Call::Output &out, const QStringList &written) {
  for (const QString &path : written)
    RenameReplacing(path, out.realStem + path.mid(out.hiddenStem.size()));
}

// Runs one command. Warnings are not failures; an error, or a command that
// fails without saying why, is.
QString Run(Command command, const QStringList &args, const Call &call, const QString &subject) {
  std::vector<QByteArray> words;
  words.reserve(args.size() + 1);
  words.emplace_back(ProgramName(command));
  for (const QString &arg : args) words.push_back(arg.toUtf8());
  std::vector<char *> argv;
  for (QByteArray &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  ImageInfo *info = AcquireImageInfo();
  ExceptionInfo *exception = AcquireExceptionInfo();
  char *metadata = nullptr;
  MagickBooleanType status = MagickFalse;
  const int argc = static_cast<int>(argv.size() - 1);
  switch (command) {
  case Command::Identify:
    status = IdentifyImageCommand(info, argc, argv.data(), &metadata, exception);
    break;
  case Command::Convert:
    status = ConvertImageCommand(info, argc, argv.data(), &metadata, exception);
    break;
  case Command::Mogrify:
    status = MogrifyImageCommand(info, argc, argv.data(), &metadata, exception);
    break;
  }
  const QString text = metadata ? QString::fromUtf8(metadata) : QString();
  if (metadata) metadata = static_cast<char *>(RelinquishMagickMemory(metadata));

  const ExceptionType severity = exception->severity;
  QString message;
  if (exception->reason) message = QString::fromUtf8(exception->reason);
  if (exception->description)
    message += " (" + QString::fromUtf8(exception->description) + ")";
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);

  if (severity >= ErrorException)
    throw Failure(static_cast<int>(severity), call.unalias(message));
  if (status == MagickFalse) {
    QString why = QStringLiteral("ImageMagick's ") + ProgramName(command) +
                  " could not process " + subject;
    if (!message.isEmpty()) why += ": " + call.unalias(message);
    throw Failure(kErrToolkit, why);
  }
  return text;
}

void RequireFile(const QStringList &args, int count, const char *program) {
  if (args.size() < count)
    throw Failure(kErrToolkit, QStringLiteral("ImageMagick's ") + program + " was given no file");
}

} // namespace

void MagickToolkit::initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    MagickWandGenesis();
    // Jobs run side by side instead; ImageMagick's own threads gain nothing here.
    SetMagickResourceLimit(ThreadResource, 1);
  });
}

MagickToolkit::MagickToolkit() : scratch_(SafeScratchRoot() + "/varnholt-XXXXXX") {
  initialise();
  if (!scratch_.isValid())
    throw Failure(kErrToolkit, "Cannot create a scratch folder: " + scratch_.errorString());
}

MagickToolkit::~MagickToolkit() = default;

QString MagickToolkit::identify(const QStringList &args) {
  RequireFile(args, 1, "identify");
  Call call(scratch_.path(), ++calls_);
  QStringList words = args;
  // Only the first frame: a GIF's every frame would otherwise repeat the
  // template one after another ("200x100200x100...").
  words.last() = call.input(args.last()) + "[0]";
  return Run(Command::Identify, words, call, args.last());
}

void MagickToolkit::convert(const QStringList &args) {
  RequireFile(args, 2, "convert");
  Call call(scratch_.path(), ++calls_);
  QStringList words = args;
  words[words.size() - 2] = call.input(args[args.size() - 2]);
  const Call::Output out = call.output(args.last());
  words.last() = SeenName(out);
  try {
    Run(Command::Convert, words, call, args[args.size() - 2]);
    const QStringList written = Written(out, Named(out, out.extension));
    if (written.isEmpty())
      throw Failure(kErrToolkit, "ImageMagick's convert wrote no file for " + args.last());
    RenameWritten(out, written);
  } catch (...) {
    RemoveHidden(out);
    throw;
  }
}

void MagickToolkit::mogrify(const QStringList &args) {
  RequireFile(args, 1, "mogrify");
  Call call(scratch_.path(), ++calls_);
  const QString real = args.last();
  const Call::Output out = call.output(real);
  const QString hidden = Named(out, out.extension);
  // The file is worked on under a second name; the original name keeps the
  // old contents until the result is renamed over it.
  if (::link(Native(out.real).constData(), Native(hidden).constData()) != 0) {
    if (errno == ENOENT) throw Failure::fromErrno(ENOENT, real);
    CopyFileReplacing(out.real, hidden);
  }
  QStringList words = args;
  words.last() = SeenName(out);
  // With -format the result is a copy beside the file, named for the format.
  QString expected = hidden;
  if (const qsizetype at = args.lastIndexOf(QStringLiteral("-format")); at >= 0 && at + 1 < args.size())
    expected = out.hiddenStem + "." + args[at + 1];
  try {
    Run(Command::Mogrify, words, call, real);
    const QStringList written = Written(out, expected);
    if (written.isEmpty())
      throw Failure(kErrToolkit, "ImageMagick's mogrify wrote no file for " + real);
    RenameWritten(out, written);
    ::unlink(Native(hidden).constData());
  } catch (...) {
    RemoveHidden(out);
    throw;
  }
}

} // namespace varnholt
