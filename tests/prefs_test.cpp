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

} // namespace

TEST(Preferences, EmptyStoreGivesTheRegisteredDefaults)
{
    MemoryStore store;
    JobSettings loaded = unusual();
    loadPrefs(store, loaded);
    expectSame(loaded, JobSettings{});
}

TEST(Preferences, StoredValuesAreClampedOnLoad)
{
    MemoryStore store;
    store.texts = {{"FPSPref", "0"}, {"ScalePref", "0.01"}, {"WatermarkTextPref", ""}, {"SortPref", "YES"},
                   {"KMLPref", "true"}, {"SkipPref", "0"}, {"CodecPref", "3"}, {"DeflickerWindowPref", "1"},
                   {"DepthPref", "9"}};
    JobSettings s;
    loadPrefs(store, s);
    EXPECT_FLOAT_EQ(s.mvFPS, 0.01f);
    EXPECT_FLOAT_EQ(s.scale, 1.0f);
    EXPECT_EQ(s.watermarkStr, ""); // stored empty stays empty
    EXPECT_TRUE(s.isDateSort);
    EXPECT_TRUE(s.isCreateKML);
    EXPECT_FALSE(s.isSkipVerify);
    EXPECT_EQ(s.codec, kCodecTIFF);
    EXPECT_EQ(s.deflickerWindow, 3); // the smallest window that tells flicker from light
    EXPECT_EQ(s.depth, 8);
    store.texts["ScalePref"] = "1.4";
    loadPrefs(store, s);
    EXPECT_FLOAT_EQ(s.scale, 1.4f);
    // Beyond the largest percentage the size box takes (150%), as a frame of
    // a thousand times the image would never be made.
    store.texts["FormatPref"] = "0";
    for (const char* huge : {"1000", "1e30"}) {
        store.texts["ScalePref"] = huge;
        loadPrefs(store, s);
        EXPECT_FLOAT_EQ(s.scale, 1.5f) << huge;
    }
    store.texts["ScalePref"] = "nan";
    loadPrefs(store, s);
    EXPECT_FLOAT_EQ(s.scale, 1.0f);

    // The position is exactly 16 bytes; anything else is (0, 0).
    store.datas["WatermarkPosnPref"] = std::vector<std::uint8_t>(15, 0x40);
    s.wPosnX = 2;
    loadPrefs(store, s);
    EXPECT_EQ(s.wPosnX, 0);
    std::vector<std::uint8_t> point(16, 0);
    point[7] = 0x40;  // 2.0, little-endian
    point[14] = 0xF0; // 1.0
    point[15] = 0x3F;
    store.datas["WatermarkPosnPref"] = point;
    loadPrefs(store, s);
    EXPECT_EQ(s.wPosnX, 2.0);
    EXPECT_EQ(s.wPosnY, 1.0);
    // Positions other than 0, 1, 2 are placed as 0 by the renderer, and so read.
    point[6] = 0xF8, point[7] = 0x7F; // NaN
    point[14] = 0x1C, point[15] = 0x40; // 7.0
    store.datas["WatermarkPosnPref"] = point;
    loadPrefs(store, s);
    EXPECT_EQ(s.wPosnX, 0.0);
    EXPECT_EQ(s.wPosnY, 0.0);

    // Values the controls cannot show are held to them; codes they do not
    // offer are the registered defaults.
    MemoryStore hostile;
    hostile.texts = {{"FPSPref", "1e30"},  {"CodecPref", "99"},        {"QualityPref", "0"},
                     {"FormatPref", "-5"}, {"TweenFramePref", "70000"}, {"MotionFramePref", "0"},
                     {"FromTimePref", "1e30"}, {"ToTimePref", "-2"}};
    loadPrefs(hostile, s);
    EXPECT_FLOAT_EQ(s.mvFPS, 600);
    EXPECT_EQ(s.codec, kCodecH264);
    EXPECT_EQ(s.quality, kQualityNormal);
    EXPECT_EQ(s.format, 2);
    EXPECT_EQ(s.tweenFrames, 10);
    EXPECT_EQ(s.motionFrames, 1);
    EXPECT_FLOAT_EQ(s.fromTime, 24);
    EXPECT_FLOAT_EQ(s.toTime, 0);
    hostile.texts = {{"CodecPref", "8"}, {"QualityPref", "1"}, {"FormatPref", "15"}};
    loadPrefs(hostile, s);
    EXPECT_EQ(s.codec, kCodecAV1); // the last of each table is still offered
    EXPECT_EQ(s.quality, kQualityLossless);
    EXPECT_EQ(s.format, 15);
    // Unreadable or out-of-range archives: the defaults stay (a font of a
    // million points would want a bitmap of terabytes).
    for (const std::string bad : {"bad", "1 1 1 7"}) {
        store.datas["textColorPref"] = {bad.begin(), bad.end()};
        loadPrefs(store, s);
        EXPECT_DOUBLE_EQ(s.textColor.alpha, 0.8) << bad;
    }
    for (const std::string bad : {"1e6 Serif", "0 Serif", "nan Serif"}) {
        store.datas["textFontPref"] = {bad.begin(), bad.end()};
        loadPrefs(store, s);
        EXPECT_DOUBLE_EQ(s.textFont.pointSize, 12) << bad;
    }
    // A font stored before styles were kept is the family's regular face.
    const std::string old = "36 DejaVu Sans";
    store.datas["textFontPref"] = {old.begin(), old.end()};
    s.textFont.style = "Bold";
    loadPrefs(store, s);
    EXPECT_EQ(s.textFont.family, "DejaVu Sans");
    EXPECT_EQ(s.textFont.style, "");
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
    EXPECT_EQ(store.datas["WatermarkPosnPref"].size(), 16u);
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
