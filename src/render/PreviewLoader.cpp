#include "render/PreviewLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

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
    : done_(std::move(done)), thread_([this] { work(); }), developer_([this] { develop(); })
{
}

PreviewLoader::~PreviewLoader()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    wakeDeveloper_.notify_all();
    developer_.join();
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
    wake_.notify_all();
    return serial;
}

PreviewLoader::Read PreviewLoader::read(const std::string& path, int w, int h, bool draft)
{
    const auto start = std::chrono::steady_clock::now();
    Read out{path, w, h, std::nullopt, {}};
    const std::optional<Picture> picture =
        draft ? Picture::openEmbeddedPreview(path, w, h) : Picture::openForSize(path, w, h, &out.error);
    if (picture) {
        // Decoded once here, stretched to the preview; the adjustments then
        // start from these pixels.
        const double s = double(h) / picture->height();
        const double aspect = (double(w) / picture->width()) / s;
        out.picture = picture->scaled(s, aspect).decoded(draft ? nullptr : &out.error);
    }
    out.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return out;
}

void PreviewLoader::work()
{
    for (;;) {
        std::optional<PreviewRequest> r;
        std::optional<Read> developed;
        std::uint64_t serial;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_ || developed_; });
            if (quit_)
                return;
            r = std::exchange(pending_, std::nullopt);
            developed = std::exchange(developed_, std::nullopt);
            serial = serial_;
        }
        // The development of the picture whose camera preview is kept
        // replaces it; one of a picture since left is dropped.
        if (developed && keptDraft_ && kept_ && developed->path == kept_->path && developed->width == kept_->width &&
            developed->height == kept_->height) {
            kept_ = std::move(developed);
            keptDraft_ = false;
            if (!r) {
                PreviewPicture p = answer(last_, lastSerial_, kept_->ms);
                p.reloaded = true;
                done_(std::move(p));
            }
        }
        if (r)
            done_(make(*r, serial));
    }
}

void PreviewLoader::develop()
{
    for (;;) {
        Read wanted;
        {
            std::unique_lock lock(mutex_);
            wakeDeveloper_.wait(lock, [this] { return quit_ || toDevelop_; });
            if (quit_)
                return;
            wanted = std::move(*std::exchange(toDevelop_, std::nullopt));
        }
        Read done = read(wanted.path, wanted.width, wanted.height, false);
        {
            std::lock_guard lock(mutex_);
            developed_ = std::move(done);
        }
        wake_.notify_all();
    }
}

PreviewPicture PreviewLoader::make(const PreviewRequest& r, std::uint64_t serial)
{
    using Clock = std::chrono::steady_clock;
    const int w = std::max(1, r.width), h = std::max(1, r.height);
    const auto start = Clock::now();
    last_ = r;
    lastSerial_ = serial;
    bool reloaded = false;
    if (r.reload || !kept_ || !kept_->picture || kept_->path != r.path || kept_->width != w || kept_->height != h) {
        // A raw file takes a third of a second to develop: the camera's
        // preview shows at once, and the picture is developed beside it.
        kept_ = read(r.path, w, h, true);
        keptDraft_ = kept_->picture.has_value();
        if (keptDraft_) {
            {
                std::lock_guard lock(mutex_);
                toDevelop_ = Read{r.path, w, h, std::nullopt, {}};
            }
            wakeDeveloper_.notify_all();
        } else {
            kept_ = read(r.path, w, h, false);
        }
        reloaded = true;
    }
    PreviewPicture out =
        answer(r, serial, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    out.reloaded = reloaded;
    return out;
}

PreviewPicture PreviewLoader::answer(const PreviewRequest& r, std::uint64_t serial, double loadMs)
{
    using Clock = std::chrono::steady_clock;
    PreviewPicture out;
    out.serial = serial;
    out.path = r.path;
    out.draft = keptDraft_;
    out.loadMs = loadMs;
    if (!kept_->picture) {
        out.error = kept_->error;
        return out;
    }
    const auto start = Clock::now();
    const Picture shown = anyAdjustment(r.adjustments) ? applyAdjustments(*kept_->picture, r.adjustments) : *kept_->picture;
    out.ok = shown.render(out.bitmap, &out.error);
    out.adjustMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return out;
}

} // namespace mv
