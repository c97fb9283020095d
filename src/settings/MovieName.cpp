#include "settings/MovieName.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/system/Localize.h"

namespace mv {
namespace {

std::string sizeToken(const JobSettings& s)
{
    if (s.format >= 1 && s.format <= 15)
        return sizePresets()[s.format].name;
    const float p = s.scale * 100.0f;
    const auto whole = static_cast<std::uint16_t>(p);
    char buf[32];
    if (p - whole >= 0.01f)
        std::snprintf(buf, sizeof buf, "%.2f%%", p);
    else
        std::snprintf(buf, sizeof buf, "%d%%", whole);
    return buf;
}

const char* codecToken(std::uint16_t codec)
{
    switch (codec) {
    case kCodecH264: return "H264";
    case kCodecTIFF: return "TIFF";
    case kCodecMP4: return "MP4";
    case kCodecAnimation: return "Anim";
    case kCodecHEVC: return "HEVC";
    case kCodecProRes: return "ProRes";
    case kCodecAV1: return "AV1";
    default: return "JPEG";
    }
}

const char* qualityToken(std::uint16_t quality)
{
    switch (quality) {
    case kQualityLossless: return "NLoss";
    case kQualityMax: return "Max";
    case kQualityHigh: return "High";
    case kQualityLow: return "Low";
    default: return "Norm";
    }
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

} // namespace

std::string numberedMoviePath(const std::string& path)
{
    if (!fileExists(path))
        return path;
    const std::filesystem::path p(path);
    const std::string stem = (p.parent_path() / p.stem()).string();
    const std::string ext = p.has_extension() ? p.extension().string() : ".mov";
    for (unsigned n = 1; n <= 65535; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%u", n);
        if (!fileExists(stem + suffix + ext))
            return stem + suffix + ext;
    }
    return {};
}

std::string defaultMovieName(const JobSettings& s, bool isRateChange)
{
    const float fps = std::clamp(s.mvFPS, 0.01f, 600.0f);
    const std::string size = sizeToken(s);
    // A depth the person chose goes after the codec: "HEVC-10".
    const std::string codec = std::string(codecToken(s.codec)) + (codecTakesDepth(s.codec) && movieDepth(s) != 8 ? "-10" : "");
    const char* quality = qualityToken(s.quality);
    char fpsText[32];
    if (s.isVariableFPS)
        std::snprintf(fpsText, sizeof fpsText, "~FPS");
    else if (fps - static_cast<std::uint16_t>(fps) >= 0.001f)
        std::snprintf(fpsText, sizeof fpsText, "%.2f", fps);
    else
        std::snprintf(fpsText, sizeof fpsText, "%.0f", fps);
    char rate[16];
    if (isRateChange)
        std::snprintf(rate, sizeof rate, "~X");
    else
        std::snprintf(rate, sizeof rate, "%dX", s.rate);
    char name[160];
    std::snprintf(name, sizeof name, "MV(%s,%s,%s,%s,%s)", fpsText, size.c_str(), codec.c_str(), quality, rate);
    return name;
}

float movieLengthSeconds(const JobSettings& s, const std::vector<KeyframeMark>& keyframes)
{
    float n = static_cast<float>(s.numListImages);
    if (s.isTweening)
        n = (s.tweenFrames + 1) * n - s.tweenFrames;
    const float fps = s.mvFPS > 0 ? s.mvFPS : 0.01f;
    if (keyframes.size() >= 2) {
        float seconds = 0, previous = 0;
        for (std::size_t k = 1; k < keyframes.size(); ++k) {
            const float f = static_cast<float>(keyframes[k].frame) + 1.0f;
            seconds += (f - previous) / (std::max<std::uint16_t>(keyframes[k].rate, 1) * fps);
            previous = f;
        }
        return seconds + (n - previous) / fps;
    }
    return n / (std::max<std::uint16_t>(s.rate, 1) * fps);
}

std::string calcMovieLength(JobSettings& s, const std::vector<KeyframeMark>& keyframes)
{
    // An empty list with tweening on gives a negative count of frames; the
    // fields are unsigned 16-bit, so the length is held to what they show.
    float seconds = movieLengthSeconds(s, keyframes);
    if (!(seconds > 0))
        seconds = 0;
    seconds = std::min(seconds, 65535.0f * 3600.0f);
    s.durationHour = static_cast<std::uint16_t>(seconds / 3600);
    s.durationMin = static_cast<std::uint16_t>((seconds - s.durationHour * 3600) / 60);
    s.durationSec = seconds - s.durationHour * 3600 - s.durationMin * 60;
    char buf[96];
    if (s.durationHour != 0)
        std::snprintf(buf, sizeof buf, "  %dh %dm %0.1fs", s.durationHour, s.durationMin, s.durationSec);
    else
        std::snprintf(buf, sizeof buf, "  %dm %0.1fs", s.durationMin, s.durationSec);
    return windowText("Length:") + buf;
}

} // namespace mv
