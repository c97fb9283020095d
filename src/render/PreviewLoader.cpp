#include "render/PreviewLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace mv {

AdjustmentValues previewAdjustments(const JobSettings& s, float viewPerOutput)
{
    AdjustmentValues a;
    a.saturation = s.saturation;
    a.brightness = s.brightness;
    a.contrast = s.contrast;
    a.exposure = s.exposureEV;
    a.monoIntensity = s.monoIntensity;
    a.monoColor = s.ciColor;
    a.sepia = s.sepiaIntensity;
    a.sharpenGate = s.sharpenValue > 0.01f; // as the movie decides at its start
    a.sharpen = s.sharpenValue;
    const float f = std::isfinite(viewPerOutput) && viewPerOutput > 0 ? viewPerOutput : 1.0f;
    a.blur = s.blurRadius * f;
    a.rotate = s.rotateAngle;
    return a;
}

PreviewLoader::PreviewLoader(std::function<void(PreviewPicture)> done)
    : done_(std::move(done)), thread_([this] { work(); })
{
}

PreviewLoader::~PreviewLoader()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::uint64_t PreviewLoader::request(PreviewRequest r)
{
    std::uint64_t serial;
    {
        std::lock_guard lock(mutex_);
        // A re-read asked for and not yet done still has to happen.
        if (pending_ && pending_->reload)
            r.reload = true;
        pending_ = std::move(r);
        serial = ++serial_;
    }
    wake_.notify_one();
    return serial;
}

void PreviewLoader::work()
{
    for (;;) {
        PreviewRequest r;
        std::uint64_t serial;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_; });
            if (quit_)
                return;
            r = std::move(*pending_);
            pending_.reset();
            serial = serial_;
        }
        done_(make(r, serial));
    }
}

PreviewPicture PreviewLoader::make(const PreviewRequest& r, std::uint64_t serial)
{
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    PreviewPicture out;
    out.serial = serial;
    out.path = r.path;
    const int w = std::max(1, r.width), h = std::max(1, r.height);
    const auto start = Clock::now();
    if (r.reload || !kept_ || keptPath_ != r.path || keptW_ != w || keptH_ != h) {
        kept_.reset();
        keptPath_.clear();
        std::optional<Picture> picture = Picture::openForSize(r.path, w, h, &out.error);
        if (!picture)
            return out;
        const double s = double(h) / picture->height();
        const double aspect = (double(w) / picture->width()) / s;
        // Decoded once here; the adjustments then start from these pixels.
        kept_ = picture->scaled(s, aspect).decoded(&out.error);
        if (!kept_)
            return out;
        keptPath_ = r.path;
        keptW_ = w;
        keptH_ = h;
        out.reloaded = true;
    }
    const auto loaded = Clock::now();
    out.loadMs = ms(start, loaded);
    const Picture shown = anyAdjustment(r.adjustments) ? applyAdjustments(*kept_, r.adjustments) : *kept_;
    out.ok = shown.render(out.bitmap, &out.error);
    out.adjustMs = ms(loaded, Clock::now());
    return out;
}

} // namespace mv
