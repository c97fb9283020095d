#include "render/LoopControls.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "platform/system/Localize.h"
#include "platform/picture/Metadata.h"
#include "render/RunTexts.h"

namespace mv {
namespace {

// The two-digit number at text[at], or -1 when those are not two digits.
int twoDigits(const std::string& text, std::size_t at)
{
    if (at + 1 >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])) ||
        !std::isdigit(static_cast<unsigned char>(text[at + 1])))
        return -1;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// Hours from the digit pairs at h, m and s; nothing unless they are a time
// of day (a second of 60 is a leap second).
std::optional<float> timeOfDay(const std::string& text, std::size_t h, std::size_t m, std::size_t s)
{
    const int hours = twoDigits(text, h), minutes = twoDigits(text, m), seconds = twoDigits(text, s);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 60)
        return std::nullopt;
    return hours + minutes / 60.0f + seconds / 3600.0f;
}

} // namespace

MovieTime variableFrameDuration(float fps)
{
    const float units = 30000.0f / fps;
    // Also a NaN or an infinite quotient (fps 0) ends up inside the range.
    const std::int64_t d = units >= 30000.0f ? 30000 : units >= 50.0f ? static_cast<std::int64_t>(units) : 50;
    return {d, 30000};
}

std::optional<float> timeOfDayFromDate(const std::string& date)
{
    if (date.size() < 19)
        return std::nullopt;
    return timeOfDay(date, 11, 14, 17);
}

std::optional<float> timeOfDayFromName(const std::string& path)
{
    const std::string stem = std::filesystem::path(path).stem().string();
    const std::size_t dash = stem.rfind('-');
    if (dash == std::string::npos || stem.size() - dash - 1 != 6)
        return std::nullopt;
    return timeOfDay(stem, dash + 1, dash + 3, dash + 5);
}

bool inTimeRange(float t, float from, float to)
{
    if (from < to)
        return from <= t && t <= to;
    return t >= from || t <= to;
}

TimeRangeFilter::TimeRangeFilter(JobSettings& settings, AlertPort& alerts, MainWindowPort& window,
                                 const std::vector<std::string>& files, std::vector<std::string> dates, bool hasEXIF,
                                 DateReader readDate)
    : settings_(settings), alerts_(alerts), window_(window), files_(files), dates_(std::move(dates)),
      useDateList_(hasEXIF && dates_.size() == files.size()), readDate_(std::move(readDate)),
      on_(settings.isTimeRange), fromTime_(settings.fromTime), toTime_(settings.toTime)
{
    if (!readDate_)
        readDate_ = [](const std::string& path) { return readCaptureDate(path).text; };
}

void TimeRangeFilter::begin()
{
    if (!on_)
        return;
    const std::string message = "Range from " + timeText(fromTime_) + " to " + timeText(toTime_);
    if (alerts_.alert("Images will be filtered with a time range.", message, true) == AlertButton::Cancel)
        turnOff();
}

void TimeRangeFilter::turnOff()
{
    on_ = false;
    settings_.isTimeRange = false; // the next movie starts without it
    window_.setTimeRangeChecked(false);
}

bool TimeRangeFilter::use(unsigned index)
{
    if (!on_ || index >= files_.size())
        return true;
    // An entry of the list without a time ("No Date") is looked up in the
    // file as if the list had no dates.
    std::optional<float> t;
    if (useDateList_)
        t = timeOfDayFromDate(dates_[index]);
    if (!t) {
        if (const auto date = readDate_(files_[index]))
            t = timeOfDayFromDate(*date);
    }
    if (!t)
        t = timeOfDayFromName(files_[index]);
    if (!t) {
        alerts_.alert("Image has no EXIF data. Time range filter is turned off", " ");
        turnOff();
        return true;
    }
    if (inTimeRange(*t, fromTime_, toTime_))
        return true;
    ++skipped_;
    return false;
}

TimeLeftClock::TimeLeftClock(Clock now) : now_(now ? std::move(now) : Clock(std::chrono::steady_clock::now))
{
    startDate_ = now_();
}

std::string TimeLeftClock::afterAppend(const std::string& label, unsigned actualImages, unsigned expectedImages)
{
    const auto now = now_();
    if (actualImages == 1)
        startDate_ = now;
    const double elapsed = std::chrono::duration<double>(now - startDate_).count();
    return timeLeftText(label, elapsed, actualImages, expectedImages);
}

Progress TimeLeftClock::progress(unsigned actualImages, unsigned expectedImages) const
{
    return progressAt(std::chrono::duration<double>(now_() - startDate_).count(), actualImages, expectedImages);
}

void endOfRunAlerts(AlertPort& alerts, const RunSummary& run)
{
    const char* seeVerifyList =
        run.verifyListFailed ? "The Verify List file could not be written." : "See Verify List file.";
    char text[128];
    if (run.actualImages == 0)
        alerts.alert(windowText("Create movie error"), "No images could be processed");
    if (run.skipped != 0) {
        std::snprintf(text, sizeof text, "%u images were skipped. %s\n", run.skipped, seeVerifyList);
        alerts.alert(windowText("Create movie error"), text);
    }
    if (run.rangeSkipped != 0) {
        std::snprintf(text, sizeof text, "Time range filter has skipped %u images", run.rangeSkipped);
        alerts.alert(text, " ");
    }
    if (run.stampFailed)
        alerts.alert("Date/Time stamp or GPS Error",
                     run.verifyListFailed ? "The Verify List file could not be written." : "See Verify List file");
    if (run.overlayFailed != 0) {
        std::snprintf(text, sizeof text, "%u frames have no layer: a layer or mask image could not be read. %s",
                      run.overlayFailed, seeVerifyList);
        alerts.alert("Layer image error", text);
    }
    if (run.textCut)
        alerts.alert("Watermark or stamp too large",
                     "The text is larger than a picture can be: only the part that fits was drawn.");
}

} // namespace mv
