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

// Walks the keyframes along the image indexes of the frame loop.
class KeyframeStepper {
public:
    // frames: two or more keyframes.
    explicit KeyframeStepper(const std::vector<frameS>& frames);

    // At image `index`: switch to the next segment when the index meets its
    // keyframe exactly (the new rate goes to `rate`), then add one step.
    // Image 0 already carries one step of the first segment.
    void step(std::uint32_t index, RunningValues& values, std::uint16_t& rate);

private:
    void takeSteps(const frameS& key);

    const std::vector<frameS>& frames_;
    std::size_t keyIndex_ = 1;
    std::uint32_t nextFrame_ = 0;
    float dX_ = 0, dY_ = 0, dW_ = 0, dS_ = 0, dB_ = 0, dC_ = 0, dT_ = 0, dE_ = 0, dP_ = 0, dR_ = 0, dF_ = 0, dMI_ = 0,
          dMR_ = 0, dMG_ = 0, dMB_ = 0;
};

} // namespace mv
