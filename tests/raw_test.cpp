#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "platform/Metadata.h"

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

// A real camera raw file, a dozen times: a movie of every frame at 720p
// (decoded at half size) and 1080p (a full demosaic), each frame as
// LibRaw's own tool develops the file with the same steady settings (the
// camera's white balance, no brightening by the histogram, the sRGB curve),
// and the file's capture date and exposure read.
TEST(RealRaw, ADozenCanonShotsMakeTheMovieAsLibRawDevelopsThem)
{
    const std::string cr2 = realCr2();
    if (cr2.empty())
        GTEST_SKIP() << "rawtran-doc's IMG_5952.CR2 is missing: run scripts/setup";
    TempDir dir;
    fs::create_directories(dir / "shots");
    for (int i = 0; i < 12; ++i)
        fs::copy_file(cr2, dir / ("shots/IMG_" + std::to_string(5952 + i) + ".CR2"));

    const mv::ImageMetadata m = mv::readImageMetadata(cr2);
    EXPECT_EQ(m.captureDate.value_or(""), run("exiftool -s3 -DateTimeOriginal " + quote(cr2)).out.substr(0, 19));
    ASSERT_TRUE(m.exposureTime && m.fNumber && m.isoSpeed);
    EXPECT_GT(*m.isoSpeed, 0);

    ASSERT_EQ(run("cd " + quote(dir.path()) + " && dcraw_emu -w -W -g 2.4 12.92 -q 2 -T -Z reference.tiff " + quote(cr2) +
                  " 2>&1")
                  .status,
              0);
    for (const auto& [size, w, h] : {std::tuple{"720p", 1280, 720}, std::tuple{"1080p", 1920, 1080}}) {
        const std::string movie = dir / (std::string(size) + ".mov");
        const auto r = moirevance(dir, "make --size " + std::string(size) + " --codec tiff --fps 12 -o " +
                                           quote(movie) + " " + quote(dir / "shots"));
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        const auto info = probeStream(movie);
        EXPECT_EQ(info.at("nb_read_packets"), "12") << size;
        EXPECT_EQ(info.at("width"), std::to_string(w)) << size;
        // The 3:2 picture cut to 16:9 in the middle, as the frame does it.
        const std::string reference = dir / (std::string(size) + "-reference.tiff");
        ASSERT_TRUE(ffmpeg("-i " + quote(dir / "reference.tiff") + " -vf scale=" + std::to_string(w) +
                               ":-2:flags=lanczos,crop=" + std::to_string(w) + ":" + std::to_string(h),
                           reference));
        EXPECT_GT(lastFramePsnr(movie, reference), 30.0) << size;
    }
}
