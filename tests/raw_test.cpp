#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "SyntheticRaw.h"
#include "TestSupport.h"
#include "platform/picture/Metadata.h"
#include "platform/picture/Picture.h"

using namespace mvtest;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

// PSNR of the last frame of `movie` (the first is decoded whole, to learn
// the sequence's size) against `reference`, in dB.
double lastFramePsnr(const std::string& movie, const std::string& reference)
{
    const auto r = run("ffmpeg -hide_banner -i " + quote(movie) + " -i " + quote(reference) +
                       " -lavfi \"[0]trim=start_frame=11,format=rgb24[a];[1]format=rgb24[b];[a][b]psnr\" -f null - 2>&1");
    const auto at = r.out.find("average:");
    return at == std::string::npos ? 0.0 : std::atof(r.out.c_str() + at + 8);
}

} // namespace

// A dozen copies of the real camera file: a movie of every frame at 720p
// (decoded at half size) and 1080p (a full demosaic), each frame as LibRaw's own tool
// develops the file with the same steady settings (the camera's white
// balance, no brightening by the histogram, the sRGB curve).
TEST(RealRaw, ADozenShotsMakeTheMovieAsLibRawDevelopsThem)
{
    TempDir dir;
    const std::string raw = realCr2();
    if (raw.empty())
        GTEST_SKIP() << "rawtran-doc's IMG_5952.CR2 is missing: run scripts/setup";
    fs::create_directories(dir / "shots");
    const std::string ext = fs::path(raw).extension();
    for (int i = 0; i < 12; ++i)
        fs::create_hard_link(raw, dir / ("shots/IMG_" + std::to_string(5952 + i) + ext));
    ASSERT_EQ(run("cd " + quote(dir.path()) + " && dcraw_emu -w -W -c 0 -g 2.4 12.92 -q 2 -T -Z reference.tiff " +
                  quote(raw) + " 2>&1")
                  .status,
              0);
    for (const auto& [size, w, h] : {std::tuple{"720p", 1280, 720}, std::tuple{"1080p", 1920, 1080}}) {
        SCOPED_TRACE(size);
        const std::string movie = dir / (std::string(size) + ".mov");
        const auto r = moirevance(dir, "make --size " + std::string(size) + " --codec tiff --fps 12 -o " +
                                           quote(movie) + " " + quote(dir / "shots"));
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        const auto info = probeStream(movie);
        EXPECT_EQ(info.at("nb_read_packets"), "12");
        EXPECT_EQ(info.at("width"), std::to_string(w));
        // The 3:2 picture cut to 16:9 in the middle, as the frame does it.
        const std::string reference = dir / (std::string(size) + "-reference.tiff");
        ASSERT_TRUE(ffmpeg("-i " + quote(dir / "reference.tiff") + " -vf scale=" + std::to_string(w) +
                               ":-2:flags=lanczos,crop=" + std::to_string(w) + ":" + std::to_string(h),
                           reference));
        EXPECT_GT(lastFramePsnr(movie, reference), 30.0);
    }
    const mv::ImageMetadata m = mv::readImageMetadata(raw);
    EXPECT_EQ(m.captureDate.value_or(""), run("exiftool -s3 -DateTimeOriginal " + quote(raw)).out.substr(0, 19));
    ASSERT_TRUE(m.exposureTime && m.fNumber && m.isoSpeed);
}

// Synthetic DNGs and NEFs: a mosaic 1 EV brighter develops 1 EV brighter
// in linear light (no brightening by the picture's own histogram), LibRaw's
// tools accept the files, their dates, exposures and GPS are read, the picture
// stays as the sensor recorded it whatever its orientation tag (as a JPEG's
// does), and a movie of them has a frame each.
TEST(SyntheticRaw, OneStopMoreIsOneStopBrighterAndTheFilesMakeAMovie)
{
    TempDir dir;
    fs::create_directories(dir / "shots");
    const LinearPicture pattern = linearPattern(480, 320);
    auto meanLinear = [](const mv::Picture& picture) {
        mv::RgbaBitmap bitmap;
        EXPECT_TRUE(picture.render(bitmap));
        double sum = 0;
        for (std::size_t i = 0; i + 3 < bitmap.pixels.size(); i += 4)
            sum += toLinear(bitmap.pixels[i]) + toLinear(bitmap.pixels[i + 1]) + toLinear(bitmap.pixels[i + 2]);
        return sum;
    };
    for (const std::string format : {"dng", "nef"}) {
        SCOPED_TRACE(format);
        const auto write = format == "dng" ? writeDng : writeNef;
        const std::string dark = dir / ("shots/" + format + "-a." + format);
        const std::string bright = dir / ("shots/" + format + "-b." + format);
        write(dark, pattern, {0, "2024:06:01 20:15:00", "1/125", 1});
        write(bright, pattern, {1, "2024:06:01 20:15:10", "1/60", 6});
        exif(bright, "-GPSLatitude=46.5 -GPSLatitudeRef=N -GPSLongitude=8.25 -GPSLongitudeRef=W");
        EXPECT_THAT(run("raw-identify " + quote(bright)).out, HasSubstr(format == "dng" ? "Moirevance" : "Nikon"));
        const mv::ImageMetadata m = mv::readImageMetadata(bright);
        EXPECT_EQ(m.captureDate.value_or(""), "2024:06:01 20:15:10");
        EXPECT_NEAR(m.exposureTime.value_or(0), 1 / 60.0, 1e-9);
        EXPECT_NEAR(m.longitude.value_or(0), 8.25, 1e-6);
        EXPECT_EQ(m.longitudeRef, "W");

        const auto a = mv::Picture::open(dark), b = mv::Picture::open(bright);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(b->width(), 480);
        EXPECT_EQ(b->height(), 320);
        EXPECT_NEAR(std::log2(meanLinear(*b) / meanLinear(*a)), 1.0, 0.02);
    }

    const auto r = moirevance(dir, "make --size 100% --codec tiff --fps 10 --date-stamp -o " + quote(dir / "m.mov") +
                                       " " + quote(dir / "shots"));
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    const auto info = probeStream(dir / "m.mov");
    EXPECT_EQ(info.at("nb_read_packets"), "4");
    EXPECT_EQ(info.at("width"), "480");
}
