#include "settings/Preferences.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <map>
#include <sstream>

namespace mv {
namespace {

// Registered defaults, as the texts the typed readers parse.
const std::map<std::string, std::string>& textDefaults()
{
    static const std::map<std::string, std::string> d{
        {"CodecPref", "2"},         {"QualityPref", "4"},   {"DepthPref", "8"},   {"FPSPref", "30.0"},         {"ScalePref", "6.0"},
        {"FormatPref", "2"},        {"SortPref", "NO"},     {"SkipPref", "NO"},          {"AnimPref", "NO"},
        {"KMLPref", "NO"},          {"VerticalPref", "NO"}, {"TweenPref", "NO"},         {"MotionBlurPref", "NO"},
        {"WatermarkStatePref", "NO"}, {"FromTimePref", "0.0"}, {"ToTimePref", "0.0"},    {"TweenFramePref", "1"},
        {"MotionFramePref", "2"},   {"WatermarkTextPref", "Watermark"}, {"DeflickerPref", "NO"},
        {"DeflickerWindowPref", "0"},
    };
    return d;
}

std::string stored(const PreferenceStore& store, const std::string& key)
{
    if (auto v = store.text(key))
        return *v;
    const auto it = textDefaults().find(key);
    return it == textDefaults().end() ? std::string() : it->second;
}

locale_t cLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

long long integerFor(const PreferenceStore& store, const std::string& key)
{
    return std::strtoll(stored(store, key).c_str(), nullptr, 10);
}

float floatFor(const PreferenceStore& store, const std::string& key)
{
    const float v = strtof_l(stored(store, key).c_str(), nullptr, cLocale());
    return std::isfinite(v) ? v : 0.0f;
}

// YES, true and non-zero numbers read as true, as a text's boolean value does.
bool boolFor(const PreferenceStore& store, const std::string& key)
{
    const std::string v = stored(store, key);
    std::size_t i = 0;
    while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i])))
        ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        ++i;
    while (i < v.size() && v[i] == '0')
        ++i;
    return i < v.size() && std::strchr("YyTt123456789", v[i]) != nullptr;
}

std::uint16_t code(long long v) { return static_cast<std::uint16_t>(v); }

// A code its control does not offer reads as the registered default, as a
// key never written does (a stored -5 would otherwise wrap to a format of
// 65531, taken for a percentage).
std::uint16_t codeFor(const PreferenceStore& store, const std::string& key, long long first, long long last)
{
    const long long v = integerFor(store, key);
    return code(v >= first && v <= last ? v : std::strtoll(textDefaults().at(key).c_str(), nullptr, 10));
}

std::uint16_t countFor(const PreferenceStore& store, const std::string& key, long long most)
{
    return code(std::clamp<long long>(integerFor(store, key), 1, most));
}

std::string number(double v)
{
    char buf[64];
    const locale_t previous = uselocale(cLocale());
    std::snprintf(buf, sizeof buf, "%.9g", v);
    uselocale(previous);
    return buf;
}

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// Colours are stored as "red green blue alpha", fonts as "size family".
std::vector<std::uint8_t> archived(const RGBAColor& c)
{
    return bytesOf(number(c.red) + " " + number(c.green) + " " + number(c.blue) + " " + number(c.alpha));
}

// Fonts: "size family", and the style on a line of its own when there is
// one (stores written before styles were kept have none).
std::vector<std::uint8_t> archived(const FontSpec& f)
{
    return bytesOf(number(f.pointSize) + " " + f.family + (f.style.empty() ? "" : "\n" + f.style));
}

void unarchive(const PreferenceStore& store, const std::string& key, RGBAColor& c)
{
    const auto d = store.data(key);
    if (!d)
        return;
    const std::string s(d->begin(), d->end());
    RGBAColor read;
    std::istringstream in(s);
    in.imbue(std::locale::classic());
    const auto ok = [](double v) { return kColorRange.contains(static_cast<float>(v)); };
    if (in >> read.red >> read.green >> read.blue >> read.alpha && ok(read.red) && ok(read.green) &&
        ok(read.blue) && ok(read.alpha))
        c = read;
}

void unarchive(const PreferenceStore& store, const std::string& key, FontSpec& f)
{
    const auto d = store.data(key);
    if (!d)
        return;
    const std::string s(d->begin(), d->end());
    const std::size_t blank = s.find(' ');
    if (blank == std::string::npos || blank + 1 >= s.size())
        return;
    const float size = strtof_l(s.substr(0, blank).c_str(), nullptr, cLocale());
    const std::size_t newline = s.find('\n', blank + 1);
    if (kFontSizeRange.contains(size))
        f = {s.substr(blank + 1, newline - blank - 1), size,
             newline == std::string::npos ? std::string() : s.substr(newline + 1)};
}

std::vector<std::uint8_t> pointBytes(double x, double y)
{
    std::vector<std::uint8_t> out(16);
    for (int k = 0; k < 2; ++k) {
        std::uint64_t bits;
        const double v = k == 0 ? x : y;
        std::memcpy(&bits, &v, 8);
        for (int b = 0; b < 8; ++b)
            out[k * 8 + b] = static_cast<std::uint8_t>(bits >> (8 * b)); // little-endian
    }
    return out;
}

} // namespace

void loadPrefs(const PreferenceStore& store, JobSettings& s)
{
    // Every value is held to what its control can show, as the same
    // controls and the command line's options hold what is typed.
    s.codec = codeFor(store, "CodecPref", kCodecJPEG, kLastCodec);
    s.quality = codeFor(store, "QualityPref", kQualityLossless, kQualityLow);
    s.depth = codeFor(store, "DepthPref", 8, 10) == 10 ? 10 : 8; // an older store has none: 8
    s.enterFPS(stored(store, "FPSPref"));
    s.scale = floatFor(store, "ScalePref");
    if (!(s.scale >= 0.05f))
        s.scale = 1.0f;
    s.format = codeFor(store, "FormatPref", 0, static_cast<long long>(sizePresets().size()) - 1);
    // A percentage is held to what the size box accepts: a stored 1000
    // would make every frame a thousand times the image. With a preset the
    // stored scale is the derived one, which nothing reads.
    if (s.format == 0)
        s.scale = std::min(s.scale, 1.5f);
    s.isDateSort = boolFor(store, "SortPref");
    s.isSkipVerify = boolFor(store, "SkipPref");
    s.isSaveAnim = boolFor(store, "AnimPref");
    s.isCreateKML = boolFor(store, "KMLPref");
    s.isVertical = boolFor(store, "VerticalPref");
    s.isTweening = boolFor(store, "TweenPref");
    s.isMotionBlur = boolFor(store, "MotionBlurPref");
    s.tweenFrames = countFor(store, "TweenFramePref", kMaxTweenFrames);
    s.motionFrames = countFor(store, "MotionFramePref", kMotionStoreSize);
    s.isDeflicker = boolFor(store, "DeflickerPref");
    s.deflickerWindow = deflickerWindowIn(integerFor(store, "DeflickerWindowPref"));
    s.isTimeRange = false;
    s.fromTime = timeOfDayIn(floatFor(store, "FromTimePref"));
    s.toTime = timeOfDayIn(floatFor(store, "ToTimePref"));
    s.useWatermark = boolFor(store, "WatermarkStatePref");
    s.watermarkStr = stored(store, "WatermarkTextPref");
    // The position is two doubles, nothing else; any other length is (0, 0).
    s.wPosnX = s.wPosnY = 0;
    if (const auto d = store.data("WatermarkPosnPref"); d && d->size() == 16) {
        double v[2];
        for (int k = 0; k < 2; ++k) {
            std::uint64_t bits = 0;
            for (int b = 0; b < 8; ++b)
                bits |= std::uint64_t((*d)[k * 8 + b]) << (8 * b);
            std::memcpy(&v[k], &bits, 8);
        }
        s.wPosnX = watermarkPlaceIn(v[0]);
        s.wPosnY = watermarkPlaceIn(v[1]);
    }
    s.watermarkColor = {1, 1, 1, 1};
    s.textColor = {1, 1, 1, 0.8};
    s.watermarkFont = s.textFont = FontSpec{};
    unarchive(store, "WatermarkColorPref", s.watermarkColor);
    unarchive(store, "WatermarkFontPref", s.watermarkFont);
    unarchive(store, "textColorPref", s.textColor);
    unarchive(store, "textFontPref", s.textFont);
}

bool savePrefs(PreferenceStore& store, const JobSettings& s)
{
    auto yes = [](bool b) { return std::string(b ? "YES" : "NO"); };
    store.setText("CodecPref", std::to_string(s.codec));
    store.setText("QualityPref", std::to_string(s.quality));
    store.setText("DepthPref", std::to_string(s.depth));
    store.setText("FormatPref", std::to_string(s.format));
    store.setText("FPSPref", number(s.mvFPS));
    store.setText("ScalePref", number(s.scale));
    store.setText("SortPref", yes(s.isDateSort));
    store.setText("SkipPref", yes(s.isSkipVerify));
    store.setText("AnimPref", yes(s.isSaveAnim));
    store.setText("KMLPref", yes(s.isCreateKML));
    store.setText("VerticalPref", yes(s.isVertical));
    store.setText("TweenPref", yes(s.isTweening));
    store.setText("MotionBlurPref", yes(s.isMotionBlur));
    store.setText("TweenFramePref", std::to_string(s.tweenFrames));
    store.setText("MotionFramePref", std::to_string(s.motionFrames));
    store.setText("WatermarkStatePref", yes(s.useWatermark));
    store.setText("FromTimePref", number(s.fromTime));
    store.setText("ToTimePref", number(s.toTime));
    store.setData("textColorPref", archived(s.textColor));
    store.setData("textFontPref", archived(s.textFont));
    store.setText("WatermarkTextPref", s.watermarkStr);
    store.setData("WatermarkColorPref", archived(s.watermarkColor));
    store.setData("WatermarkFontPref", archived(s.watermarkFont));
    store.setData("WatermarkPosnPref", pointBytes(s.wPosnX, s.wPosnY));
    store.setText("DeflickerPref", yes(s.isDeflicker));
    store.setText("DeflickerWindowPref", std::to_string(s.deflickerWindow));
    return store.sync();
}

} // namespace mv
