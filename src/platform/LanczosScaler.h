#pragma once
// Lanczos (a = 3) resampling of 8-bit RGB, done with the SIMD scaler of the
// movie library: several times faster than the image library's own scalar
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
    // Once the window is done: the window as packed RGBA with alpha 255.
    bool finish(std::uint8_t* dst, int dstStride);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mv
