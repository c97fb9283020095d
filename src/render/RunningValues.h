#pragma once
// The values that the frame loop carries from image to image: crop origin,
// zoom, the picture adjustments and the frame rate, stepped per image when
// keyframes animate them.
#include <cstdint>
#include <vector>

#include "animation/CropWindow.h"
#include "animation/Keyframe.h"
#include "settings/JobSettings.h"

namespace mv {

struct RunningValues {
    float rawX = 0, rawY = 0, rawW = 0;
    float rawS = 1, rawB = 0, rawC = 1, rawT = 0, rawE = 0, rawP = 0, rawR = 0, rawMI = 0;
    float rawMR = 1, rawMG = 1, rawMB = 1;
    float rawF = 30;
};

// Without keyframes: the job's settings, and the preview's rectangle.
RunningValues startValues(const JobSettings& settings, const CropViewState* view);
// With keyframes: the values of a keyframe.
RunningValues keyframeValues(const frameS& key, bool isVertical);

// The keyframed values along the image indexes of the frame loop. Each
// value is worked out from the two keyframes around the image, not summed
// step by step, so that it lands exactly on every keyframe (a blur fading to
// 0 ends at 0, not a little below it) however long the span.
class KeyframeStepper {
public:
    // frames: two or more keyframes, in image order.
    KeyframeStepper(const std::vector<frameS>& frames, bool isVertical);

    // The values at image `index`, which never goes back: those of its own
    // keyframe where it has one, moving evenly between keyframes, and held
    // after the last. The rate of a keyframe reached or passed goes to `rate`.
    void step(std::uint32_t index, RunningValues& values, std::uint16_t& rate);

private:
    const std::vector<frameS>& frames_;
    bool isVertical_;
    std::size_t keyIndex_ = 1; // the keyframe that ends the current span
};

// The crop rectangle the movie uses at image `index`, in the keyframes'
// units: moving evenly between the keyframes around the image and held
// after the last, with the keyframes' shape. Empty without keyframes.
Rect keyframedRect(const std::vector<frameS>& frames, std::uint32_t index, bool isVertical);

} // namespace mv
