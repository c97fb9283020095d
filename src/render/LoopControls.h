#pragma once
// What the frame loop decides besides the pictures themselves: which images
// are used (the rate and the time of day), how long each frame lasts and how
// often it stands, the time-left estimate, and the alerts that sum up a run.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/movie/MovieWriter.h"
#include "platform/ports/UiPorts.h"
#include "settings/JobSettings.h"

namespace mv {

// Image indexes 0, then each index plus the rate in force at that moment,
// while below the number of listed images.
class ImageSelection {
public:
    explicit ImageSelection(unsigned numListImages) : count_(numListImages) {}
    std::optional<unsigned> current() const { return next_ < count_ ? std::optional(next_) : std::nullopt; }
    void advance(std::uint16_t rate) { next_ += rate ? rate : 1u; }

private:
    unsigned count_;
    unsigned next_ = 0;
};

// How many times each picture stands in the movie.
inline unsigned appendCount(std::uint16_t dupImages) { return dupImages > 1 ? dupImages : 1u; }

// Variable frame rate: 30000 / fps units of 1/30000 s (single precision,
// truncated), held to 50 ... 30000, that is 1/600 s to 1 s.
MovieTime variableFrameDuration(float fps);

// Time of day in hours from a date text "YYYY:MM:DD HH:MM:SS" (or the file
// system's "YYYY/MM/DD HH:MM:SS"): characters 11-12, 14-15 and 17-18. Nothing
// when the text is shorter or those characters are not a time of day ("No
// Date", or the blanks a camera writes for an unknown date).
std::optional<float> timeOfDayFromDate(const std::string& date);
// From a file name whose last "-" part, before the extension, is HHMMSS.
std::optional<float> timeOfDayFromName(const std::string& path);
// from <= t <= to; a range with from >= to runs over midnight.
bool inTimeRange(float t, float from, float to);

// The time-of-day filter of one run.
class TimeRangeFilter {
public:
    // The EXIF capture date of a file, when it has one.
    using DateReader = std::function<std::optional<std::string>(const std::string& path)>;

    // The range and the switch are taken from the settings here, once per
    // movie. dates: the list's capture dates, used when the list has EXIF dates and
    // one entry per image; otherwise each file is read with readDate (the
    // file's metadata by default).
    TimeRangeFilter(JobSettings& settings, AlertPort& alerts, MainWindowPort& window,
                    const std::vector<std::string>& files, std::vector<std::string> dates, bool hasEXIF,
                    DateReader readDate = {});

    // Before image 0: asks whether to filter; "Cancel" turns the filter off
    // for this movie and the next.
    void begin();
    // Whether image `index` is used. An image without any capture time turns
    // the filter off (with its alert); it and all later images are used.
    bool use(unsigned index);
    // Images left out so far.
    unsigned skipped() const { return skipped_; }

private:
    void turnOff();

    JobSettings& settings_;
    AlertPort& alerts_;
    MainWindowPort& window_;
    const std::vector<std::string>& files_;
    std::vector<std::string> dates_;
    bool useDateList_;
    DateReader readDate_;
    bool on_;
    float fromTime_, toTime_;
    unsigned skipped_ = 0;
};

// The "Time Left:" estimate: started with the loop, restarted at the first
// appended picture so that the time before it does not count.
class TimeLeftClock {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit TimeLeftClock(Clock now = {});
    // The status text after the actualImages-th picture was appended; empty
    // (the status line keeps what it shows) below 10 pictures.
    std::string afterAppend(const std::string& label, unsigned actualImages, unsigned expectedImages);
    // The progress bar's, from the same clock.
    Progress progress(unsigned actualImages, unsigned expectedImages) const;

private:
    Clock now_;
    std::chrono::steady_clock::time_point startDate_;
};

// What a finished run has to say, in order: nothing processed, images
// skipped, images outside the time range, a stamp failure, frames whose
// layer or mask could not be read.
struct RunSummary {
    unsigned actualImages = 0;
    unsigned skipped = 0;      // images that failed to become a frame
    unsigned rangeSkipped = 0; // images outside the time range
    bool stampFailed = false;
    bool verifyListFailed = false; // the Verify List file could not be written
    unsigned overlayFailed = 0;    // frames made without their layer
    bool textCut = false;          // the watermark or stamp was too large to draw whole
};
void endOfRunAlerts(AlertPort& alerts, const RunSummary& run);

} // namespace mv
