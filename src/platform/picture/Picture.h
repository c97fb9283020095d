#pragma once
// Pictures on the image filter library: lazy images that are loaded, scaled
// and cut, and only computed when rendered into a bitmap.
#include <algorithm>
#include <cstdint>
#include <new>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mv {

// Bytes that are always written before they are read: growing the buffer
// does not clear it, and its memory is kept for the next picture. The movie
// library's scaler reads whole SIMD words, so the buffer starts aligned and
// has room to spare after its last byte.
class PixelBuffer {
public:
    static constexpr std::size_t kAlign = 64, kPadding = 64;

    void resizeForOverwrite(std::size_t n)
    {
        if (n > capacity_) {
            data_.reset(static_cast<std::uint8_t*>(::operator new[](n + kPadding, std::align_val_t{kAlign})));
            std::fill_n(data_.get() + n, kPadding, std::uint8_t(0));
            capacity_ = n;
        }
        size_ = n;
    }
    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    const std::uint8_t& operator[](std::size_t i) const { return data_[i]; }

private:
    struct AlignedDelete {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kAlign}); }
    };
    std::unique_ptr<std::uint8_t[], AlignedDelete> data_;
    std::size_t size_ = 0, capacity_ = 0;
};

// 8-bit RGBA, rows top to bottom, 4 * width bytes per row.
struct RgbaBitmap {
    int width = 0;
    int height = 0;
    PixelBuffer pixels;
};

// 16-bit RGBA (little-endian), rows top to bottom, 8 * width bytes per row:
// the pictures of deep-colour sources, for codecs of more than 8 bits.
struct RgbaBitmap16 {
    int width = 0;
    int height = 0;
    PixelBuffer pixels;
};

// 8-bit Y'CbCr 4:2:0 of video range with the BT.601 matrix (a JPEG's, in
// video levels), as the video encoders take it: even sides; the Y plane,
// then Cb and Cr at half the size each way, rows packed.
struct Yuv420Bitmap {
    int width = 0;
    int height = 0;
    PixelBuffer pixels;

    static std::size_t bytes(int w, int h) { return std::size_t(w) * h * 3 / 2; }
    void resize(int w, int h)
    {
        width = w;
        height = h;
        pixels.resizeForOverwrite(bytes(w, h));
    }
    int stride(int p) const { return p == 0 ? width : width / 2; }
    std::size_t offset(int p) const { return p == 0 ? 0 : std::size_t(width) * height * (p + 3) / 4; }
    std::uint8_t* plane(int p) { return pixels.data() + offset(p); }
    const std::uint8_t* plane(int p) const { return pixels.data() + offset(p); }
};

// Pictures are refused before their pixels are read when they have more
// than 2^27 pixels (134 megapixels, such as 16384 x 8192: more than any
// camera sensor but the largest medium-format backs) or a side of more than
// 65500 pixels. Decoding streams through the scaler, but some files
// (interlaced PNG) are decoded whole: this keeps one picture within a few
// hundred megabytes and a forged header from taking the machine.
constexpr std::int64_t kMaxPicturePixels = std::int64_t(1) << 27;
constexpr int kMaxPictureSide = 65500;
inline bool pictureSizeAllowed(std::int64_t w, std::int64_t h)
{
    return w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && w * h <= kMaxPicturePixels;
}

// Call once before any picture is made (from main()).
void initImageLibrary(const char* argv0);

class Picture {
public:
    // Opens a picture file: TIFF, JPEG, PNG by content, CR2, NEF and DNG through
    // the raw decoder. Only the header is read for the common formats, so
    // this is cheap; decoding errors of the pixel data show at render().
    static std::optional<Picture> open(const std::string& path, std::string* error = nullptr);
    // As open(), for a picture that will be shown at no more than w x h: a
    // raw file is then decoded at half its size where that is still larger.
    // (A JPEG shrinks while it is decoded in scaled() in any case.)
    // With `keepDepth`, a picture of 16 bits a channel (TIFF, PNG) or a raw
    // file stays 16-bit; others are 8-bit whatever they were stored as.
    static std::optional<Picture> openForSize(const std::string& path, int w, int h,
                                                 std::string* error = nullptr, bool keepDepth = false);
    // The preview a camera embedded in a raw file, when it covers w x h: a
    // stand-in to show while the picture is developed (the camera's
    // rendering, not the movie's). Nothing for other files.
    static std::optional<Picture> openEmbeddedPreview(const std::string& path, int w, int h);

    // Reads the whole file once, without keeping its pixels: false when they
    // do not decode (a damaged or cut file whose header reads).
    static bool decodes(const std::string& path);

    int width() const;
    int height() const;

    // Lanczos scale: the result is round(width * scale * aspect) by
    // round(height * scale) pixels. A JPEG straight from open() is shrunk
    // while it is decoded when that saves work.
    Picture scaled(double scale, double aspect = 1.0) const;

    // The w x h region whose lower-left corner is (x, y), with the origin at
    // the picture's lower left and y upwards. Parts outside the picture are
    // black.
    Picture cropped(int x, int y, int w, int h) const;

    // Per-pixel colour work in one pass, in linear light: `first`, then
    // with a tint a mix towards it by luminance, then `second`. The result
    // stays linear-light float for filters that follow, or else becomes
    // 8-bit pixels at once. Throws vips::VError when the pixels do not
    // decode, like the other filters.
    struct Affine {
        float m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // rows: r' = m[0] r + m[1] g + m[2] b + k[0]
        float k[3] = {0, 0, 0};
        // This transform followed by `next`.
        Affine then(const Affine& next) const;
    };
    struct PixelPass {
        Affine first;
        bool tint = false;
        float tintColor[3] = {}; // linear light
        float tintIntensity = 0;
        Affine second;
    };
    Picture pixelPass(const PixelPass& pass, bool keepLinear) const;
    // The transforms of the filters below, for a pixel pass.
    static Affine colorControlsTransform(float saturation, float brightness, float contrast);
    static Affine exposureTransform(float ev);
    static Affine sepiaTransform(float intensity);
    static PixelPass monochromePass(float red, float green, float blue, float intensity);

    // The adjustment filters. Each works in linear-light float RGB (0 ... 1);
    // the first one converts the picture, render() converts back to 8 bits.
    // Color controls: brightness added, contrast about 0.5, saturation
    // against Rec. 709 luma.
    Picture colorControls(float saturation, float brightness, float contrast) const;
    // Multiplies by 2^ev.
    Picture exposureAdjust(float ev) const;
    // Tints towards the colour (sRGB components 0 ... 1) by luminance.
    Picture colorMonochrome(float red, float green, float blue, float intensity) const;
    Picture sepiaTone(float intensity) const;
    // Adds `sharpness` times the luma detail above a Gaussian of radius 1.69.
    Picture sharpenLuminance(float sharpness) const;
    // Gaussian blur with sigma = radius; borders extend, size is kept.
    Picture gaussianBlur(float radius) const;
    // Rotates by `angle` radians counter-clockwise about the centre, zoomed
    // so that no empty corner shows; size is kept.
    Picture straighten(float angle) const;

    // Opens a mask: like open(), but a mask with transparency keeps its
    // value (green times alpha, in linear light) as an opaque grey instead
    // of being laid on black in sRGB.
    static std::optional<Picture> openMask(const std::string& path, std::string* error = nullptr);

    // Decodes the pixels now and keeps them, so that a file whose data is
    // damaged fails here rather than where the picture is used. Nothing on
    // failure.
    std::optional<Picture> decoded(std::string* error = nullptr) const;

    // This picture (the source S) combined with a backdrop B per component,
    // in linear-light float: Lighten and Maximum max(S, B), Darken and
    // Minimum min(S, B), Overlay B <= 0.5 ? 2SB : 1 - 2(1 - S)(1 - B). The
    // backdrop is cut or padded with black to this picture's size.
    enum class Blend { Lighten, Darken, Maximum, Minimum, Overlay };
    Picture blended(const Picture& backdrop, Blend mode) const;
    // B + m (S - B), m the mask's green in linear light: white shows this
    // picture, black the backdrop. Backdrop and mask are cut or padded to
    // this picture's size.
    Picture blendedWithMask(const Picture& backdrop, const Picture& mask) const;

    // Computes the picture into an opaque RGBA bitmap. A file is read in one
    // pass, so each picture made from one open() renders once.
    bool render(RgbaBitmap& out, std::string* error = nullptr) const;
    // The same at 16 bits a channel, whatever the picture's depth.
    bool render(RgbaBitmap16& out, std::string* error = nullptr) const;
    // For a JPEG that is only scaled and cut (the cut inside the picture,
    // its sides even), perhaps with a pixel pass: the picture as 4:2:0 from
    // the decoder's own Y'CbCr, with no round trip through RGB (with a pass,
    // only where the decoder gives full chroma: a 4:2:0 JPEG shrunk to a
    // half or less, or a 4:4:4 one). False for any other picture, and when
    // it does not decode: render() then.
    bool renderYuv420(Yuv420Bitmap& out) const;

    struct Impl;

private:
    explicit Picture(std::shared_ptr<const Impl> impl);
    static std::optional<Picture> openPicture(const std::string& path, std::string* error, bool mask, int fitW = 0,
                                              int fitH = 0, bool keepDepth = false);
    friend Picture makePicture(std::shared_ptr<Impl> impl);
    std::shared_ptr<const Impl> impl_;
};

} // namespace mv
