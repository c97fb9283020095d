#include "render/BrightnessAnalysis.h"

namespace mv {

BrightnessAnalysis::BrightnessAnalysis(Progress progress, Finished finished)
    : progress_(std::move(progress)), finished_(std::move(finished))
{
}

BrightnessAnalysis::~BrightnessAnalysis()
{
    stop();
    join();
}

void BrightnessAnalysis::join()
{
    // The thread was told to stop (it looks several times a second), or it
    // only fits a curve: it ends within a fraction of a second.
    if (thread_.joinable())
        thread_.join();
}

std::uint64_t BrightnessAnalysis::start(std::vector<std::string> files, unsigned window, unsigned threads)
{
    stop();
    join();
    {
        std::lock_guard lock(mutex_);
        measuring_ = true;
        window_ = window;
        measured_.reset();
    }
    keepGoing_ = true;
    const std::uint64_t serial = ++serial_;
    thread_ = std::thread([this, files = std::move(files), threads, serial] {
        const auto total = static_cast<unsigned>(files.size());
        std::optional<BrightnessSeries> series = measureSequence(
            files, threads, [this] { return keepGoing_.load(); },
            [this, serial, total](unsigned done) { progress_(serial, done, total); });
        std::shared_ptr<const BrightnessSeries> kept;
        if (series)
            kept = std::make_shared<const BrightnessSeries>(std::move(*series));
        unsigned window;
        {
            // A refit() from here on fits the kept measurements itself.
            std::lock_guard lock(mutex_);
            measured_ = kept;
            window = window_;
            measuring_ = false;
        }
        finished_(serial, kept ? std::optional<Result>(Result{*kept, deflickerCurve(*kept, window)}) : std::nullopt);
    });
    return serial;
}

std::optional<std::uint64_t> BrightnessAnalysis::refit(unsigned window)
{
    std::shared_ptr<const BrightnessSeries> series;
    {
        std::lock_guard lock(mutex_);
        window_ = window;
        if (measuring_)
            return serial_;
        series = measured_;
    }
    if (!series)
        return std::nullopt;
    join();
    const std::uint64_t serial = ++serial_;
    thread_ = std::thread([this, series, window, serial] {
        finished_(serial, Result{*series, deflickerCurve(*series, window)});
    });
    return serial;
}

void BrightnessAnalysis::stop() { keepGoing_ = false; }

} // namespace mv
