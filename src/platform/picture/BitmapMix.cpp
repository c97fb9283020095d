#include "platform/picture/BitmapMix.h"

#include <algorithm>
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

// The same for 16-bit codes: linear light back to sRGB through a table of
// 2^16 steps, read between its steps (the curve is a straight line near
// black, where it is steepest).
struct Srgb16Tables {
    static constexpr int kSteps = 65536;
    std::vector<float> toLinear = std::vector<float>(65536);
    std::vector<float> toCode = std::vector<float>(kSteps + 2);
    Srgb16Tables()
    {
        for (int c = 0; c < 65536; ++c) {
            const double v = c / 65535.0;
            toLinear[c] = static_cast<float>(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i <= kSteps; ++i) {
            const double l = double(i) / kSteps;
            toCode[i] = static_cast<float>(65535.0 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055));
        }
        toCode[kSteps + 1] = toCode[kSteps];
    }
    std::uint16_t toSrgb(float v) const
    {
        if (!(v > 0.0f))
            return 0;
        if (v >= 1.0f)
            return 65535;
        const float at = v * kSteps;
        const int i = static_cast<int>(at);
        const float code = toCode[i] + (at - float(i)) * (toCode[i + 1] - toCode[i]);
        return static_cast<std::uint16_t>(std::min(65535.0f, code + 0.5f));
    }
};

const Srgb16Tables& tables16()
{
    static const Srgb16Tables t;
    return t;
}

// Runs mix(from, to) over [0, n), split with a second thread when the
// frame is large: the frame loop waits for the mix, and rendering leaves
// a core idle then.
template <typename Mix> void splitWork(std::size_t n, std::size_t unit, std::size_t large, const Mix& mix)
{
    if (n < large || std::thread::hardware_concurrency() < 2) {
        mix(std::size_t(0), n);
        return;
    }
    const std::size_t half = n / (2 * unit) * unit;
    std::thread other;
    try {
        other = std::thread(mix, half, n);
    } catch (const std::system_error&) {
        mix(half, n); // no thread to be had: all of it here
    }
    mix(std::size_t(0), half);
    if (other.joinable())
        other.join();
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
    splitWork(bytes, 4, std::size_t(1) << 20, mixBytes);
    return true;
}

bool mixBitmaps(const RgbaBitmap16& backdrop, const std::vector<MixLayerOf<RgbaBitmap16>>& layers, RgbaBitmap16& out)
{
    const int w = backdrop.width, h = backdrop.height;
    const std::size_t samples = std::size_t(w) * h * 4;
    if (w <= 0 || h <= 0 || backdrop.pixels.size() < samples * 2 || &backdrop == &out)
        return false;
    for (const auto& l : layers)
        if (!l.source || l.source->width != w || l.source->height != h || l.source->pixels.size() < samples * 2 ||
            l.source == &out)
            return false;
    const Srgb16Tables& t = tables16();
    out.width = w;
    out.height = h;
    out.pixels.resizeForOverwrite(samples * 2);
    const auto* b = reinterpret_cast<const std::uint16_t*>(backdrop.pixels.data());
    auto* o = reinterpret_cast<std::uint16_t*>(out.pixels.data());
    std::vector<const std::uint16_t*> sources;
    for (const auto& l : layers)
        sources.push_back(reinterpret_cast<const std::uint16_t*>(l.source->pixels.data()));
    splitWork(samples, 4, std::size_t(1) << 19, [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; i += 4) {
            for (std::size_t c = i; c < i + 3; ++c) {
                float r = t.toLinear[b[c]];
                for (std::size_t k = 0; k < sources.size(); ++k)
                    r += layers[k].weight * (t.toLinear[sources[k][c]] - r);
                o[c] = t.toSrgb(r);
            }
            o[i + 3] = 65535;
        }
    });
    return true;
}

} // namespace mv
