// The checks of the list-building run, capture dates and GPS, the Verify
// List lines they write and the KML file, on real files made here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <regex>
#include <sstream>

#include "TestSupport.h"
#include "imagelist/ImagesList.h"
#include "render/MovieRun.h"

using namespace mv;
using namespace mvtest;
using ::testing::Contains;
using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::Pointwise;
using ::testing::Truly;
namespace fs = std::filesystem;

namespace {

const std::string kFirstLine = "*** Moirevance Image Verification List ***\n";

struct Ports : RecordingPorts {
    std::optional<bool> dateEnabled, gpsEnabled;
    void setDateEnable(bool on) override { dateEnabled = on; }
    void setGPSEnable(bool on) override { gpsEnabled = on; }
};

std::string gpsTags(double lat, const char* latRef, double lon, const char* lonRef)
{
    std::ostringstream s;
    s.precision(12);
    s << "-GPSLatitude=" << lat << " -GPSLatitudeRef=" << latRef << " -GPSLongitude=" << lon
      << " -GPSLongitudeRef=" << lonRef;
    return s.str();
}

// The geometry ogrinfo reads from a KML file, as its coordinate numbers.
std::pair<std::string, std::vector<double>> ogrGeometry(const std::string& kml)
{
    const auto r = run("ogrinfo -ro -al -q " + quote(kml) + " 2>&1");
    std::smatch m;
    if (!std::regex_search(r.out, m, std::regex(R"((POINT|LINESTRING) \(([^)]*)\))")))
        return {"none: " + r.out, {}};
    std::vector<double> numbers;
    std::string list = m[2];
    std::replace(list.begin(), list.end(), ',', ' ');
    std::istringstream in(list);
    for (double v; in >> v;)
        numbers.push_back(v);
    return {m[1], numbers};
}

struct VerifyFixture : ::testing::Test {
    TempDir dir;
    JobSettings settings;
    Ports ports;
    VerifyList verify{dir / "Moirevance Verify List.txt"};
    ImagesList list{settings, ports, ports, ports, ports, verify, dir / "Moirevance GPS.kml"};

    VerifyFixture() { fs::create_directories(dir / "pics"); }

    std::string image(const std::string& name, int w = 24, int h = 16)
    {
        writeImage(dir / ("pics/" + name), w, h);
        return dir / ("pics/" + name);
    }

    // Lists through the open dialog, as "List Images" does.
    void listImages(const std::vector<std::string>& files)
    {
        list.clearList();
        ports.nextChoice = files;
        list.selectFiles();
    }

    // The Verify List without its first line and the run headers.
    std::vector<std::string> problems() const
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile(verify.path()));
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line + "\n" != kFirstLine && line.find("*** New Image List ***") == std::string::npos)
                lines.push_back(line);
        return lines;
    }
};

// A file-system date "%Y/%m/%d %H:%M:%S" close to now.
bool isRecentFileDate(const std::string& text)
{
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%Y/%m/%d %H:%M:%S", &tm);
    if (!end || *end || text.size() != 19)
        return false;
    tm.tm_isdst = -1;
    return std::fabs(std::difftime(std::time(nullptr), std::mktime(&tm))) < 120;
}

} // namespace

TEST_F(VerifyFixture, DatesAndPositionsInAllFourHemispheres)
{
    const std::vector<std::string> files{image("1-ne.jpg"), image("2-sw.jpg"), image("3-nw.jpg"), image("4-se.jpg"),
                                         image("5-sw.jpg")};
    const std::string places[] = {gpsTags(44.4999, "N", 63.8, "E"), gpsTags(33.8688, "S", 70.66, "W"),
                                  gpsTags(10.25, "N", 120.5, "W"), gpsTags(33.9, "S", 151.2, "E"),
                                  gpsTags(44.48333333333, "S", 63.8, "W")};
    for (int i = 0; i < 5; ++i)
        exif(files[i], "-DateTimeOriginal='2012:03:30 22:00:" + std::string(i < 2 ? "0" : "") + std::to_string(5 * i) +
                           "' " + places[i]);
    settings.isCreateKML = true;
    listImages(files);

    EXPECT_EQ(list.frameDate(),
              (std::vector<std::string>{"2012:03:30 22:00:00", "2012:03:30 22:00:05", "2012:03:30 22:00:10",
                                        "2012:03:30 22:00:15", "2012:03:30 22:00:20"}));
    // Degrees, minutes and rounded seconds, as exiftool -n reads the files;
    // seconds round up without a carry into the minutes.
    EXPECT_EQ(list.frameLocn(), (std::vector<std::string>{"GPS: 44\u00B0 29' 60\" N, 63\u00B0 47' 60\" E",
                                                          "GPS: 33\u00B0 52' 8\" S, 70\u00B0 39' 36\" W",
                                                          "GPS: 10\u00B0 15' 0\" N, 120\u00B0 30' 0\" W",
                                                          "GPS: 33\u00B0 53' 60\" S, 151\u00B0 11' 60\" E",
                                                          "GPS: 44\u00B0 29' 0\" S, 63\u00B0 47' 60\" W"}));
    EXPECT_TRUE(list.hasEXIF());
    EXPECT_EQ(ports.dateEnabled, true);
    EXPECT_EQ(ports.gpsEnabled, true);
    EXPECT_FALSE(fs::exists(verify.path()));
    EXPECT_TRUE(ports.alerts().empty());

    // Four places: the path, signed west and south, as ogrinfo reads it.
    EXPECT_THAT(readFile(dir / "Moirevance GPS.kml"), HasSubstr("     -63.8000000000,-44.4833333333\n"));
    const auto [kind, coords] = ogrGeometry(dir / "Moirevance GPS.kml");
    EXPECT_EQ(kind, "LINESTRING");
    EXPECT_THAT(coords, Pointwise(DoubleNear(1e-6), std::vector<double>{63.8, 44.4999, -70.66, -33.8688, -120.5, 10.25,
                                                                        151.2, -33.9, -63.8, -44.48333333333}));
}

TEST_F(VerifyFixture, MissingMetadataGivesItsLinesAndFallbacks)
{
    const std::vector<std::string> files{image("1-dated.jpg"), image("2-nolon.jpg"), image("3-nodate.jpg"),
                                         image("4-plain.png")};
    exif(files[0], "-DateTimeOriginal='2020:01:02 03:04:05' " + gpsTags(1.5, "N", 2.25, "E"));
    exif(files[1], "-DateTimeOriginal='2020:01:02 03:04:06' -GPSLatitude=1.5 -GPSLatitudeRef=N");
    exif(files[2], "-ExposureTime=0.01"); // EXIF data, but no capture date
    settings.isCreateKML = true;
    listImages(files);

    EXPECT_THAT(list.frameDate(), ElementsAre("2020:01:02 03:04:05", "2020:01:02 03:04:06", Truly(isRecentFileDate),
                                              Truly(isRecentFileDate)));
    EXPECT_EQ(problems(), (std::vector<std::string>{"2-nolon.jpg (EXIF GPS error, no latitude/longitude in metadata)",
                                                    "3-nodate.jpg (EXIF Date error, no date/time in metadata)"}));
    // Two images without a capture date have no position: GPS is off for
    // the whole list, dates stay on.
    EXPECT_TRUE(list.frameLocn().empty());
    EXPECT_EQ(ports.gpsEnabled, false);
    EXPECT_EQ(ports.dateEnabled, true);
    EXPECT_FALSE(list.hasKMLFile());
    EXPECT_EQ(ports.alerts().back().title, "2 images were found with errors");

    // Only the dated two: the one without longitude shows "GPS: ---".
    listImages({files[0], files[1]});
    EXPECT_EQ(list.frameLocn(),
              (std::vector<std::string>{"GPS: 1\u00B0 30' 0\" N, 2\u00B0 15' 0\" E", "GPS: ---"}));
    EXPECT_EQ(ports.gpsEnabled, true);
    EXPECT_EQ(ports.alerts().back().title, "1 images were found with errors");
}

TEST_F(VerifyFixture, OtherSizeIsSkippedAndOnlyAProblemStartsARunInTheFile)
{
    const std::vector<std::string> files{image("a.png", 40, 30), image("b.png", 39, 30), image("c.png", 40, 30)};
    const std::time_t before = std::time(nullptr);
    listImages(files);
    const std::time_t after = std::time(nullptr);

    EXPECT_EQ(list.fileCount(), 3u); // skipped, but still listed for the movie
    EXPECT_EQ(ports.text, "a.png\nc.png");
    EXPECT_TRUE(list.frameDate().empty());
    EXPECT_EQ(ports.dateEnabled, false);
    EXPECT_EQ(ports.gpsEnabled, false);
    ASSERT_EQ(ports.alerts().size(), 1u); // one image, though the date line follows from it
    EXPECT_EQ(ports.lastAlert(), "1 images were found with errors / View the Verify List file for details.");

    const std::string text = readFile(verify.path());
    bool matched = false;
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    for (std::time_t t = before; t <= after && !matched; ++t) {
        std::tm tm{};
        localtime_r(&t, &tm);
        char stamp[64];
        strftime_l(stamp, sizeof stamp, "%d %b %Y %H:%M:%S", &tm, c);
        matched = text == kFirstLine + "\n" + stamp + " *** New Image List ***\n" +
                              "b.png (size 39X30 does not match first image size 40X30)\n"
                              "addLinkToFiles: date count mismatch, frame= 3, dateCount= 2\n";
    }
    EXPECT_TRUE(matched) << text;

    // An empty folder writes the date line alone, without the header, and
    // no alert: no image has errors.
    fs::remove(verify.path());
    fs::create_directories(dir / "empty");
    listImages({dir / "empty"});
    EXPECT_EQ(readFile(verify.path()), kFirstLine + "addLinkToFiles: date/time error, frame= 0, dateCount= 0\n");
    EXPECT_EQ(ports.alerts().size(), 1u);
}

TEST_F(VerifyFixture, DamagedFilesGetTheirLines)
{
    const std::string good = image("0-good.jpg", 64, 48);
    auto cut = [&](const std::string& name) {
        const std::string path = image(name, 64, 48);
        const std::string whole = readFile(path);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() * 2 / 3);
        return path;
    };
    // A damaged image is skipped with its line, and the images after it are
    // still checked: the list shows what the movie will use, all of it
    // checked. (Every kind of damage: the Corpus tests.)
    const std::string bad = cut("1-cut.jpg"), after = image("2-after.jpg", 64, 48),
                      wider = image("3-wider.jpg", 80, 48);
    listImages({good, bad, after, wider});
    EXPECT_THAT(problems(), Contains("1-cut.jpg (image format error, can not create an image)"));
    EXPECT_THAT(problems(), Contains("3-wider.jpg (size 80X48 does not match first image size 64X48)"));
    EXPECT_THAT(ports.lastAlert(), HasSubstr("images were found with errors"));
    EXPECT_EQ(ports.text, "0-good.jpg\n2-after.jpg\n");
    EXPECT_EQ(settings.numListImages, 4u);
    EXPECT_EQ(ports.numList, 4u);
    EXPECT_EQ(ports.dateEnabled, false); // the dates no longer cover the list
    EXPECT_EQ(ports.gpsEnabled, false);
    for (const std::string& path : {bad, after, wider})
        fs::remove(path);

    // Data after the end of the JPEG (as some cameras add) is no damage.
    const std::string trailer = image("1-trailer.jpg", 64, 48);
    std::ofstream(trailer, std::ios::binary | std::ios::app) << std::string(100, '\0') << "CAMERA TRAILER";
    // A file too small to be a picture is skipped, not fatal.
    const std::string empty = dir / "pics/2-empty.jpg";
    std::ofstream{empty};
    const auto before = ports.alerts().size();
    listImages({good, trailer, empty});
    // The image library writes EXIF data without a capture date into JPEGs.
    const auto lines = problems();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"0-good.jpg (EXIF Date error, no date/time in metadata)",
                                        "1-trailer.jpg (EXIF Date error, no date/time in metadata)",
                                        "2-empty.jpg (file size error: 0 Bytes)",
                                        "addLinkToFiles: date count mismatch, frame= 3, dateCount= 2"}));
    EXPECT_EQ(ports.text, "0-good.jpg\n1-trailer.jpg\n");
    EXPECT_EQ(ports.alerts().size(), before + 1);
    EXPECT_EQ(ports.alerts().back().title, "3 images were found with errors");

    // A damaged first image empties the list.
    listImages({cut("0-bad-first.jpg"), good});
    EXPECT_EQ(problems().back(), "0-bad-first.jpg (first image format error, can not create an image)");
    EXPECT_EQ(ports.lastAlert(), "Can not process the first image / You can not create a movie from this image list.");
    EXPECT_EQ(list.fileCount(), 0u);
    EXPECT_EQ(ports.numList, 0u);
}

TEST_F(VerifyFixture, SkippingChecksReadsNoImage)
{
    const std::string a = image("a.jpg", 20, 20), b = image("b.jpg", 10, 10);
    exif(a, "-DateTimeOriginal='2012:03:30 22:00:00' " + gpsTags(45, "N", 63, "W"));
    std::ofstream(dir / "pics/c.jpg") << "text";
    settings.isSkipVerify = true;
    settings.isCreateKML = true;
    listImages({a, b, dir / "pics/c.jpg"});
    EXPECT_EQ(ports.text, "a.jpg\nb.jpg\nc.jpg");
    EXPECT_FALSE(fs::exists(verify.path()));
    EXPECT_TRUE(list.frameDate().empty());
    EXPECT_TRUE(list.frameLocn().empty());
    EXPECT_EQ(ports.dateEnabled, false);
    EXPECT_EQ(ports.gpsEnabled, false);
    EXPECT_FALSE(list.isKML());
    EXPECT_FALSE(fs::exists(dir / "Moirevance GPS.kml"));
    EXPECT_TRUE(ports.alerts().empty());
}

TEST_F(VerifyFixture, OnePlaceGivesThePlacemarkAndTheMovieGetsItsCopy)
{
    // Same sums of latitude and longitude count as one place.
    std::vector<std::string> files{image("1.jpg"), image("2.jpg"), image("3.jpg")};
    exif(files[0], "-DateTimeOriginal='2012:03:30 22:00:00' " + gpsTags(45.0, "N", 63.0, "W"));
    exif(files[1], "-DateTimeOriginal='2012:03:30 22:00:01' " + gpsTags(46.0, "N", 62.0, "W"));
    exif(files[2], "-DateTimeOriginal='2012:03:30 22:00:02' " + gpsTags(45.0, "N", 63.0, "W"));
    settings.isCreateKML = true;
    listImages(files);
    const std::string kmlPath = dir / "Moirevance GPS.kml";
    EXPECT_EQ(readFile(kmlPath), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                                 " <Placemark>\n"
                                 "  <name>MV Location</name>\n"
                                 "  <description>Moirevance placemark location</description>\n"
                                 "  <Point>\n"
                                 "   <coordinates>\n"
                                 "    -63.0000000000,45.0000000000\n"
                                 "   </coordinates>\n"
                                 "  </Point>\n"
                                 " </Placemark>\n"
                                 "</kml>");
    EXPECT_EQ(ogrGeometry(kmlPath), std::make_pair(std::string("POINT"), std::vector<double>{-63, 45}));

    // The movie's copy carries its name, escaped for XML and kept ASCII.
    settings.format = 0;
    settings.scale = 1.0f;
    settings.codec = kCodecTIFF;
    MovieRun movie(settings, list, ports, ports);
    movie.setCompletionSound([] {});
    movie.moviePath = dir / "Trip.mov";
    movie.movieName = "Trip Caf\xC3\xA9 & Co";
    ASSERT_TRUE(movie.createCommand());
    movie.waitForWorker();
    EXPECT_EQ(movie.kmlCopyPath(), dir / "Trip.kml");
    const std::string copy = readFile(dir / "Trip.kml");
    EXPECT_NE(copy.find("  <name>Trip Caf&#233; &amp; Co</name>\n"), std::string::npos) << copy;
    EXPECT_EQ(copy.find("MV Location"), std::string::npos);
    EXPECT_EQ(ogrGeometry(dir / "Trip.kml").first, "POINT");

    // One image 0.001 degrees away: the path through every position.
    exif(files[2], gpsTags(45.001, "N", 63.0, "W"));
    listImages(files);
    const auto [kind, coords] = ogrGeometry(kmlPath);
    EXPECT_EQ(kind, "LINESTRING");
    EXPECT_THAT(coords, Pointwise(DoubleNear(1e-9), std::vector<double>{-63, 45, -62, 46, -63, 45.001}));
    EXPECT_EQ(readFile(kmlPath).back(), '>'); // no line feed after </kml>

    // A list without positions leaves the file, but no movie gets it.
    listImages({image("plain-1.png"), image("plain-2.png")});
    EXPECT_TRUE(fs::exists(kmlPath));
    movie.moviePath = dir / "Plain.mov";
    ASSERT_TRUE(movie.createCommand());
    movie.waitForWorker();
    EXPECT_TRUE(movie.wasWritten());
    EXPECT_FALSE(fs::exists(dir / "Plain.kml"));

    // A working file that cannot be written (here a folder stands at its
    // name; a read-only data folder does the same) is named in an alert, and
    // the movie still gets its copy.
    fs::remove(kmlPath);
    fs::create_directory(kmlPath);
    listImages(files);
    EXPECT_EQ(ports.lastAlert(), "KML file error / The GPS positions could not be written to " + kmlPath + ".");
    movie.moviePath = dir / "Again.mov";
    ASSERT_TRUE(movie.createCommand());
    movie.waitForWorker();
    EXPECT_EQ(ogrGeometry(dir / "Again.kml").first, "LINESTRING");
}
