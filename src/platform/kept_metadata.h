#pragma once

namespace varnholt {

// What of a picture's metadata its result carries. In every choice a result
// that is encoded anew carries no small picture of the original and no
// pixel size but its own, and always the colour profile: without it the
// colours of a wide-gamut photo shift.
enum class KeptMetadata {
  All,
  AllButLocation, // GPS, and the places named in XMP and IPTC, go
  ColourProfile,  // the colour profile alone (and a turn not yet applied)
};

} // namespace varnholt
