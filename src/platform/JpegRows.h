#pragma once
// A JPEG decoded straight into the scaler, scaled by eighths while it is
// decoded, in strips that go to the scaler as they come: the picture is
// never held whole, and no image-library pipeline runs for it.
#include <cstdint>
#include <functional>
#include <string>

namespace mv {

// The size of a side of a JPEG decoded at eighths/8, as the decoder rounds it.
inline int jpegScaledSide(int side, int eighths) { return static_cast<int>((std::int64_t(side) * eighths + 7) / 8); }

// The fewest eighths (1, 2, 4 or 8) at which a w x h JPEG still covers
// needW x needH pixels.
int jpegEighthsCovering(int w, int h, int needW, int needH);

enum class JpegRowsResult { Ok, Failed, NotRgb };

// Decodes the file at eighths/8, handing its rows as packed RGB, top to
// bottom, in strips: rows(pixels, stride, count) returns false when it wants
// no more. A damaged or cut file fails where the damage is read, and so does
// one that only makes the decoder warn (a marker in the middle of the data),
// as everywhere in the program.
// CMYK and YCCK files are left to the image library (NotRgb).
JpegRowsResult decodeJpegRows(const std::string& path, int eighths,
                              const std::function<bool(const std::uint8_t*, int, int)>& rows);

} // namespace mv
