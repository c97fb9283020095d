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

// Also writes the working scale back into the settings, as the frame loop
// does.
FrameGeometry computeFrameGeometry(JobSettings& settings, double imgW, double imgH);

} // namespace mv
