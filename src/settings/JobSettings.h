#pragma once
// The settings of one movie job, with their code tables and limits.
#include <array>
#include <cstdint>
#include <string>

namespace mv {

// Stored in preferences and animation files: new codecs take new codes.
enum CodecCode : std::uint16_t {
    kCodecJPEG = 1,
    kCodecH264 = 2,
    kCodecTIFF = 3,
    kCodecMP4 = 4,
    kCodecAnimation = 5,
    kCodecHEVC = 6,
    kCodecProRes = 7,
    kCodecAV1 = 8,
};
constexpr std::uint16_t kLastCodec = kCodecAV1;
enum QualityCode : std::uint16_t {
    kQualityLossless = 1,
    kQualityMax = 2,
    kQualityHigh = 3,
    kQualityNormal = 4,
    kQualityLow = 5
};
enum CropCode : std::uint16_t { kCropTop = 1, kCropMiddle = 2, kCropBottom = 3, kCropCustom = 4 };

struct SizePreset {
    const char* name;
    int width;
    int height;
};

// Output size presets by `format` code; entry 0 stands for "no preset".
const std::array<SizePreset, 16>& sizePresets();
constexpr int kPresetComboOffset = 5; // the scale combo lists presets from position 6

// Titles of the codec and quality codes, as the popups show them.
const char* codecTitle(std::uint16_t codec);
// Whether the person may choose 10 bits for the codec (HEVC and AV1);
// ProRes is always 10 bits, the others 8.
bool codecTakesDepth(std::uint16_t codec);
// The bits a sample the movie is written with.
struct JobSettings;
int movieDepth(const JobSettings& s);
const char* qualityTitle(std::uint16_t quality);

struct RGBAColor {
    double red = 1, green = 1, blue = 1, alpha = 1;
};
struct FontSpec {
    std::string family = "Geneva";
    double pointSize = 12;
    std::string style; // the family's style as the font panel names it ("Bold"); empty: regular
};
struct RGBColor {
    float red = 1, green = 1, blue = 1;
};

// Numeric value of the leading number of a text, 0 when there is none (as a
// text field's float or integer value reads).
float floatValue(const std::string& text);
int intValue(const std::string& text);

struct JobSettings {
    // Output of the movie
    float mvFPS = 30.0f;
    std::uint16_t format = 2;
    float scale = 6.0f;
    std::uint16_t codec = kCodecH264;
    std::uint16_t quality = kQualityNormal;
    std::uint16_t depth = 8; // bits a sample asked for: 8, or 10 (HEVC and AV1 take it)
    std::uint16_t crop = kCropMiddle;
    std::uint16_t rate = 1;
    std::uint16_t dupImages = 1;
    bool isVertical = false;
    bool isVariableFPS = false;

    // Image list options
    bool isDateSort = false;
    bool isSkipVerify = false;
    bool isCreateKML = false;
    bool isSaveAnim = false;

    // Stamps and watermark
    bool isDateStamped = false;
    bool isGPS = false;
    FontSpec textFont;
    RGBAColor textColor{1, 1, 1, 0.8};
    bool useWatermark = false;
    std::string watermarkStr = "Watermark";
    FontSpec watermarkFont;
    RGBAColor watermarkColor{1, 1, 1, 1};
    double wPosnX = 0, wPosnY = 0;

    // Time range
    bool isTimeRange = false;
    float fromTime = 0, toTime = 0;

    // Smoothing
    bool isTweening = false;
    std::uint16_t tweenFrames = 1;
    bool isMotionBlur = false;
    std::uint16_t motionFrames = 2;

    // Deflicker: each image's exposure evened out against the smoothed
    // brightness of the deflickerWindow images around it; with window 0,
    // the window that the images themselves support best.
    bool isDeflicker = false;
    std::uint16_t deflickerWindow = 0;

    // Picture adjustments, at their neutral values
    float saturation = 1.0f;
    float brightness = 0.0f;
    float contrast = 1.0f;
    float sepiaIntensity = 0.0f;
    float exposureEV = 0.0f;
    float blurRadius = 0.0f;
    float sharpenValue = 0.0f;
    float rotateAngle = 0.0f;
    float monoIntensity = 0.0f;
    RGBColor ciColor;
    bool isFilterChange = false;
    std::uint16_t overlayMode = 0; // a BlendMode

    // Derived values
    unsigned numListImages = 0;
    std::uint16_t durationHour = 0, durationMin = 0;
    float durationSec = 0;
    bool isElCapitan = false; // never on this platform

    // The FPS combo box: clamped to 0.01 ... 600.
    void enterFPS(const std::string& text);
    // The scale combo box: a preset position (6 ... 20) or a percentage text.
    void chooseScale(int position, const std::string& text);
    // The Rate combo box; with the Option key the value is the duplicate
    // count instead.
    void enterRate(const std::string& text, bool optionHeld);
    // Smoothing options exclude each other.
    void setTweening(bool on);
    void setMotionBlur(bool on);

    // How the controls show the frame rate and the size at start.
    std::string fpsText() const;
    std::string scaleText() const;
    // Width and height of the movie frame for the preset in force (0, 0 for
    // a percentage).
    std::pair<int, int> presetSize() const;
};

// What the settings accept for a value; the command line and the animation
// file reader refuse others (a huge blur, say, fails every frame).
struct ValueRange {
    float low, high;
    bool contains(float v) const { return v >= low && v <= high; } // false for NaN
};
inline constexpr ValueRange kFPSRange{0.01f, 600.0f}, kScaleRange{0.05f, 1.5f};
inline constexpr ValueRange kSaturationRange{-1e6f, 1e6f}, kBrightnessRange{-1e6f, 1e6f},
    kContrastRange{-1e6f, 1e6f}, kExposureRange{-64.0f, 64.0f}, kSepiaRange{0.0f, 1.0f}, kMonoRange{0.0f, 1.0f},
    kSharpenRange{0.0f, 1e6f}, kBlurRange{0.0f, 1000.0f}, kRotateRange{-1e6f, 1e6f}, kColorRange{0.0f, 1.0f};

// The Straighten slider: half a turn either way, in radians. (The command
// line's --rotate takes any angle of kRotateRange.)
inline constexpr ValueRange kStraightenRange{-3.1416f, 3.1416f};

// Images in the deflicker window: fewer than 3 cannot tell flicker from a
// change of light; beyond a thousand the curve is a straight line anyway.
inline constexpr ValueRange kDeflickerWindowRange{3.0f, 999.0f};
std::uint16_t deflickerWindowIn(long long images); // held to the range; 0 (chosen) stays

// At most this many in-between frames per pair of images, and pictures in
// the motion-blur store; the sliders of both start at 1.
constexpr std::uint16_t kMaxTweenFrames = 10;
constexpr std::uint16_t kMotionStoreSize = 10;

// A time of day in hours, held to 0 ... 24 (0 for what is not a number).
float timeOfDayIn(float hours);
// A watermark position code, 0 ... 2 across or up; anything else is 0, as
// the renderer places it.
double watermarkPlaceIn(double code);

// Point sizes of the stamp and watermark fonts: a huge size would make a
// bitmap of gigabytes for one line of text.
inline constexpr ValueRange kFontSizeRange{1.0f, 1000.0f};

// How layer images are put on the frames (overlayMode).
enum BlendMode : std::uint16_t { kLightenBlend, kDarkenBlend, kMaximumBlend, kMinimumBlend, kOverlayBlend, kMaskBlend };

// Time of day in hours <-> "h:mm:ss".
std::string timeText(float hours);
float parseTime(const std::string& text);

} // namespace mv
