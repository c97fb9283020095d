#pragma once
// Smoothing between consecutive listed images: in-between frames that
// cross-fade from the previous image to the current one (tweening), or each
// frame mixed with the pictures of the images before it (motion blur).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/picture/Picture.h"
#include "settings/JobSettings.h"

namespace mv {

// What one movie does, settled when it starts.
struct SmoothingPlan {
    enum class Mode { None, Tween, MotionBlur };
    Mode mode = Mode::None;
    unsigned tweenFrames = 0;  // in-between frames per pair of images
    unsigned motionFrames = 0; // pictures in each motion-blurred frame, the current one included
    float step = 0;            // the mix step: 1 / (tweenFrames + 1), or 1 / tweenFrames for motion blur
};

// Holds the counts to what a movie can use and writes them back, so that
// the controls show what the movie was made with; called when a run starts.
// Tweening wins when both options are on.
SmoothingPlan settleSmoothing(JobSettings& settings);

// The smoothing state of one movie, on 8-bit or 16-bit pictures. Frames
// are handed in list order, one per listed image that became a picture;
// images that were skipped are not handed in and leave the state as it was.
template <typename Bitmap> class BasicSmoothing {
public:
    using AppendFrame = std::function<bool(const Bitmap&)>;

    explicit BasicSmoothing(const SmoothingPlan& plan);

    bool active() const { return active_; }

    // `frame` is the picture of the next image, before any text is drawn.
    // Tweening hands the in-between frames from the previous picture to this
    // one to `append`, in order, before the caller appends the frame itself;
    // motion blur replaces `frame` by its mix with the stored pictures. The
    // first picture of a movie is never changed. False when `append` failed.
    bool apply(Bitmap& frame, const AppendFrame& append);

private:
    bool tween(Bitmap& frame, const AppendFrame& append);
    void blur(Bitmap& frame);

    SmoothingPlan plan_;
    bool active_ = false;
    bool hasPrevious_ = false;
    Bitmap previous_;
    Bitmap mixed_;
    // Motion blur: the last motionFrames pictures, oldest first; the first
    // picture fills every slot, sharing one copy.
    std::vector<std::shared_ptr<Bitmap>> store_;
};

using Smoothing = BasicSmoothing<RgbaBitmap>;
using DeepSmoothing = BasicSmoothing<RgbaBitmap16>;

} // namespace mv
