#include "app/BatchOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale.h>

#include "render/Smoothing.h"

namespace mv {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// The whole text must be a number (the settings clamp it afterwards).
double strictNumber(const std::string& option, const std::string& text)
{
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    char* end = nullptr;
    const double v = strtod_l(text.c_str(), &end, c);
    if (text.empty() || !end || *end != '\0' || !std::isfinite(v))
        throw UsageError{option + ": \"" + text + "\" is not a number"};
    return v;
}

std::uint16_t count(const std::string& option, const std::string& text)
{
    const double v = strictNumber(option, text);
    if (v < 1 || v > 65535 || v != std::floor(v))
        throw UsageError{option + ": \"" + text + "\" must be a whole number from 1 to 65535"};
    return static_cast<std::uint16_t>(v);
}

template <std::size_t N>
std::uint16_t choice(const std::string& option, const std::string& text, const char* const (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (lower(text) == names[i])
            return static_cast<std::uint16_t>(i + 1);
    std::string list;
    for (const char* n : names)
        list += std::string(list.empty() ? "" : ", ") + n;
    throw UsageError{option + ": \"" + text + "\" is not one of " + list};
}

float bounded(const std::string& option, const std::string& text, ValueRange accepted)
{
    const double v = strictNumber(option, text);
    if (v < accepted.low || v > accepted.high) {
        char range[64];
        std::snprintf(range, sizeof range, " must be from %g to %g", accepted.low, accepted.high);
        throw UsageError{option + ": \"" + text + "\"" + range};
    }
    return static_cast<float>(v);
}

// Numbers separated by commas, each within the range.
std::vector<float> numberList(const std::string& option, const std::string& text, std::size_t n, ValueRange accepted,
                              const char* form)
{
    std::vector<float> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i + 1 < n) != (comma != std::string::npos))
            throw UsageError{option + ": \"" + text + "\" is not " + form};
        out.push_back(bounded(option, text.substr(start, comma == std::string::npos ? comma : comma - start), accepted));
        start = comma + 1;
    }
    return out;
}

RGBColor colorTriple(const std::string& option, const std::string& text)
{
    const auto c = numberList(option, text, 3, kColorRange, "R,G,B");
    return {c[0], c[1], c[2]};
}

RGBAColor colorQuad(const std::string& option, const std::string& text)
{
    const auto c = numberList(option, text, 4, kColorRange, "R,G,B,A");
    return {c[0], c[1], c[2], c[3]};
}

// "FAMILY,SIZE": the family may hold commas of its own, the size follows the last.
FontSpec fontSpec(const std::string& option, const std::string& text)
{
    const std::size_t comma = text.rfind(',');
    if (comma == std::string::npos || comma == 0)
        throw UsageError{option + ": \"" + text + "\" is not FAMILY,SIZE"};
    return {text.substr(0, comma), bounded(option, text.substr(comma + 1), kFontSizeRange), ""};
}

void applySize(const std::string& text, JobSettings& s)
{
    const auto& presets = sizePresets();
    for (std::size_t code = 1; code < presets.size(); ++code)
        if (lower(text) == lower(presets[code].name)) {
            s.chooseScale(static_cast<int>(code) + kPresetComboOffset, text);
            return;
        }
    std::string number = text;
    if (!number.empty() && number.back() == '%')
        number.pop_back();
    strictNumber("--size", number);
    s.chooseScale(-1, number);
}

// "h:mm:ss" (minutes and seconds may be left out): a time of day in hours.
float timeOfDayOption(const std::string& option, const std::string& range, const std::string& text)
{
    std::vector<double> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? colon : colon - start);
        const bool digits = !part.empty() && part.size() <= 2 &&
                            std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); });
        if (!digits || parts.size() == 3)
            throw UsageError{option + ": \"" + range + "\" is not FROM-TO with times of day as h:mm:ss"};
        parts.push_back(std::stoi(part));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    parts.resize(3, 0);
    if (parts[0] > 24 || parts[1] > 59 || parts[2] > 59 || (parts[0] == 24 && (parts[1] || parts[2])))
        throw UsageError{option + ": \"" + text + "\" is not a time of day from 0:00:00 to 24:00:00"};
    return static_cast<float>(parts[0] + parts[1] / 60 + parts[2] / 3600);
}

} // namespace

std::string makeUsage()
{
    return "Usage: moirevance make [options] IMAGE_OR_FOLDER...\n"
           "Makes a movie from still images (TIFF, JPEG, PNG, CR2, NEF, DNG); folders are\n"
           "searched for images at every depth.\n"
           "\n"
           "  -o, --output PATH     the movie file to write: .mov, or .mp4 for H.264, HEVC\n"
           "                        and AV1 (AV1 only .mp4); an existing file is kept and\n"
           "                        the movie is written as PATH-1.mov, -2.mov ...\n"
           "                        Without it the movie is named after its settings, such as\n"
           "                        MV(30,720p,H264,Norm,1X).mov, in the current folder\n"
           "  --fps F               frames per second, 0.01 to 600 (29.97 and 59.94 exact)\n"
           "  --size NAME|PERCENT   a size preset (1080p, 720p, VGA, QVGA, SVGA, UVGA, XVGA,\n"
           "                        WVGA, SXGA, HD960p, HD1440p, F2716X1524, F2716X1440,\n"
           "                        F3840X2160, F4096X2160) or a percentage such as 50%\n"
           "  --codec C             jpeg, h264, tiff, mp4, animation, hevc, prores (422 HQ,\n"
           "                        10-bit) or av1\n"
           "  --quality Q           lossless, max, high, normal or low\n"
           "  --segment K/N         make only part K of N of this movie (parts made with the\n"
           "                        same command join with append into the whole movie)\n"
           "  --depth 8|10          bits a sample of HEVC and AV1 movies (8); ProRes is\n"
           "                        always 10, the other codecs 8\n"
           "  --crop C              top, middle or bottom: the part kept when the image's\n"
           "                        shape differs from the preset's\n"
           "  --rate N              use every N-th image\n"
           "  --dup N               write every used image N times\n"
           "  --vertical            portrait output: the preset's width and height exchanged\n"
           "  --sort name|date      order by file name or by capture date\n"
           "  --skip-verify         do not check the images while listing them\n"
           "  --kml                 write the images' GPS positions as a KML file beside\n"
           "                        the movie (needs the checks: not with --skip-verify)\n"
           "  --anim FILE           follow the keyframes of an animation file; its settings\n"
           "                        (frame rate, size, codec, quality) become the job's\n"
           "  --save-anim           keep a copy of the editor's animation file beside the movie\n"
           "\n"
           "Options not given take the values last saved by the window.\n"
           "\n"
           "Picture adjustments (neutral values in brackets):\n"
           "  --saturation S        colour saturation [1]\n"
           "  --brightness B        added brightness [0]\n"
           "  --contrast C          contrast about mid-grey [1]\n"
           "  --exposure EV         exposure in stops [0]\n"
           "  --sepia I             sepia tone, 0 to 1 [0]\n"
           "  --mono I              monochrome tint, 0 to 1 [0]\n"
           "  --mono-color R,G,B    colour of the tint, each 0 to 1 [1,1,1]\n"
           "  --sharpen K           sharpen the luminance [0]\n"
           "  --blur R              Gaussian blur radius in pixels [0]\n"
           "  --rotate A            straighten by A radians, counter-clockwise [0]\n"
           "\n"
           "Frame loop:\n"
           "  --time-range FROM-TO  use only images taken between two times of day (h:mm:ss,\n"
           "                        such as 8:00-17:30, or 22:00-6:00 over midnight); the time\n"
           "                        is the capture date, else a name ending in -HHMMSS\n"
           "  --variable-fps        frames last as long as the keyframes' frame rate says\n"
           "  --deflicker [WINDOW]  even out the brightness from image to image, keeping\n"
           "                        changes of light that are slow against WINDOW images\n"
           "                        (3 to 999, or auto: the window the images support\n"
           "                        best) [auto]; steps of the camera's exposure time,\n"
           "                        aperture and ISO are levelled as recorded; gains are\n"
           "                        held to +-2 EV\n"
           "  --no-deflicker        no deflicker, even when the window last had it\n"
           "  --deflicker-plot FILE make no movie: analyse the images' brightness and save\n"
           "                        a PNG chart of it and of the curve deflicker follows\n"
           "\n"
           "Text on every frame:\n"
           "  --date-stamp          the image's capture date, in the lower left corner\n"
           "  --gps-stamp           the image's GPS position (before the date when both)\n"
           "  --text-font F,SIZE    font family and point size of the stamp [Geneva,12]\n"
           "  --text-color R,G,B,A  colour and opacity of the stamp, each 0 to 1\n"
           "  --watermark TEXT      draw TEXT on every frame\n"
           "  --no-watermark        no watermark, even when the window last had one\n"
           "  --watermark-pos X,Y   where: X 0 left, 1 centre, 2 right; Y 0 top, 1 middle,\n"
           "                        2 bottom\n"
           "  --watermark-font F,SIZE, --watermark-color R,G,B,A   as for the stamp\n"
           "\n"
           "Overlay images (one per image, the same size as the first image):\n"
           "  --layers PATH         an overlay image or a folder of them; repeat for more\n"
           "  --layer-mode M        lighten, darken, maximum, minimum, overlay or mask\n"
           "  --masks PATH          with --layer-mode mask: one mask for every frame, or a\n"
           "                        folder with one per image; white shows the image, black\n"
           "                        the overlay\n"
           "  -h, --help            show this help\n"
           "\n"
           "Smoothing (one of the two):\n"
           "  --tween N             N cross-faded frames between each two images (at most 10\n"
           "                        are used)\n"
           "  --motion-blur N       mix each frame with the images before it: the one just\n"
           "                        before weighs 1/N (N from 2 to 10; 1 counts as 2, more\n"
           "                        than 10 as 10), each older one (1 - 1/N) times less\n"
           "  --motion-frames M     how many images each frame mixes, itself included, 1 to 10\n"
           "  --no-smoothing        neither, even when the window last had one\n"
           "\n"
           "Exit status: 0 when a movie was written, 1 when none was, 2 for a usage error.\n";
}

std::string mainUsage()
{
    return "Usage: moirevance make [options] IMAGE_OR_FOLDER...\n"
           "       moirevance make --help\n";
}

MakeRequest parseMakeArguments(const std::vector<std::string>& args, JobSettings& s)
{
    static const char* const kCodecs[] = {"jpeg", "h264", "tiff", "mp4", "animation", "hevc", "prores", "av1"};
    static const char* const kQualities[] = {"lossless", "max", "high", "normal", "low"};
    static const char* const kCrops[] = {"top", "middle", "bottom"};
    static const char* const kSorts[] = {"name", "date"};
    static const char* const kLayerModes[] = {"lighten", "darken", "maximum", "minimum", "overlay", "mask"};

    MakeRequest request;
    bool optionsEnded = false, depthGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            request.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool hasInlineValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        auto needValue = [&]() -> const std::string& {
            if (!hasInlineValue) {
                if (i + 1 >= args.size())
                    throw UsageError{arg + " needs a value"};
                value = args[++i];
            }
            return value;
        };
        auto noValue = [&] {
            if (hasInlineValue)
                throw UsageError{arg + " takes no value"};
        };

        if (arg == "-h" || arg == "--help") {
            noValue();
            request.help = true;
        } else if (arg == "-o" || arg == "--output") {
            request.output = needValue();
        } else if (arg == "--fps") {
            const std::string& v = needValue();
            strictNumber(arg, v);
            s.enterFPS(v);
        } else if (arg == "--size") {
            applySize(needValue(), s);
        } else if (arg == "--codec") {
            s.codec = choice(arg, needValue(), kCodecs);
        } else if (arg == "--quality") {
            s.quality = choice(arg, needValue(), kQualities);
        } else if (arg == "--depth") {
            const std::string& v = needValue();
            if (v != "8" && v != "10")
                throw UsageError{arg + ": \"" + v + "\" must be 8 or 10"};
            s.depth = static_cast<std::uint16_t>(std::stoi(v));
            depthGiven = true;
        } else if (arg == "--crop") {
            s.crop = choice(arg, needValue(), kCrops);
        } else if (arg == "--rate") {
            s.rate = count(arg, needValue());
        } else if (arg == "--dup") {
            s.dupImages = count(arg, needValue());
        } else if (arg == "--vertical") {
            noValue();
            s.isVertical = true;
        } else if (arg == "--sort") {
            s.isDateSort = choice(arg, needValue(), kSorts) == 2;
        } else if (arg == "--skip-verify") {
            noValue();
            s.isSkipVerify = true;
        } else if (arg == "--kml") {
            noValue();
            s.isCreateKML = true;
        } else if (arg == "--anim") {
            request.animFile = needValue();
        } else if (arg == "--save-anim") {
            noValue();
            s.isSaveAnim = true;
        } else if (arg == "--saturation") {
            s.saturation = bounded(arg, needValue(), kSaturationRange);
        } else if (arg == "--brightness") {
            s.brightness = bounded(arg, needValue(), kBrightnessRange);
        } else if (arg == "--contrast") {
            s.contrast = bounded(arg, needValue(), kContrastRange);
        } else if (arg == "--exposure") {
            s.exposureEV = bounded(arg, needValue(), kExposureRange);
        } else if (arg == "--sepia") {
            s.sepiaIntensity = bounded(arg, needValue(), kSepiaRange);
        } else if (arg == "--mono") {
            s.monoIntensity = bounded(arg, needValue(), kMonoRange);
        } else if (arg == "--mono-color") {
            s.ciColor = colorTriple(arg, needValue());
        } else if (arg == "--sharpen") {
            s.sharpenValue = bounded(arg, needValue(), kSharpenRange);
        } else if (arg == "--blur") {
            s.blurRadius = bounded(arg, needValue(), kBlurRange);
        } else if (arg == "--rotate") {
            s.rotateAngle = bounded(arg, needValue(), kRotateRange);
        } else if (arg == "--time-range") {
            const std::string& range = needValue();
            const std::size_t dash = range.find('-');
            if (dash == std::string::npos)
                throw UsageError{arg + ": \"" + range + "\" is not FROM-TO with times of day as h:mm:ss"};
            s.fromTime = timeOfDayOption(arg, range, range.substr(0, dash));
            s.toTime = timeOfDayOption(arg, range, range.substr(dash + 1));
            s.isTimeRange = true;
        } else if (arg == "--deflicker") {
            // The window is optional: a following whole number (or "auto")
            // is taken as it, anything else is the next argument.
            const bool nextIsWindow = !hasInlineValue && i + 1 < args.size() && !args[i + 1].empty() &&
                                      (args[i + 1] == "auto" ||
                                       std::all_of(args[i + 1].begin(), args[i + 1].end(),
                                                   [](unsigned char c) { return std::isdigit(c); }));
            if ((hasInlineValue || nextIsWindow) && needValue() == "auto") {
                s.deflickerWindow = 0;
            } else if (hasInlineValue || nextIsWindow) {
                const float window = bounded(arg, value, kDeflickerWindowRange);
                if (window != std::floor(window))
                    throw UsageError{arg + ": \"" + value + "\" must be a whole number from 3 to 999"};
                s.deflickerWindow = static_cast<std::uint16_t>(window);
            }
            s.isDeflicker = true;
        } else if (arg == "--deflicker-plot") {
            request.deflickerPlot = needValue();
        } else if (arg == "--no-deflicker") {
            noValue();
            s.isDeflicker = false;
        } else if (arg == "--variable-fps") {
            noValue();
            s.isVariableFPS = true;
        } else if (arg == "--date-stamp") {
            noValue();
            s.isDateStamped = true;
        } else if (arg == "--gps-stamp") {
            noValue();
            s.isGPS = true;
        } else if (arg == "--text-font") {
            s.textFont = fontSpec(arg, needValue());
        } else if (arg == "--text-color") {
            s.textColor = colorQuad(arg, needValue());
        } else if (arg == "--watermark") {
            s.watermarkStr = needValue();
            s.useWatermark = true;
        } else if (arg == "--no-watermark") {
            noValue();
            s.useWatermark = false;
        } else if (arg == "--watermark-pos") {
            const auto p = numberList(arg, needValue(), 2, {0, 2}, "X,Y");
            if (p[0] != std::floor(p[0]) || p[1] != std::floor(p[1]))
                throw UsageError{arg + ": \"" + value + "\" must be two whole numbers from 0 to 2"};
            s.wPosnX = p[0];
            s.wPosnY = p[1];
        } else if (arg == "--watermark-font") {
            s.watermarkFont = fontSpec(arg, needValue());
        } else if (arg == "--watermark-color") {
            s.watermarkColor = colorQuad(arg, needValue());
        } else if (arg == "--layers") {
            request.layers.push_back(needValue());
        } else if (arg == "--layer-mode") {
            s.overlayMode = static_cast<std::uint16_t>(choice(arg, needValue(), kLayerModes) - 1);
        } else if (arg == "--masks") {
            request.masks.push_back(needValue());
        } else if (arg == "--tween") {
            s.tweenFrames = count(arg, needValue());
            s.setTweening(true);
        } else if (arg == "--motion-blur") {
            s.tweenFrames = count(arg, needValue());
            s.setMotionBlur(true);
        } else if (arg == "--motion-frames") {
            const float m = bounded(arg, needValue(), {1, kMotionStoreSize});
            if (m != std::floor(m))
                throw UsageError{arg + ": \"" + value + "\" must be a whole number from 1 to 10"};
            s.motionFrames = static_cast<std::uint16_t>(m);
        } else if (arg == "--no-smoothing") {
            noValue();
            s.setTweening(false);
            s.setMotionBlur(false);
        } else if (arg == "--segment") {
            request.segment = parseSegment(needValue());
            if (!request.segment)
                throw UsageError{arg + ": \"" + value + "\" must be K/N, a part K of N parts (1 <= K <= N)"};
        } else {
            throw UsageError{"unknown option " + arg};
        }
        if (arg != "-o" && arg != "--output" && arg != "--segment") {
            request.jobTexts.push_back(arg);
            request.jobTexts.push_back(value);
        }
    }
    if (request.help)
        return request;
    if (request.inputs.empty())
        throw UsageError{"no images or folders given"};
    if (depthGiven && s.depth == 10 && !codecTakesDepth(s.codec) && s.codec != kCodecProRes)
        throw UsageError{"--depth 10 needs --codec hevc, av1 or prores"};
    if (!request.masks.empty() && (request.layers.empty() || s.overlayMode != kMaskBlend))
        throw UsageError{"--masks needs --layers and --layer-mode mask"};
    if (!request.layers.empty() && s.overlayMode == kMaskBlend && request.masks.empty())
        throw UsageError{"--layer-mode mask needs --masks"};
    return request;
}

bool printWrittenPaths(const std::vector<std::string>& paths)
{
    errno = 0;
    for (const std::string& path : paths)
        std::cout << path << '\n';
    std::cout.flush();
    // A reader that went away (`... | head -1`) chose not to read them.
    if (std::cout || errno == EPIPE)
        return true;
    std::cerr << "moirevance: the paths of the written files could not be printed: " << std::strerror(errno) << '\n';
    return false;
}

} // namespace mv
