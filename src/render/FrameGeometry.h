#pragma once
// Frame size, scale and cut of a movie, computed once from the first image.
#include "settings/JobSettings.h"

namespace mv {

struct FrameGeometry {
    double imgW = 0, imgH = 0; // source size (all images are taken to have it)
    double W = 0, H = 0;       // frame size, not rounded
    float scale = 1.0f;        // factor applied to every image
    float rawScale = 1.0f;     // scale before any zoom of a crop rectangle
    double cropX = 0, cropY = 0; // lower-left corner of the cut, y up, in scaled pixels
    bool applyScale = false;
    bool applyCrop = false;

    int frameWidth() const;
    int frameHeight() const;
};

// Also writes the scale of a preset back into the settings.
FrameGeometry computeFrameGeometry(JobSettings& settings, double imgW, double imgH);

// Zooms to a crop rectangle given in the units of a preview of size
// cvW x cvH that shows the whole image: origin (rawX, rawY) and width rawW
// (its height in vertical mode). Sets the working scale and the cut.
void zoomToRect(FrameGeometry& g, float rawX, float rawY, float rawW, float cvW, float cvH, bool isVertical);

// The scale and cut of one picture. A picture of another size than the
// first is brought to the first image's size first, scaled to cover it and
// cut by the crop choice, so that it fills the frame as the others do; the
// two steps become one scale and one cut.
struct PictureCut {
    double scale = 1.0;
    double cropX = 0, cropY = 0; // lower-left corner, y up, in scaled pixels
    bool applyScale = false;
    bool applyCrop = false;
};
PictureCut fitToFirstSize(const PictureCut& cut, int pictureW, int pictureH, double imgW, double imgH,
                          std::uint16_t crop, int frameW, int frameH);

} // namespace mv
