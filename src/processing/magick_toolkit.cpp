#include "processing/magick_toolkit.h"

#include "platform/failure.h"
#include "platform/file_ops.h"
#include "platform/owner_tag.h"
#include "processing/magick_policy.h"
#include "processing/pair_stage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

// ImageMagick's own temporary files (a large picture's pixel cache) go into a
// scratch folder that lives as long as any toolkit does, and each toolkit's
// safe names into one of its own. They go with their owner; a process that
// was killed leaves them to the next run, which can tell from their names
// that it is gone.
std::mutex gScratchMutex;
int gToolkits = 0; // under the mutex
std::unique_ptr<QTemporaryDir> gMagickScratch;

QString ScratchTemplate() { return ScratchRoot() + "/varnholt-" + OwnerTag() + "-XXXXXX"; }

void HoldMagickScratch() {
  std::lock_guard lock(gScratchMutex);
  if (gToolkits++ > 0 && gMagickScratch && gMagickScratch->isValid()) return;
  // No toolkit, so no ImageMagick call, is under way while this changes.
  gMagickScratch = std::make_unique<QTemporaryDir>(ScratchTemplate());
  if (gMagickScratch->isValid())
    qputenv("MAGICK_TEMPORARY_PATH", QFile::encodeName(gMagickScratch->path()));
}

void ReleaseMagickScratch() {
  std::lock_guard lock(gScratchMutex);
  if (--gToolkits == 0) gMagickScratch.reset();
}

QString Named(const QString &stem, const QString &ext) {
  return ext.isEmpty() ? stem : stem + "." + ext;
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
    for (const QString &path : cleanup_)
      ::unlink(Native(path).constData());
    QDir().rmdir(dir_);
  }

  // An input as ImageMagick may see it.
  QString input(const QString &real) {
    // Asked again for the same file (after the decoded-picture path gave
    // up on it), the same link serves.
    for (const auto &[safe, name] : aliases_)
      if (name == real && safe.startsWith(dir_ + "/in")) return safe;
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
    // ImageMagick's message for a folder it cannot write to carries the errno
    // of a later call ("No such file or directory"): trying the name first
    // gives the real reason.
    const QByteArray probe = Native(Named(out.hiddenStem, out.extension));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw Failure::fromErrno(errno, out.real);
    ::close(fd);
    ::unlink(probe.constData());
    const QString folderLink = dir_ + "/out";
    MakeLink(folder, folderLink);
    cleanup_ << folderLink;
    out.seenStem = folderLink + "/" + QFileInfo(out.hiddenStem).fileName();
    aliases_.push_back({out.seenStem, out.realStem});
    aliases_.push_back({out.hiddenStem, out.realStem});
    return out;
  }

  void alias(const QString &safe, const QString &real) { aliases_.push_back({safe, real}); }

  // ImageMagick's words with our safe names turned back into the user's.
  QString unalias(QString text) const {
    for (const auto &[safe, real] : aliases_)
      text.replace(safe, real);
    return text;
  }

private:
  QString dir_;
  QStringList cleanup_;
  std::vector<std::pair<QString, QString>> aliases_;
};

QString Named(const Call::Output &out, const QString &ext) { return Named(out.hiddenStem, ext); }

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

thread_local QStringList tWarnings;

void Warn(const QString &text) {
  if (!text.isEmpty() && !tWarnings.contains(text)) tWarnings << text;
}

// Runs one command. Warnings are not failures; an error, or a command that
// fails without saying why, is.
QString Run(Command command, const QStringList &args, const Call &call, const QString &subject) {
  std::vector<QByteArray> words;
  words.reserve(args.size() + 1);
  words.emplace_back(ProgramName(command));
  for (const QString &arg : args)
    words.push_back(arg.toUtf8());
  std::vector<char *> argv;
  for (QByteArray &w : words)
    argv.push_back(w.data());
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
  if (exception->description) message += " (" + QString::fromUtf8(exception->description) + ")";
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);

  if (severity >= ErrorException) throw Failure(static_cast<int>(severity), call.unalias(message));
  if (status == MagickFalse) {
    QString why =
        QStringLiteral("ImageMagick's ") + ProgramName(command) + " could not process " + subject;
    if (!message.isEmpty()) why += ": " + call.unalias(message);
    throw Failure(kErrToolkit, why);
  }
  if (severity >= WarningException) Warn(call.unalias(message));
  return text;
}

void RequireFile(const QStringList &args, int count, const char *program) {
  if (args.size() < count)
    throw Failure(kErrToolkit, QStringLiteral("ImageMagick's ") + program + " was given no file");
}

// A file as it is on disk now: any rewrite changes one of these.
struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileKey &) const = default;
};

std::optional<FileKey> KeyOf(const QString &path) {
  struct stat st {};
  if (::stat(Native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileKey{st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
                 st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

QByteArray Digest(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Blake2b_256);
  if (!hash.addData(&file)) return {};
  return hash.result();
}

bool IsWord(const QString &text) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
  return plain.match(text).hasMatch();
}

// The calls whose input may come from a picture decoded earlier: the ones a
// run makes. Only settings that do not change how a file is decoded may
// come before the input.
bool IsReusableConvert(const QStringList &args) {
  if (args.size() < 2) return false;
  for (qsizetype i = 0; i + 2 < args.size(); ++i) {
    const QString &a = args[i];
    if ((a == "-quality" || a == "-crop") && i + 3 < args.size())
      ++i;
    else if (a != "+repage")
      return false;
  }
  return true;
}

// mogrify with "-quality Q" and either "-format F" or "[-antialias] -geometry G".
struct ReusableMogrify {
  QStringList options; // for convert, before the decoded input
  QString format;      // set for a format change
};
std::optional<ReusableMogrify> AsReusableMogrify(const QStringList &args) {
  ReusableMogrify m;
  bool geometry = false;
  for (qsizetype i = 0; i + 1 < args.size(); ++i) {
    const QString &a = args[i];
    if (a == "-quality" && i + 2 < args.size()) {
      m.options << a << args[++i];
    } else if (a == "-antialias") {
      m.options << a;
    } else if (a == "-geometry" && i + 2 < args.size() && !geometry) {
      m.options << a << args[++i];
      geometry = true;
    } else if (a == "-format" && i + 2 < args.size() && m.format.isEmpty() && IsWord(args[i + 1])) {
      m.format = args[++i];
    } else {
      return std::nullopt;
    }
  }
  if (geometry == !m.format.isEmpty()) return std::nullopt; // exactly one of the two
  return m;
}

} // namespace

// Every operation of a run starts by decoding the same image, and a resize
// decodes the file that the format change decoded just before; a whole-image
// operation works on a byte-for-byte copy of the image. Decoding is most of
// the time a run takes, so the last two pictures decoded stay in
// ImageMagick's registry and are handed to the next command that reads the
// same file, or a file with the same contents, as "mpr:". The commands are
// the ones ImageMagick would run on the file, so the pixels written are the
// same.
struct MagickToolkit::DecodedCache {
  struct Entry {
    QString path;
    FileKey key;
    QByteArray digest; // worked out when first needed
    QString registryKey;
    quint64 lastUse = 0;
    QString warning; // from decoding; every reuse warns again
  };
  std::vector<Entry> entries;
  quint64 clock = 0;
  int next = 0;
  QString prefix;

  ~DecodedCache() { clear(); }

  void clear() {
    for (const Entry &e : entries)
      DeleteImageRegistry(e.registryKey.toLatin1().constData());
    entries.clear();
  }

  // The registry name of the file's picture, decoding it when needed; empty
  // when it cannot or should not be kept (the command then reads the file).
  QString find(const QString &real, Call &call, std::atomic<int> &reuses) {
    const std::optional<FileKey> key = KeyOf(real);
    if (!key) return {};
    QByteArray digest;
    for (Entry &e : entries) {
      if (e.key == *key) {
        e.lastUse = ++clock;
        ++reuses;
        Warn(e.warning);
        return e.registryKey;
      }
    }
    // Only a file of the same size can be a copy; hashing is cheap next to
    // decoding, but not free.
    for (Entry &e : entries) {
      if (e.key.size != key->size) continue;
      if (e.digest.isEmpty()) {
        if (KeyOf(e.path) != e.key) continue;
        e.digest = Digest(e.path);
        if (e.digest.isEmpty() || KeyOf(e.path) != e.key) {
          e.digest.clear();
          continue;
        }
      }
      if (digest.isEmpty()) digest = Digest(real);
      if (!digest.isEmpty() && digest == e.digest && KeyOf(real) == key) {
        e.lastUse = ++clock;
        ++reuses;
        Warn(e.warning);
        return e.registryKey;
      }
    }
    return decode(real, *key, call);
  }

private:
  QString decode(const QString &real, const FileKey &key, Call &call) {
    ImageInfo *info = AcquireImageInfo();
    ExceptionInfo *exception = AcquireExceptionInfo();
    const QByteArray link = call.input(real).toUtf8();
    CopyMagickString(info->filename, link.constData(), MaxTextExtent);
    Image *image = ReadImage(info, exception);
    const bool usable = image && exception->severity < ErrorException &&
                        GetImageListLength(image) == 1 && KeyOf(real) == key;
    QString registryKey, warning;
    if (usable && exception->severity >= WarningException)
      warning = call.unalias(QString::fromUtf8(exception->reason ? exception->reason : "") +
                             (exception->description
                                  ? " (" + QString::fromUtf8(exception->description) + ")"
                                  : QString()));
    if (usable) {
      registryKey = prefix + QString::number(++next);
      if (SetImageRegistry(ImageRegistryType, registryKey.toLatin1().constData(), image,
                           exception) == MagickFalse)
        registryKey.clear();
    }
    if (image) DestroyImageList(image);
    DestroyExceptionInfo(exception);
    DestroyImageInfo(info);
    if (registryKey.isEmpty()) return {};
    if (entries.size() >= 2) {
      auto oldest =
          std::min_element(entries.begin(), entries.end(),
                           [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
      DeleteImageRegistry(oldest->registryKey.toLatin1().constData());
      entries.erase(oldest);
    }
    entries.push_back({real, key, QByteArray(), registryKey, ++clock, warning});
    Warn(warning);
    return registryKey;
  }
};

QStringList MagickToolkit::takeWarnings() { return std::exchange(tWarnings, {}); }

void MagickToolkit::initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    StartMagick(); // with the program's own security policy and limits
    // Jobs run side by side instead; ImageMagick's own threads gain nothing here.
    SetMagickResourceLimit(ThreadResource, 1);
  });
}

MagickToolkit::MagickToolkit()
    : scratch_((initialise(), ScratchTemplate())), cache_(std::make_unique<DecodedCache>()) {
  cache_->prefix = QStringLiteral("varnholt%1x").arg(quintptr(this), 0, 16);
  if (!scratch_.isValid())
    throw Failure(kErrToolkit, "Cannot create a scratch folder: " + scratch_.errorString());
  HoldMagickScratch();
}

MagickToolkit::~MagickToolkit() {
  cache_.reset(); // its pictures may have pixels in the scratch folder
  ReleaseMagickScratch();
}

void MagickToolkit::releaseDecoded() {
  std::lock_guard lock(cacheMutex_);
  cache_->clear();
}

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
  std::unique_lock<std::mutex> cacheLock(cacheMutex_, std::defer_lock);
  QString decoded;
  if (reuseDecoded_ && IsReusableConvert(args)) {
    cacheLock.lock();
    decoded = cache_->find(args[args.size() - 2], call, reuses_);
  }
  if (decoded.isEmpty()) {
    if (cacheLock.owns_lock()) cacheLock.unlock();
    words[words.size() - 2] = call.input(args[args.size() - 2]);
  } else {
    words[words.size() - 2] = "mpr:" + decoded;
    call.alias("mpr:" + decoded, args[args.size() - 2]);
  }
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
  if (const std::optional<ReusableMogrify> reusable =
          reuseDecoded_ ? AsReusableMogrify(args) : std::nullopt) {
    std::lock_guard cacheLock(cacheMutex_);
    if (const QString decoded = cache_->find(real, call, reuses_); !decoded.isEmpty()) {
      // The same steps as mogrify's, on the picture already decoded: the
      // result goes to a hidden name and replaces the file (or, with a
      // format, becomes the copy beside it) only when it is complete.
      call.alias("mpr:" + decoded, real);
      const QString ext = reusable->format.isEmpty() ? out.extension : reusable->format;
      QStringList words = reusable->options;
      words << "mpr:" + decoded << (ext.isEmpty() ? out.seenStem : out.seenStem + "." + ext);
      try {
        Run(Command::Convert, words, call, real);
        const QStringList written = Written(out, Named(out, ext));
        if (written.isEmpty())
          throw Failure(kErrToolkit, "ImageMagick's mogrify wrote no file for " + real);
        RenameWritten(out, written);
      } catch (...) {
        RemoveHidden(out);
        throw;
      }
      return;
    }
  }
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
  if (const qsizetype at = args.lastIndexOf(QStringLiteral("-format"));
      at >= 0 && at + 1 < args.size())
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

int MagickToolkit::frameCount(const QString &path) {
  Call call(scratch_.path(), ++calls_);
  const QByteArray link = QFile::encodeName(call.input(path));
  ImageInfo *info = AcquireImageInfo();
  ExceptionInfo *exception = AcquireExceptionInfo();
  CopyMagickString(info->filename, link.constData(), MaxTextExtent);
  Image *images = PingImage(info, exception);
  const size_t frames = images ? GetImageListLength(images) : 0;
  if (images) DestroyImageList(images);
  const ExceptionType severity = exception->severity;
  QString message;
  if (exception->reason) message = QString::fromUtf8(exception->reason);
  if (exception->description) message += " (" + QString::fromUtf8(exception->description) + ")";
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);
  if (severity >= ErrorException) throw Failure(int(severity), call.unalias(message));
  if (frames == 0)
    throw Failure(kErrToolkit, "ImageMagick could not read the frames of " + path +
                                   (message.isEmpty() ? "" : ": " + call.unalias(message)));
  return int(std::min<size_t>(frames, 1000000));
}

} // namespace varnholt
