#pragma once
// Lanczos (a = 3) resampling of 8-bit RGB, or of Y'CbCr planes into a video
// encoder's 4:2:0, done with the SIMD scaler of the movie library: several times faster than the image library's own scalar
// Lanczos, which matters because every frame of a movie is scaled.
//
// The source is fed in strips, top to bottom, so a large picture never has
// to be held whole: memory is the scaled result plus a few source rows.
#include <cstdint>
#include <memory>

namespace mv {

class LanczosScaler {
public:
    LanczosScaler();
    ~LanczosScaler();
    LanczosScaler(const LanczosScaler&) = delete;
    LanczosScaler& operator=(const LanczosScaler&) = delete;

    // Prepares scaling a sw x sh picture to dw x dh of which only the window
    // (left, top, ww, wh), which must lie inside it, is kept. False when the
    // sizes cannot be scaled, or when either side shrinks by more than 16.
    bool start(int sw, int sh, int dw, int dh, int left, int top, int ww, int wh);
    // The next n rows of the source, packed RGB, `stride` bytes apart.
    bool addRows(const std::uint8_t* rows, int stride, int n);
    // Every row of the window has been written: the source rows below it
    // are not needed.
    bool windowDone() const;
    // About how many more source rows the window needs (at least 1), or 0
    // once it is done: a little more than the filter reaches, so that the
    // decoder can hand them over in one strip without decoding many rows
    // below the window.
    int rowsWanted() const;
    // Once the window is done: the window as packed RGBA with alpha 255.
    bool finish(std::uint8_t* dst, int dstStride);

    // The same for full-range Y'CbCr planes (a JPEG's), chroma subsampled
    // by 2^shiftX across and 2^shiftY down, to 4:2:0 of video range, or
    // with fullChroma from 4:4:4 to 4:4:4 still of full range, its chroma
    // scaled bicubically. Every side must be even.
    bool startYuv(int shiftX, int shiftY, int sw, int sh, int dw, int dh, int left, int top, int ww, int wh,
                  bool fullChroma = false);
    // The next n luma rows and their chroma rows.
    bool addPlanes(const std::uint8_t* const* planes, const int* strides, int n);
    // The window as Y, Cb and Cr planes, levels 16-235 and 16-240.
    bool finishYuv(std::uint8_t* const* dst, const int* dstStrides);
    // Or, scaled to 4:4:4, where the window's planes are, valid while the
    // scaler lives.
    bool windowPlanes(const std::uint8_t** planes, int* strides) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mv
