#include "render/RunTexts.h"

#include <algorithm>
#include <cmath>
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
    a.depth = movieDepth(s);
    a.trackTimeScale = (s.mvFPS > 29.96f && s.mvFPS < 29.98f) ? 30000 : (s.mvFPS > 59.93f && s.mvFPS < 59.95f) ? 5994 : 600;
    return a;
}

std::string containerProblem(std::uint16_t codec, const std::string& path)
{
    const bool mp4Codec = codec == kCodecH264 || codec == kCodecHEVC || codec == kCodecAV1;
    const bool mp4 = isMp4Path(path);
    if (!mp4 && codec == kCodecAV1)
        return "AV1 movies are written as .mp4 files. Choose a name ending in .mp4.";
    // A movie named like a picture would be taken for one, by the next
    // listing of its folder too.
    if (!mp4 && !isMovPath(path)) {
        if (codec == 0)
            return "A movie's name ends in .mov or .mp4. Choose such a name.";
        return std::string(codecTitle(codec)) + " movies are written as " + (mp4Codec ? ".mov or .mp4" : ".mov") +
               " files. Choose a name ending in " + (mp4Codec ? ".mov or .mp4." : ".mov.");
    }
    if (mp4 && codec != 0 && !mp4Codec)
        return std::string("An .mp4 movie holds H.264, HEVC or AV1 only, not ") + codecTitle(codec) +
               ". Choose one of them, or a name ending in .mov.";
    return {};
}

std::uint16_t codecOfType(const std::string& codecType)
{
    for (std::uint16_t codec = 1; codec <= kLastCodec; ++codec) {
        JobSettings s;
        s.codec = codec;
        if (movieAttributes(s).codecType == codecType)
            return codec;
    }
    return 0;
}

const char* movieExtension(std::uint16_t codec) { return codec == kCodecAV1 ? "mp4" : "mov"; }

std::string frameSizeProblem(const std::string& codecType, int w, int h)
{
    const FrameSizeLimit limit = frameSizeLimit(codecType);
    // The limits are the encoder's, which may get each side one larger.
    const std::int64_t ew = limit.evenSides ? (std::int64_t(w) + 1) & ~1 : w;
    const std::int64_t eh = limit.evenSides ? (std::int64_t(h) + 1) & ~1 : h;
    char message[320];
    if (ew < limit.minSide || eh < limit.minSide) {
        std::snprintf(message, sizeof message,
                      "The frame size %dX%d is too small for the chosen codec, which takes at least %d pixels a "
                      "side. Select a larger size.",
                      w, h, limit.minSide);
        return message;
    }
    if (w > kMovieMaxSide || h > kMovieMaxSide) {
        std::snprintf(message, sizeof message,
                      "The frame size %dX%d is too large for a movie file, which describes at most %d pixels a "
                      "side. Select a smaller size.",
                      w, h, kMovieMaxSide);
        return message;
    }
    if (std::min(ew, eh) < limit.narrowSide && std::max(ew, eh) > limit.narrowMaxSide) {
        std::snprintf(message, sizeof message,
                      "The frame size %dX%d is too large for the chosen codec, which takes at most %d pixels a side "
                      "when the other is below %d. Select a different size.",
                      w, h, limit.narrowMaxSide, limit.narrowSide);
        return message;
    }
    if (ew <= limit.maxWidth && eh <= limit.maxHeight && std::int64_t(w) * h <= limit.maxPixels)
        return {};
    char sides[64];
    if (limit.maxWidth == limit.maxHeight)
        std::snprintf(sides, sizeof sides, "%d pixels a side", limit.maxWidth);
    else
        std::snprintf(sides, sizeof sides, "%d pixels wide, %d high", limit.maxWidth, limit.maxHeight);
    std::snprintf(message, sizeof message,
                  "The frame size %dX%d is too large for the chosen codec, which takes at most %s and %lld pixels "
                  "in all. Select a smaller size.",
                  w, h, sides, static_cast<long long>(limit.maxPixels));
    return message;
}

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

Progress progressAt(double secondsSinceStart, unsigned done, unsigned total)
{
    if (total == 0)
        return {};
    done = std::min(done, total);
    Progress p;
    p.fraction = double(done) / total;
    if (done >= 3)
        p.secondsLeft = secondsSinceStart / done * (total - done);
    return p;
}

std::string progressText(const Progress& p)
{
    char buf[64];
    const int percent = static_cast<int>(std::clamp(p.fraction, 0.0, 1.0) * 100);
    if (p.secondsLeft < 0) {
        std::snprintf(buf, sizeof buf, "%d %%", percent);
        return buf;
    }
    const long s = std::lround(std::min(p.secondsLeft, 1e7));
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%d %%  \u00b7  %ldh %ldm left", percent, s / 3600, s % 3600 / 60);
    else if (s >= 60)
        std::snprintf(buf, sizeof buf, "%d %%  \u00b7  %ldm %lds left", percent, s / 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%d %%  \u00b7  %lds left", percent, s);
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
