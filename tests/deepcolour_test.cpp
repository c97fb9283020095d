// 16-bit pictures through a whole job into 10-bit movies, 16-bit frames and
// appended movies, against the same job from 8-bit copies of the pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>
#include <vips/vips8>

#include "TestSupport.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

constexpr int W = 240, H = 160;

// A dusk sky from 2 % to 6 % of full scale down the picture, grey, at 16
// bits (TIFF) and rounded to 8 (PNG), as the folders `deep` and `shallow`.
void writeSkies(const TempDir& dir, int n)
{
    fs::create_directories(dir / "deep");
    fs::create_directories(dir / "shallow");
    std::vector<std::uint16_t> sky(std::size_t(W) * H * 3);
    for (int y = 0; y < H; ++y)
        for (int i = 0; i < W * 3; ++i)
            sky[std::size_t(y) * W * 3 + i] = std::uint16_t(std::lround((0.02 + 0.04 * y / (H - 1)) * 65535));
    const vips::VImage deep =
        vips::VImage::new_from_memory(sky.data(), sky.size() * 2, W, H, 3, VIPS_FORMAT_USHORT)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    const vips::VImage shallow = deep.colourspace(VIPS_INTERPRETATION_sRGB);
    for (int i = 1; i <= n; ++i) {
        const std::string name = "sky_" + std::to_string(i);
        deep.write_to_file((dir / ("deep/" + name + ".tif")).c_str());
        shallow.write_to_file((dir / ("shallow/" + name + ".png")).c_str());
    }
}

// Least squares polynomial of `degree` through (t, v): the fitted values.
std::vector<double> polyFit(const std::vector<double>& v, int degree)
{
    const int m = degree + 1;
    std::vector<double> a(m * m), b(m), t(v.size());
    for (std::size_t i = 0; i < v.size(); ++i)
        t[i] = 2.0 * i / (v.size() - 1) - 1.0;
    for (std::size_t i = 0; i < v.size(); ++i)
        for (int r = 0; r < m; ++r) {
            b[r] += std::pow(t[i], r) * v[i];
            for (int c = 0; c < m; ++c)
                a[r * m + c] += std::pow(t[i], r + c);
        }
    for (int p = 0; p < m; ++p) // Gauss-Jordan; the matrix is positive definite
        for (int r = 0; r < m; ++r) {
            if (r == p)
                continue;
            const double f = a[r * m + p] / a[p * m + p];
            for (int c = 0; c < m; ++c)
                a[r * m + c] -= f * a[p * m + c];
            b[r] -= f * b[p];
        }
    std::vector<double> fit(v.size());
    for (std::size_t i = 0; i < v.size(); ++i)
        for (int r = 0; r < m; ++r)
            fit[i] += b[r] / a[r * m + r] * std::pow(t[i], r);
    return fit;
}

// The worst banding of the movie's frames: the RMS, in 10-bit code values,
// of the luma's row means (over the left half, away from the watermark)
// against a smooth curve. About 1 for 8-bit steps, 0.3 for 10 bits.
double worstBanding(const std::string& movie, int w, int h)
{
    const auto r = run("ffmpeg -v error -i " + quote(movie) + " -f rawvideo -pix_fmt yuv444p16le - | od -An -v -tu2 -w2");
    std::istringstream in(r.out);
    const std::size_t frame = std::size_t(w) * h * 3;
    std::vector<int> samples;
    for (int v; in >> v;)
        samples.push_back(v);
    double worst = -1;
    for (std::size_t at = 0; at + frame <= samples.size(); at += frame) {
        std::vector<double> rows;
        for (int y = 4; y < h - 4; ++y) {
            double sum = 0;
            for (int x = 4; x < w / 2; ++x)
                sum += samples[at + std::size_t(y) * w + x];
            rows.push_back(sum / (w / 2 - 4) / 64.0);
        }
        const std::vector<double> fit = polyFit(rows, 3);
        double sq = 0;
        for (std::size_t i = 0; i < rows.size(); ++i)
            sq += (rows[i] - fit[i]) * (rows[i] - fit[i]);
        worst = std::max(worst, std::sqrt(sq / rows.size()));
    }
    return worst;
}

} // namespace

// Scaling up, the adjustments, deflicker, a tween, a blend with a layer and
// the watermark all keep the bits of 16-bit pictures: a ProRes movie of
// them bands as little as 10 bits allow, and the same job from 8-bit copies
// shows the 8-bit steps. Its frames come out as 16-bit TIFFs, and appending
// keeps its depth.
TEST(DeepColour, SixteenBitPicturesKeepTenBitsThroughAWholeJob)
{
    TempDir dir;
    writeSkies(dir, 4);
    fs::create_directories(dir / "layers");
    for (int i = 1; i <= 4; ++i)
        writeImage(dir / ("layers/black_" + std::to_string(i) + ".png"), W, H,
                   [](int, int) { return Rgb{0, 0, 0}; });
    const std::string job = "make --codec prores --size 150% --exposure 0.3 --saturation 1.2 --deflicker --tween 1 "
                            "--watermark W --watermark-pos 2,1 --layers layers --layer-mode lighten --skip-verify ";
    ASSERT_EQ(moirevance(dir, job + "-o deep.mov deep").status, 0) << readFile(dir / "stderr.txt");
    ASSERT_EQ(moirevance(dir, job + "-o shallow.mov shallow").status, 0) << readFile(dir / "stderr.txt");
    const auto stream = probeStream(dir / "deep.mov");
    EXPECT_EQ(stream.at("pix_fmt"), "yuv422p10le");
    EXPECT_EQ(stream.at("nb_read_packets"), "7"); // 4 pictures, 3 tweens
    const int w = W * 3 / 2, h = H * 3 / 2;
    EXPECT_LT(worstBanding(dir / "deep.mov", w, h), 0.45);
    EXPECT_GT(worstBanding(dir / "shallow.mov", w, h), 0.7);

    // Frames: 16-bit TIFFs whose rows still step finer than 8 bits.
    fs::create_directories(dir / "frames");
    ASSERT_EQ(moirevance(dir, "frames deep.mov frames/deep").status, 0) << readFile(dir / "stderr.txt");
    const std::string tiff = dir / "frames/deep-1.tiff";
    ASSERT_TRUE(fs::exists(tiff));
    const vips::VImage frame = vips::VImage::new_from_file(tiff.c_str());
    EXPECT_EQ(frame.format(), VIPS_FORMAT_USHORT);
    std::set<long> levels;
    for (int y = 4; y < h - 4; ++y)
        levels.insert(std::lround(frame.extract_area(4, y, w / 2 - 4, 1).extract_band(1).avg() / 64));
    EXPECT_GT(levels.size(), 30u); // 8-bit steps give about 12 in this range

    // Append: two deep movies are copied as they are; a 10-bit HEVC first
    // keeps its depth when an 8-bit movie is encoded to join it.
    fs::copy_file(dir / "deep.mov", dir / "deep2.mov");
    ASSERT_EQ(moirevance(dir, "append deep.mov deep2.mov -o twice.mov").status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "twice.mov").at("pix_fmt"), "yuv422p10le");
    ASSERT_EQ(moirevance(dir, "make --codec hevc --depth 10 --skip-verify -o a-hevc10.mov deep").status, 0);
    ASSERT_EQ(moirevance(dir, "make --codec h264 --skip-verify -o b-h264.mov shallow").status, 0);
    ASSERT_EQ(moirevance(dir, "append a-hevc10.mov b-h264.mov -o joined.mov").status, 0) << readFile(dir / "stderr.txt");
    const auto joined = probeStream(dir / "joined.mov");
    EXPECT_EQ(joined.at("pix_fmt"), "yuv420p10le");
    EXPECT_EQ(joined.at("profile"), "Main 10");
    EXPECT_EQ(joined.at("nb_read_packets"), "8");
}

// --depth: 10 bits only where a codec has them, the window's choice kept in
// the movie's name.
TEST(DeepColour, DepthOptionAndName)
{
    TempDir dir;
    writeSkies(dir, 2);
    EXPECT_EQ(moirevance(dir, "make --codec h264 --depth 10 deep").status, 2);
    EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr("--depth 10 needs --codec hevc, av1 or prores"));
    EXPECT_EQ(moirevance(dir, "make --codec hevc --depth 12 deep").status, 2);
    ASSERT_EQ(moirevance(dir, "make --codec hevc --depth 10 --size 100% --skip-verify deep").status, 0)
        << readFile(dir / "stderr.txt");
    const std::string named = dir / "MV(30,100%,HEVC-10,Norm,1X).mov";
    ASSERT_TRUE(fs::exists(named));
    EXPECT_EQ(probeStream(named).at("pix_fmt"), "yuv420p10le");
    // 8 bits asked for: the name and the movie as before.
    ASSERT_EQ(moirevance(dir, "make --codec hevc --depth 8 --size 100% --skip-verify deep").status, 0);
    EXPECT_EQ(probeStream(dir / "MV(30,100%,HEVC,Norm,1X).mov").at("pix_fmt"), "yuv420p");

    // A damaged 16-bit picture is skipped and named, as an 8-bit one is.
    fs::resize_file(dir / "deep/sky_2.tif", fs::file_size(dir / "deep/sky_2.tif") / 2);
    ASSERT_EQ(moirevance(dir, "make --codec prores --skip-verify -o cut.mov deep").status, 0);
    EXPECT_EQ(probeStream(dir / "cut.mov").at("nb_read_packets"), "1");
    EXPECT_THAT(readFile(dir / "data/Moirevance/Moirevance Verify List.txt"),
                HasSubstr("Create Movie: Can not form an image from sky_2.tif"));
}
