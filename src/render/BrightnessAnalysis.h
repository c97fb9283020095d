#pragma once
// The deflicker analysis on request, for the window's plot: the images are
// measured on a thread of the analysis's own, with progress, and can be
// stopped; a change of the window only fits the curve again.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "render/Deflicker.h"

namespace mv {

class BrightnessAnalysis {
public:
    struct Result {
        BrightnessSeries series;
        DeflickerCurve curve;
    };
    // Both run on the analysis thread, with the serial of the start() or
    // refit() they answer: progress after each image measured, finished
    // once for each (nothing when stopped).
    using Progress = std::function<void(std::uint64_t serial, unsigned done, unsigned total)>;
    using Finished = std::function<void(std::uint64_t serial, std::optional<Result>)>;
    BrightnessAnalysis(Progress progress, Finished finished);
    ~BrightnessAnalysis(); // stops and waits
    BrightnessAnalysis(const BrightnessAnalysis&) = delete;
    BrightnessAnalysis& operator=(const BrightnessAnalysis&) = delete;

    // Measures the files (a run still going is stopped first) and fits the
    // curve of the window at its end (0: chosen from the images).
    std::uint64_t start(std::vector<std::string> files, unsigned window, unsigned threads);
    // The curve of another window: through the last measurements, or at
    // the end of the measuring still going (answered with its serial).
    // Nothing when nothing was measured.
    std::optional<std::uint64_t> refit(unsigned window);
    // Ends the measuring soon; finished() then gets nothing.
    void stop();

private:
    void join();

    Progress progress_;
    Finished finished_;
    std::atomic<bool> keepGoing_{false};
    std::uint64_t serial_ = 0;
    std::mutex mutex_; // for the three below
    bool measuring_ = false;
    unsigned window_ = 0;
    std::shared_ptr<const BrightnessSeries> measured_;
    std::thread thread_;
};

} // namespace mv
