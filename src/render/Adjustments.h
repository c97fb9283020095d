#pragma once
// The picture adjustments of a frame, in their fixed order.

#include "platform/picture/Picture.h"
#include "settings/JobSettings.h"

namespace mv {

// The values one image is adjusted with.
struct AdjustmentValues {
    float deflickerEV = 0; // the deflicker gain, before everything else
    float saturation = 1, brightness = 0, contrast = 1;
    float exposure = 0;
    float monoIntensity = 0;
    RGBColor monoColor;
    bool monoForced = false; // runs once at intensity 0 to take over a new colour
    float sepia = 0;
    bool sharpenGate = false; // the sharpen control was above 0.01 when the movie started
    float sharpen = 0;
    float blur = 0;
    float rotate = 0;
};

// In their order: the deflicker gain, color controls, exposure,
// monochrome, sepia (one pass over the pixels), then sharpen, blur,
// straighten. Each runs only when it is not neutral (exact comparison with
// its neutral value).
bool anyAdjustment(const AdjustmentValues& v);
Picture applyAdjustments(Picture picture, const AdjustmentValues& v);

} // namespace mv
