#pragma once
// The chart of a deflicker analysis: each image's measured brightness as a
// dot and the smooth curve the images are brought onto as a line, in EV over
// the image number. The window shows it and the command line saves it, so it
// is drawn here into a plain bitmap.
#include <vector>

#include "platform/picture/Picture.h"

namespace mv {

// measured[i] and curve[i] are the log2 brightness of image i, shown as image
// number i + 1; NaN or infinite where there is none (a series shorter than
// the other has none past its end). Missing dots are left out and the curve's
// line breaks at them. The result is opaque, width x height; empty for a size
// no picture can have. The texts are in the window's language and need the
// text engine (ensureTextEngine() in textlayer/CITextLayer.h); without it the
// chart has none.
RgbaBitmap brightnessPlot(const std::vector<double>& measured, const std::vector<double>& curve, int width,
                          int height);

} // namespace mv
