#pragma once
// Constant-weight mixes of whole frames, for in-between frames and motion
// blur.
#include <utility>
#include <vector>

#include "platform/picture/Picture.h"

namespace mv {

// One layer of a mix: laid over the result so far as a blend through a
// mask of one value v everywhere, r = r + v (S - r).
template <typename Bitmap> struct MixLayerOf {
    const Bitmap* source;
    float weight;
};
using MixLayer = MixLayerOf<RgbaBitmap>;

// Starts from `backdrop` and lays each layer over the result in turn, in
// linear light and float arithmetic; the result is rounded to 8-bit sRGB
// once, at the end, and is opaque. Every bitmap must have the backdrop's
// size; false (and `out` untouched) otherwise. `out` must not be one of the
// inputs.
bool mixBitmaps(const RgbaBitmap& backdrop, const std::vector<MixLayer>& layers, RgbaBitmap& out);
// The same at 16 bits a channel, rounded to 16-bit sRGB.
bool mixBitmaps(const RgbaBitmap16& backdrop, const std::vector<MixLayerOf<RgbaBitmap16>>& layers, RgbaBitmap16& out);

} // namespace mv
