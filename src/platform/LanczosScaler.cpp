#include "platform/LanczosScaler.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace mv {
namespace {

// The scaler reads and writes whole SIMD words: every plane row starts
// aligned and the buffer ends with room to spare, as the library asks.
constexpr int kAlign = 64;
constexpr std::size_t kPadding = 64;

// Planar RGB (the scaler's GBRP: green, blue, red planes) in one buffer.
// Scaling planes needs no colour conversion, so packing and unpacking are
// exact shuffles.
struct Planes {
    std::uint8_t* buffer = nullptr;
    std::size_t capacity = 0;
    std::uint8_t* plane[4] = {};
    int stride[4] = {};

    ~Planes() { av_free(buffer); }

    bool resize(int w, int h)
    {
        const int size = av_image_get_buffer_size(AV_PIX_FMT_GBRP, w, h, kAlign);
        if (size < 0)
            return false;
        if (std::size_t(size) + kPadding > capacity) {
            av_free(buffer);
            capacity = std::size_t(size) + kPadding;
            buffer = static_cast<std::uint8_t*>(av_malloc(capacity));
            if (!buffer) {
                capacity = 0;
                return false;
            }
            std::memset(buffer, 0, capacity);
        }
        return av_image_fill_arrays(plane, stride, buffer, AV_PIX_FMT_GBRP, w, h, kAlign) >= 0;
    }
};

} // namespace

struct LanczosScaler::Impl {
    SwsContext* scale = nullptr;
    int sw = 0, sh = 0, dw = 0, dh = 0, left = 0, top = 0, ww = 0, wh = 0;
    int nextRow = 0;
    Planes in, out;

    ~Impl() { sws_freeContext(scale); }
};

LanczosScaler::LanczosScaler() : impl_(std::make_unique<Impl>()) {}
LanczosScaler::~LanczosScaler() = default;

bool LanczosScaler::start(int sw, int sh, int dw, int dh, int left, int top, int ww, int wh)
{
    Impl& m = *impl_;
    // Beyond a reduction of 16 the library switches to a cascade of scalers
    // that cannot take strips.
    if (sw < 1 || sh < 1 || left < 0 || top < 0 || ww < 1 || wh < 1 || left + ww > dw || top + wh > dh ||
        sw > 16 * dw || sh > 16 * dh)
        return false;
    m.scale = sws_getCachedContext(m.scale, sw, sh, AV_PIX_FMT_GBRP, dw, dh, AV_PIX_FMT_GBRP,
                                   SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (!m.scale || !m.out.resize(dw, dh))
        return false;
    m.sw = sw, m.sh = sh, m.dw = dw, m.dh = dh, m.left = left, m.top = top, m.ww = ww, m.wh = wh;
    m.nextRow = 0;
    return true;
}

bool LanczosScaler::addRows(const std::uint8_t* rows, int stride, int n)
{
    Impl& m = *impl_;
    if (!m.scale || n < 1 || m.nextRow + n > m.sh || !m.in.resize(m.sw, n))
        return false;
    for (int y = 0; y < n; ++y) {
        const std::uint8_t* s = rows + std::size_t(y) * stride;
        std::uint8_t* g = m.in.plane[0] + std::size_t(y) * m.in.stride[0];
        std::uint8_t* b = m.in.plane[1] + std::size_t(y) * m.in.stride[1];
        std::uint8_t* r = m.in.plane[2] + std::size_t(y) * m.in.stride[2];
        for (int x = 0; x < m.sw; ++x, s += 3) {
            r[x] = s[0];
            g[x] = s[1];
            b[x] = s[2];
        }
    }
    // Strips come in order; the scaler keeps the rows its vertical filter
    // still needs and writes each output row once it can.
    const std::uint8_t* const* src = m.in.plane;
    if (sws_scale(m.scale, src, m.in.stride, m.nextRow, n, m.out.plane, m.out.stride) < 0)
        return false;
    m.nextRow += n;
    return true;
}

bool LanczosScaler::finish(std::uint8_t* dst, int dstStride)
{
    Impl& m = *impl_;
    if (!m.scale || m.nextRow != m.sh)
        return false;
    // Only the window is unpacked: the cut costs nothing extra.
    for (int y = 0; y < m.wh; ++y) {
        const std::size_t row = std::size_t(m.top + y);
        const std::uint8_t* g = m.out.plane[0] + row * m.out.stride[0] + m.left;
        const std::uint8_t* b = m.out.plane[1] + row * m.out.stride[1] + m.left;
        const std::uint8_t* r = m.out.plane[2] + row * m.out.stride[2] + m.left;
        std::uint8_t* d = dst + std::size_t(y) * dstStride;
        for (int x = 0; x < m.ww; ++x, d += 4) {
            d[0] = r[x];
            d[1] = g[x];
            d[2] = b[x];
            d[3] = 255;
        }
    }
    return true;
}

} // namespace mv
