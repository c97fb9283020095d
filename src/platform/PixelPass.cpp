// The per-pixel colour filters, fused into one pass over the picture. Run
// as separate image-library operations, each would convert and walk the
// whole frame in float; here a pixel is read once, through a table into
// linear light, and written once.
#include <cmath>
#include <cstring>

#include "platform/PictureImpl.h"

namespace mv {

using vips::VImage;

namespace {

constexpr double kLuma709[3] = {0.2126, 0.7152, 0.0722};
constexpr float kMonoLuma[3] = {0.2125f, 0.7154f, 0.0721f};

double srgbToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double linearToSrgb(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

// Linear values are encoded through a table of 2^16 steps: near black,
// where the curve is steepest, one step is a twentieth of an 8-bit level.
constexpr int kEncodeSteps = 65535;

struct Tables {
    float toLinear[256];
    std::uint8_t toSrgb[kEncodeSteps + 1];
    Tables()
    {
        for (int i = 0; i < 256; ++i)
            toLinear[i] = static_cast<float>(srgbToLinear(i / 255.0));
        for (int i = 0; i <= kEncodeSteps; ++i)
            toSrgb[i] = static_cast<std::uint8_t>(std::lround(255.0 * linearToSrgb(double(i) / kEncodeSteps)));
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

inline void transform(const Picture::Affine& a, float& r, float& g, float& b)
{
    const float x = a.m[0] * r + a.m[1] * g + a.m[2] * b + a.k[0];
    const float y = a.m[3] * r + a.m[4] * g + a.m[5] * b + a.k[1];
    const float z = a.m[6] * r + a.m[7] * g + a.m[8] * b + a.k[2];
    r = x, g = y, b = z;
}

inline std::uint8_t encode(const std::uint8_t* table, float v)
{
    // Out of range and not-a-number values end at black or white.
    v = v > 0 ? (v < 1 ? v : 1) : 0;
    return table[static_cast<int>(v * kEncodeSteps + 0.5f)];
}

template <bool Tint>
inline void applyPass(const Picture::PixelPass& p, float& r, float& g, float& b)
{
    transform(p.first, r, g, b);
    if constexpr (Tint) {
        // Below mid-grey the tint multiplies, above it screens.
        const float L = kMonoLuma[0] * r + kMonoLuma[1] * g + kMonoLuma[2] * b;
        const float I = p.tintIntensity;
        const float* K = p.tintColor;
        const bool dark = L < 0.5f;
        const auto mix = [&](float c, float k) { return (1 - I) * c + I * (dark ? 2 * k * L : 1 - 2 * (1 - k) * (1 - L)); };
        r = mix(r, K[0]);
        g = mix(g, K[1]);
        b = mix(b, K[2]);
        transform(p.second, r, g, b);
    }
}

// The pass over n pixels, from 8-bit sRGB (RGBA) or linear float (RGB), to
// 8-bit sRGB (RGBA) or linear float (RGB).
template <bool Tint, bool FromLinear, bool ToLinear>
void runPass(const Picture::PixelPass pass, const void* in, void* out, std::size_t n)
{
    const Picture::PixelPass p = pass; // a copy that no output can alias
    const Tables& t = tables();
    for (std::size_t i = 0; i < n; ++i) {
        float r, g, b;
        if constexpr (FromLinear) {
            const float* px = static_cast<const float*>(in) + 3 * i;
            r = px[0], g = px[1], b = px[2];
        } else {
            const std::uint8_t* px = static_cast<const std::uint8_t*>(in) + 4 * i;
            r = t.toLinear[px[0]], g = t.toLinear[px[1]], b = t.toLinear[px[2]];
        }
        applyPass<Tint>(p, r, g, b);
        if constexpr (ToLinear) {
            float* px = static_cast<float*>(out) + 3 * i;
            px[0] = r, px[1] = g, px[2] = b;
        } else {
            std::uint8_t* px = static_cast<std::uint8_t*>(out) + 4 * i;
            px[0] = encode(t.toSrgb, r);
            px[1] = encode(t.toSrgb, g);
            px[2] = encode(t.toSrgb, b);
            px[3] = 255;
        }
    }
}

template <bool Tint>
void runPass(const Picture::PixelPass& p, bool fromLinear, bool toLinear, const void* in, void* out, std::size_t n)
{
    if (fromLinear)
        toLinear ? runPass<Tint, true, true>(p, in, out, n) : runPass<Tint, true, false>(p, in, out, n);
    else
        toLinear ? runPass<Tint, false, true>(p, in, out, n) : runPass<Tint, false, false>(p, in, out, n);
}

} // namespace

Picture::Affine Picture::Affine::then(const Affine& next) const
{
    Affine out;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            out.m[r * 3 + c] = next.m[r * 3] * m[c] + next.m[r * 3 + 1] * m[3 + c] + next.m[r * 3 + 2] * m[6 + c];
        out.k[r] = next.m[r * 3] * k[0] + next.m[r * 3 + 1] * k[1] + next.m[r * 3 + 2] * k[2] + next.k[r];
    }
    return out;
}

Picture::Affine Picture::colorControlsTransform(float saturation, float brightness, float contrast)
{
    // c' = C * (S*I + (1-S)*luma rows) * c + (C*B + 0.5 - 0.5*C): brightness,
    // contrast and saturation in one matrix, since the saturation rows sum
    // to one.
    const double S = saturation, B = brightness, C = contrast;
    Affine a;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            a.m[r * 3 + c] = static_cast<float>(C * ((r == c ? S : 0.0) + (1.0 - S) * kLuma709[c]));
        a.k[r] = static_cast<float>(C * B + 0.5 - 0.5 * C);
    }
    return a;
}

Picture::Affine Picture::exposureTransform(float ev)
{
    Affine a;
    a.m[0] = a.m[4] = a.m[8] = static_cast<float>(std::exp2(double(ev)));
    return a;
}

Picture::Affine Picture::sepiaTransform(float intensity)
{
    static const double sepia[9] = {0.3588, 0.7044, 0.1368, 0.2990, 0.5870, 0.1140, 0.2392, 0.4696, 0.0912};
    const double I = intensity;
    Affine a;
    for (int i = 0; i < 9; ++i)
        a.m[i] = static_cast<float>((i % 4 == 0 ? 1.0 - I : 0.0) + I * sepia[i]);
    return a;
}

Picture::PixelPass Picture::monochromePass(float red, float green, float blue, float intensity)
{
    PixelPass p;
    p.tint = true;
    const float colour[3] = {red, green, blue};
    for (int i = 0; i < 3; ++i)
        p.tintColor[i] = static_cast<float>(srgbToLinear(colour[i]));
    p.tintIntensity = intensity;
    return p;
}

Picture Picture::pixelPass(const PixelPass& pass, bool keepLinear) const
{
    const int w = width(), h = height();
    const std::size_t n = std::size_t(w) * h;
    std::vector<float> linearOut;
    auto out = std::make_shared<RgbaBitmap>();
    void* to = nullptr;
    if (keepLinear) {
        linearOut.resize(n * 3);
        to = linearOut.data();
    } else {
        out->width = w;
        out->height = h;
        out->pixels.resizeForOverwrite(n * 4);
        to = out->pixels.data();
    }
    PixelPass p = pass;
    if (!p.tint) {
        p.first = p.first.then(p.second);
        p.second = Affine{};
    }
    auto run = [&](const void* from) {
        if (p.tint)
            runPass<true>(p, impl_->linear, keepLinear, from, to, n);
        else
            runPass<false>(p, impl_->linear, keepLinear, from, to, n);
    };
    if (impl_->linear) {
        const VImage in = impl_->materialized().cast(VIPS_FORMAT_FLOAT);
        std::size_t size = 0;
        void* data = in.write_to_memory(&size);
        if (size == n * 3 * sizeof(float))
            run(data);
        g_free(data);
        if (size != n * 3 * sizeof(float))
            throw vips::VError("the picture could not be computed");
    } else {
        // 8-bit pixels to 8-bit pixels are changed where they are.
        RgbaBitmap in;
        RgbaBitmap& from = keepLinear ? in : *out;
        std::string error;
        if (!render(from, &error) || from.width != w || from.height != h)
            throw vips::VError(error.empty() ? "the picture could not be decoded" : error.c_str());
        run(from.pixels.data());
    }
    auto impl = std::make_shared<Impl>();
    if (keepLinear) {
        impl->linear = true;
        impl->image = VImage::new_from_memory(linearOut.data(), linearOut.size() * sizeof(float), w, h, 3,
                                              VIPS_FORMAT_FLOAT)
                          .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB))
                          .copy_memory();
    } else {
        impl->bitmap = std::move(out);
    }
    return makePicture(std::move(impl));
}

} // namespace mv
