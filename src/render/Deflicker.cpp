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

#include "platform/Localize.h"
#include "platform/PictureProbe.h"
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

// The weighted least-squares line through (x[j], y[j]) for j in [lo, hi],
// evaluated at x0; the weighted mean where the points do not fix a line.
// Nothing when every weight is 0.
std::optional<double> localLine(const std::vector<double>& x, const std::vector<double>& y,
                                const std::vector<double>& w, std::size_t lo, std::size_t hi, double x0)
{
    double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t j = lo; j <= hi; ++j) {
        const double dx = x[j] - x0;
        sw += w[j];
        sx += w[j] * dx;
        sy += w[j] * y[j];
        sxx += w[j] * dx * dx;
        sxy += w[j] * dx * y[j];
    }
    if (!(sw > 0))
        return std::nullopt;
    const double det = sw * sxx - sx * sx;
    if (det > 1e-9 * sw * sxx)
        return (sy * sxx - sx * sxy) / det;
    return sy / sw;
}

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
    const std::optional<Picture> picture = Picture::openForPreview(path, kMeasureSide, kMeasureSide);
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

std::vector<float> deflickerGains(const std::vector<double>& logBrightness, unsigned window)
{
    std::vector<float> gains(logBrightness.size(), 0.0f);
    std::vector<double> x, y;
    for (std::size_t i = 0; i < logBrightness.size(); ++i)
        if (std::isfinite(logBrightness[i])) {
            x.push_back(double(i));
            y.push_back(logBrightness[i]);
        }
    const std::size_t n = y.size();
    if (n < 3)
        return gains;
    const std::size_t span = std::clamp<std::size_t>(window, 2, n);
    std::vector<double> weight(n, 1.0), target(n, 0.0);
    auto fit = [&] {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t lo = std::min(i - std::min(i, span / 2), n - span);
            if (const auto t = localLine(x, y, weight, lo, lo + span - 1, x[i]))
                target[i] = *t;
        }
    };
    for (std::size_t i = 0; i < n; ++i) // a start for images whose whole window is weighted out
        target[i] = y[i];
    fit();
    // Residuals far beyond the typical one (an odd image, a passing cloud)
    // lose their weight: bisquare weights with a cut at nine median
    // residuals, and never below 0.3 EV, so that a sequence without
    // flicker keeps every image.
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> residual(n);
        for (std::size_t i = 0; i < n; ++i)
            residual[i] = std::abs(y[i] - target[i]);
        std::vector<double> sorted = residual;
        const double cut = std::max(9.0 * median(sorted), 0.3);
        for (std::size_t i = 0; i < n; ++i) {
            const double u = residual[i] / cut;
            weight[i] = u < 1 ? (1 - u * u) * (1 - u * u) : 0.0;
        }
        fit();
    }
    for (std::size_t i = 0; i < n; ++i)
        gains[static_cast<std::size_t>(x[i])] =
            static_cast<float>(std::clamp(target[i] - y[i], double(-kDeflickerMaxGain), double(kDeflickerMaxGain)));
    return gains;
}

std::optional<std::vector<double>> measureSequence(const std::vector<std::string>& files, unsigned threads,
                                                   const std::function<bool()>& keepGoing,
                                                   const std::function<void(unsigned done)>& progress)
{
    const std::size_t n = files.size();
    const std::size_t depth = 2 * std::size_t(std::max(1u, threads)) + 2;
    std::vector<double> levels(n, std::numeric_limits<double>::quiet_NaN());
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t taken = 0, consumed = 0;
    bool ended = false;
    std::map<std::size_t, std::optional<BrightnessCells>> done;
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
            std::optional<BrightnessCells> cells;
            if (keepGoing()) {
                try {
                    cells = measureBrightness(files[k], band);
                } catch (const std::exception&) {
                    // Measured as unreadable; the frame loop decides what the image becomes.
                }
            }
            lock.lock();
            done.emplace(k, std::move(cells));
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
        std::optional<BrightnessCells> cells = std::move(done[k]);
        done.erase(k);
        ++consumed;
        changed.notify_all();
        lock.unlock();
        if (cells)
            levels[k] = chain.add(*cells);
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
    return levels;
}

bool addDeflickerGains(std::vector<FrameJob>& jobs, const std::vector<std::string>& files, unsigned window,
                       unsigned threads, const std::atomic<bool>& running, MainWindowPort& port)
{
    std::vector<std::string> used;
    used.reserve(jobs.size());
    for (const FrameJob& job : jobs)
        used.push_back(files[job.index]);
    const std::string label = windowText("Analysing brightness");
    const std::string timeLeftLabel = windowText("Time Left:");
    port.setStatusText(label);
    const auto start = std::chrono::steady_clock::now();
    const auto total = static_cast<unsigned>(used.size());
    const auto levels = measureSequence(
        used, threads, [&running] { return running.load(); },
        [&](unsigned done) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::string left = timeLeftText(timeLeftLabel, seconds, done, total);
            if (!left.empty())
                port.setStatusText(label + "  " + left);
        });
    if (!levels)
        return false;
    const std::vector<float> gains = deflickerGains(*levels, window);
    for (std::size_t i = 0; i < jobs.size(); ++i)
        jobs[i].adjustments.deflickerEV = gains[i];
    port.setStatusText(" ");
    return true;
}

} // namespace mv
