#include "settings/JobSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace mv {

const std::array<SizePreset, 16>& sizePresets()
{
    static const std::array<SizePreset, 16> presets{{
        {"", 0, 0},
        {"1080p", 1920, 1080},
        {"720p", 1280, 720},
        {"VGA", 640, 480},
        {"QVGA", 320, 240},
        {"SVGA", 800, 600},
        {"UVGA", 1024, 768},
        {"XVGA", 1152, 864},
        {"WVGA", 1280, 768},
        {"SXGA", 1280, 1024},
        {"HD960p", 1280, 960},
        {"HD1440p", 1920, 1440},
        {"F2716X1524", 2716, 1524},
        {"F2716X1440", 2716, 1440},
        {"F3840X2160", 3840, 2160},
        {"F4096X2160", 4096, 2160},
    }};
    return presets;
}

bool codecTakesDepth(std::uint16_t codec) { return codec == kCodecHEVC || codec == kCodecAV1; }

int movieDepth(const JobSettings& s)
{
    if (s.codec == kCodecProRes)
        return 10;
    return codecTakesDepth(s.codec) && s.depth == 10 ? 10 : 8;
}

const char* codecTitle(std::uint16_t codec)
{
    switch (codec) {
    case kCodecH264: return "H264";
    case kCodecTIFF: return "TIFF";
    case kCodecMP4: return "MP4";
    case kCodecAnimation: return "Animation";
    case kCodecHEVC: return "HEVC";
    case kCodecProRes: return "ProRes 422 HQ";
    case kCodecAV1: return "AV1";
    default: return "JPEG";
    }
}

const char* qualityTitle(std::uint16_t quality)
{
    switch (quality) {
    case kQualityLossless: return "Lossless";
    case kQualityMax: return "Max";
    case kQualityHigh: return "High";
    case kQualityLow: return "Low";
    default: return "Normal";
    }
}

namespace {
// Numbers in texts are read the same way whatever the user's locale.
locale_t cLocale()
{
    static locale_t loc = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return loc;
}
} // namespace

float floatValue(const std::string& text)
{
    const float v = strtof_l(text.c_str(), nullptr, cLocale());
    return std::isfinite(v) ? v : 0.0f;
}

int intValue(const std::string& text)
{
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

void JobSettings::enterFPS(const std::string& text)
{
    mvFPS = std::clamp(floatValue(text), kFPSRange.low, kFPSRange.high);
}

void JobSettings::chooseScale(int position, const std::string& text)
{
    format = 0;
    if (position > kPresetComboOffset && position <= kPresetComboOffset + 15) {
        format = static_cast<std::uint16_t>(position - kPresetComboOffset);
        return;
    }
    scale = std::clamp(floatValue(text) / 100.0f, kScaleRange.low, kScaleRange.high);
}

void JobSettings::enterRate(const std::string& text, bool optionHeld)
{
    // The combo takes any integer text; truncated to 16 bits as the field
    // holds it, and kept at 1 or more since 0 would never advance the list.
    auto value = static_cast<std::uint16_t>(intValue(text));
    if (value == 0)
        value = 1;
    if (optionHeld) {
        dupImages = value;
        rate = 1;
    } else {
        rate = value;
        dupImages = 1;
    }
}

void JobSettings::setTweening(bool on)
{
    isTweening = on;
    if (on)
        isMotionBlur = false;
}

void JobSettings::setMotionBlur(bool on)
{
    isMotionBlur = on;
    if (on)
        isTweening = false;
}

std::string JobSettings::fpsText() const
{
    char buf[32];
    if (mvFPS - std::trunc(mvFPS) >= 0.001f)
        std::snprintf(buf, sizeof buf, "%.2f", mvFPS);
    else
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(mvFPS));
    return buf;
}

std::string JobSettings::scaleText() const
{
    if (format > 0 && format < sizePresets().size())
        return sizePresets()[format].name;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", scale * 100.0f);
    return buf;
}

std::pair<int, int> JobSettings::presetSize() const
{
    if (format == 0 || format >= sizePresets().size())
        return {0, 0};
    const SizePreset& p = sizePresets()[format];
    return isVertical ? std::pair{p.height, p.width} : std::pair{p.width, p.height};
}

std::string timeText(float t)
{
    int h = static_cast<int>(t);
    const float f = t - h;
    int m = static_cast<int>(f * 60);
    int s = static_cast<int>((f - m / 60.0f) * 3600 + 0.5f);
    if (s >= 60) {
        s -= 60;
        m += 1;
        if (m >= 60) {
            m -= 60;
            h += 1;
        }
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d:%.2d:%.2d", h, m, s);
    return buf;
}

float parseTime(const std::string& text)
{
    float t = 0;
    float divisor = 1;
    std::size_t start = 0;
    for (int piece = 0; piece < 3 && start <= text.size(); ++piece) {
        const std::size_t colon = text.find(':', start);
        t += floatValue(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start)) / divisor;
        divisor *= 60;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return t;
}

std::uint16_t deflickerWindowIn(long long images)
{
    if (images == 0)
        return 0;
    return static_cast<std::uint16_t>(std::clamp<long long>(images, static_cast<long long>(kDeflickerWindowRange.low),
                                                            static_cast<long long>(kDeflickerWindowRange.high)));
}

float timeOfDayIn(float hours) { return std::isfinite(hours) ? std::clamp(hours, 0.0f, 24.0f) : 0.0f; }

double watermarkPlaceIn(double code) { return std::isfinite(code) && code >= 0 && code < 3 ? std::trunc(code) : 0; }

} // namespace mv
