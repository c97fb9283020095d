#pragma once
// The inside of a Picture, shared by the files of the picture layer.
#include <memory>
#include <optional>
#include <string>
#include <vips/vips8>

#include "platform/picture/Picture.h"

namespace mv {

struct Picture::Impl {
    vips::VImage image;
    // Kept while the picture is exactly what was loaded from a JPEG file, so
    // that scaled() can let the decoder shrink it.
    std::string jpegPath;
    // A pending scale of a JPEG file as loaded (jpegW x jpegH): decoded by
    // libjpeg itself at jpegEighths/8 and fed to the scaler. `image` is the
    // same picture through the image library, for what that path cannot do.
    std::string directJpeg;
    int jpegW = 0, jpegH = 0, jpegEighths = 8;
    // A Lanczos scale of `image` to scaledW x scaledH and then a cut of it,
    // both still to be done. They are run together at render time, or when
    // another operation needs the pixels.
    bool pendingScale = false;
    int scaledW = 0, scaledH = 0;
    bool pendingCrop = false;
    int cropLeft = 0, cropTop = 0, cropW = 0, cropH = 0; // y down, in scaled pixels
    // A pixel pass (8-bit in, 8-bit out) still to be run on the scaled and
    // cut picture: with the scale, it can go straight to a video encoder's
    // 4:2:0.
    std::optional<Picture::PixelPass> pendingPass;
    // The pixels are linear-light float RGB (after an adjustment filter).
    bool linear = false;
    // The pixels are 16-bit sRGB (RGB16), opened to keep their depth: scaled
    // and cut by the image library (deepWindow), and linear float from the
    // first filter on.
    bool deep = false;
    // Pixels already computed into a bitmap (by a pixel pass); `image` is
    // then unused.
    std::shared_ptr<const RgbaBitmap> bitmap;

    int width() const
    {
        return bitmap ? bitmap->width : pendingCrop ? cropW : pendingScale ? scaledW : image.width();
    }
    int height() const
    {
        return bitmap ? bitmap->height : pendingCrop ? cropH : pendingScale ? scaledH : image.height();
    }
    vips::VImage materialized() const;
    vips::VImage deepWindow() const;
    bool renderPending(RgbaBitmap& out) const;
    bool renderScaled(RgbaBitmap& out) const;
};

// The pixel pass over 8-bit RGBA pixels, in place.
void runPixelPass(const Picture::PixelPass& pass, RgbaBitmap& bitmap);
// The pixel pass over w x h pixels (w and h even) given as full-range
// Y'CbCr 4:4:4 planes (a JPEG's colours), each pixel through RGB, into
// 4:2:0 video levels (see Yuv420Bitmap), chroma averaged over each pair of
// rows and columns.
void pixelPassToYuv420(const Picture::PixelPass& pass, const std::uint8_t* const* ycc, const int* strides, int w,
                       int h, Yuv420Bitmap& out);

// CR2 and NEF files go to the raw decoder, whatever their content says.
bool hasRawExtension(const std::string& path);

// The raw decoder holds several 16-bit copies of the sensor: its pictures
// are held to half the limit of the others (67 megapixels; the largest CR2
// and NEF sensors have about 50).
constexpr std::int64_t kMaxRawPixels = kMaxPicturePixels / 2;

// Opens the header of a TIFF, JPEG or PNG file (whatever its name says);
// other formats are refused, and so is a picture larger than the limit.
// Opened for decoding, damaged data fails when it is read. Throws
// vips::VError.
vips::VImage openPictureHeader(const std::string& path, bool forDecoding);

// A picture whose pixels are `image`, nothing pending.
Picture makePicture(std::shared_ptr<Picture::Impl> impl);

} // namespace mv
