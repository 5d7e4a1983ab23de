#pragma once

#include "platform/image_toolkit.h"

#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace varnholt {

namespace magick {
class Call;
class DecodedCache;
} // namespace magick

// ImageMagick in this process, through its command API. ImageMagick reads
// "%d", "[...]", "@", ":" and the like in file names as instructions, so it
// never sees a user's name: inputs reach it as links in a private scratch
// folder, outputs are written under a hidden name in their own folder and
// renamed into place. Calls are independent of each other and may run on
// several threads at once, on one object or on several.
class MagickToolkit : public ImageToolkit {
public:
  MagickToolkit();
  ~MagickToolkit() override;

  QString identify(const QStringList &args) override;
  void convert(const QStringList &args) override;
  void mogrify(const QStringList &args) override;
  int orientation(const QString &path) override;
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override;

  void checkSize(qint64 width, qint64 height, const QString &path) override;
  QStringList takeWarnings() override;

  // Sets up ImageMagick for the process; later calls do nothing.
  static void initialise();

  // For a run of many operations on each image: convertInSteps, where its
  // caller allows, keeps the last pictures it decoded and hands them to the
  // next such calls that read the same contents (see decoded_cache.h). Off by
  // default: kept pictures hold memory between calls.
  void setReuseDecoded(bool on) { reuseDecoded_ = on; }
  // Lets go of them, when the next calls read other files: ImageMagick's
  // memory budget is shared by the whole process.
  void releaseDecoded() override;
  int decodedReuses(); // for tests

  // Removes the scratch folder now, for a program that is about to leave
  // without running its destructors.
  void DiscardScratch() { scratch_.remove(); }

private:
  // convert's input and output as safe names, handed to `run`, and what it
  // wrote renamed into place.
  void
  convertWith(const QString &input, const QString &output, bool reuse,
              const std::function<void(const QString &, const QString &, magick::Call &)> &run);

  QTemporaryDir scratch_;
  std::atomic<int> calls_{0};
  std::atomic<bool> reuseDecoded_{false};
  std::mutex cacheMutex_;
  std::unique_ptr<magick::DecodedCache> cache_;
};

} // namespace varnholt
