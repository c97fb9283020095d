#include "render/Overlay.h"

#include <cstdio>
#include <exception>

namespace mv {

namespace {

std::string countText(const char* format, std::size_t images, std::size_t others)
{
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(images), static_cast<unsigned>(others));
    return text;
}

} // namespace

Overlay Overlay::forRun(const ImagesList& list, std::uint16_t overlayMode, std::optional<OverlayProblem>& problem)
{
    problem.reset();
    Overlay overlay;
    if (!list.isLayerImages() || overlayMode > kMaskBlend || list.layerFiles().empty())
        return overlay;
    // The lists are paired with the images by index: a list built for
    // another image list (the main list was built again, or grew by a drop)
    // would put layers on the wrong frames or run out before the last one.
    const std::size_t images = list.fileCount();
    const std::vector<std::string>& layers = list.layerFiles();
    const std::vector<std::string>& masks = list.maskFiles();
    if (layers.size() != images) {
        problem = OverlayProblem{"Number of layer images do not match",
                                 countText("Images: %u, Layer images: %u", images, layers.size())};
        return overlay;
    }
    if (overlayMode == kMaskBlend) {
        if (masks.size() >= 2 && masks.size() != images) {
            problem = OverlayProblem{"Number of mask images do not match",
                                     countText("Images: %u, Mask images: %u", images, masks.size())};
            return overlay;
        }
        if (masks.empty())
            return overlay;
        overlay.maskFiles_ = masks;
    }
    overlay.mode_ = overlayMode;
    overlay.layerFiles_ = layers;
    return overlay;
}

Overlay& Overlay::operator=(const Overlay& other)
{
    if (this != &other) {
        mode_ = other.mode_;
        layerFiles_ = other.layerFiles_;
        maskFiles_ = other.maskFiles_;
        std::lock_guard lock(maskMutex_);
        sharedMask_.reset();
    }
    return *this;
}

std::optional<Picture> Overlay::load(const std::string& path, bool mask, const Picture& frame,
                                     const CutLikeFrame& cut) const
{
    try {
        std::optional<Picture> picture = mask ? Picture::openMask(path) : Picture::open(path);
        if (!picture)
            return std::nullopt;
        Picture fitted = cut(*picture);
        // The frame itself may have been held to the largest scale; the
        // layer then follows it to the same size.
        if (fitted.width() != frame.width() || fitted.height() != frame.height()) {
            const double s = double(frame.height()) / fitted.height();
            fitted = fitted.scaled(s, (double(frame.width()) / fitted.width()) / s);
        }
        // Decoded here, so that damaged data counts as a layer that cannot
        // be read rather than as a frame that cannot be made.
        return fitted.decoded();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Picture Overlay::apply(const Picture& frame, unsigned index, const PictureCut& frameCut,
                       const CutLikeFrame& cut, std::string& unreadable) const
{
    if (index >= layerFiles_.size())
        return frame;
    const std::optional<Picture> layer = load(layerFiles_[index], false, frame, cut);
    if (!layer) {
        unreadable = layerFiles_[index];
        return frame;
    }
    if (mode_ < kMaskBlend) {
        static constexpr Picture::Blend kBlends[] = {Picture::Blend::Lighten, Picture::Blend::Darken,
                                                     Picture::Blend::Maximum, Picture::Blend::Minimum,
                                                     Picture::Blend::Overlay};
        return frame.blended(*layer, kBlends[mode_]);
    }
    // One mask serves every frame; a list of them gives each image its own.
    const std::size_t m = maskFiles_.size() < 2 ? 0 : index;
    if (m >= maskFiles_.size())
        return frame;
    const bool shared = maskFiles_.size() == 1;
    auto sameCut = [&](const PictureCut& c) {
        return c.scale == frameCut.scale && c.cropX == frameCut.cropX && c.cropY == frameCut.cropY &&
               c.applyScale == frameCut.applyScale && c.applyCrop == frameCut.applyCrop;
    };
    std::optional<Picture> mask;
    if (shared) {
        std::lock_guard lock(maskMutex_);
        if (sharedMask_ && sameCut(sharedMask_->first) && sharedMask_->second.width() == frame.width() &&
            sharedMask_->second.height() == frame.height())
            mask = sharedMask_->second;
    }
    if (!mask) {
        mask = load(maskFiles_[m], true, frame, cut);
        if (mask && shared) {
            std::lock_guard lock(maskMutex_);
            sharedMask_.emplace(frameCut, *mask);
        }
    }
    if (!mask) {
        unreadable = maskFiles_[m];
        return frame;
    }
    return frame.blendedWithMask(*layer, *mask);
}

} // namespace mv
