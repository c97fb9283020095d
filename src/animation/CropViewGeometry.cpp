#include "animation/CropViewGeometry.h"

#include <cmath>

#include "textlayer/CITextLayer.h"

namespace mv {

std::pair<double, double> CropViewGeometry::outputSize(const JobSettings& s, const Rect& srcRect)
{
    if (s.format == 0 || s.format >= sizePresets().size())
        return {double(s.scale) * srcRect.width, double(s.scale) * srcRect.height};
    // The landscape preset: vertical mode swaps it where the rectangle starts.
    const SizePreset& p = sizePresets()[s.format];
    return {double(p.width), double(p.height)};
}

void CropViewGeometry::startCropRect(const JobSettings& settings, double viewW, double viewH)
{
    const auto [w, h] = outputSize(settings, state_.srcRect);
    width_ = static_cast<float>(w);
    height_ = static_cast<float>(h);
    Rect& r = state_.cropRect;
    if (settings.isVertical) {
        std::swap(width_, height_);
        scale_ = static_cast<float>(viewH / height_);
        aspect_ = width_ / height_;
        r = {0, 0, aspect_ * viewH, viewH};
    } else {
        scale_ = static_cast<float>(viewW / width_);
        aspect_ = height_ / width_;
        r = {0, 0, viewW, aspect_ * viewW};
    }
    // An output without size (no image yet) leaves no usable rectangle.
    if (!std::isfinite(aspect_) || !std::isfinite(scale_)) {
        scale_ = aspect_ = 1;
        r = {0, 0, viewW, viewH};
    }
    state_.isCropRect = true;
}

bool CropViewGeometry::isGreen(double viewW) const
{
    return viewW / state_.cropRect.width <= state_.srcRect.width / width_;
}

Rect CropViewGeometry::shiftRect() const
{
    const Rect& r = state_.cropRect;
    return {r.x + 0.5 * r.width - 50, r.y + 0.5 * r.height - 50, 100, 100};
}

bool CropViewGeometry::inHandle(double x, double y) const
{
    const Rect s = shiftRect();
    const double u = (x - (s.x + 50)) / 50, v = (y - (s.y + 50)) / 50;
    return u * u + v * v <= 1;
}

void CropViewGeometry::moveBy(float dx, float dy, float viewW, float viewH)
{
    Rect& r = state_.cropRect;
    if (r.y + dy <= 0 || r.y + dy >= viewH - r.height - 1)
        dy = 0;
    if (r.x + dx <= 0 || r.x + dx >= viewW - r.width)
        dx = 0;
    r.x += dx;
    r.y += dy;
    state_.isCropRect = true;
}

void CropViewGeometry::resizeBy(float d, float viewW, float viewH, bool isVertical)
{
    Rect& r = state_.cropRect;
    const double hMax = double(viewH) - 1;
    const double newWidth = r.width + d;
    if (newWidth < 100 || newWidth >= viewW)
        d = 0;
    const double newHeight = r.height + d;
    if (d == 0 || newHeight >= hMax || newHeight < 100)
        return;
    if (isVertical) {
        r.height += d;
        r.width = aspect_ * r.height;
    } else {
        r.width += d;
        r.height = aspect_ * r.width;
    }
    if (r.x + r.width > viewW)
        r.x -= r.x + r.width - viewW;
    if (r.x < 0)
        r.x = 0;
    if (r.y + r.height >= hMax)
        r.y = hMax + 1 - r.height;
    if (r.y < 0)
        r.y = 0;
    state_.isCropRect = true;
}

Rect CropViewGeometry::stampRect(double w, double h) const
{
    const Rect& r = state_.cropRect;
    // View units per output pixel of the rectangle as it is now (scale_ is
    // the starting rectangle's); the sides keep the output's aspect.
    const double s = width_ > 0 ? r.width / width_ : 1;
    return {r.x + kStampInset * s, r.y + kStampInset * s, w * s, h * s};
}

} // namespace mv
