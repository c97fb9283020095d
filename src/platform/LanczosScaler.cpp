#include "platform/LanczosScaler.h"

#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace mv {
namespace {

// Scaling is done on planar RGB so that no colour conversion is involved;
// packing and unpacking are exact shuffles.
struct Planes {
    std::vector<std::uint8_t> data;
    std::uint8_t* plane[3] = {};
    int stride[3] = {};

    void resize(int w, int h)
    {
        data.resize(std::size_t(w) * h * 3);
        for (int p = 0; p < 3; ++p) {
            plane[p] = data.data() + std::size_t(p) * w * h;
            stride[p] = w;
        }
    }
};

struct ThreadScaler {
    SwsContext* pack = nullptr;
    SwsContext* scale = nullptr;
    SwsContext* unpack = nullptr;
    Planes in, out;

    ~ThreadScaler()
    {
        sws_freeContext(pack);
        sws_freeContext(scale);
        sws_freeContext(unpack);
    }
};

} // namespace

bool lanczosScaleRgbToRgba(const std::uint8_t* src, int sw, int sh, int srcStride, int dw, int dh, int left,
                           int top, int ww, int wh, std::uint8_t* dst, int dstStride)
{
    if (left < 0 || top < 0 || ww < 1 || wh < 1 || left + ww > dw || top + wh > dh)
        return false;
    thread_local ThreadScaler t;
    const int exact = SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT;
    t.pack = sws_getCachedContext(t.pack, sw, sh, AV_PIX_FMT_RGB24, sw, sh, AV_PIX_FMT_GBRP, exact, nullptr,
                                  nullptr, nullptr);
    t.scale = sws_getCachedContext(t.scale, sw, sh, AV_PIX_FMT_GBRP, dw, dh, AV_PIX_FMT_GBRP,
                                   SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    t.unpack = sws_getCachedContext(t.unpack, ww, wh, AV_PIX_FMT_GBRP, ww, wh, AV_PIX_FMT_RGBA, exact, nullptr,
                                    nullptr, nullptr);
    if (!t.pack || !t.scale || !t.unpack)
        return false;
    t.in.resize(sw, sh);
    t.out.resize(dw, dh);
    // GBRP keeps green, blue, red in planes 0, 1, 2.
    std::uint8_t* inPlanes[3] = {t.in.plane[0], t.in.plane[1], t.in.plane[2]};
    std::uint8_t* outPlanes[3] = {t.out.plane[0], t.out.plane[1], t.out.plane[2]};
    const std::uint8_t* srcSlice[1] = {src};
    const int srcStrides[1] = {srcStride};
    if (sws_scale(t.pack, srcSlice, srcStrides, 0, sh, inPlanes, t.in.stride) != sh)
        return false;
    const std::uint8_t* const* scaledIn = inPlanes;
    if (sws_scale(t.scale, scaledIn, t.in.stride, 0, sh, outPlanes, t.out.stride) != dh)
        return false;
    // Only the window is unpacked: the cut costs nothing extra.
    std::uint8_t* dstSlice[1] = {dst};
    const int dstStrides[1] = {dstStride};
    const std::uint8_t* window[3];
    for (int p = 0; p < 3; ++p)
        window[p] = outPlanes[p] + std::size_t(top) * t.out.stride[p] + left;
    return sws_scale(t.unpack, window, t.out.stride, 0, wh, dstSlice, dstStrides) == wh;
}

} // namespace mv
