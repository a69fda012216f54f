#pragma once
#include <QString>

namespace tavo {

// Picture file conversions of the check-in and the stream snapshot. Paths may be in the
// station's form ("...\Temp\model_full.png") or host paths; they pass through hostPath().
// Both throw std::runtime_error with a clear text when the source cannot be read or the result
// cannot be written; the files are then left as they were.

// Converts the PNG `source` into a JPEG named `dest` with its extension replaced by ".jpg", at
// `quality` (1..100), then deletes the PNG. Returns the station-form name of the JPEG written.
QString PNGtoJPEG(const QString& source, const QString& dest, int quality);

// Crops the given numbers of pixels from the four sides of the picture file and writes it back
// over the same file as JPEG at quality 90. When a pair of opposite cuts is not smaller than the
// picture's size in that direction, that pair is ignored (the picture is only re-encoded).
// Negative cuts count as 0.
void CutImage(const QString& filename, int leftCut, int rightCut, int topCut, int bottomCut);

}  // namespace tavo
