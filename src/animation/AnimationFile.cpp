// The animation file: a readable text of the job and its keyframes, written
// piece by piece while keyframes are entered, and read back by the editor.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <optional>
#include <sys/stat.h>

#include "animation/CropWindow.h"
#include "platform/system/AtomicFile.h"
#include "platform/system/Localize.h"
#include "platform/system/MacRoman.h"

namespace mv {
namespace {

const char* const kScaleNames[16] = {"",      "HD1080P", "HD720P", "VGA640",     "QVGA",       "SVGA",
                                     "UVGA",  "XVGA",    "WVGA",   "SXGA",       "HD960p",     "HD1440p",
                                     "F2716X1524", "F2716X1440", "F3840X2160", "F4096X2160"};
const char* const kCodecNames[kLastCodec + 1] = {"", "JPEG", "H264", "TIFF", "MP4", "Animation", "HEVC", "ProRes", "AV1"};
const char* const kQualityNames[6] = {"", "Lossless", "Maximum", "High", "Normal", "Low"};

locale_t cLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

std::string printed(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* fmt, ...)
{
    // Numbers always with a decimal point, whatever the user's locale.
    const locale_t previous = uselocale(cLocale());
    char buf[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    uselocale(previous);
    return buf;
}

const char* yesNo(bool b) { return b ? "Yes" : "No"; }

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Reads the file a few lines at a time: from the line at the position
// through the line that holds the fifth character from there.
class Fetcher {
public:
    explicit Fetcher(const std::string& text) : text_(text) {}

    // Nothing when the window reaches past the end of the text.
    std::optional<std::string> fetch()
    {
        if (p_ + 4 >= text_.size())
            return std::nullopt;
        const std::size_t lf = text_.find('\n', p_ + 4);
        const std::size_t end = lf == std::string::npos ? text_.size() : lf + 1;
        std::string piece = text_.substr(p_, end - p_);
        p_ = end;
        return piece;
    }
    std::size_t remaining() const { return text_.size() - p_; }

private:
    const std::string& text_;
    std::size_t p_ = 0;
};

// Length of the decimal number (sign, digits, point, exponent) at s[i].
std::size_t numberLength(const std::string& s, std::size_t i, bool integer)
{
    std::size_t j = i;
    if (j < s.size() && (s[j] == '+' || s[j] == '-'))
        ++j;
    const std::size_t digitsStart = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
        ++j;
    if (!integer && j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
    }
    if (j == digitsStart || (j == digitsStart + 1 && s[digitsStart] == '.'))
        return 0;
    if (!integer && j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-'))
            ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
            while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])))
                ++k;
            j = k;
        }
    }
    return j - i;
}

std::size_t skipBlanks(const std::string& s, std::size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\n'))
        ++i;
    return i;
}

// The number as written, infinite when it is beyond a float.
float rawFloatAt(const std::string& s, std::size_t i)
{
    i = skipBlanks(s, i);
    const std::size_t n = i < s.size() ? numberLength(s, i, false) : 0;
    if (n == 0)
        return 0;
    return strtof_l(s.substr(i, n).c_str(), nullptr, cLocale());
}

float floatAt(const std::string& s, std::size_t i)
{
    const float v = rawFloatAt(s, i);
    return std::isfinite(v) ? v : 0;
}

long long intAt(const std::string& s, std::size_t i)
{
    i = skipBlanks(s, i);
    const std::size_t n = i < s.size() ? numberLength(s, i, true) : 0;
    if (n == 0)
        return 0;
    errno = 0;
    const long long v = std::strtoll(s.substr(i, n).c_str(), nullptr, 10);
    return errno == ERANGE ? 0 : v;
}

// The first `count` numbers in the text, wherever they stand.
std::vector<float> numbersIn(const std::string& s, std::size_t from, std::size_t count)
{
    std::vector<float> out;
    for (std::size_t i = from; i < s.size() && out.size() < count;) {
        const std::size_t n = numberLength(s, i, false);
        if (n == 0) {
            ++i;
            continue;
        }
        out.push_back(rawFloatAt(s, i));
        i += n;
    }
    out.resize(count, 0.0f);
    return out;
}

// The value of a key: the text after it, line feeds trimmed at both ends.
std::string trimmedValue(const std::string& s, std::size_t keyLength)
{
    if (keyLength + 1 > s.size())
        return {};
    std::string v = s.substr(keyLength + 1);
    const std::size_t b = v.find_first_not_of('\n');
    if (b == std::string::npos)
        return {};
    const std::size_t e = v.find_last_not_of('\n');
    return v.substr(b, e - b + 1);
}

template <std::size_t N>
std::optional<std::uint16_t> codeOf(const std::string& name, const char* const (&names)[N], std::size_t first)
{
    for (std::size_t i = first; i < N; ++i)
        if (name == names[i])
            return static_cast<std::uint16_t>(i);
    return std::nullopt;
}

std::optional<bool> yesOrNo(const std::string& v)
{
    if (v == "Yes")
        return true;
    if (v == "No")
        return false;
    return std::nullopt;
}

// What is wrong with a keyframe block's crop rectangle or values, if
// anything. The editor keeps the rectangle inside its window; a small slack
// covers the six decimals the file keeps. Numbers beyond a float are read as
// infinite and so lie outside every range.
std::optional<std::string> valueProblem(const Rect& r, const std::array<float, 12>& values, const Rect& window)
{
    // The Straighten slider's half turn either way, as written with three
    // decimals (3.1416 becomes 3.142).
    constexpr ValueRange kWrittenRotate{kStraightenRange.low - 0.0005f, kStraightenRange.high + 0.0005f};
    const bool inside = r.width > 0 && r.height > 0 && r.x >= -0.5 && r.y >= -0.5 &&
                        r.x + r.width <= window.width + 0.5 && r.y + r.height <= window.height + 0.5;
    if (!inside)
        return printed("the crop rectangle (%g, %g, %g, %g) does not lie inside the %gX%g window.", r.x, r.y,
                       r.width, r.height, window.width, window.height);
    static const char* const kNames[] = {"Saturation", "Brightness", "Contrast", "Sepia", "Exposure", "Blur",
                                         "Rotate",     "AnimFPS",    "MonoI",    "MonoColor", "MonoColor",
                                         "MonoColor"};
    static const ValueRange kRanges[] = {kSaturationRange, kBrightnessRange, kContrastRange, kSepiaRange,
                                         kExposureRange,   kBlurRange,       kWrittenRotate, {0.0f, kFPSRange.high},
                                         kMonoRange,       kColorRange,      kColorRange,    kColorRange};
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!kRanges[i].contains(values[i]))
            return printed("the %s value %g is outside %g ... %g.", kNames[i], values[i], kRanges[i].low,
                           kRanges[i].high);
    return std::nullopt;
}

} // namespace

std::string CropWindow::animHeader()
{
    const JobSettings& s = settings_;
    format = s.format;
    codec = s.codec;
    quality = s.quality;
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    strftime_l(date, sizeof date, "%d %b %Y %H:%M:%S", &local, cLocale()); // English month names
    std::string header = printed("*** Moirevance %s ***\n\n", date);
    if (!version.empty())
        header += printed("Version: %s\n", version.c_str());
    header += printed("\nImage: %s (%dX%d)\n", firstImageName.c_str(),
                      static_cast<std::uint16_t>(view_.srcRect.width), static_cast<std::uint16_t>(view_.srcRect.height));
    header += printed("Window: %dX%d\n", static_cast<std::uint16_t>(static_cast<float>(cvRect_.width)),
                      static_cast<std::uint16_t>(static_cast<float>(cvRect_.height)));
    // The list's image count, which the reader compares with its list.
    header += printed("Images: %u\n", s.numListImages);
    header += printed("FPS: %.2f\n", s.mvFPS);
    if (s.format == 0 || s.format > 15)
        header += printed("Scale: NOFORMAT (%.1f%%)\n", s.scale * 100.0f);
    else
        header += printed("Scale: %s\n", kScaleNames[s.format]);
    header += printed("Codec: %s\n", kCodecNames[s.codec >= 2 && s.codec <= kLastCodec ? s.codec : 1]);
    header += printed("Quality: %s\n", kQualityNames[s.quality >= 1 && s.quality <= 5 ? s.quality : 4]);
    header += printed("DateStamp: %s\nGPS: %s\nVertical: %s\n", yesNo(s.isDateStamped), yesNo(s.isGPS),
                      yesNo(s.isVertical));
    header += "\n*** Animation Sequence ***\n";
    return toMacRoman(header);
}

std::string CropWindow::animBlock(const frameS& k)
{
    std::string block = printed("\nFrame: %d\n", static_cast<int>(k.frame + 1));
    block += printed("Rate: %dX\n", k.rate);
    block += printed("cropRect: (%f, %f, %f, %f)\n", static_cast<float>(k.rect.x), static_cast<float>(k.rect.y),
                    static_cast<float>(k.rect.width), static_cast<float>(k.rect.height));
    block += printed("Saturation: %.3f\n", k.saturation);
    block += printed("Brightness: %.3f\n", k.brightness);
    block += printed("Contrast: %.3f\n", k.contrast);
    block += printed("Exposure: %.3f\n", k.exposureEV);
    block += printed("MonoI: %.3f\n", k.monoIntensity);
    block += printed("MonoColor: %g %g %g 1\n", k.monoRed, k.monoGreen, k.monoBlue);
    block += printed("Sepia: %.3f\n", k.sepiaIntensity);
    block += printed("Blur: %.3f\n", k.blurRadius);
    block += printed("Rotate: %.3f\n", k.rotateAngle);
    block += printed("AnimFPS: %.1f\n", k.fps);
    return toMacRoman(block);
}

void CropWindow::writeAnimFile(bool headerOnly)
{
    if (animFile.empty())
        return;
    if (!fileExists(animFile)) {
        if (animFH_)
            std::fclose(animFH_);
        animFH_ = nullptr;
        // The file appears with its whole header; each keyframe block is
        // then appended in one write.
        if (!writeFileAtomically(animFile, animHeader(), false) && errno != EEXIST)
            return;
    }
    if (headerOnly)
        return;
    if (!animFH_) {
        animFH_ = std::fopen(animFile.c_str(), "ab");
        if (!animFH_)
            return;
    }
    const std::string bytes = animBlock(frameArray_.back());
    std::fwrite(bytes.data(), 1, bytes.size(), animFH_);
    std::fflush(animFH_);
}

void CropWindow::rewriteAnimFile()
{
    if (animFile.empty())
        return;
    if (animFH_)
        std::fclose(animFH_);
    animFH_ = nullptr;
    if (frameArray_.empty()) {
        std::remove(animFile.c_str());
        return;
    }
    // Replaced whole: the old file stays until the new one is complete.
    std::string bytes = animHeader();
    for (const frameS& k : frameArray_)
        bytes += animBlock(k);
    writeFileAtomically(animFile, bytes, true);
}

bool CropWindow::failRead(const std::string& title, const std::string& message)
{
    alerts_.alert(title, message);
    return false;
}

bool CropWindow::readAnimFile(const std::string& path)
{
    const std::string kNotProcessed = "The animation file could not be processed";
    const std::string kIncomplete = "The animation file ends in the middle of its text.";
    std::ifstream in(path.empty() ? animFile : path, std::ios::binary);
    if (!in)
        return failRead("Could not read animation file", " ");
    // Read up to the limit and no further: what lies beyond (a file of a
    // gigabyte, a device that never ends) is never held.
    std::string text;
    char chunk[1 << 16];
    while (in) {
        in.read(chunk, sizeof chunk);
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes)
            return failRead(kNotProcessed, printed("The file is larger than %zu MB, more than any animation file.",
                                                   kMaxFileBytes >> 20));
    }
    if (in.bad())
        return failRead("Could not read animation file", " ");
    // Lines ended by a carriage return and a line feed (a file saved by an
    // editor on another system) read as the line feeds the writer puts.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            text[kept++] = text[i];
    text.resize(kept);
    // Mac OS Roman: one byte is one character, so positions count bytes.
    const std::uint32_t n = settings_.numListImages;

    resetArrays();
    lastFrame_ = -1;
    isRateChange_ = false;
    Fetcher fetcher(text);

    // The header: the Image line, then one line per key.
    fetcher.fetch();
    std::string piece;
    for (;;) {
        auto next = fetcher.fetch();
        if (!next)
            return failRead(kNotProcessed, "This file is not a Moirevance animation file.");
        if (next->find("Image:") != std::string::npos) {
            piece = *next;
            break;
        }
    }
    const std::size_t open = piece.find('(');
    const float w = open == std::string::npos ? 0 : floatAt(piece, open + 1);
    const std::size_t x = open == std::string::npos ? std::string::npos : piece.find('X', open);
    const float h = x == std::string::npos ? 0 : floatAt(piece, x + 1);
    imageRect_ = {0, 0, w, h};
    if (!(imageRect_ == view_.srcRect))
        return failRead(kNotProcessed, "Current image size does not match animation image size.");

    float fileFps = settings_.mvFPS; // a file without an FPS line keeps the job's rate
    bool imagesMatch = true;          // a file without an Images line is not compared
    bool fileVertical = settings_.isVertical;
    struct Key {
        const char* name;
        std::function<bool(const std::string& piece, std::size_t keyLength)> take; // false: bad value
        const char* badValue;
    };
    const Key header[] = {
        {"Window:",
         [&](const std::string& t, std::size_t k) {
             const float cw = floatAt(t, k + 1);
             const std::size_t xi = t.find('X');
             cvRect_ = {0, 0, cw, xi == std::string::npos ? 0.0f : floatAt(t, xi + 1)};
             return true;
         },
         nullptr},
        {"Images:",
         [&](const std::string& t, std::size_t k) {
             // The whole number: cut to 16 bits, 65544 would pass for 8.
             const long long v = intAt(t, k + 1);
             imagesMatch = v == static_cast<long long>(n);
             numImages = static_cast<std::uint32_t>(v);
             return true;
         },
         nullptr},
        {"FPS:",
         [&](const std::string& t, std::size_t k) {
             fileFps = floatAt(t, k + 1);
             return true;
         },
         nullptr},
        {"Scale:",
         [&](const std::string& t, std::size_t k) {
             const std::string v = trimmedValue(t, k);
             if (v.find("NOFORMAT (") != std::string::npos) {
                 scale = (v.size() > 10 ? floatAt(v, 10) : 0.0f) / 100.0f;
                 format = 0;
                 return kScaleRange.contains(scale);
             }
             const auto code = codeOf(v, kScaleNames, 1);
             if (code) {
                 scale = 1.0f;
                 format = *code;
             }
             return code.has_value();
         },
         "Could not find scale value"},
        {"Codec:",
         [&](const std::string& t, std::size_t k) {
             const auto code = codeOf(trimmedValue(t, k), kCodecNames, 1);
             if (code)
                 codec = *code;
             return code.has_value();
         },
         "Could not find codec value"},
        {"Quality:",
         [&](const std::string& t, std::size_t k) {
             const auto code = codeOf(trimmedValue(t, k), kQualityNames, 1);
             if (code)
                 quality = *code;
             return code.has_value();
         },
         "Could not find quality value"},
        {"DateStamp:",
         [&](const std::string& t, std::size_t k) {
             const auto b = yesOrNo(trimmedValue(t, k));
             if (b)
                 settings_.isDateStamped = isDateStamped = *b;
             return b.has_value();
         },
         "Could not find date stamp state"},
        {"GPS:",
         [&](const std::string& t, std::size_t k) {
             const auto b = yesOrNo(trimmedValue(t, k));
             if (b)
                 settings_.isGPS = isGPS = *b;
             return b.has_value();
         },
         "Could not find GPS state"},
        {"Vertical:",
         [&](const std::string& t, std::size_t k) {
             const auto b = yesOrNo(trimmedValue(t, k));
             if (b)
                 settings_.isVertical = isVertical = fileVertical = *b;
             return b.has_value();
         },
         "Could not find Vertical state"},
    };
    for (const Key& key : header) {
        const auto t = fetcher.fetch();
        if (!t)
            return failRead(kNotProcessed, kIncomplete);
        if (t->find(key.name) == std::string::npos)
            continue; // a missing key keeps the field as it was
        if (!key.take(*t, std::strlen(key.name)))
            return failRead(key.badValue, " ");
        if (std::strcmp(key.name, "Images:") == 0 && !imagesMatch)
            return failRead(kNotProcessed, "Number of images do not match the current list.");
    }
    if (!kFPSRange.contains(fileFps))
        return failRead(kNotProcessed, printed("The frame rate %g is outside %g ... %g.", fileFps, kFPSRange.low,
                                               kFPSRange.high));
    // The window a preview had on a screen; anything else would size a
    // preview, and the zoom of every frame, from nonsense.
    if (!(cvRect_.width > 0 && cvRect_.width <= kMaxWindowSide && cvRect_.height > 0 &&
          cvRect_.height <= kMaxWindowSide))
        return failRead(kNotProcessed, printed("The window size %gX%g is not valid.", cvRect_.width, cvRect_.height));
    fps = fileFps;

    // The keyframe blocks.
    static const char* const kValueKeys[] = {"Saturation:", "Brightness:", "Contrast:", "Exposure:", "MonoI:",
                                             "MonoColor:",  "Sepia:",      "Blur:",     "Rotate:",   "AnimFPS:"};
    Values orig = orig_;
    std::uint16_t firstRate = 0;
    int records = 0;
    while (fetcher.remaining() >= 5) {
        const auto t = fetcher.fetch();
        if (!t)
            break;
        const std::size_t at = t->find("Frame:");
        if (at == std::string::npos)
            continue; // a stray line
        const auto blockFrame = static_cast<std::uint32_t>(intAt(*t, 7) - 1);
        if (blockFrame >= n)
            return failRead(kNotProcessed, "Frame number is larger than the number of images.");
        if (static_cast<std::uint32_t>(records) >= n)
            return failRead(kNotProcessed, "The animation file has more keyframes than the list has images.");

        auto rateText = fetcher.fetch();
        if (!rateText)
            return failRead(kNotProcessed, kIncomplete);
        if (rateText->find("Rate:") == std::string::npos)
            continue;
        const auto rate = static_cast<std::uint16_t>(intAt(*rateText, 6));
        auto rectLine = fetcher.fetch();
        if (!rectLine)
            return failRead(kNotProcessed, kIncomplete);
        if (rectLine->find("cropRect:") == std::string::npos)
            continue;
        const std::vector<float> r = numbersIn(*rectLine, 10, 4);
        const Rect cr{r[0], r[1], r[2], r[3]};

        // Where each value goes in the record order S B C T E P R F MI MR MG MB.
        static const std::size_t kSlot[] = {0, 1, 2, 4, 8, 9, 3, 5, 6, 7};
        for (std::size_t i = 0; i < std::size(kValueKeys); ++i) {
            const char* key = kValueKeys[i];
            const auto v = fetcher.fetch();
            if (!v)
                return failRead(kNotProcessed, kIncomplete);
            if (v->find(key) == std::string::npos)
                continue; // keeps the previous block's value
            const std::size_t k = std::strlen(key) + 1;
            if (std::strcmp(key, "MonoColor:") == 0) {
                const std::vector<float> c = numbersIn(*v, k, 3);
                orig[9] = c[0], orig[10] = c[1], orig[11] = c[2];
                continue;
            }
            orig[kSlot[i]] = rawFloatAt(*v, k);
        }

        if (const auto problem = valueProblem(cr, orig, cvRect_))
            return failRead(kNotProcessed, printed("Frame %u: %s", blockFrame + 1, problem->c_str()));

        frame = blockFrame;
        rateSkip_ = rate ? rate : 1; // a step of 0 would never advance
        if (lastFrame_ == -1) {
            lastRect_ = cr;
            last_ = orig;
            firstRate = rateSkip_;
            prevRateSkip_ = rateSkip_;
            frameTotal_ = 0;
            totalRemain_ = 0;
        }
        if (lastFrame_ != -1 && frame == std::uint32_t(lastFrame_)) {
            appendRecord(cr, orig, delta_); // a repeated frame: the previous steps
        } else if (lastFrame_ != -1 && frame < std::uint32_t(lastFrame_)) {
            return failRead(kNotProcessed, "Frame sequence is out of order.");
        } else {
            const std::uint32_t step = prevRateSkip_;
            const std::uint32_t span = frame - static_cast<std::uint32_t>(lastFrame_);
            frameTotal_ -= static_cast<std::int32_t>(totalRemain_);
            totalRemain_ = (n - frame) / rateSkip_;
            frameTotal_ += static_cast<std::int32_t>(span / step + totalRemain_);
            prevRateSkip_ = rateSkip_;
            if (rateSkip_ != firstRate)
                isRateChange_ = true;
            const float f = float(step) / float(span);
            std::array<float, 15> delta{};
            delta[0] = static_cast<float>((cr.x - lastRect_.x) * f);
            delta[1] = static_cast<float>((cr.y - lastRect_.y) * f);
            delta[2] = static_cast<float>(fileVertical ? (cr.height - lastRect_.height) * f
                                                       : (cr.width - lastRect_.width) * f);
            lastRect_ = cr;
            lastFrame_ = static_cast<std::int32_t>(frame);
            for (std::size_t i = 0; i < orig.size(); ++i)
                delta[3 + i] = (orig[i] - last_[i]) * f;
            // Numbers near the float limits can overflow in a difference; a
            // step that is not finite would break every later frame.
            for (float& d : delta)
                if (!std::isfinite(d))
                    d = 0;
            last_ = orig;
            rectArray_.push_back(rectText(cr));
            fNumArray_.push_back(std::to_string(frame + 1));
            appendRecord(cr, orig, delta);
        }
        ++records;
    }
    orig_ = orig;
    if (records < 2)
        return failRead(kNotProcessed, "The animation file has less than two frames.");
    return true;
}

} // namespace mv
