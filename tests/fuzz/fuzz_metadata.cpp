// A picture's metadata, as a result that is to carry less of it edits it:
// whatever the bytes, nothing is read outside them, a JPEG stays a JPEG, an
// EXIF block never grows, and an edited block needs no second edit.
#include "common.h"
#include "processing/metadata_edit.h"

#include <cstdint>

using namespace varnholt;
using varnholt::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  const QSize pixels(7, 5);
  for (const KeptMetadata kept :
       {KeptMetadata::All, KeptMetadata::AllButLocation, KeptMetadata::ColourProfile}) {
    if (const auto jpeg = EditJpegMetadata(bytes, kept, pixels))
      Check(jpeg->startsWith("\xff\xd8"), "an edited JPEG that no longer starts as one");
    const auto exif = EditExif(bytes, kept, pixels);
    if (exif && kept != KeptMetadata::ColourProfile) {
      Check(exif->size() <= bytes.size(), "an EXIF block that grew");
      if (!exif->isEmpty())
        Check(!EditExif(*exif, kept, pixels), "an edited EXIF block edited again");
    }
    EditXmp(bytes, kept);
    EditIptc(bytes, kept);
    EditPhotoshopResources(bytes, kept, pixels);
  }
  return 0;
}
