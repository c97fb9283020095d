#pragma once
// Deflicker: before the frame loop, the brightness of every image the movie
// uses is measured on a small decode; a smooth target curve through those
// measurements keeps the slow changes of light, and each image gets the
// exposure gain that brings it onto the curve.
#include <array>
#include <atomic>
#include <bitset>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/picture/Picture.h"
#include "platform/ports/UiPorts.h"
#include "render/FramePipeline.h"

namespace mv {

// Gains are held to +-2 EV: flicker is a fraction of a stop, and a larger
// difference is a different scene (or a failed shot) that a gain would only
// make noisy.
inline constexpr float kDeflickerMaxGain = 2.0f;

constexpr int kBrightnessGrid = 16;

// One image's brightness as the analysis sees it: the mean linear luminance
// of each cell of a grid over the picture.
struct BrightnessCells {
    std::array<float, kBrightnessGrid * kBrightnessGrid> mean{};
    // Cells without clipped pixels and above the darkest levels, where
    // 8-bit steps and noise are a large part of the value.
    std::bitset<kBrightnessGrid * kBrightnessGrid> usable;
    double overall = 0; // the whole picture's mean linear luminance
};

BrightnessCells brightnessCells(const RgbaBitmap& bitmap);
// From a decode of about 192 x 128 pixels (a JPEG shrinks while it is
// decoded, a raw file is decoded at half size), of the top `band` of the
// picture's height. Nothing when the file does not decode.
std::optional<BrightnessCells> measureBrightness(const std::string& path, double band = 1.0);
// Reading a JPEG is mostly decoding its compressed data, which a smaller
// decode does not skip: of a JPEG above 12 megapixels only a band from the
// top of about 6 megapixels is read (a quarter of a 24-megapixel shot).
// The fraction of the height measured.
double measuredBand(int width, int height);

// log2 of the brightness of `to` over that of `from`: the median of the
// cells usable in both, so that content that moves or clips (a minority of
// the cells) does not count; the whole pictures' means when too few cells
// are usable in both.
double brightnessStep(const BrightnessCells& from, const BrightnessCells& to);

// Turns the images' cells, in movie order, into log2 brightness relative to
// the first. Each image is compared with up to four before it and the median
// of those estimates kept, so that one odd image does not shift all later
// ones.
class BrightnessChain {
public:
    double add(const BrightnessCells& cells);

private:
    struct Measured {
        BrightnessCells cells;
        double level;
    };
    std::vector<Measured> recent_; // the latest last
};

// What the analysis found, in movie order: each image's log2 brightness
// relative to the first (NaN where it was not measured) and, when every
// measured image records it, the log2 of the exposure the camera gave it
// (relative to 1 s at f/1 and ISO 100), else empty.
struct BrightnessSeries {
    std::vector<double> brightness;
    std::vector<double> exposure;
};

// The curve deflicker brings the images onto, in log2 brightness (NaN
// where an image was not measured), and how it was fitted.
struct DeflickerCurve {
    std::vector<double> target;
    unsigned window = 0; // images in each local fit, given or chosen
    unsigned degree = 1; // of the local polynomial
    bool levelsExposure = false; // the camera's recorded steps were taken out
};

// The light's curve is the measured brightness less the camera's exposure:
// a robust local polynomial through it (outliers weighted down and then
// out), of the window given, or with the window and degree (1 or 2) that
// the sequence itself supports best (window 0). The camera's exposure goes
// back on as a smooth ramp, so that its steps are levelled exactly.
DeflickerCurve deflickerCurve(const BrightnessSeries& series, unsigned window);
// Target minus measured in EV, held to +-kDeflickerMaxGain; 0 for images
// that were not measured.
std::vector<float> deflickerGains(const BrightnessSeries& series, const DeflickerCurve& curve);

// Measures the files in order on `threads` threads (a few images ahead at
// most, so memory stays flat). progress(done) after each file; nothing when
// keepGoing() turned false before the end.
std::optional<BrightnessSeries> measureSequence(const std::vector<std::string>& files, unsigned threads,
                                                const std::function<bool()>& keepGoing,
                                                const std::function<void(unsigned done)>& progress);

// measureSequence that shows "Analysing brightness" with the time left.
std::optional<BrightnessSeries> analyseBrightness(const std::vector<std::string>& files, unsigned threads,
                                                  const std::atomic<bool>& running, MainWindowPort& port);

// The analysis of a movie run: measures the images of the jobs and sets each
// job's gain. False when the run was stopped meanwhile.
bool addDeflickerGains(std::vector<FrameJob>& jobs, const std::vector<std::string>& files, unsigned window,
                       unsigned threads, const std::atomic<bool>& running, MainWindowPort& port);

} // namespace mv
