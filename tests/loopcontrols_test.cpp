#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "RunFixture.h"
#include "render/LoopControls.h"
#include "render/RunTexts.h"

using namespace mv;
using namespace mvtest;
namespace fs = std::filesystem;

namespace {

float hms(int h, int m, int s) { return h + m / 60.0f + s / 3600.0f; }

// Alerts answered as told, and the time-range switch as the window shows it.
struct Answering : AlertPort, MainWindowPort {
    AlertButton answer = AlertButton::OK;
    std::vector<std::string> alerts; // "title / message"
    std::vector<bool> switchStates;
    AlertButton alert(const std::string& title, const std::string& message, bool withCancel) override
    {
        alerts.push_back(title + " / " + message);
        return withCancel ? answer : AlertButton::OK;
    }
    void setTimeRangeChecked(bool on) override { switchStates.push_back(on); }
};

// "folder/PREFIX-HHMMSS.png": a tiny picture whose name gives its capture time.
std::string timedImage(const std::string& folder, int h, int m, int s, const char* prefix = "t")
{
    char name[48];
    std::snprintf(name, sizeof name, "/%s-%02d%02d%02d.png", prefix, h, m, s);
    writeImage(folder + name, 8, 6);
    return folder + name;
}

} // namespace

TEST(LoopControls, CaptureTimesFromDatesAndNames)
{
    EXPECT_EQ(timeOfDayFromDate("2012:03:30 07:59:59"), hms(7, 59, 59));
    EXPECT_EQ(timeOfDayFromDate("2012/03/30 17:30:00"), 17.5f); // a file-system date
    EXPECT_EQ(timeOfDayFromName("/x/garden-071530.jpg"), hms(7, 15, 30));
    EXPECT_EQ(timeOfDayFromName("a-b-235959.tiff"), hms(23, 59, 59));
    // Nothing that is not a time of day: the list's "No Date", a camera's
    // blank date, a short text, letters, a seventh digit, no dash, hour 25.
    for (const char* date : {"No Date", "    :  :     :  :  ", "2012:03:30 22:00", "2012:03:30 2x:00:00"})
        EXPECT_FALSE(timeOfDayFromDate(date)) << date;
    for (const char* name : {"garden-07h530.jpg", "garden-0715301.jpg", "071530.jpg", "x-251530.jpg", "x-07 530.png"})
        EXPECT_FALSE(timeOfDayFromName(name)) << name;

    // Frame durations: truncated, held between a floor and a ceiling.
    for (const auto& [fps, ticks] : {std::pair{10.0f, 3000}, {30.0f, 1000}, {7.0f, 4285}, {1000.0f, 50}, {0.5f, 30000},
                                    {0.0f, 30000}})
        EXPECT_EQ(variableFrameDuration(fps).value, ticks) << fps;
    EXPECT_EQ(variableFrameDuration(30).scale, 30000);
}

TEST(LoopControls, RangesWithinTheDayAndOverMidnight)
{
    JobSettings settings;
    Answering ui;
    struct Case {
        const char *from, *to, *date;
        bool used;
    };
    const Case cases[] = {
        {"8:00", "17:30", "07:59:59", false}, {"8:00", "17:30", "08:00:00", true},
        {"8:00", "17:30", "17:30:00", true},  {"8:00", "17:30", "17:30:01", false},
        {"22:00", "6:00", "23:15:00", true},  {"22:00", "6:00", "05:00:00", true},
        {"22:00", "6:00", "12:00:00", false}, {"22:00", "6:00", "06:00:00", true},
        {"9:00", "9:00", "09:00:00", true},   {"9:00", "9:00", "09:00:01", true}, // equal ends: the whole day
    };
    const std::vector<std::string> files{"a.jpg"};
    for (const Case& c : cases) {
        settings.isTimeRange = true;
        settings.fromTime = parseTime(c.from);
        settings.toTime = parseTime(c.to);
        TimeRangeFilter filter(settings, ui, ui, files, {std::string("2026:12:06 ") + c.date}, true,
                               [](const std::string&) -> std::optional<std::string> { throw "not read"; });
        EXPECT_EQ(filter.use(0), c.used) << c.from << "-" << c.to << " " << c.date;
    }
    EXPECT_TRUE(ui.alerts.empty());
}

TEST(LoopControls, WhereTheTimeComesFromAndWhenTheFilterTurnsOff)
{
    TempDir dir;
    JobSettings settings;
    Answering ui;
    settings.isTimeRange = true;
    settings.fromTime = 7;
    settings.toTime = 8;
    // Files without EXIF: the name counts; a capture date in the file wins
    // over its name; the list's dates are used only with EXIF dates and one
    // per image, and an entry without a time falls back to the file.
    const std::string named = dir / "garden-071530.jpg", dated = dir / "shot-071530.jpg";
    writeImage(named, 8, 6);
    writeImage(dated, 8, 6);
    exif(dated, "-DateTimeOriginal='2026:12:06 12:00:00'");
    const std::vector<std::string> files{named, dated, dir / "p-071000.png"};
    TimeRangeFilter fromFiles(settings, ui, ui, files, {"2026:12:06 12:00:00", "2026:12:06 07:30:00"}, true);
    EXPECT_TRUE(fromFiles.use(0));
    EXPECT_FALSE(fromFiles.use(1));
    TimeRangeFilter fromList(settings, ui, ui, files, {"2026:12:06 12:00:00", "No Date", "2026/12/06 07:30:00"}, true);
    EXPECT_FALSE(fromList.use(0));
    EXPECT_FALSE(fromList.use(1)); // the file's own date, 12:00
    EXPECT_TRUE(fromList.use(2));
    EXPECT_TRUE(ui.alerts.empty());

    // A name that does not parse turns the filter off: that image and every
    // later one are used, and the next movie starts without the filter.
    const std::vector<std::string> odd{dir / "garden-07h530.jpg", dir / "z-120000.png"};
    TimeRangeFilter off(settings, ui, ui, odd, {}, false, [](const std::string&) { return std::nullopt; });
    off.begin();
    EXPECT_TRUE(off.use(0));
    EXPECT_TRUE(off.use(1));
    EXPECT_EQ(off.skipped(), 0u);
    EXPECT_FALSE(settings.isTimeRange);
    EXPECT_EQ(ui.switchStates, std::vector<bool>{false});
    EXPECT_EQ(ui.alerts, (std::vector<std::string>{"Images will be filtered with a time range. / Range from 7:00:00 to "
                                                   "8:00:00",
                                                   "Image has no EXIF data. Time range filter is turned off /  "}));

    // "Cancel" at the start: no filter for this movie.
    settings.isTimeRange = true;
    ui.answer = AlertButton::Cancel;
    TimeRangeFilter cancelled(settings, ui, ui, odd, {}, false);
    cancelled.begin();
    EXPECT_TRUE(cancelled.use(1));
    EXPECT_FALSE(settings.isTimeRange);
    EXPECT_EQ(ui.alerts.size(), 3u);
}

// The status text and the progress bar's, from one clock.
TEST(LoopControls, TimeLeftAndProgressRestartAtTheFirstFrame)
{
    using namespace std::chrono;
    steady_clock::time_point now{};
    TimeLeftClock clock([&] { return now; });
    std::vector<std::string> texts, bars;
    now += seconds(500); // opening the first image and the movie does not count
    for (unsigned n = 1; n <= 10; ++n, now += seconds(2)) {
        texts.push_back(clock.afterAppend("Time Left:", n, 130));
        bars.push_back(progressText(clock.progress(n, 130)));
    }
    EXPECT_EQ(texts[8], ""); // the status keeps " " below 10 frames
    // 18 s over 10 images; 120 left: 1 + 120 x 1.8 s.
    EXPECT_EQ(texts[9], "Time Left: 3m 37s");
    EXPECT_EQ(bars[1], "1 %"); // the time left from the third image on
    EXPECT_EQ(bars[9], "7 %  \u00b7  3m 36s left");
    now += seconds(1080); // 1100 s over 11 images; 1 + 119 x 100 s left
    EXPECT_EQ(clock.afterAppend("Time Left:", 11, 130), "Time Left: 3h 18m 21s");
    EXPECT_EQ(progressText(clock.progress(11, 130)), "8 %  \u00b7  3h 18m left");
    EXPECT_EQ(clock.afterAppend("Time Left:", 140, 130), "Time Left: 1s"); // more than expected
    EXPECT_EQ(progressText(clock.progress(140, 130)), "100 %  \u00b7  0s left");
    EXPECT_LT(progressAt(5, 0, 0).fraction, 0); // nothing to do: no bar
}

TEST(LoopControls, EndOfRunAlertsInTheirOrder)
{
    Answering ui;
    endOfRunAlerts(ui, {0, 2, 40, true, false, 3, true});
    EXPECT_EQ(ui.alerts, (std::vector<std::string>{
                             "Create movie error / No images could be processed",
                             "Create movie error / 2 images were skipped. See Verify List file.\n",
                             "Time range filter has skipped 40 images /  ",
                             "Date/Time stamp or GPS Error / See Verify List file",
                             "Layer image error / 3 frames have no layer: a layer or mask image could not be read. "
                             "See Verify List file.",
                             "Watermark or stamp too large / The text is larger than a picture can be: only the part "
                             "that fits was drawn.",
                         }));
    ui.alerts.clear();
    endOfRunAlerts(ui, {5, 0, 0, false, false});
    EXPECT_TRUE(ui.alerts.empty());
}

struct LoopMovie : RunFixture {
    LoopMovie()
    {
        settings.format = 0;
        settings.scale = 1.0f;
        settings.codec = kCodecJPEG;
        settings.isSkipVerify = true; // the frame loop meets the unreadable files
    }
    std::string make(const std::vector<std::string>& files, const std::string& name)
    {
        if (!files.empty()) {
            ports.nextChoice = files;
            list.selectFiles();
        }
        EXPECT_TRUE(startMovie(name));
        run->waitForWorker();
        EXPECT_TRUE(run->wasWritten());
        return run->outputPath();
    }
};

// 100 images, 40 of them outside the range (the first among them) and two
// unreadable ones inside it: 58 frames, two Verify List lines, and the alerts
// in order. One is not a picture; the other a JPEG whose scan stops a third
// of the way (its end marker kept): its header reads, its pixels do not.
TEST_F(LoopMovie, TimeRangeAndUnreadableImages)
{
    std::vector<std::string> files;
    for (int i = 0; i < 100; ++i) // 07:00 on, 12:00 on, 18:00 on
        files.push_back(timedImage(dir.path(), i < 30 ? 7 : i < 90 ? 12 : 18, i < 30 ? i : (i - 30) % 60, 0));
    std::ofstream(files[40], std::ios::trunc) << "not a picture";
    fs::remove(files[77]);
    files[77] = dir / "t-124700.jpg";
    writeImage(files[77], 400, 300);
    const std::string whole = readFile(files[77]);
    std::ofstream(files[77], std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 3) << "\xFF\xD9";
    settings.isTimeRange = true;
    settings.fromTime = 8;
    settings.toTime = 17.5f;
    const std::string movie = make(files, "range.mov");
    EXPECT_EQ(probeStream(movie).at("nb_read_packets"), "58");
    EXPECT_EQ(readFile(verify.path()), "*** Moirevance Image Verification List ***\n"
                                       "Create Movie: Can not form an image from t-121000.png\n"
                                       "Create Movie: Can not form a bitmap from t-124700.jpg\n");
    std::vector<std::string> alerts;
    for (const auto& a : ports.alerts())
        alerts.push_back(a.title + " / " + a.message);
    EXPECT_EQ(alerts, (std::vector<std::string>{
                          "Images will be filtered with a time range. / Range from 8:00:00 to 17:30:00",
                          "Create movie error / 2 images were skipped. See Verify List file.\n",
                          "Time range filter has skipped 40 images /  "}));
    EXPECT_TRUE(settings.isTimeRange); // kept for the next movie
}

// Keyframes move the frame rate from 10 at image 0 to 30 at image 20; the
// first 8 images, left out by the time range, still keep their place.
TEST_F(LoopMovie, VariableFrameRateFollowsTheKeyframes)
{
    std::vector<std::string> files;
    for (int i = 0; i < 24; ++i)
        files.push_back(timedImage(dir.path(), i < 8 ? 6 : 12, i, 0));
    list.processImageList(files);
    settings.crop = kCropCustom;
    settings.isVariableFPS = true;
    view.frame = view.srcRect = {0, 0, 8, 6};
    editor.animFile = dir / "anim.txt";
    editor.createCropWindow();
    for (auto [frame, fps] : {std::pair{0u, 10.0f}, {20u, 30.0f}}) {
        editor.frame = frame;
        editor.sliderFPS = fps;
        view.cropRect = {0, 0, 8, 6};
        ASSERT_TRUE(editor.enterButtonAction());
    }
    const auto all = packetDurations(make({}, "vfr.mov"));
    ASSERT_EQ(all.size(), 24u);
    EXPECT_EQ(probeStream(dir / "vfr.mov").at("time_base"), "1/30000");
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i], std::lround(std::floor(30000.0f / (10 + std::min<float>(i, 20))))) << i;

    settings.isTimeRange = true;
    settings.fromTime = 8;
    settings.toTime = 17.5f;
    settings.dupImages = 2; // each duplicate stands as long as its image
    const auto kept = packetDurations(make({}, "vfr-range.mov"));
    ASSERT_EQ(kept.size(), 32u);
    for (std::size_t k = 0; k < 16; ++k)
        EXPECT_TRUE(kept[2 * k] == all[k + 8] && kept[2 * k + 1] == all[k + 8]) << k;
}

TEST(LoopControlsCommand, TimeRangeAndVariableFrameRate)
{
    TempDir dir;
    fs::create_directories(dir / "pics");
    for (int i = 0; i < 14; ++i)
        timedImage(dir / "pics", i < 4 ? 5 : 9, 0, i, "p");
    const auto r = moirevance(dir, "make --codec jpeg --fps 10 --variable-fps --time-range 8:00-17:30 -o " +
                                       quote(dir / "v.mov") + " " + quote(dir / "pics"));
    const std::string err = readFile(dir / "stderr.txt");
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_EQ(packetDurations(dir / "v.mov"), std::vector<long>(10, 3000));
    EXPECT_THAT(err, HasSubstr("Images will be filtered with a time range.: Range from 8:00:00 to 17:30:00"));
    EXPECT_THAT(err, HasSubstr("Time Left: "));
    EXPECT_THAT(err, HasSubstr("Time range filter has skipped 4 images\n"));
}
