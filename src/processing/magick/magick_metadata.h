#pragma once

#include "platform/kept_metadata.h"

#include <QStringList>

struct _Image;
typedef struct _Image Image;

namespace varnholt::magick {

// Leaves on every picture of the list only the metadata `kept` allows, as
// its writer is to write it: profiles edited, and the properties read from
// them (which some writers, PNG's among them, write out as text) dropped.
// Returns what could not be read and so was left out.
QStringList KeepMetadata(Image *images, KeptMetadata kept);

} // namespace varnholt::magick
