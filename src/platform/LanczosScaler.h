#pragma once
// Lanczos (a = 3) resampling of 8-bit RGB, done with the SIMD scaler of the
// movie library: several times faster than the image library's own scalar
// Lanczos, which matters because every frame of a movie is scaled.
#include <cstdint>

namespace mv {

// Scales src (packed RGB, sw x sh) to dw x dh and writes the window
// (left, top, ww, wh) of the result, which must lie inside it, to dst as
// packed RGBA with alpha 255.
bool lanczosScaleRgbToRgba(const std::uint8_t* src, int sw, int sh, int srcStride, int dw, int dh, int left,
                           int top, int ww, int wh, std::uint8_t* dst, int dstStride);

} // namespace mv
