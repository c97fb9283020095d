#include "render/RunningValues.h"

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

KeyframeStepper::KeyframeStepper(const std::vector<frameS>& frames) : frames_(frames)
{
    if (frames_.size() >= 2) {
        nextFrame_ = frames_[1].frame;
        takeSteps(frames_[1]);
    }
}

void KeyframeStepper::takeSteps(const frameS& k)
{
    dX_ = k.deltaX, dY_ = k.deltaY, dW_ = k.deltaW, dS_ = k.deltaS, dB_ = k.deltaB, dC_ = k.deltaC;
    dT_ = k.deltaT, dE_ = k.deltaE, dP_ = k.deltaP, dR_ = k.deltaR, dF_ = k.deltaF, dMI_ = k.deltaMI;
    dMR_ = k.deltaMR, dMG_ = k.deltaMG, dMB_ = k.deltaMB;
}

void KeyframeStepper::step(std::uint32_t index, RunningValues& v, std::uint16_t& rate)
{
    if (keyIndex_ < frames_.size() && index == nextFrame_) {
        const frameS& reached = frames_[keyIndex_++];
        rate = reached.rate ? reached.rate : 1;
        if (keyIndex_ < frames_.size()) {
            nextFrame_ = frames_[keyIndex_].frame;
            takeSteps(frames_[keyIndex_]);
        } else {
            takeSteps(frameS{}); // all steps zero after the last keyframe
        }
    }
    v.rawX += dX_, v.rawY += dY_, v.rawW += dW_;
    v.rawS += dS_, v.rawB += dB_, v.rawC += dC_, v.rawT += dT_, v.rawE += dE_, v.rawP += dP_, v.rawR += dR_;
    v.rawMI += dMI_, v.rawMR += dMR_, v.rawMG += dMG_, v.rawMB += dMB_;
    v.rawF += dF_;
}

} // namespace mv
