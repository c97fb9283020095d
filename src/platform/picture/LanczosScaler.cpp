#include "platform/picture/LanczosScaler.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace mv {
namespace {

// The scaler reads and writes whole SIMD words: every plane row starts
// aligned and the buffer ends with room to spare, as the library asks.
constexpr int kAlign = 64;
constexpr std::size_t kPadding = 64;

// The planes of one format in one buffer: planar RGB (the scaler's GBRP:
// green, blue, red), or Y'CbCr. Scaling planes needs no colour conversion,
// so packing and unpacking are exact shuffles.
struct Planes {
    std::uint8_t* buffer = nullptr;
    std::size_t capacity = 0;
    std::uint8_t* plane[4] = {};
    int stride[4] = {};

    ~Planes() { release(); }

    void release()
    {
        av_free(buffer);
        buffer = nullptr;
        capacity = 0;
    }

    bool resize(AVPixelFormat format, int w, int h)
    {
        const int size = av_image_get_buffer_size(format, w, h, kAlign);
        if (size < 0)
            return false;
        if (std::size_t(size) + kPadding > capacity) {
            release();
            buffer = static_cast<std::uint8_t*>(av_malloc(std::size_t(size) + kPadding));
            if (!buffer)
                return false;
            capacity = std::size_t(size) + kPadding;
            std::memset(buffer, 0, capacity);
        }
        return av_image_fill_arrays(plane, stride, buffer, format, w, h, kAlign) >= 0;
    }
};

// One scaler context. Setting one up computes its filters, which costs
// about as much as scaling a strip, and every frame of a movie usually has
// the same sizes: it is kept for the next picture rather than made anew.
struct Context {
    SwsContext* scale = nullptr;
    std::array<int, 9> made{}; // what `scale` was made for

    ~Context() { drop(); }
    void drop()
    {
        sws_freeContext(scale);
        scale = nullptr;
    }

    // The context for these sizes, formats and filter; `chromaX` and
    // `chromaY` place the output's chroma samples, in 256ths of a pixel.
    // The library's exact rounding is not asked for: its usual rounding,
    // which the ffmpeg command line uses too, is 10 to 17 % faster and moves
    // one pixel in twelve by a level, up as often as down.
    bool prepare(AVPixelFormat in, AVPixelFormat out, int sw, int sh, int dw, int dh, int chromaX, int chromaY,
                 int filter)
    {
        const std::array<int, 9> wanted{in, out, sw, sh, dw, dh, chromaX, chromaY, filter};
        if (scale && wanted == made)
            return true;
        drop();
        scale = sws_alloc_context();
        made = wanted;
        const bool set = scale && av_opt_set_int(scale, "srcw", sw, 0) >= 0 && av_opt_set_int(scale, "srch", sh, 0) >= 0 &&
                         av_opt_set_int(scale, "src_format", in, 0) >= 0 && av_opt_set_int(scale, "dstw", dw, 0) >= 0 &&
                         av_opt_set_int(scale, "dsth", dh, 0) >= 0 && av_opt_set_int(scale, "dst_format", out, 0) >= 0 &&
                         av_opt_set_int(scale, "sws_flags", filter | SWS_FULL_CHR_H_INT, 0) >= 0 &&
                         av_opt_set_int(scale, "dst_h_chr_pos", chromaX, 0) >= 0 &&
                         av_opt_set_int(scale, "dst_v_chr_pos", chromaY, 0) >= 0;
        if (!set || sws_init_context(scale, nullptr, nullptr) < 0)
            drop();
        return scale != nullptr;
    }
};

// The contexts and planes of one scaler: one context for all planes, or
// one per plane when the planes are filtered differently.
struct Scratch {
    std::array<Context, 3> contexts;
    Planes in, out;
};

// Only what a frame of a large movie needs is kept; the planes of a huge
// scale are given back at once, so memory does not stay at its peak.
constexpr std::size_t kKeptPlaneBytes = std::size_t(64) << 20;
constexpr std::size_t kKeptScratches = 4;

std::mutex poolMutex;
std::vector<std::unique_ptr<Scratch>>& pool()
{
    static auto* kept = new std::vector<std::unique_ptr<Scratch>>; // outlives threads still scaling at exit
    return *kept;
}

std::unique_ptr<Scratch> takeScratch()
{
    std::lock_guard lock(poolMutex);
    if (pool().empty())
        return std::make_unique<Scratch>();
    std::unique_ptr<Scratch> s = std::move(pool().back());
    pool().pop_back();
    return s;
}

void keepScratch(std::unique_ptr<Scratch> s)
{
    if (!s)
        return;
    if (s->in.capacity > kKeptPlaneBytes)
        s->in.release();
    if (s->out.capacity > kKeptPlaneBytes)
        s->out.release();
    std::lock_guard lock(poolMutex);
    if (pool().size() < kKeptScratches)
        pool().push_back(std::move(s));
}

// One row of packed RGB to three planes, and back to RGBA with alpha 255.
// The compiler vectorizes the split only with SSSE3's byte shuffles, which
// are chosen at run time (not through an ifunc: its resolver runs before a
// sanitizer's runtime is ready). The split reads the image library's strips,
// which its uninstrumented threads wrote under locks the thread sanitizer
// cannot see: it is not instrumented for it, like the library itself.
inline __attribute__((always_inline, no_sanitize("thread"))) void splitLoop(const std::uint8_t* __restrict src, std::uint8_t* __restrict r,
                                                     std::uint8_t* __restrict g, std::uint8_t* __restrict b, int n)
{
    for (int x = 0; x < n; ++x) {
        r[x] = src[3 * x];
        g[x] = src[3 * x + 1];
        b[x] = src[3 * x + 2];
    }
}

__attribute__((target("ssse3"), no_sanitize("thread"))) void splitRowSsse3(const std::uint8_t* __restrict src, std::uint8_t* __restrict r,
                                                     std::uint8_t* __restrict g, std::uint8_t* __restrict b, int n)
{
    splitLoop(src, r, g, b, n);
}

__attribute__((no_sanitize("thread"))) void splitRowPlain(const std::uint8_t* __restrict src, std::uint8_t* __restrict r, std::uint8_t* __restrict g,
                   std::uint8_t* __restrict b, int n)
{
    splitLoop(src, r, g, b, n);
}

void splitRow(const std::uint8_t* src, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b, int n)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    (ssse3 ? splitRowSsse3 : splitRowPlain)(src, r, g, b, n);
}

static_assert(std::endian::native == std::endian::little, "joinRow writes R, G, B, A as one little-endian word");
void joinRow(const std::uint8_t* __restrict r, const std::uint8_t* __restrict g, const std::uint8_t* __restrict b,
             std::uint8_t* __restrict dst, int n)
{
    for (int x = 0; x < n; ++x) {
        const std::uint32_t v = r[x] | std::uint32_t(g[x]) << 8 | std::uint32_t(b[x]) << 16 | 0xff000000u;
        std::memcpy(dst + 4 * x, &v, 4);
    }
}

// Full-range levels to video range: 16-235 for luma, 16-240 for chroma,
// rounded to the nearest level (chroma away from its middle). Below 65535,
// x / 255 rounded down is (x + 1 + (x >> 8)) >> 8, which sixteen 8-bit
// samples at a time can do in 16-bit lanes.
constexpr int div255(int x) { return (x + 1 + (x >> 8)) >> 8; }
constexpr int videoLuma(int v) { return 16 + div255(v * 219 + 127); }
constexpr int videoChroma(int v)
{
    const int q = div255((v < 128 ? 128 - v : v - 128) * 224 + 127);
    return v < 128 ? 128 - q : 128 + q;
}
constexpr bool videoRangeExact()
{
    for (int v = 0; v < 256; ++v) {
        const int c = (v - 128) * 224;
        if (videoLuma(v) != 16 + (v * 219 + 127) / 255 ||
            videoChroma(v) != 128 + (c >= 0 ? c + 127 : c - 127) / 255)
            return false;
    }
    return true;
}
static_assert(videoRangeExact(), "the 16-bit division by 255 rounds as the plain one");

inline __m128i div255x8(__m128i x)
{
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, _mm_set1_epi16(1)), _mm_srli_epi16(x, 8)), 8);
}

inline __m128i videoLuma8(__m128i v)
{
    return _mm_add_epi16(div255x8(_mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(219)), _mm_set1_epi16(127))),
                         _mm_set1_epi16(16));
}

inline __m128i videoChroma8(__m128i v)
{
    const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(128));
    const __m128i below = _mm_cmpgt_epi16(_mm_setzero_si128(), d); // all ones where v < 128
    const __m128i size = _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
    const __m128i q = div255x8(_mm_add_epi16(_mm_mullo_epi16(size, _mm_set1_epi16(224)), _mm_set1_epi16(127)));
    return _mm_add_epi16(_mm_set1_epi16(128), _mm_sub_epi16(_mm_xor_si128(q, below), below));
}

template <bool Luma> void videoRow(const std::uint8_t* __restrict from, std::uint8_t* __restrict to, int n)
{
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
        const __m128i lo = _mm_unpacklo_epi8(v, _mm_setzero_si128()), hi = _mm_unpackhi_epi8(v, _mm_setzero_si128());
        const __m128i out = Luma ? _mm_packus_epi16(videoLuma8(lo), videoLuma8(hi))
                                 : _mm_packus_epi16(videoChroma8(lo), videoChroma8(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), out);
    }
    for (; x < n; ++x)
        to[x] = static_cast<std::uint8_t>(Luma ? videoLuma(from[x]) : videoChroma(from[x]));
}

// n chroma samples of 4:2:0 from rows a and b (the same row when only
// columns pair up) of width inW, averaging `across` samples of each.
void boxRow(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, std::uint8_t* __restrict out, int n,
            int inW, int across)
{
    const auto load = [](const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    int x = 0;
    if (across == 1) {
        for (; x + 16 <= n; x += 16) // the byte average rounds up, as below
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_avg_epu8(load(a + x), load(b + x)));
        for (; x < n; ++x)
            out[x] = static_cast<std::uint8_t>((a[x] + b[x] + 1) >> 1);
        return;
    }
    const int pairs = inW / 2; // whole pairs; an odd last column stands alone
    const __m128i low = _mm_set1_epi16(0xff);
    const auto pairSums = [&](__m128i v) { return _mm_add_epi16(_mm_and_si128(v, low), _mm_srli_epi16(v, 8)); };
    for (; x + 8 <= pairs; x += 8) {
        const __m128i sum = _mm_add_epi16(pairSums(load(a + 2 * x)), pairSums(load(b + 2 * x)));
        const __m128i q = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(q, q));
    }
    for (; x < pairs; ++x)
        out[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
    if (pairs < n)
        out[pairs] = static_cast<std::uint8_t>((a[inW - 1] + b[inW - 1] + 1) >> 1);
}

} // namespace

struct LanczosScaler::Impl {
    std::unique_ptr<Scratch> s = takeScratch();
    bool started = false;
    bool yuv = false;
    bool fullChroma = false; // 4:4:4 out, for windowPlanes()
    int chromaX = 0, chromaY = 0;
    int boxX = 1, boxY = 1; // chroma samples averaged into one of 4:2:0
    int sw = 0, sh = 0, dw = 0, dh = 0, left = 0, top = 0, ww = 0, wh = 0;
    int nextRow = 0;
    std::array<int, 3> written{}; // output rows each context has written

    // With full chroma, each plane has its own context (see startYuv).
    int contexts() const { return fullChroma ? 3 : 1; }
    int doneRows() const { return *std::min_element(written.begin(), written.begin() + contexts()); }

    // The sizes are checked, and the scaler set up for them, in either format.
    bool startScale(AVPixelFormat in, AVPixelFormat out, int sw, int sh, int dw, int dh, int left, int top, int ww,
                    int wh);
    // Hands the next n source rows, already in the scaler's format, to it.
    bool scaleRows(const std::uint8_t* const* planes, const int* strides, int n);

    ~Impl()
    {
        // A picture given up halfway leaves the scaler in the middle of a
        // frame: its context is not kept. (One whose window was done starts
        // the next frame from its first row, which resets the context.)
        if (started && nextRow != sh && doneRows() < top + wh)
            for (Context& c : s->contexts)
                c.drop();
        keepScratch(std::move(s));
    }
};

LanczosScaler::LanczosScaler() : impl_(std::make_unique<Impl>()) {}
LanczosScaler::~LanczosScaler() = default;

bool LanczosScaler::start(int sw, int sh, int dw, int dh, int left, int top, int ww, int wh)
{
    impl_->yuv = impl_->fullChroma = false;
    impl_->chromaX = impl_->chromaY = -513; // none
    return impl_->startScale(AV_PIX_FMT_GBRP, AV_PIX_FMT_GBRP, sw, sh, dw, dh, left, top, ww, wh);
}

bool LanczosScaler::startYuv(int shiftX, int shiftY, int sw, int sh, int dw, int dh, int left, int top, int ww,
                             int wh, bool fullChroma)
{
    impl_->yuv = true;
    impl_->fullChroma = fullChroma;
    if (shiftX < 0 || shiftX > 1 || shiftY < 0 || shiftY > 1)
        return false;
    if (fullChroma) {
        // Only chroma that is already 4:4:4 (a 4:2:0 JPEG decoded at a half
        // or less): upsampled here, it would differ from the decoder's own.
        // This chroma only gives each pixel its colour for the filters and
        // is then averaged into 4:2:0, so it is scaled bicubically, at half
        // of Lanczos's cost; luma keeps Lanczos. (Bilinear chroma would
        // blur sharp colour edges that the filters carry into luma.)
        impl_->boxX = impl_->boxY = 1;
        impl_->chromaX = impl_->chromaY = -513; // co-sited, as 4:4:4 is
        return shiftX == 0 && shiftY == 0 && ww % 2 == 0 && wh % 2 == 0 &&
               impl_->startScale(AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV444P, sw, sh, dw, dh, left, top, ww, wh);
    }
    // The window's 4:2:0 chroma sits between each pair of its rows and
    // columns; at an odd corner that is a pixel further than where the
    // scaled picture's own would be.
    impl_->chromaX = left % 2 != 0 ? 384 : 128;
    impl_->chromaY = top % 2 != 0 ? 384 : 128;
    // Finer chroma is first averaged down to 4:2:0 (a JPEG's 4:2:0 decoded
    // at a half comes out at full size): Lanczos on two half-size chroma
    // planes costs a third less than on full ones, for chroma that ends in
    // 4:2:0 anyway.
    impl_->boxX = shiftX == 0 ? 2 : 1;
    impl_->boxY = shiftY == 0 ? 2 : 1;
    // With an odd side, the library spreads the chroma over a size that is
    // not half the luma's, which shifts colour by up to half a sample
    // towards the far edge: those pictures take the RGB way.
    const bool even = sw % 2 == 0 && sh % 2 == 0 && dw % 2 == 0 && dh % 2 == 0 && ww % 2 == 0 && wh % 2 == 0;
    return even && impl_->startScale(AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, sw, sh, dw, dh, left, top, ww, wh);
}

bool LanczosScaler::Impl::startScale(AVPixelFormat in, AVPixelFormat out, int srcW, int srcH, int dstW, int dstH,
                                      int winLeft, int winTop, int winW, int winH)
{
    started = false;
    // Beyond a reduction of 16 the library switches to a cascade of scalers
    // that cannot take strips.
    if (srcW < 1 || srcH < 1 || winLeft < 0 || winTop < 0 || winW < 1 || winH < 1 ||
        winLeft + winW > dstW || winTop + winH > dstH || srcW > 16 * dstW || srcH > 16 * dstH)
        return false;
    // Both formats are of the same range: the scaler converts nothing.
    for (int c = 0; c < contexts(); ++c) {
        const bool prepared =
            fullChroma ? s->contexts[c].prepare(AV_PIX_FMT_GRAY8, AV_PIX_FMT_GRAY8, srcW, srcH, dstW, dstH, -513, -513,
                                                c == 0 ? SWS_LANCZOS : SWS_BICUBIC)
                       : s->contexts[c].prepare(in, out, srcW, srcH, dstW, dstH, chromaX, chromaY, SWS_LANCZOS);
        if (!prepared)
            return false;
    }
    if (!s->out.resize(out, dstW, dstH))
        return false;
    sw = srcW, sh = srcH, dw = dstW, dh = dstH, left = winLeft, top = winTop, ww = winW, wh = winH;
    nextRow = 0;
    written = {};
    started = true;
    return true;
}

bool LanczosScaler::Impl::scaleRows(const std::uint8_t* const* planes, const int* strides, int n)
{
    // Strips come in order; the scaler keeps the rows its vertical filter
    // still needs and writes each output row once it can. The library
    // reads four plane pointers whatever the format.
    for (int c = 0; c < contexts(); ++c) {
        const int first = contexts() == 1 ? 0 : c, count = contexts() == 1 ? 3 : 1;
        const std::uint8_t* from[4] = {};
        std::uint8_t* to[4] = {};
        int fromStrides[4] = {}, toStrides[4] = {};
        for (int p = 0; p < count; ++p) {
            from[p] = planes[first + p], fromStrides[p] = strides[first + p];
            to[p] = s->out.plane[first + p], toStrides[p] = s->out.stride[first + p];
        }
        const int rows = sws_scale(s->contexts[c].scale, from, fromStrides, nextRow, n, to, toStrides);
        if (rows < 0)
            return false;
        written[c] += rows;
    }
    nextRow += n;
    return true;
}

bool LanczosScaler::addRows(const std::uint8_t* rows, int stride, int n)
{
    Impl& m = *impl_;
    Scratch& s = *m.s;
    if (!m.started || m.yuv || n < 1 || m.nextRow + n > m.sh || !s.in.resize(AV_PIX_FMT_GBRP, m.sw, n))
        return false;
    // Packed to planes by a plain shuffle: the library's exact converter
    // takes a generic path that costs a third of the scaling itself.
    for (int y = 0; y < n; ++y)
        splitRow(rows + std::ptrdiff_t(y) * stride, s.in.plane[2] + std::size_t(y) * s.in.stride[2],
                 s.in.plane[0] + std::size_t(y) * s.in.stride[0], s.in.plane[1] + std::size_t(y) * s.in.stride[1],
                 m.sw);
    return m.scaleRows(s.in.plane, s.in.stride, n);
}

bool LanczosScaler::addPlanes(const std::uint8_t* const* planes, const int* strides, int n)
{
    Impl& m = *impl_;
    if (!m.started || !m.yuv || n < 1 || m.nextRow + n > m.sh)
        return false;
    if (m.boxX == 1 && m.boxY == 1)
        return m.scaleRows(planes, strides, n);
    // Strips start on even rows, so 4:2:0 chroma rows pair up within one.
    Planes& in = m.s->in;
    if (!in.resize(AV_PIX_FMT_YUV420P, m.sw, n))
        return false;
    const int cw = (m.sw + 1) / 2, ch = (n + 1) / 2;
    const int inW = m.boxX == 2 ? m.sw : cw, inH = m.boxY == 2 ? n : ch;
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < ch; ++y) {
            const std::uint8_t* a = planes[p] + std::ptrdiff_t(std::min(y * m.boxY, inH - 1)) * strides[p];
            const std::uint8_t* b = planes[p] + std::ptrdiff_t(std::min(y * m.boxY + m.boxY - 1, inH - 1)) * strides[p];
            boxRow(a, b, in.plane[p] + std::size_t(y) * in.stride[p], cw, inW, m.boxX);
        }
    const std::uint8_t* const mixed[3] = {planes[0], in.plane[1], in.plane[2]};
    const int mixedStrides[3] = {strides[0], in.stride[1], in.stride[2]};
    return m.scaleRows(mixed, mixedStrides, n);
}

bool LanczosScaler::windowDone() const
{
    const Impl& m = *impl_;
    return m.started && (m.nextRow == m.sh || m.doneRows() >= m.top + m.wh);
}

int LanczosScaler::rowsWanted() const
{
    const Impl& m = *impl_;
    if (!m.started || windowDone())
        return 0;
    // The last row of the window is centred on source row (top + wh) * sh /
    // dh and reaches three lobes of the source's step beyond it.
    const double step = double(m.sh) / m.dh;
    const double last = (m.top + m.wh) * step + 3 * std::max(step, 1.0) + 2;
    return std::max(1, static_cast<int>(std::min<double>(m.sh, std::ceil(last))) - m.nextRow);
}

bool LanczosScaler::finish(std::uint8_t* dst, int dstStride)
{
    Impl& m = *impl_;
    Scratch& s = *m.s;
    if (!m.started || m.yuv || !windowDone())
        return false;
    // Only the window is unpacked: the cut costs nothing extra.
    for (int y = 0; y < m.wh; ++y) {
        const std::size_t at = std::size_t(m.top + y);
        joinRow(s.out.plane[2] + at * s.out.stride[2] + m.left, s.out.plane[0] + at * s.out.stride[0] + m.left,
                s.out.plane[1] + at * s.out.stride[1] + m.left, dst + std::ptrdiff_t(y) * dstStride, m.ww);
    }
    return true;
}

bool LanczosScaler::windowPlanes(const std::uint8_t** planes, int* strides) const
{
    const Impl& m = *impl_;
    if (!m.started || !m.fullChroma || !windowDone())
        return false;
    for (int p = 0; p < 3; ++p) {
        strides[p] = m.s->out.stride[p];
        planes[p] = m.s->out.plane[p] + std::size_t(m.top) * strides[p] + m.left;
    }
    return true;
}

bool LanczosScaler::finishYuv(std::uint8_t* const* dst, const int* dstStrides)
{
    Impl& m = *impl_;
    Scratch& s = *m.s;
    if (!m.started || !m.yuv || m.fullChroma || !windowDone())
        return false;
    for (int p = 0; p < 3; ++p) {
        const int shift = p == 0 ? 0 : 1;
        for (int y = 0; y < m.wh >> shift; ++y) {
            const std::uint8_t* from = s.out.plane[p] + std::size_t((m.top >> shift) + y) * s.out.stride[p] + (m.left >> shift);
            std::uint8_t* to = dst[p] + std::ptrdiff_t(y) * dstStrides[p];
            p == 0 ? videoRow<true>(from, to, m.ww) : videoRow<false>(from, to, m.ww >> 1);
        }
    }
    return true;
}

} // namespace mv
