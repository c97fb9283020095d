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

enum class JpegRowsResult { Ok, Failed, Unsuited };

// The most rows in one strip: the scaler takes a tall strip for much less
// than several short ones.
constexpr int kJpegStripRows = 64;

// Decodes the file at eighths/8, handing its rows as packed RGB, top to
// bottom, in strips: rows(pixels, stride, count) returns how many more rows
// it wants, 0 for none, and the next strip holds that many (within the
// decoder's row groups and kJpegStripRows). A damaged or cut file fails
// where the damage is read, and so does one that only makes the decoder
// warn (a marker in the middle of the data), as everywhere in the program.
// CMYK and YCCK files are left to the image library (Unsuited).
JpegRowsResult decodeJpegRows(const std::string& path, int eighths,
                              const std::function<int(const std::uint8_t*, int, int)>& rows);

// The layout of a JPEG's Y'CbCr planes as decoded at some eighths: the luma
// is width x height, each chroma plane is subsampled by 2^chromaShiftX
// across and 2^chromaShiftY down (rounded up).
struct JpegPlanes {
    int width = 0, height = 0;
    int chromaShiftX = 0, chromaShiftY = 0;
};

// As decodeJpegRows, but the Y'CbCr planes as stored (full-range BT.601),
// without colour conversion or upsampling: start(layout) is called once,
// then planes(rows, strides, lumaRows) for each strip, top to bottom, the
// chroma rows of the strip being lumaRows >> chromaShiftY (rounded up); it
// returns how many more luma rows it wants, as above.
// Files that are not three-component Y'CbCr, or whose chroma is subsampled
// other than by 1 or 2 each way, are Unsuited.
JpegRowsResult decodeJpegPlanes(const std::string& path, int eighths,
                                const std::function<bool(const JpegPlanes&)>& start,
                                const std::function<int(const std::uint8_t* const*, const int*, int)>& planes);

} // namespace mv
