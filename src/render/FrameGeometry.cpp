#include "render/FrameGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mv {

// A size beyond any frame (a huge stored scale) is held to the largest int
// rather than overflowing; the movie run refuses it.
static int wholePixels(double v)
{
    if (!(v < 2e9))
        return std::numeric_limits<int>::max();
    return std::max(1, static_cast<int>(std::lround(v)));
}

int FrameGeometry::frameWidth() const { return wholePixels(W); }
int FrameGeometry::frameHeight() const { return wholePixels(H); }

FrameGeometry computeFrameGeometry(JobSettings& settings, double imgW, double imgH)
{
    FrameGeometry g;
    g.imgW = imgW;
    g.imgH = imgH;
    if (settings.format == 0 || settings.format >= sizePresets().size()) {
        g.W = settings.scale * imgW;
        g.H = settings.scale * imgH;
        if (settings.isVertical)
            settings.scale = static_cast<float>(g.H / imgH);
    } else {
        const auto [w, h] = settings.presetSize(); // already upright when vertical
        g.W = w;
        g.H = h;
        // Worked out in double, kept in single precision: every later
        // product uses the stored value (1000 px at 1080p gives 1.9199999).
        settings.scale = static_cast<float>(settings.isVertical ? g.H / imgH : g.W / imgW);
    }
    g.scale = settings.scale;
    g.rawScale = g.scale;

    const double scaledW = double(g.scale) * imgW;
    const double scaledH = double(g.scale) * imgH;
    switch (settings.crop) {
    case kCropTop:
    case kCropMiddle:
    case kCropBottom: {
        const double factor = settings.crop == kCropTop ? 1.0 : settings.crop == kCropMiddle ? 0.5 : 0.0;
        if (g.W >= g.H) {
            // Cut vertically; y is the lower edge, so Top keeps the top.
            g.cropY = std::floor((scaledH - g.H) * factor);
        } else {
            // An upright frame is cut horizontally; Top keeps the left side.
            g.cropX = std::floor((scaledW - g.W) * (1.0 - factor));
        }
        break;
    }
    default:
        break; // a custom crop without keyframes or rectangle starts at 0, 0
    }
    g.applyScale = g.scale != 1.0f;
    g.applyCrop = settings.format != 0;
    return g;
}

void zoomToRect(FrameGeometry& g, float rawX, float rawY, float rawW, float cvW, float cvH, bool isVertical)
{
    const float span = isVertical ? cvH : cvW;
    // A rectangle without size (none drawn) means the whole preview.
    g.scale = rawW > 0 ? static_cast<float>(double(g.rawScale) * span / rawW) : g.rawScale;
    if (!std::isfinite(g.scale))
        g.scale = g.rawScale;
    g.cropX = cvW > 0 ? std::floor(static_cast<float>(double(g.scale) * g.imgW * rawX / cvW)) : 0.0;
    g.cropY = cvH > 0 ? std::floor(static_cast<float>(double(g.scale) * g.imgH * rawY / cvH)) : 0.0;
    if (!std::isfinite(g.cropX) || !std::isfinite(g.cropY))
        g.cropX = g.cropY = 0;
}

PictureCut fitToFirstSize(const PictureCut& cut, int pictureW, int pictureH, double imgW, double imgH,
                          std::uint16_t crop, int frameW, int frameH)
{
    if ((pictureW == imgW && pictureH == imgH) || pictureW < 1 || pictureH < 1 || !(imgW > 0 && imgH > 0))
        return cut;
    // The tiny excess keeps the covering picture from rounding below the
    // first image's size.
    const double cover = std::max(imgW / pictureW, imgH / pictureH) * (1.0 + 1e-9);
    const double excessX = pictureW * cover - imgW, excessY = pictureH * cover - imgH;
    // As in the frame geometry: Top keeps the top or the left side, Bottom
    // the bottom or the right side, Middle and Custom the middle.
    const double keep = crop == kCropTop ? 1.0 : crop == kCropBottom ? 0.0 : 0.5;
    PictureCut fit;
    fit.scale = cut.scale * cover;
    fit.cropX = cut.cropX + cut.scale * std::floor(excessX * (1.0 - keep));
    fit.cropY = cut.cropY + cut.scale * std::floor(excessY * keep);
    fit.applyScale = fit.applyCrop = true;
    // Where the first image fills the frame, so does this one: rounding
    // must not open a black line at an edge.
    const double scaledW = std::round(pictureW * fit.scale), scaledH = std::round(pictureH * fit.scale);
    if (scaledW >= frameW)
        fit.cropX = std::clamp(std::floor(fit.cropX), 0.0, scaledW - frameW);
    if (scaledH >= frameH)
        fit.cropY = std::clamp(std::floor(fit.cropY), 0.0, scaledH - frameH);
    return fit;
}

} // namespace mv
