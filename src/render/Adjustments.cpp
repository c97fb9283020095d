#include "render/Adjustments.h"

namespace mv {

namespace {

bool colorControlsApply(const AdjustmentValues& v) { return v.saturation != 1 || v.brightness != 0 || v.contrast != 1; }
bool monochromeApplies(const AdjustmentValues& v) { return v.monoIntensity != 0 || v.monoForced; }

// The deflicker gain, colour controls, exposure, monochrome and sepia work
// pixel by pixel: they run as one pass, with the neutral ones left out.
bool pixelPassApplies(const AdjustmentValues& v)
{
    return v.deflickerEV != 0 || colorControlsApply(v) || v.exposure != 0 || monochromeApplies(v) || v.sepia != 0;
}

Picture::PixelPass pixelPassOf(const AdjustmentValues& v)
{
    Picture::Affine before; // what comes before the tint
    // The deflicker gain evens out the exposure of the shots themselves, so
    // it comes before anything the person chose.
    if (v.deflickerEV != 0)
        before = Picture::exposureTransform(v.deflickerEV);
    if (colorControlsApply(v))
        before = before.then(Picture::colorControlsTransform(v.saturation, v.brightness, v.contrast));
    if (v.exposure != 0)
        before = before.then(Picture::exposureTransform(v.exposure));
    Picture::PixelPass pass;
    // At intensity 0 the tint changes nothing (it runs only to take over a
    // new colour).
    if (v.monoIntensity != 0)
        pass = Picture::monochromePass(v.monoColor.red, v.monoColor.green, v.monoColor.blue, v.monoIntensity);
    pass.first = before;
    if (v.sepia != 0)
        pass.second = Picture::sepiaTransform(v.sepia);
    return pass;
}

// Sharpen, blur and straighten read around each pixel, in linear light.
struct NeighbourhoodFilter {
    bool (*applies)(const AdjustmentValues&);
    Picture (*apply)(const Picture&, const AdjustmentValues&);
};

const NeighbourhoodFilter kNeighbourhoodFilters[] = {
    {[](const AdjustmentValues& v) { return v.sharpenGate; },
     [](const Picture& p, const AdjustmentValues& v) { return p.sharpenLuminance(v.sharpen); }},
    // A radius of 0 or below (or not a number) is no blur: the filter would
    // refuse it, and the frame must not be lost for it.
    {[](const AdjustmentValues& v) { return v.blur > 0; },
     [](const Picture& p, const AdjustmentValues& v) { return p.gaussianBlur(v.blur); }},
    {[](const AdjustmentValues& v) { return v.rotate != 0; },
     [](const Picture& p, const AdjustmentValues& v) { return p.straighten(v.rotate); }},
};

bool anyNeighbourhoodFilter(const AdjustmentValues& v)
{
    for (const NeighbourhoodFilter& f : kNeighbourhoodFilters)
        if (f.applies(v))
            return true;
    return false;
}

} // namespace

bool anyAdjustment(const AdjustmentValues& v) { return pixelPassApplies(v) || anyNeighbourhoodFilter(v); }

Picture applyAdjustments(Picture picture, const AdjustmentValues& v)
{
    const bool more = anyNeighbourhoodFilter(v);
    if (pixelPassApplies(v))
        picture = picture.pixelPass(pixelPassOf(v), more);
    for (const NeighbourhoodFilter& f : kNeighbourhoodFilters)
        if (f.applies(v))
            picture = f.apply(picture, v);
    return picture;
}

} // namespace mv
