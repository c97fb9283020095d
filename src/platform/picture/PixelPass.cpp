// The per-pixel colour filters, fused into one pass over the picture. Run
// as separate image-library operations, each would convert and walk the
// whole frame in float; here a pixel is read once, through a table into
// linear light, and written once.
#include <cmath>
#include <immintrin.h>
#include <cstring>
#include <vector>

#include "platform/picture/PictureImpl.h"

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
    // Three bytes more: a vector gather reads a 32-bit word at each index.
    std::uint8_t toSrgb[kEncodeSteps + 4] = {};
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

// A pass without a tint is one transform.
Picture::PixelPass folded(const Picture::PixelPass& pass)
{
    Picture::PixelPass p = pass;
    if (!p.tint) {
        p.first = p.first.then(p.second);
        p.second = Picture::Affine{};
    }
    return p;
}

// BT.601 in video levels, in 16-bit fixed point: luma from R, G, B, and
// Cb, Cr from the sums of four pixels' R, G, B.
constexpr int kFix = 16;
constexpr int fix(double v) { return static_cast<int>(v * (1 << kFix) + (v < 0 ? -0.5 : 0.5)); }
constexpr int kYr = fix(0.299 * 219 / 255), kYg = fix(0.587 * 219 / 255), kYb = fix(0.114 * 219 / 255);
constexpr int kCbR4 = fix(-0.168736 * 224 / 255 / 4), kCbG4 = fix(-0.331264 * 224 / 255 / 4),
              kCbB4 = fix(0.5 * 224 / 255 / 4);
constexpr int kCrR4 = fix(0.5 * 224 / 255 / 4), kCrG4 = fix(-0.418688 * 224 / 255 / 4),
              kCrB4 = fix(-0.081312 * 224 / 255 / 4);

// A full-range Y'CbCr pixel (a JPEG's) in 8-bit RGB, with the JPEG
// decoder's coefficients.
constexpr int kCrR = fix(1.402), kCbG = fix(0.344136), kCrG = fix(0.714136), kCbB = fix(1.772);
inline int clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
inline void yccToRgb(int y, int cb, int cr, int& r, int& g, int& b)
{
    const int Y = (y << kFix) + (1 << (kFix - 1));
    cb -= 128, cr -= 128;
    r = clamp8((Y + kCrR * cr) >> kFix);
    g = clamp8((Y - kCbG * cb - kCrG * cr) >> kFix);
    b = clamp8((Y + kCbB * cb) >> kFix);
}

// The video-level luma of an 8-bit RGB pixel, and the chroma of the sums
// of four.
inline std::uint8_t lumaOf(int r, int g, int b)
{
    return static_cast<std::uint8_t>((kYr * r + kYg * g + kYb * b + (16 << kFix) + (1 << (kFix - 1))) >> kFix);
}
constexpr int kChromaMid = (128 << kFix) + (1 << (kFix - 1));

#define MV_AVX2 __attribute__((target("avx2")))

MV_AVX2 inline __m256i bytes8(const std::uint8_t* p)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

MV_AVX2 inline __m256i clamp8(__m256i v)
{
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// Row i of the transform, summed in the scalar code's order.
MV_AVX2 inline __m256 transform8(const Picture::Affine& a, int i, __m256 r, __m256 g, __m256 b)
{
    const __m256 x =
        _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(a.m[i * 3]), r), _mm256_mul_ps(_mm256_set1_ps(a.m[i * 3 + 1]), g));
    return _mm256_add_ps(_mm256_add_ps(x, _mm256_mul_ps(_mm256_set1_ps(a.m[i * 3 + 2]), b)), _mm256_set1_ps(a.k[i]));
}

MV_AVX2 inline __m256i encode8(const Tables& t, __m256 v)
{
    // max(v, 0) gives 0 for not-a-number, as the scalar test does.
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256i index =
        _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, _mm256_set1_ps(float(kEncodeSteps))), _mm256_set1_ps(0.5f)));
    const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int*>(t.toSrgb), index, 1);
    return _mm256_and_si256(words, _mm256_set1_epi32(0xff));
}

MV_AVX2 inline void store8(std::uint8_t* to, __m256i v)
{
    const __m128i s16 = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(s16, s16));
}

MV_AVX2 inline __m256i mulAdd3(__m256i a, int ka, __m256i b, int kb, __m256i c, int kc, int k)
{
    const __m256i ab = _mm256_add_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(ka)),
                                        _mm256_mullo_epi32(b, _mm256_set1_epi32(kb)));
    return _mm256_add_epi32(ab, _mm256_add_epi32(_mm256_mullo_epi32(c, _mm256_set1_epi32(kc)), _mm256_set1_epi32(k)));
}

// Up to the last multiple of 8 pixels of one row without a tint, with AVX2:
// the same operations in the same order as yccToRgb, applyPass, encode and
// lumaOf, so that the results are the same to the bit. The pixels after
// the pass go to row (R, G and B, w apart), their luma to luma. Returns how
// many pixels it did.
MV_AVX2 int passRowAvx2(const Picture::Affine& a, const Tables& t, const std::uint8_t* y, const std::uint8_t* cb,
                        const std::uint8_t* cr, std::uint8_t* row, std::uint8_t* luma, int w)
{
    const __m256i mid = _mm256_set1_epi32(128);
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m256i Y = _mm256_add_epi32(_mm256_slli_epi32(bytes8(y + x), kFix), _mm256_set1_epi32(1 << (kFix - 1)));
        const __m256i Cb = _mm256_sub_epi32(bytes8(cb + x), mid), Cr = _mm256_sub_epi32(bytes8(cr + x), mid);
        const __m256i r8 = clamp8(_mm256_srai_epi32(_mm256_add_epi32(Y, _mm256_mullo_epi32(Cr, _mm256_set1_epi32(kCrR))), kFix));
        const __m256i g8 = clamp8(_mm256_srai_epi32(
            _mm256_sub_epi32(_mm256_sub_epi32(Y, _mm256_mullo_epi32(Cb, _mm256_set1_epi32(kCbG))),
                             _mm256_mullo_epi32(Cr, _mm256_set1_epi32(kCrG))),
            kFix));
        const __m256i b8 = clamp8(_mm256_srai_epi32(_mm256_add_epi32(Y, _mm256_mullo_epi32(Cb, _mm256_set1_epi32(kCbB))), kFix));
        const __m256 r = _mm256_i32gather_ps(t.toLinear, r8, 4), g = _mm256_i32gather_ps(t.toLinear, g8, 4),
                     b = _mm256_i32gather_ps(t.toLinear, b8, 4);
        const __m256i R = encode8(t, transform8(a, 0, r, g, b));
        const __m256i G = encode8(t, transform8(a, 1, r, g, b));
        const __m256i B = encode8(t, transform8(a, 2, r, g, b));
        store8(row + x, R);
        store8(row + w + x, G);
        store8(row + 2 * w + x, B);
        store8(luma + x, _mm256_srli_epi32(mulAdd3(R, kYr, G, kYg, B, kYb, (16 << kFix) + (1 << (kFix - 1))), kFix));
    }
    return x;
}

// The sums of pairs of neighbours in two rows, for 8 chroma samples.
MV_AVX2 inline __m256i pairSums(const std::uint8_t* a, const std::uint8_t* b)
{
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i sa = _mm256_madd_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))), ones);
    const __m256i sb = _mm256_madd_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b))), ones);
    return _mm256_add_epi32(sa, sb);
}

// Up to the last multiple of 8 chroma samples of a pair of rows (as
// passRowAvx2 leaves them, 3 w apart), as the scalar code makes them.
MV_AVX2 int chromaRowAvx2(const std::uint8_t* rows, int w, std::uint8_t* cb, std::uint8_t* cr)
{
    int x = 0;
    for (; x + 8 <= w / 2; x += 8) {
        const std::uint8_t* at = rows + 2 * x;
        const __m256i R = pairSums(at, at + 3 * w), G = pairSums(at + w, at + 4 * w), B = pairSums(at + 2 * w, at + 5 * w);
        store8(cb + x, _mm256_srai_epi32(mulAdd3(R, kCbR4, G, kCbG4, B, kCbB4, kChromaMid), kFix));
        store8(cr + x, _mm256_srai_epi32(mulAdd3(R, kCrR4, G, kCrG4, B, kCrB4, kChromaMid), kFix));
    }
    return x;
}

template <bool Tint>
void passToYuv420(const Picture::PixelPass& pass, const std::uint8_t* const* ycc, const int* strides, int w, int h,
                  Yuv420Bitmap& out)
{
    const Picture::PixelPass p = pass;
    const Tables& t = tables();
    static const bool avx2 = __builtin_cpu_supports("avx2");
    std::vector<std::uint8_t> rows(std::size_t(w) * 6); // two rows of R, G, B after the pass
    for (int y = 0; y < h; y += 2) {
        for (int k = 0; k < 2; ++k) {
            const std::ptrdiff_t at = y + k;
            const std::uint8_t* Y = ycc[0] + at * strides[0];
            const std::uint8_t* Cb = ycc[1] + at * strides[1];
            const std::uint8_t* Cr = ycc[2] + at * strides[2];
            std::uint8_t* row = rows.data() + std::size_t(k) * w * 3;
            std::uint8_t* luma = out.plane(0) + std::size_t(y + k) * out.stride(0);
            int x = 0;
            if constexpr (!Tint) {
                if (avx2)
                    x = passRowAvx2(p.first, t, Y, Cb, Cr, row, luma, w);
            }
            for (; x < w; ++x) {
                int R, G, B;
                yccToRgb(Y[x], Cb[x], Cr[x], R, G, B);
                float r = t.toLinear[R], g = t.toLinear[G], b = t.toLinear[B];
                applyPass<Tint>(p, r, g, b);
                R = encode(t.toSrgb, r), G = encode(t.toSrgb, g), B = encode(t.toSrgb, b);
                row[x] = static_cast<std::uint8_t>(R);
                row[w + x] = static_cast<std::uint8_t>(G);
                row[2 * w + x] = static_cast<std::uint8_t>(B);
                luma[x] = lumaOf(R, G, B);
            }
        }
        std::uint8_t* cb = out.plane(1) + std::size_t(y / 2) * out.stride(1);
        std::uint8_t* cr = out.plane(2) + std::size_t(y / 2) * out.stride(2);
        const std::uint8_t* R0 = rows.data();
        const std::uint8_t* G0 = R0 + w;
        const std::uint8_t* B0 = G0 + w;
        const std::uint8_t* R1 = B0 + w;
        const std::uint8_t* G1 = R1 + w;
        const std::uint8_t* B1 = G1 + w;
        for (int x = avx2 ? chromaRowAvx2(rows.data(), w, cb, cr) : 0; x < w / 2; ++x) {
            const int i = 2 * x;
            const int R = R0[i] + R0[i + 1] + R1[i] + R1[i + 1];
            const int G = G0[i] + G0[i + 1] + G1[i] + G1[i + 1];
            const int B = B0[i] + B0[i + 1] + B1[i] + B1[i + 1];
            cb[x] = static_cast<std::uint8_t>((kCbR4 * R + kCbG4 * G + kCbB4 * B + kChromaMid) >> kFix);
            cr[x] = static_cast<std::uint8_t>((kCrR4 * R + kCrG4 * G + kCrB4 * B + kChromaMid) >> kFix);
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

void runPixelPass(const Picture::PixelPass& pass, RgbaBitmap& bitmap)
{
    const Picture::PixelPass p = folded(pass);
    const std::size_t n = std::size_t(bitmap.width) * bitmap.height;
    void* pixels = bitmap.pixels.data();
    p.tint ? runPass<true>(p, false, false, pixels, pixels, n) : runPass<false>(p, false, false, pixels, pixels, n);
}

void pixelPassToYuv420(const Picture::PixelPass& pass, const std::uint8_t* const* ycc, const int* strides, int w,
                       int h, Yuv420Bitmap& out)
{
    const Picture::PixelPass p = folded(pass);
    out.resize(w, h);
    p.tint ? passToYuv420<true>(p, ycc, strides, w, h, out) : passToYuv420<false>(p, ycc, strides, w, h, out);
}

Picture Picture::pixelPass(const PixelPass& pass, bool keepLinear) const
{
    // A scaled picture keeps the pass with its scale, to be run as its
    // pixels are rendered.
    if (!keepLinear && impl_->pendingScale && !impl_->pendingPass && !impl_->bitmap && !impl_->linear &&
        !impl_->deep) {
        auto impl = std::make_shared<Impl>(*impl_);
        impl->jpegPath.clear();
        impl->pendingPass = pass;
        return makePicture(std::move(impl));
    }
    // A deep picture goes on in linear float.
    keepLinear = keepLinear || impl_->deep;
    const bool fromLinear = impl_->linear || impl_->deep;
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
    const PixelPass p = folded(pass);
    auto run = [&](const void* from) {
        if (p.tint)
            runPass<true>(p, fromLinear, keepLinear, from, to, n);
        else
            runPass<false>(p, fromLinear, keepLinear, from, to, n);
    };
    if (fromLinear) {
        const VImage in = impl_->deep ? impl_->materialized().colourspace(VIPS_INTERPRETATION_scRGB)
                                      : impl_->materialized().cast(VIPS_FORMAT_FLOAT);
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
