#include "render/RunningValues.h"

#include <algorithm>

namespace mv {

RunningValues startValues(const JobSettings& s, const CropViewState* view)
{
    RunningValues v;
    if (view) {
        v.rawX = static_cast<float>(view->cropRect.x);
        v.rawY = static_cast<float>(view->cropRect.y);
        v.rawW = static_cast<float>(s.isVertical ? view->cropRect.height : view->cropRect.width);
    }
    v.rawS = s.saturation;
    v.rawB = s.brightness;
    v.rawC = s.contrast;
    v.rawT = s.sepiaIntensity;
    v.rawE = s.exposureEV;
    v.rawP = s.blurRadius;
    v.rawR = s.rotateAngle;
    v.rawMI = s.monoIntensity;
    v.rawMR = s.ciColor.red;
    v.rawMG = s.ciColor.green;
    v.rawMB = s.ciColor.blue;
    v.rawF = s.mvFPS;
    return v;
}

RunningValues keyframeValues(const frameS& k, bool isVertical)
{
    RunningValues v;
    v.rawX = static_cast<float>(k.rect.x);
    v.rawY = static_cast<float>(k.rect.y);
    v.rawW = static_cast<float>(isVertical ? k.rect.height : k.rect.width);
    v.rawS = k.saturation;
    v.rawB = k.brightness;
    v.rawC = k.contrast;
    v.rawT = k.sepiaIntensity;
    v.rawE = k.exposureEV;
    v.rawP = k.blurRadius;
    v.rawR = k.rotateAngle;
    v.rawMI = k.monoIntensity;
    v.rawMR = k.monoRed;
    v.rawMG = k.monoGreen;
    v.rawMB = k.monoBlue;
    v.rawF = k.fps;
    return v;
}

KeyframeStepper::KeyframeStepper(const std::vector<frameS>& frames, bool isVertical)
    : frames_(frames), isVertical_(isVertical)
{
}

void KeyframeStepper::step(std::uint32_t index, RunningValues& v, std::uint16_t& rate)
{
    while (keyIndex_ < frames_.size() && index >= frames_[keyIndex_].frame) {
        const std::uint16_t r = frames_[keyIndex_++].rate;
        rate = r ? r : 1;
    }
    if (keyIndex_ >= frames_.size()) {
        v = keyframeValues(frames_.back(), isVertical_);
        return;
    }
    const frameS& from = frames_[keyIndex_ - 1];
    const frameS& to = frames_[keyIndex_];
    const RunningValues a = keyframeValues(from, isVertical_), b = keyframeValues(to, isVertical_);
    const double t = to.frame > from.frame ? double(index - std::min(index, from.frame)) / (to.frame - from.frame) : 1;
    const auto mix = [t](float x, float y) { return static_cast<float>(x + (double(y) - x) * t); };
    v.rawX = mix(a.rawX, b.rawX), v.rawY = mix(a.rawY, b.rawY), v.rawW = mix(a.rawW, b.rawW);
    v.rawS = mix(a.rawS, b.rawS), v.rawB = mix(a.rawB, b.rawB), v.rawC = mix(a.rawC, b.rawC);
    v.rawT = mix(a.rawT, b.rawT), v.rawE = mix(a.rawE, b.rawE), v.rawP = mix(a.rawP, b.rawP);
    v.rawR = mix(a.rawR, b.rawR), v.rawMI = mix(a.rawMI, b.rawMI), v.rawMR = mix(a.rawMR, b.rawMR);
    v.rawMG = mix(a.rawMG, b.rawMG), v.rawMB = mix(a.rawMB, b.rawMB), v.rawF = mix(a.rawF, b.rawF);
}

Rect keyframedRect(const std::vector<frameS>& frames, std::uint32_t index, bool isVertical)
{
    if (frames.empty())
        return {};
    RunningValues v = keyframeValues(frames[0], isVertical);
    std::uint16_t rate = frames[0].rate;
    KeyframeStepper(frames, isVertical).step(index, v, rate);
    const Rect& shape = frames[0].rect;
    const double aspect = shape.width > 0 ? shape.height / shape.width : 0;
    if (isVertical)
        return {v.rawX, v.rawY, aspect > 0 ? v.rawW / aspect : 0, v.rawW};
    return {v.rawX, v.rawY, v.rawW, v.rawW * aspect};
}

} // namespace mv
