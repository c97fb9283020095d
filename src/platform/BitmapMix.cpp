#include "platform/BitmapMix.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace mv {
namespace {

// sRGB codes to linear light, and back by the code whose interval holds the
// value: a coarse table finds the start, the exact interval bounds (the
// linear values halfway between neighbouring codes) settle it, so the
// rounding is the nearest code in sRGB, as a pow() per component would give,
// at the cost of a lookup.
struct SrgbTables {
    static constexpr int kCoarse = 4096;
    std::array<float, 256> toLinear;
    std::array<float, 255> upper; // code c holds values below upper[c]
    std::array<std::uint8_t, kCoarse + 1> start;

    SrgbTables()
    {
        auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        for (int c = 0; c < 256; ++c)
            toLinear[c] = static_cast<float>(linear(c / 255.0));
        for (int c = 0; c < 255; ++c)
            upper[c] = static_cast<float>(linear((c + 0.5) / 255.0));
        int code = 0;
        for (int i = 0; i <= kCoarse; ++i) {
            const float v = float(i) / kCoarse;
            while (code < 255 && v >= upper[code])
                ++code;
            start[i] = static_cast<std::uint8_t>(code);
        }
    }

    std::uint8_t toSrgb(float v) const
    {
        if (!(v > 0.0f))
            return 0;
        if (v >= 1.0f)
            return 255;
        int code = start[static_cast<int>(v * kCoarse)];
        while (code < 255 && v >= upper[code])
            ++code;
        return static_cast<std::uint8_t>(code);
    }
};

const SrgbTables& tables()
{
    static const SrgbTables t;
    return t;
}

} // namespace

bool mixBitmaps(const RgbaBitmap& backdrop, const std::vector<MixLayer>& layers, RgbaBitmap& out)
{
    const int w = backdrop.width, h = backdrop.height;
    const std::size_t bytes = std::size_t(w) * h * 4;
    if (w <= 0 || h <= 0 || backdrop.pixels.size() < bytes)
        return false;
    for (const MixLayer& l : layers)
        if (!l.source || l.source->width != w || l.source->height != h || l.source->pixels.size() < bytes ||
            l.source == &out)
            return false;
    if (&backdrop == &out)
        return false;
    const SrgbTables& t = tables();
    out.width = w;
    out.height = h;
    out.pixels.resizeForOverwrite(bytes);
    const std::uint8_t* b = backdrop.pixels.data();
    std::uint8_t* o = out.pixels.data();
    for (std::size_t i = 0; i < bytes; i += 4) {
        for (std::size_t c = 0; c < 3; ++c) {
            float r = t.toLinear[b[i + c]];
            for (const MixLayer& l : layers)
                r += l.weight * (t.toLinear[l.source->pixels[i + c]] - r);
            o[i + c] = t.toSrgb(r);
        }
        o[i + 3] = 255;
    }
    return true;
}

} // namespace mv
