#include "render/Deflicker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "platform/system/Localize.h"
#include "platform/picture/Metadata.h"
#include "platform/picture/PictureProbe.h"
#include "render/RunTexts.h"

namespace mv {
namespace {

constexpr int kCells = kBrightnessGrid * kBrightnessGrid;
constexpr double kMeasureArea = 192 * 128; // pixels measured: 12 x 8 a cell for a 3:2 picture
constexpr int kMeasureSide = 192;          // a raw file is decoded at half size above twice this
constexpr double kMeasurePixels = 6e6;     // of a large JPEG: a band from the top
constexpr int kClipCode = 250;             // a component at or above this is taken as clipped
constexpr float kDarkLevel = 0.002f;       // linear; about code 8 in sRGB
constexpr int kMinCells = 16;              // fewer usable cells in common: compare whole pictures
constexpr std::size_t kChainLinks = 4;

float srgbToLinear(int code)
{
    const double c = code / 255.0;
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

const std::array<float, 256>& linearTable()
{
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = srgbToLinear(i);
        return t;
    }();
    return table;
}

// Other formats are decoded whole however little of them is used.
bool isJpeg(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char magic[3] = {};
    in.read(magic, 3);
    return in && magic[0] == '\xFF' && magic[1] == '\xD8' && magic[2] == '\xFF';
}

double median(std::vector<double>& v)
{
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + mid, v.end());
    const double upper = v[mid];
    if (v.size() % 2)
        return upper;
    return 0.5 * (upper + *std::max_element(v.begin(), v.begin() + mid));
}

// A local fit at every point: the value at each x[i] of the polynomial of
// `degree` (1 or 2) fitted by weighted least squares to the `span` points
// nearest it (shifted inside the sequence at its ends, so that a ramp stays
// a ramp there), with tricube weights for distance times the points' own
// weights; and each point's weight on its own fit (the smoother's
// diagonal), which cross-validation needs.
struct LocalFit {
    std::vector<double> value, own;
};

LocalFit localFit(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& weight,
                  std::size_t span, unsigned degree)
{
    const std::size_t n = y.size();
    LocalFit fit{std::vector<double>(n), std::vector<double>(n)};
    span = std::clamp<std::size_t>(span, 1, n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = std::min(i - std::min(i, span / 2), n - span);
        const std::size_t hi = lo + span - 1;
        // Distances in units of the window's reach keep the sums well scaled.
        const double reach = std::max(x[i] - x[lo], x[hi] - x[i]) + 1;
        double s[5] = {}, t[3] = {}; // sums of k d^p and of k d^p y
        for (std::size_t j = lo; j <= hi; ++j) {
            const double d = (x[j] - x[i]) / reach;
            const double a = 1 - std::abs(d * d * d);
            const double k = a * a * a * weight[j];
            const double d2 = d * d;
            s[0] += k, s[1] += k * d, s[2] += k * d2, s[3] += k * d2 * d, s[4] += k * d2 * d2;
            t[0] += k * y[j], t[1] += k * d * y[j], t[2] += k * d2 * y[j];
        }
        const double self = weight[i]; // the tricube weight is 1 at the point itself
        // The fitted value at d = 0 is the first coefficient; with the
        // points too few or too close for the degree, the next lower one.
        bool done = false;
        if (degree >= 2) {
            const double c00 = s[2] * s[4] - s[3] * s[3], c01 = s[2] * s[3] - s[1] * s[4], c02 = s[1] * s[3] - s[2] * s[2];
            const double det = s[0] * c00 + s[1] * c01 + s[2] * c02;
            if (det > 1e-9 * s[0] * s[2] * s[4]) {
                fit.value[i] = (c00 * t[0] + c01 * t[1] + c02 * t[2]) / det;
                fit.own[i] = self * c00 / det;
                done = true;
            }
        }
        if (!done && degree >= 1) {
            const double det = s[0] * s[2] - s[1] * s[1];
            if (det > 1e-9 * s[0] * s[2]) {
                fit.value[i] = (s[2] * t[0] - s[1] * t[1]) / det;
                fit.own[i] = self * s[2] / det;
                done = true;
            }
        }
        if (!done) {
            if (s[0] > 0) {
                fit.value[i] = t[0] / s[0];
                fit.own[i] = self / s[0];
            } else { // every neighbour weighted out: the point stands for itself
                fit.value[i] = y[i];
                fit.own[i] = 1;
            }
        }
    }
    return fit;
}

struct RobustFit {
    LocalFit fit;
    std::vector<double> weight;
};

// Residuals far beyond the typical one (an odd image, a passing cloud)
// lose their weight: bisquare weights with a cut at nine median residuals,
// and never below 0.3 EV, so that a sequence without flicker keeps every
// image; two passes.
RobustFit robustFit(const std::vector<double>& x, const std::vector<double>& y, std::size_t span, unsigned degree)
{
    const std::size_t n = y.size();
    RobustFit r{{}, std::vector<double>(n, 1.0)};
    r.fit = localFit(x, y, r.weight, span, degree);
    std::vector<double> residual(n), sorted;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < n; ++i)
            residual[i] = std::abs(y[i] - r.fit.value[i]);
        sorted = residual;
        const double cut = std::max(9.0 * median(sorted), 0.3);
        for (std::size_t i = 0; i < n; ++i) {
            const double u = residual[i] / cut;
            r.weight[i] = u < 1 ? (1 - u * u) * (1 - u * u) : 0.0;
        }
        r.fit = localFit(x, y, r.weight, span, degree);
    }
    return r;
}

// Generalized cross-validation of a fit over the images that kept their
// weight: the mean squared residual over (1 - 1.4 tr/m)^2. The factor 1.4
// on the smoother's trace keeps the choice from the shortest windows that
// chase the flicker, which plain cross-validation picks now and then.
double crossValidation(const std::vector<double>& y, const RobustFit& r)
{
    double sum = 0, trace = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        if (r.weight[i] > 0.5) {
            const double e = y[i] - r.fit.value[i];
            sum += e * e;
            trace += r.fit.own[i];
            ++kept;
        }
    const double free = 1 - 1.4 * trace / double(std::max<std::size_t>(kept, 1));
    if (kept == 0 || free <= 0)
        return std::numeric_limits<double>::infinity();
    return sum / double(kept) / (free * free);
}

// Windows tried when none is given: about sqrt(2) apart, from a fit that
// bends within a few images to one that stays straight for hundreds.
constexpr unsigned kWindows[] = {7, 11, 15, 21, 29, 41, 57, 81, 113, 161, 227, 321, 455, 643, 909};

// The camera's exposure goes back on smoothed over at least this many
// images and four runs between its changes, so that a photographer's
// steps become a ramp and an automatic exposure's wavering goes.
constexpr std::size_t kExposureSpan = 51;

} // namespace

BrightnessCells brightnessCells(const RgbaBitmap& bitmap)
{
    BrightnessCells out;
    const int w = bitmap.width, h = bitmap.height;
    if (w <= 0 || h <= 0)
        return out;
    const auto& lin = linearTable();
    std::array<double, kCells> sum{};
    std::array<int, kCells> count{};
    std::bitset<kCells> clipped;
    double total = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = bitmap.pixels.data() + std::size_t(y) * w * 4;
        const int row = (y * kBrightnessGrid / h) * kBrightnessGrid;
        for (int x = 0; x < w; ++x, p += 4) {
            const int cell = row + x * kBrightnessGrid / w;
            const double lum = 0.2126 * lin[p[0]] + 0.7152 * lin[p[1]] + 0.0722 * lin[p[2]];
            sum[cell] += lum;
            ++count[cell];
            total += lum;
            if (std::max({p[0], p[1], p[2]}) >= kClipCode)
                clipped.set(cell);
        }
    }
    for (int c = 0; c < kCells; ++c) {
        out.mean[c] = count[c] ? static_cast<float>(sum[c] / count[c]) : 0.0f;
        out.usable[c] = count[c] && !clipped[c] && out.mean[c] >= kDarkLevel;
    }
    out.overall = total / (double(w) * h);
    return out;
}

std::optional<BrightnessCells> measureBrightness(const std::string& path, double band)
{
    const std::optional<Picture> picture = Picture::openForSize(path, kMeasureSide, kMeasureSide);
    if (!picture)
        return std::nullopt;
    const double area = double(picture->width()) * picture->height() * band;
    Picture small = picture->scaled(std::min(1.0, std::sqrt(kMeasureArea / area)));
    if (band < 1.0) {
        const int bandH = std::max(1, static_cast<int>(std::lround(small.height() * band)));
        small = small.cropped(0, small.height() - bandH, small.width(), bandH);
    }
    RgbaBitmap bitmap;
    if (!small.render(bitmap))
        return std::nullopt;
    return brightnessCells(bitmap);
}

double measuredBand(int width, int height)
{
    // Below half the picture the rest is decoded anyway.
    const double band = kMeasurePixels / (double(std::max(1, width)) * std::max(1, height));
    return band < 0.5 ? band : 1.0;
}

double brightnessStep(const BrightnessCells& from, const BrightnessCells& to)
{
    std::vector<double> ratios;
    ratios.reserve(kCells);
    for (int c = 0; c < kCells; ++c)
        if (from.usable[c] && to.usable[c])
            ratios.push_back(std::log2(double(to.mean[c]) / from.mean[c]));
    if (ratios.size() >= kMinCells)
        return median(ratios);
    // A black or burnt-out picture: the means still order it, and steps in
    // and out of it cancel.
    constexpr double kFloor = 1e-6;
    return std::log2(std::max(to.overall, kFloor) / std::max(from.overall, kFloor));
}

double BrightnessChain::add(const BrightnessCells& cells)
{
    double level = 0;
    if (!recent_.empty()) {
        std::vector<double> estimates;
        for (const Measured& m : recent_)
            estimates.push_back(m.level + brightnessStep(m.cells, cells));
        level = median(estimates);
    }
    if (recent_.size() == kChainLinks)
        recent_.erase(recent_.begin());
    recent_.push_back({cells, level});
    return level;
}

namespace {

// Whether the pictures show the recorded exposure changes: the measured
// brightness steps where the exposure changed, regressed on the exposure
// steps, have a slope near 1. Pictures whose steps were already evened out
// (exported after an exposure correction, with the camera's EXIF kept)
// have a slope near 0: taking the recorded steps out would put them in.
bool picturesFollowExposure(const std::vector<double>& measured, const std::vector<double>& exposure)
{
    double sxy = 0, sxx = 0;
    std::size_t last = measured.size();
    for (std::size_t i = 0; i < measured.size(); ++i) {
        if (!std::isfinite(measured[i]))
            continue;
        if (last < i) {
            const double dx = exposure[i] - exposure[last];
            if (std::abs(dx) > 1e-6) {
                sxy += dx * (measured[i] - measured[last]);
                sxx += dx * dx;
            }
        }
        last = i;
    }
    return sxx > 0 && std::abs(sxy / sxx - 1) < 0.5;
}

} // namespace

DeflickerCurve deflickerCurve(const BrightnessSeries& series, unsigned window)
{
    const std::vector<double>& measured = series.brightness;
    const bool exposureKnown =
        series.exposure.size() == measured.size() && picturesFollowExposure(measured, series.exposure);
    DeflickerCurve curve;
    curve.target.assign(measured.size(), std::numeric_limits<double>::quiet_NaN());
    std::vector<double> x, light, exposure;
    for (std::size_t i = 0; i < measured.size(); ++i)
        if (std::isfinite(measured[i])) {
            const double e = exposureKnown ? series.exposure[i] : 0.0;
            x.push_back(double(i));
            light.push_back(measured[i] - e);
            exposure.push_back(e);
        }
    const std::size_t n = x.size();
    if (n < 3) { // too few to tell flicker from light: left as they are
        for (std::size_t i = 0; i < n; ++i)
            curve.target[std::size_t(x[i])] = measured[std::size_t(x[i])];
        curve.window = unsigned(n);
        return curve;
    }
    std::vector<double> fitted;
    if (window != 0) {
        curve.window = unsigned(std::clamp<std::size_t>(window, 2, n));
        fitted = robustFit(x, light, curve.window, 1).fit.value;
    } else {
        double best = std::numeric_limits<double>::infinity();
        for (unsigned degree : {1u, 2u}) {
            unsigned previous = 0;
            for (unsigned span : kWindows) {
                const unsigned used = unsigned(std::min<std::size_t>(span, n)); // the whole sequence, once
                if (used == previous)
                    break;
                previous = used;
                if (used < degree + 2)
                    continue;
                RobustFit r = robustFit(x, light, used, degree);
                const double score = crossValidation(light, r);
                if (score < best || fitted.empty()) {
                    best = score;
                    fitted = std::move(r.fit.value);
                    curve.window = used;
                    curve.degree = degree;
                }
            }
        }
    }
    curve.levelsExposure = exposureKnown;
    if (exposureKnown) {
        std::size_t changes = 0;
        for (std::size_t i = 1; i < n; ++i)
            changes += std::abs(exposure[i] - exposure[i - 1]) > 1e-6;
        const std::size_t span = std::min(n, std::max(kExposureSpan, 4 * n / (changes + 1) + 1));
        const std::vector<double> ramp = localFit(x, exposure, std::vector<double>(n, 1.0), span, 1).value;
        for (std::size_t i = 0; i < n; ++i)
            fitted[i] += ramp[i];
    }
    for (std::size_t i = 0; i < n; ++i)
        curve.target[std::size_t(x[i])] = fitted[i];
    return curve;
}

std::vector<float> deflickerGains(const BrightnessSeries& series, const DeflickerCurve& curve)
{
    std::vector<float> gains(series.brightness.size(), 0.0f);
    for (std::size_t i = 0; i < gains.size() && i < curve.target.size(); ++i) {
        const double gain = curve.target[i] - series.brightness[i];
        if (std::isfinite(gain))
            gains[i] = static_cast<float>(std::clamp(gain, double(-kDeflickerMaxGain), double(kDeflickerMaxGain)));
    }
    return gains;
}

namespace {

struct CameraSettings {
    std::optional<double> exposureTime, fNumber, isoSpeed;
};

struct Sample {
    std::optional<BrightnessCells> cells;
    CameraSettings camera;
};

// log2 of each measured image's exposure, from the settings that every
// measured image records (a setting missing from some images is taken as
// unchanged); empty when none is recorded by all.
std::vector<double> recordedExposure(const std::vector<std::optional<CameraSettings>>& cameras)
{
    using Setting = std::optional<double> CameraSettings::*;
    // A longer time and a higher ISO brighten the picture, a larger f-number
    // darkens it by the square.
    const std::pair<Setting, double> settings[] = {
        {&CameraSettings::exposureTime, 1.0}, {&CameraSettings::fNumber, -2.0}, {&CameraSettings::isoSpeed, 1.0}};
    std::vector<double> exposure(cameras.size(), 0.0);
    bool any = false;
    for (const auto& [setting, power] : settings) {
        bool everywhere = true;
        for (const auto& camera : cameras)
            everywhere = everywhere && (!camera || ((*camera).*setting).has_value());
        if (!everywhere)
            continue;
        any = true;
        for (std::size_t i = 0; i < cameras.size(); ++i)
            if (cameras[i])
                exposure[i] += power * std::log2(*((*cameras[i]).*setting));
    }
    if (!any)
        exposure.clear();
    return exposure;
}

} // namespace

std::optional<BrightnessSeries> measureSequence(const std::vector<std::string>& files, unsigned threads,
                                                const std::function<bool()>& keepGoing,
                                                const std::function<void(unsigned done)>& progress)
{
    const std::size_t n = files.size();
    const std::size_t depth = 2 * std::size_t(std::max(1u, threads)) + 2;
    BrightnessSeries series;
    series.brightness.assign(n, std::numeric_limits<double>::quiet_NaN());
    std::vector<std::optional<CameraSettings>> cameras(n); // of the images measured
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t taken = 0, consumed = 0;
    bool ended = false;
    std::map<std::size_t, Sample> done;
    // One band for the whole sequence, so that every image is measured on
    // the same part of the picture.
    double band = 1.0;
    for (const std::string& file : files)
        if (const auto header = probePicture(file)) {
            band = isJpeg(file) ? measuredBand(header->width, header->height) : 1.0;
            break;
        }

    auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return ended || taken >= n || taken - consumed < depth; });
            if (ended || taken >= n)
                return;
            const std::size_t k = taken++;
            lock.unlock();
            Sample sample;
            if (keepGoing()) {
                try {
                    sample.cells = measureBrightness(files[k], band);
                } catch (const std::exception&) {
                    // Measured as unreadable; the frame loop decides what the image becomes.
                }
                if (sample.cells) {
                    const ImageMetadata m = readImageMetadata(files[k]);
                    sample.camera = {m.exposureTime, m.fNumber, m.isoSpeed};
                }
            }
            lock.lock();
            done.emplace(k, std::move(sample));
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < std::max(1u, threads); ++t)
        pool.emplace_back(work);

    BrightnessChain chain;
    bool stopped = false;
    for (std::size_t k = 0; k < n && !stopped; ++k) {
        std::unique_lock lock(mutex);
        // A stop comes from another thread without a signal here: looked at
        // several times a second.
        while (!done.count(k) && !(stopped = !keepGoing()))
            changed.wait_for(lock, std::chrono::milliseconds(50));
        if (stopped)
            break;
        Sample sample = std::move(done[k]);
        done.erase(k);
        ++consumed;
        changed.notify_all();
        lock.unlock();
        if (sample.cells) {
            series.brightness[k] = chain.add(*sample.cells);
            cameras[k] = sample.camera;
        }
        if (progress)
            progress(static_cast<unsigned>(k + 1));
    }
    {
        std::lock_guard lock(mutex);
        ended = true;
        changed.notify_all();
    }
    for (std::thread& t : pool)
        t.join();
    if (stopped || !keepGoing())
        return std::nullopt;
    series.exposure = recordedExposure(cameras);
    return series;
}

std::optional<BrightnessSeries> analyseBrightness(const std::vector<std::string>& files, unsigned threads,
                                                  const std::atomic<bool>& running, MainWindowPort& port)
{
    const std::string label = windowText("Analysing brightness");
    const std::string timeLeftLabel = windowText("Time Left:");
    port.setStatusText(label);
    const auto start = std::chrono::steady_clock::now();
    const auto total = static_cast<unsigned>(files.size());
    auto series = measureSequence(
        files, threads, [&running] { return running.load(); },
        [&](unsigned done) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::string left = timeLeftText(timeLeftLabel, seconds, done, total);
            if (!left.empty())
                port.setStatusText(label + "  " + left);
            port.setProgress(progressAt(seconds, done, total));
        });
    port.setStatusText(" ");
    port.setProgress({});
    return series;
}

bool addDeflickerGains(std::vector<FrameJob>& jobs, const std::vector<std::string>& files, unsigned window,
                       unsigned threads, const std::atomic<bool>& running, MainWindowPort& port)
{
    std::vector<std::string> used;
    used.reserve(jobs.size());
    for (const FrameJob& job : jobs)
        used.push_back(files[job.index]);
    const auto series = analyseBrightness(used, threads, running, port);
    if (!series)
        return false;
    const std::vector<float> gains = deflickerGains(*series, deflickerCurve(*series, window));
    for (std::size_t i = 0; i < jobs.size(); ++i)
        jobs[i].adjustments.deflickerEV = gains[i];
    return true;
}

} // namespace mv
