#include "render/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace mv {

int FrameGeometry::frameWidth() const { return std::max(1, static_cast<int>(std::lround(W))); }
int FrameGeometry::frameHeight() const { return std::max(1, static_cast<int>(std::lround(H))); }

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

} // namespace mv
