#pragma once
// One keyframe of a pan-and-zoom animation: the crop rectangle and twelve
// picture values at one image, with the per-frame steps of the segment that
// ends there.
#include <cstdint>
#include <string>

namespace mv {

// Rectangle of doubles, origin at the lower left, y up.
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// The text form of a rectangle, "{{x, y}, {w, h}}".
std::string rectText(const Rect& r);

struct frameS {
    Rect rect;                 // crop rectangle, in preview units
    std::uint32_t frame = 0;   // image index of the keyframe
    float saturation = 1, brightness = 0, contrast = 1, sepiaIntensity = 0, exposureEV = 0, blurRadius = 0,
          rotateAngle = 0, fps = 30, monoIntensity = 0, monoRed = 1, monoGreen = 1, monoBlue = 1;
    // Steps per output frame over the segment that ends here; deltaW steps
    // the height in vertical mode.
    float deltaX = 0, deltaY = 0, deltaW = 0, deltaS = 0, deltaB = 0, deltaC = 0, deltaT = 0, deltaE = 0,
          deltaP = 0, deltaR = 0, deltaF = 0, deltaMI = 0, deltaMR = 0, deltaMG = 0, deltaMB = 0;
    std::uint16_t rate = 1;    // rate step from this keyframe on
};

} // namespace mv
