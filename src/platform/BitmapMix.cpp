#include "platform/BitmapMix.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace mv {
namespace {

// sRGB codes to linear light, and back to the nearest code in sRGB (what
// a pow() per component rounded would give) at the cost of two lookups: a
// fine table gives the code at the start of the value's bin, and the exact
// bound between that code and the next one settles the bin's one crossing
// (codes lie at least 1/3300 apart in linear light, the bins 1/65536).
struct SrgbTables {
    static constexpr int kBins = 65536;
    std::array<float, 256> toLinear;
    std::array<float, 256> upper; // code c holds values below upper[c]
    std::vector<std::uint8_t> start = std::vector<std::uint8_t>(kBins + 1);

    SrgbTables()
    {
        auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        for (int c = 0; c < 256; ++c) {
            toLinear[c] = static_cast<float>(linear(c / 255.0));
            upper[c] = c < 255 ? static_cast<float>(linear((c + 0.5) / 255.0)) : 2.0f;
        }
        int code = 0;
        for (int i = 0; i <= kBins; ++i) {
            const float v = float(i) / kBins;
            while (v >= upper[code])
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
        const int code = start[static_cast<int>(v * kBins)];
        return static_cast<std::uint8_t>(v >= upper[code] ? code + 1 : code);
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
    std::vector<const std::uint8_t*> sources;
    std::vector<float> weights;
    for (const MixLayer& l : layers) {
        sources.push_back(l.source->pixels.data());
        weights.push_back(l.weight);
    }
    // Two pictures: every pair of codes is mixed once, into a table.
    std::vector<std::uint8_t> table;
    if (layers.size() == 1) {
        table.resize(256 * 256);
        const float v = weights[0];
        for (int bc = 0; bc < 256; ++bc)
            for (int sc = 0; sc < 256; ++sc)
                table[bc * 256 + sc] = t.toSrgb(t.toLinear[bc] + v * (t.toLinear[sc] - t.toLinear[bc]));
    }
    const auto mixBytes = [&](std::size_t from, std::size_t to) {
        if (!table.empty()) {
            const std::uint8_t* s = sources[0];
            for (std::size_t i = from; i < to; i += 4) {
                o[i] = table[b[i] * 256 + s[i]];
                o[i + 1] = table[b[i + 1] * 256 + s[i + 1]];
                o[i + 2] = table[b[i + 2] * 256 + s[i + 2]];
                o[i + 3] = 255;
            }
            return;
        }
        const std::size_t n = sources.size();
        for (std::size_t i = from; i < to; i += 4) {
            for (std::size_t c = i; c < i + 3; ++c) {
                float r = t.toLinear[b[c]];
                for (std::size_t k = 0; k < n; ++k)
                    r += weights[k] * (t.toLinear[sources[k][c]] - r);
                o[c] = t.toSrgb(r);
            }
            o[i + 3] = 255;
        }
    };
    // The frame loop waits for the mix: a large frame is shared with a
    // second thread, which takes the cores that rendering leaves idle.
    if (bytes < (std::size_t(1) << 20) || std::thread::hardware_concurrency() < 2) {
        mixBytes(0, bytes);
        return true;
    }
    const std::size_t half = bytes / 8 * 4;
    std::thread other;
    try {
        other = std::thread(mixBytes, half, bytes);
    } catch (const std::system_error&) {
        mixBytes(half, bytes); // no thread to be had: all of it here
    }
    mixBytes(0, half);
    if (other.joinable())
        other.join();
    return true;
}

} // namespace mv
