#include "render/Adjustments.h"

namespace mv {

const std::array<Adjustment, 8>& adjustmentChain()
{
    static const std::array<Adjustment, 8> chain{{
        // The deflicker gain evens out the exposure of the shots themselves,
        // so it comes before anything the person chose.
        {[](const AdjustmentValues& v) { return v.deflickerEV != 0; },
         [](const Picture& p, const AdjustmentValues& v) { return p.exposureAdjust(v.deflickerEV); }},
        {[](const AdjustmentValues& v) { return v.saturation != 1 || v.brightness != 0 || v.contrast != 1; },
         [](const Picture& p, const AdjustmentValues& v) { return p.colorControls(v.saturation, v.brightness, v.contrast); }},
        {[](const AdjustmentValues& v) { return v.exposure != 0; },
         [](const Picture& p, const AdjustmentValues& v) { return p.exposureAdjust(v.exposure); }},
        {[](const AdjustmentValues& v) { return v.monoIntensity != 0 || v.monoForced; },
         [](const Picture& p, const AdjustmentValues& v) {
             return p.colorMonochrome(v.monoColor.red, v.monoColor.green, v.monoColor.blue, v.monoIntensity);
         }},
        {[](const AdjustmentValues& v) { return v.sepia != 0; },
         [](const Picture& p, const AdjustmentValues& v) { return p.sepiaTone(v.sepia); }},
        {[](const AdjustmentValues& v) { return v.sharpenGate; },
         [](const Picture& p, const AdjustmentValues& v) { return p.sharpenLuminance(v.sharpen); }},
        {[](const AdjustmentValues& v) { return v.blur != 0; },
         [](const Picture& p, const AdjustmentValues& v) { return p.gaussianBlur(v.blur); }},
        {[](const AdjustmentValues& v) { return v.rotate != 0; },
         [](const Picture& p, const AdjustmentValues& v) { return p.straighten(v.rotate); }},
    }};
    return chain;
}

bool anyAdjustment(const AdjustmentValues& v)
{
    for (const Adjustment& a : adjustmentChain())
        if (a.applies(v))
            return true;
    return false;
}

Picture applyAdjustments(Picture picture, const AdjustmentValues& v)
{
    for (const Adjustment& a : adjustmentChain())
        if (a.applies(v))
            picture = a.apply(picture, v);
    return picture;
}

} // namespace mv
