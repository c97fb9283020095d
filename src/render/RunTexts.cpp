#include "render/RunTexts.h"

#include <cstdio>

namespace mv {

MovieAttributes movieAttributes(const JobSettings& s)
{
    MovieAttributes a;
    switch (s.codec) {
    case kCodecH264: a.codecType = "avc1"; break;
    case kCodecTIFF: a.codecType = "tiff"; break;
    case kCodecMP4: a.codecType = "mp4v"; break;
    case kCodecAnimation: a.codecType = "rle "; break;
    case kCodecHEVC: a.codecType = "hvc1"; break;
    case kCodecProRes: a.codecType = "apch"; break;
    case kCodecAV1: a.codecType = "av01"; break;
    default: a.codecType = "jpeg"; break;
    }
    switch (s.quality) {
    case kQualityLossless: a.quality = 1024; break;
    case kQualityMax: a.quality = 1023; break;
    case kQualityHigh: a.quality = 768; break;
    case kQualityLow: a.quality = 256; break;
    default: a.quality = 512; break;
    }
    a.trackTimeScale = (s.mvFPS > 29.96f && s.mvFPS < 29.98f) ? 30000 : (s.mvFPS > 59.93f && s.mvFPS < 59.95f) ? 5994 : 600;
    return a;
}

std::string containerProblem(std::uint16_t codec, const std::string& path)
{
    const bool mp4Codec = codec == kCodecH264 || codec == kCodecHEVC || codec == kCodecAV1;
    if (isMp4Path(path) && !mp4Codec)
        return std::string("An .mp4 movie holds H.264, HEVC or AV1 only, not ") + codecTitle(codec) +
               ". Choose one of them, or a name ending in .mov.";
    if (!isMp4Path(path) && codec == kCodecAV1)
        return "AV1 movies are written as .mp4 files. Choose a name ending in .mp4.";
    return {};
}

const char* movieExtension(std::uint16_t codec) { return codec == kCodecAV1 ? "mp4" : "mov"; }

FrameTiming frameTiming(float fps, bool isVariableFPS)
{
    if ((fps > 29.96f && fps < 29.98f) || isVariableFPS)
        return {{1001, 30000}, 30000};
    if (fps > 59.93f && fps < 59.95f)
        return {{100, 5994}, 5994};
    const float units = 600.0f / fps; // single precision, truncated
    const auto n = static_cast<std::int64_t>(units);
    return {{n > 0 ? n : 1, 600}, 0};
}

std::string timeLeftText(const std::string& label, double secondsSinceStart, unsigned actualImages,
                         unsigned expectedImages)
{
    if (actualImages < 10)
        return {};
    const float perImage = static_cast<float>(secondsSinceStart / actualImages);
    const unsigned left = expectedImages > actualImages ? expectedImages - actualImages : 0;
    const float timeLeft = 1.0f + left * perImage;
    const int hours = static_cast<int>(timeLeft / 3600);
    const int minutes = static_cast<int>((timeLeft - hours * 3600) / 60);
    const int seconds = static_cast<int>(timeLeft - hours * 3600 - minutes * 60);
    char buf[128];
    if (hours != 0)
        std::snprintf(buf, sizeof buf, "%s %dh %dm %ds", label.c_str(), hours, minutes, seconds);
    else if (minutes != 0)
        std::snprintf(buf, sizeof buf, "%s %dm %ds", label.c_str(), minutes, seconds);
    else if (seconds != 0)
        std::snprintf(buf, sizeof buf, "%s %ds", label.c_str(), seconds);
    else
        std::snprintf(buf, sizeof buf, "%s ---", label.c_str());
    return buf;
}

std::string lengthText(float seconds)
{
    const int hours = static_cast<int>(seconds / 3600);
    const int minutes = static_cast<int>((seconds - hours * 3600) / 60);
    const float rest = seconds - hours * 3600 - minutes * 60;
    char buf[64];
    if (hours != 0)
        std::snprintf(buf, sizeof buf, " (%d:%d:%0.1f)", hours, minutes, rest);
    else
        std::snprintf(buf, sizeof buf, " (%d:%0.1f)", minutes, rest);
    return buf;
}

} // namespace mv
