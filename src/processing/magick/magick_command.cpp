#include "processing/magick/magick_command.h"

#include "platform/failure.h"
#include "platform/image_toolkit.h"
#include "processing/magick/magick_metadata.h"
#include "processing/magick/magick_policy.h"
#include "processing/metadata_edit.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <wand/MagickWand.h>

namespace varnholt::magick {

namespace {

const char *ProgramName(Command c) {
  switch (c) {
  case Command::Identify: return "identify";
  case Command::Convert: return "convert";
  case Command::Mogrify: return "mogrify";
  }
  return "";
}

} // namespace

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    StartMagick(); // with the program's own security policy and limits
    // Jobs run side by side instead; ImageMagick's own threads gain nothing here.
    SetMagickResourceLimit(ThreadResource, 1);
  });
}

namespace {
thread_local QStringList tWarnings;
} // namespace

void Warn(const QString &text) {
  if (!text.isEmpty() && !tWarnings.contains(text)) tWarnings << text;
}

QStringList TakeWarnings() { return std::exchange(tWarnings, {}); }

namespace {
// ImageMagick's reason with its description in brackets, as its tools print them.
QString ExceptionText(const ExceptionInfo *exception) {
  QString message;
  if (exception->reason) message = QString::fromUtf8(exception->reason);
  if (exception->description) message += " (" + QString::fromUtf8(exception->description) + ")";
  return message;
}
} // namespace

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
  const QString message = ExceptionText(exception);
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

bool DamagedWhenRead(const ExceptionInfo *exception) {
  // libjpeg skips stray bytes between markers and the picture is whole; any
  // other damage it or another decoder reports leaves part of it made up.
  return exception->severity == CorruptImageWarning &&
         !(exception->reason && std::strstr(exception->reason, "extraneous bytes before marker"));
}

namespace {

// ImageMagick's calls take C strings; these live as long as the call.
class Words {
public:
  explicit Words(const QStringList &args) {
    for (const QString &arg : args)
      bytes_.push_back(arg.toUtf8());
    for (QByteArray &b : bytes_)
      pointers_.push_back(b.constData());
  }
  int count() const { return int(pointers_.size()); }
  const char **data() { return pointers_.data(); }

private:
  std::vector<QByteArray> bytes_;
  std::vector<const char *> pointers_;
};

} // namespace

void RunSteps(const QStringList &settings, const QString &input,
              const std::vector<QStringList> &steps, KeptMetadata kept, const QString &output,
              const Call &call, const QString &subject) {
  ImageInfo *info = AcquireImageInfo();
  ExceptionInfo *exception = AcquireExceptionInfo();
  Image *images = nullptr;
  const int last = int(steps.size()) - 1;
  // Whatever ImageMagick says, said in the step it said it in.
  const auto check = [&](int step, bool ok) {
    const ExceptionType severity = exception->severity;
    const QString message = ExceptionText(exception);
    if (severity >= ErrorException)
      throw StepFailure(step, Failure(int(severity), call.unalias(message)));
    if (!ok) {
      QString why = "ImageMagick's convert could not process " + subject;
      if (!message.isEmpty()) why += ": " + call.unalias(message);
      throw StepFailure(step, Failure(kErrToolkit, why));
    }
    if (severity >= WarningException) Warn(call.unalias(message));
    ClearMagickException(exception);
  };
  try {
    Words options(settings);
    check(0, MogrifyImageInfo(info, options.count(), options.data(), exception) != MagickFalse);
    const QByteArray name = input.toUtf8();
    CopyMagickString(info->filename, name.constData(), MaxTextExtent);
    images = ReadImages(info, exception);
    // A decoder's warnings are the picture's own; convert hands them on too.
    if (images) InheritException(exception, &images->exception);
    // A picture that is not all there (a file cut short, a damaged middle)
    // would come out with grey or smeared parts, as if it were a result.
    if (images && DamagedWhenRead(exception))
      throw StepFailure(
          0, Failure(int(exception->severity),
                     "The picture is damaged: " + call.unalias(ExceptionText(exception))));
    check(0, images != nullptr);
    for (int step = 0; step <= last; ++step) {
      Words operators(steps[size_t(step)]);
      if (operators.count() == 0) continue;
      // As convert applies them: one image's operators, then the list's.
      check(step, MogrifyImages(info, MagickTrue, operators.count(), operators.data(), &images,
                                exception) != MagickFalse &&
                      images != nullptr);
    }
    for (const QString &name : KeepMetadata(images, kept))
      Warn("its " + name + " metadata could not be read, so the result carries none of it");
    const QByteArray written = output.toUtf8();
    check(std::max(last, 0),
          WriteImages(info, images, written.constData(), exception) != MagickFalse);
  } catch (...) {
    if (images) DestroyImageList(images);
    DestroyExceptionInfo(exception);
    DestroyImageInfo(info);
    throw;
  }
  DestroyImageList(images);
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);
}

int PingOrientation(const QString &input, const Call &call, const QString &subject) {
  const QByteArray link = Native(input);
  ImageInfo *info = AcquireImageInfo();
  ExceptionInfo *exception = AcquireExceptionInfo();
  CopyMagickString(info->filename, link.constData(), MaxTextExtent);
  Image *images = PingImage(info, exception);
  int orientation = images ? int(images->orientation) : -1;
  // ImageMagick's WebP reader keeps the EXIF but does not read the turn from
  // it; a HEIC's reader turns the picture itself and says it is upright.
  if (images && images->orientation == UndefinedOrientation &&
      std::strcmp(images->magick, "WEBP") == 0)
    if (const StringInfo *exif = GetImageProfile(images, "exif"))
      orientation =
          ExifOrientation(QByteArray(reinterpret_cast<const char *>(GetStringInfoDatum(exif)),
                                     qsizetype(GetStringInfoLength(exif))));
  if (images) DestroyImageList(images);
  const ExceptionType severity = exception->severity;
  const QString message = ExceptionText(exception);
  DestroyExceptionInfo(exception);
  DestroyImageInfo(info);
  if (severity >= ErrorException) throw Failure(int(severity), call.unalias(message));
  if (orientation < 0)
    throw Failure(kErrToolkit, "ImageMagick could not read " + subject +
                                   (message.isEmpty() ? "" : ": " + call.unalias(message)));
  return orientation >= 1 && orientation <= 8 ? orientation : 0;
}

void RefuseOversizedWebP(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray h = file.read(30);
  if (h.size() < 30 || !h.startsWith("RIFF") || h.mid(8, 4) != "WEBP") return;
  const auto byte = [&h](int at) { return quint32(quint8(h[at])); };
  const auto le = [&](int at, int count) {
    quint32 v = 0;
    for (int i = count - 1; i >= 0; --i)
      v = v << 8 | byte(at + i);
    return v;
  };
  const QByteArray chunk = h.mid(12, 4);
  qint64 width = 0, height = 0;
  if (chunk == "VP8X") { // the canvas: sides less one, 24 bits each
    width = le(24, 3) + 1, height = le(27, 3) + 1;
  } else if (chunk == "VP8L" && byte(20) == 0x2f) { // lossless: 14 bits each, less one
    width = (le(21, 4) & 0x3fff) + 1, height = (le(21, 4) >> 14 & 0x3fff) + 1;
  } else if (chunk == "VP8 " && byte(23) == 0x9d && byte(24) == 0x01 && byte(25) == 0x2a) {
    width = le(26, 2) & 0x3fff, height = le(28, 2) & 0x3fff; // lossy
  }
  CheckImageWithinLimits(width, height, path);
}

void RequireFile(const QStringList &args, int count, const char *program) {
  if (args.size() < count)
    throw Failure(kErrToolkit, QStringLiteral("ImageMagick's ") + program + " was given no file");
}

} // namespace varnholt::magick
