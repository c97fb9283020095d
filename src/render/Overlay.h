#pragma once
// The layer step of the frame loop: a second picture per image, blended with
// the frame picture in a chosen mode or mixed with it through a mask.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "imagelist/ImagesList.h"
#include "platform/picture/Picture.h"
#include "render/FrameGeometry.h"
#include "settings/JobSettings.h"

namespace mv {

struct OverlayProblem {
    std::string title, message;
};

// overlayMode (a BlendMode): kLightenBlend to kOverlayBlend blend, kMaskBlend
// mixes through the mask; any other value blends nothing.
class Overlay {
public:
    Overlay() = default; // frames stay as they are

    // The overlay of a run, with copies of the lists: the render threads
    // read them while the image list may be changed. When a list does not
    // pair one entry with each image, `problem` gets the alert and the run
    // must not start. Layer mode without a single layer, or the mask mode
    // without a mask, blends nothing.
    static Overlay forRun(const ImagesList& list, std::uint16_t overlayMode, std::optional<OverlayProblem>& problem);

    bool active() const { return !layerFiles_.empty(); }
    std::size_t layerCount() const { return layerFiles_.size(); }

    Overlay(const Overlay& other) : mode_(other.mode_), layerFiles_(other.layerFiles_), maskFiles_(other.maskFiles_) {}
    Overlay& operator=(const Overlay& other);

    // Scales and cuts a picture of the current image like its frame; `cut`
    // is the frame's own scale and cut, which decides the result.
    using CutLikeFrame = std::function<Picture(const Picture&)>;
    // The frame picture of image `index` with its layer. A layer or mask
    // that cannot be read leaves the frame as it is, and its path goes to
    // `unreadable`. Safe to call from several threads at once.
    Picture apply(const Picture& frame, unsigned index, const PictureCut& cut, const CutLikeFrame& cutLikeFrame,
                  std::string& unreadable) const;

private:
    std::optional<Picture> load(const std::string& path, bool mask, const Picture& frame,
                                const CutLikeFrame& cut) const;

    std::uint16_t mode_ = 0;
    std::vector<std::string> layerFiles_, maskFiles_;
    // The one mask of every frame, decoded once while the frames' cut stays
    // the same (decoding a large mask costs more than the blend).
    mutable std::mutex maskMutex_;
    mutable std::optional<std::pair<PictureCut, Picture>> sharedMask_;
};

} // namespace mv
