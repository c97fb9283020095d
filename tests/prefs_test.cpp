#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "TestSupport.h"
#include "settings/Preferences.h"

using namespace mv;
using namespace mvtest;

namespace {

class MemoryStore : public PreferenceStore {
public:
    std::optional<std::string> text(const std::string& key) const override
    {
        const auto it = texts.find(key);
        return it == texts.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::vector<std::uint8_t>> data(const std::string& key) const override
    {
        const auto it = datas.find(key);
        return it == datas.end() ? std::nullopt : std::optional(it->second);
    }
    void setText(const std::string& key, const std::string& value) override
    {
        texts[key] = value;
        order.push_back(key);
    }
    void setData(const std::string& key, const std::vector<std::uint8_t>& value) override
    {
        datas[key] = value;
        order.push_back(key);
    }
    bool sync() override { return true; }

    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<std::uint8_t>> datas;
    std::vector<std::string> order;
};

// Two settings agree in every preference when they save the same values
// (SaveWritesEveryKeyInOrder shows that each value reaches its key).
void expectSame(const JobSettings& a, const JobSettings& b)
{
    MemoryStore x, y;
    savePrefs(x, a);
    savePrefs(y, b);
    EXPECT_EQ(x.texts, y.texts);
    EXPECT_EQ(x.datas, y.datas);
}

JobSettings unusual()
{
    JobSettings s;
    s.codec = kCodecTIFF;
    s.quality = kQualityMax;
    s.depth = 10;
    s.mvFPS = 29.97f;
    s.scale = 0.375f;
    s.format = 0;
    s.isDateSort = s.isSkipVerify = s.isSaveAnim = s.isCreateKML = s.isVertical = s.isTweening = s.isMotionBlur =
        s.useWatermark = true;
    s.tweenFrames = 4;
    s.motionFrames = 7;
    s.isDeflicker = true;
    s.deflickerWindow = 25;
    s.fromTime = 7.5f;
    s.toTime = 17.25f;
    s.watermarkStr = "\xC2\xA9 Garden 2026";
    s.wPosnX = 2;
    s.wPosnY = 1;
    s.textColor = {0.1, 0.2, 0.30000001, 0.45};
    s.watermarkColor = {1, 0, 0.5, 1};
    s.textFont = {"DejaVu Sans Mono", 18.5, ""};
    s.watermarkFont = {"DejaVu Sans", 36, "Bold Oblique"};
    return s;
}

// Settings loaded from a store holding only these values, over settings
// that differ from every default.
JobSettings loaded(const std::map<std::string, std::string>& texts,
                   const std::map<std::string, std::vector<std::uint8_t>>& datas = {})
{
    MemoryStore store;
    store.texts = texts;
    store.datas = datas;
    JobSettings s = unusual();
    loadPrefs(store, s);
    return s;
}

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

} // namespace

TEST(Preferences, EmptyStoreGivesTheRegisteredDefaults)
{
    expectSame(loaded({}), JobSettings{});
}

TEST(Preferences, StoredValuesAreClampedOnLoad)
{
    JobSettings s = loaded({{"FPSPref", "0"}, {"WatermarkTextPref", ""}, {"SortPref", "YES"}, {"KMLPref", "true"},
                            {"SkipPref", "0"}, {"CodecPref", "3"}, {"DeflickerWindowPref", "1"}, {"DepthPref", "9"}});
    EXPECT_FLOAT_EQ(s.mvFPS, 0.01f);
    EXPECT_EQ(s.watermarkStr, ""); // stored empty stays empty
    EXPECT_TRUE(s.isDateSort);
    EXPECT_TRUE(s.isCreateKML);
    EXPECT_FALSE(s.isSkipVerify);
    EXPECT_EQ(s.codec, kCodecTIFF);
    EXPECT_EQ(s.deflickerWindow, 3); // the smallest window that tells flicker from light
    EXPECT_EQ(s.depth, 8);
    // With a percentage (format 0) a scale beyond the largest the size box
    // takes (150%) is held to it, as a frame of a thousand times the image
    // would never be made.
    for (const auto& [format, scale, want] : {std::tuple{"2", "0.01", 1.0f}, {"2", "1.4", 1.4f}, {"0", "1000", 1.5f},
                                              {"0", "1e30", 1.5f}, {"0", "nan", 1.0f}})
        EXPECT_FLOAT_EQ(loaded({{"FormatPref", format}, {"ScalePref", scale}}).scale, want) << format << " " << scale;

    // The position is exactly 16 bytes, two little-endian doubles; anything
    // else is (0, 0). Places other than 0, 1, 2 are put at 0 by the renderer,
    // and so read.
    const auto place = [](const std::vector<std::uint8_t>& point) {
        const JobSettings p = loaded({}, {{"WatermarkPosnPref", point}});
        return std::pair(p.wPosnX, p.wPosnY);
    };
    EXPECT_EQ(place(std::vector<std::uint8_t>(15, 0x40)), std::pair(0.0, 0.0));
    std::vector<std::uint8_t> point(16, 0);
    point[7] = 0x40;  // 2.0
    point[14] = 0xF0; // 1.0
    point[15] = 0x3F;
    EXPECT_EQ(place(point), std::pair(2.0, 1.0));
    point[6] = 0xF8, point[7] = 0x7F;   // NaN
    point[14] = 0x1C, point[15] = 0x40; // 7.0
    EXPECT_EQ(place(point), std::pair(0.0, 0.0));

    // Values the controls cannot show are held to them; codes they do not
    // offer are the registered defaults, while the last of each table is
    // still offered.
    s = loaded({{"FPSPref", "1e30"}, {"CodecPref", "99"}, {"QualityPref", "0"}, {"FormatPref", "-5"},
                {"TweenFramePref", "70000"}, {"MotionFramePref", "0"}, {"FromTimePref", "1e30"}, {"ToTimePref", "-2"}});
    EXPECT_FLOAT_EQ(s.mvFPS, 600);
    EXPECT_EQ(s.codec, kCodecH264);
    EXPECT_EQ(s.quality, kQualityNormal);
    EXPECT_EQ(s.format, 2);
    EXPECT_EQ(s.tweenFrames, 10);
    EXPECT_EQ(s.motionFrames, 1);
    EXPECT_FLOAT_EQ(s.fromTime, 24);
    EXPECT_FLOAT_EQ(s.toTime, 0);
    s = loaded({{"CodecPref", "8"}, {"QualityPref", "1"}, {"FormatPref", "15"}});
    EXPECT_EQ(s.codec, kCodecAV1);
    EXPECT_EQ(s.quality, kQualityLossless);
    EXPECT_EQ(s.format, 15);

    // Unreadable or out-of-range archives: the defaults stay (a font of a
    // million points would want a bitmap of terabytes).
    for (const std::string bad : {"bad", "1 1 1 7"})
        EXPECT_DOUBLE_EQ(loaded({}, {{"textColorPref", bytes(bad)}}).textColor.alpha, 0.8) << bad;
    for (const std::string bad : {"1e6 Serif", "0 Serif", "nan Serif"})
        EXPECT_DOUBLE_EQ(loaded({}, {{"textFontPref", bytes(bad)}}).textFont.pointSize, 12) << bad;
    // A font stored before styles were kept is the family's regular face.
    s = loaded({}, {{"WatermarkFontPref", bytes("36 DejaVu Sans")}});
    EXPECT_EQ(s.watermarkFont.family, "DejaVu Sans");
    EXPECT_EQ(s.watermarkFont.style, "");
}

TEST(Preferences, SaveWritesEveryKeyInOrder)
{
    MemoryStore store;
    savePrefs(store, unusual());
    EXPECT_EQ(store.order,
              (std::vector<std::string>{"CodecPref", "QualityPref", "DepthPref", "FormatPref", "FPSPref", "ScalePref", "SortPref",
                                        "SkipPref", "AnimPref", "KMLPref", "VerticalPref", "TweenPref",
                                        "MotionBlurPref", "TweenFramePref", "MotionFramePref", "WatermarkStatePref",
                                        "FromTimePref", "ToTimePref", "textColorPref", "textFontPref",
                                        "WatermarkTextPref", "WatermarkColorPref", "WatermarkFontPref",
                                        "WatermarkPosnPref", "DeflickerPref", "DeflickerWindowPref"}));
    // No unusual value is a default, so a key written with a fixed value or
    // loaded into the wrong field shows.
    MemoryStore defaults;
    savePrefs(defaults, JobSettings{});
    for (const std::string& key : store.order)
        EXPECT_TRUE(store.texts[key] != defaults.texts[key] || store.datas[key] != defaults.datas[key]) << key;
    JobSettings back;
    loadPrefs(store, back);
    expectSame(back, unusual());
}

// Saves in this process and loads in a new one, through the real store.
TEST(Preferences, ReloadedInANewProcess)
{
    if (std::getenv("MV_PREFS_CHILD")) {
        JobSettings loaded;
        loadPrefs(*openUserPreferences(), loaded);
        expectSame(loaded, unusual());
        return;
    }
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    savePrefs(*openUserPreferences(), unusual());
    const auto child = run("MV_PREFS_CHILD=1 XDG_CONFIG_HOME=" + quote(dir.path()) + " " +
                           quote(::testing::internal::GetArgvs()[0]) +
                           " --gtest_filter=Preferences.ReloadedInANewProcess 2>&1");
    EXPECT_EQ(child.status, 0) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    ::unsetenv("XDG_CONFIG_HOME");
}
