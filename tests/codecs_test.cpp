// HEVC, ProRes and AV1 movies, and .mp4 files, made through the command line
// and read back with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "platform/movie/MovieWriter.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

constexpr int W = 96, H = 64; // SVT-AV1 takes no side below 64

// Among the file's top-level boxes the index (moov) comes before the media
// data (mdat), so that the movie plays while it downloads.
bool indexFirst(const std::string& path)
{
    const std::string d = readFile(path);
    for (std::size_t at = 0; at + 8 <= d.size();) {
        std::uint64_t size = 0;
        for (int i = 0; i < 4; ++i)
            size = size << 8 | std::uint8_t(d[at + i]);
        if (const std::string type = d.substr(at + 4, 4); type == "moov" || type == "mdat")
            return type == "moov";
        if (size == 1 && at + 16 <= d.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | std::uint8_t(d[at + i]);
        }
        if (size < 8)
            break;
        at += size;
    }
    return false;
}

} // namespace

TEST(Codecs, EachNewCodecAndMp4WithTheirTagsProfilesDurationsAndAppend)
{
    TempDir dir;
    const auto images = writeImages(dir / "in", 3, W, H);
    struct Case {
        std::string codec, file, name, tag, profile, pixelFormat;
        double tolerance; // mean difference from the source, in levels
    };
    const Case cases[] = {
        {"hevc", "a.mov", "hevc", "hvc1", "Main", "yuv420p", 4},
        {"prores", "b.mov", "prores", "apch", "HQ", "yuv422p10le", 2},
        {"hevc", "c.mp4", "hevc", "hvc1", "Main", "yuv420p", 4},
        {"av1", "d.MP4", "av1", "av01", "Main", "yuv420p", 4},
        {"h264", "e.mp4", "h264", "avc1", "High", "yuv420p", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const bool mp4 = c.file.find(".mov") == std::string::npos;
        // 29.97 frames per second keep the time scale of 30000 in MPEG-4 files too.
        const std::string fps = mp4 ? "29.97" : "10";
        const auto r = moirevance(dir, "make --size 100% --skip-verify --codec " + c.codec + " --fps " + fps +
                                           " -o " + quote(dir / c.file) + " " + quote(dir / "in"));
        ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        const auto info = probeStream(dir / c.file);
        EXPECT_EQ(info.at("codec_name"), c.name);
        EXPECT_EQ(info.at("codec_tag_string"), c.tag);
        EXPECT_EQ(info.at("profile"), c.profile);
        EXPECT_EQ(info.at("pix_fmt"), c.pixelFormat);
        EXPECT_EQ(info.at("time_base"), mp4 ? "1/30000" : "1/600");
        EXPECT_EQ(packetDurations(dir / c.file), std::vector<long>(3, mp4 ? 1001 : 60));
        const auto frames = decodeFrames(dir / c.file, W, H);
        ASSERT_EQ(frames.size(), 3u);
        for (int i = 0; i < 3; ++i)
            EXPECT_LT(meanAbsDiff(frames[i], readPixels(images[i])), c.tolerance) << "frame " << i;
        EXPECT_TRUE(!mp4 || indexFirst(dir / c.file));
    }

    // Appended, the HEVC movie keeps its tag and the .mp4 its index first.
    const auto r = moirevance(dir, "append -o " + quote(dir / "both.mp4") + " " + quote(dir / "c.mp4") + " " +
                                       quote(dir / "c.mp4"));
    ASSERT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    const auto info = probeStream(dir / "both.mp4");
    EXPECT_EQ(info.at("codec_tag_string"), "hvc1");
    EXPECT_EQ(info.at("nb_read_packets"), "6");
    EXPECT_TRUE(indexFirst(dir / "both.mp4"));

    // A name that cannot hold the codec is a usage error, as for make.
    EXPECT_EQ(moirevance(dir, "append -o " + quote(dir / "av1.mov") + " " + quote(dir / "d.MP4")).status, 2);
    EXPECT_FALSE(fs::exists(dir / "av1.mov"));
}

TEST(Codecs, CodecsTheFileCannotHoldAreRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    writeImages(dir / "in", 2, W, H);
    writeImages(dir / "thin", 2, 4400, 20);
    writeImages(dir / "tall", 2, 64, 16000);
    writeImages(dir / "column", 2, 4, 33000);
    struct Case {
        std::string args, file;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"--codec prores in", "p.mp4", 2, "An .mp4 movie holds H.264, HEVC or AV1 only, not ProRes 422 HQ."},
        {"--codec jpeg in", "j.mp4", 2, "An .mp4 movie holds H.264, HEVC or AV1 only, not JPEG."},
        {"--codec av1 in", "a.mov", 2, "AV1 movies are written as .mp4 files."},
        {"--codec av1 --size 50% in", "small.mp4", 1, "The frame size 48X32 is too small for the chosen codec"},
        // A movie's name ends in its file's extension: a movie named like an
        // image would be listed as one.
        {"--codec jpeg in", "in/img-1.png", 2, "JPEG movies are written as .mov files. Choose a name ending "
                                               "in .mov."},
        {"--codec hevc in", "Clip", 2, "HEVC movies are written as .mov or .mp4 files."},
        // The encoders' own limits, named before the movie opens.
        {"--codec hevc --size 50% thin", "h1.mov", 1, "2200X10 is too small for the chosen codec, which takes "
                                                      "at least 16 pixels a side"},
        {"--codec hevc --size 100% thin", "h2.mov", 1, "at most 4216 pixels a side when the other is below 32"},
        {"--codec av1 --size 100% tall", "a2.mp4", 1, "64X16000 is too large for the chosen codec, which takes "
                                                      "at most 16384 pixels wide, 8704 high"},
        // Beyond what the track header can describe.
        {"--codec tiff --size 100% column", "t.mov", 1, "4X33000 is too large for a movie file, which describes "
                                                      "at most 32767 pixels a side"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto r = moirevance(dir, "make --skip-verify " + c.args + " -o " + quote(dir / c.file));
        EXPECT_EQ(r.status, c.status);
        EXPECT_THAT(readFile(dir / "stderr.txt"), HasSubstr(c.message));
        EXPECT_EQ(fs::exists(dir / c.file), fs::path(c.file).parent_path() == "in");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "in"), fs::directory_iterator()), 2);
    }

    // 15 x 15 is encoded as 16 x 16, which x265 takes.
    writeImages(dir / "tiny", 2, 15, 15);
    ASSERT_EQ(moirevance(dir, "make --skip-verify --codec hevc --size 100% -o tiny.mov tiny").status, 0)
        << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "tiny.mov").at("nb_read_packets"), "2");
}

// SVT-AV1 waits for ever when it is freed before its stream has ended: a
// movie that fails after its encoder opened (a QuickTime file cannot hold
// AV1) must still let go of it, and leave no file.
TEST(Codecs, AnAv1MovieThatFailsIsClosedWithoutWaiting)
{
    TempDir dir;
    mv::MovieAttributes attributes;
    attributes.codecType = "av01";
    mv::MovieWriter::Error error;
    auto writer = mv::MovieWriter::create(dir / "x.mov", attributes, error);
    ASSERT_TRUE(writer) << error.description;
    EXPECT_FALSE(writer->addImage(bitmapOf(W, H, [](int, int) { return Rgb{128, 128, 128}; }), {60, 600}));
    writer.reset();
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A dusk gradient (2 % to 6 % of full scale down the frame) written from
// 16-bit and from 8-bit pixels. The RMS, in 10-bit code values, of the
// luma's row means against the gradient's straight line tells the depth
// that reached the movie: about 1 for 8-bit steps, 0.3 for 10 bits, and
// little more for 8 bits dithered.
TEST(Codecs, SixteenBitPixelsKeepTenBitsOrAreDithered)
{
    TempDir dir;
    constexpr int w = 64, h = 256;
    const auto level = [](int y) { return 0.02 + 0.04 * y / (h - 1); };
    const mv::RgbaBitmap shallow = bitmapOf(w, h, [&](int, int y) {
        const auto v = std::uint8_t(std::lround(level(y) * 255));
        return Rgb{v, v, v};
    });
    mv::RgbaBitmap16 deep;
    deep.width = w;
    deep.height = h;
    deep.pixels.resizeForOverwrite(std::size_t(w) * h * 8);
    auto* deep16 = reinterpret_cast<std::uint16_t*>(deep.pixels.data());
    for (std::size_t i = 0; i < std::size_t(w) * h * 4; ++i) // opaque
        deep16[i] = i % 4 == 3 ? 65535 : std::uint16_t(std::lround(level(int(i / 4 / w)) * 65535));
    const auto banding = [&](const std::string& movie) {
        const auto r = run("ffmpeg -v error -i " + quote(movie) +
                           " -frames:v 1 -f rawvideo -pix_fmt yuv444p16le - | od -An -v -tu2 -w2");
        std::vector<double> rows(h);
        std::istringstream in(r.out);
        int value, i = 0;
        while (in >> value && i < w * h)
            rows[i++ / w] += value / 64.0 / w;
        // Least squares over the rows away from the ends.
        double sy = 0, sty = 0, st = 0, stt = 0, n = 0;
        for (int y = 8; y < h - 8; ++y)
            sy += rows[y], sty += y * rows[y], st += y, stt += double(y) * y, n += 1;
        const double slope = (n * sty - st * sy) / (n * stt - st * st), at0 = (sy - slope * st) / n;
        double sq = 0;
        for (int y = 8; y < h - 8; ++y)
            sq += std::pow(rows[y] - at0 - slope * y, 2);
        return std::sqrt(sq / n);
    };
    struct Case {
        const char* codec;
        int depth;
        const char* pixFmt;
        const char* profile;
    };
    for (const Case& c : {Case{"apch", 8, "yuv422p10le", "HQ"}, Case{"hvc1", 10, "yuv420p10le", "Main 10"},
                          Case{"av01", 10, "yuv420p10le", "Main"}, Case{"hvc1", 8, "yuv420p", "Main"},
                          Case{"avc1", 10, "yuv420p", "High"}, Case{"tiff", 10, "rgb24", ""}}) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.depth));
        double rms[2];
        for (int deepColour = 0; deepColour < 2; ++deepColour) {
            const std::string movie = dir / (std::string(c.codec) + std::to_string(c.depth) +
                                             (deepColour ? "deep" : "") + (c.codec == std::string("av01") ? ".mp4" : ".mov"));
            mv::MovieWriter::Error error;
            mv::MovieAttributes attributes{c.codec, 1023, 600};
            attributes.depth = c.depth;
            auto writer = mv::MovieWriter::create(movie, attributes, error);
            ASSERT_TRUE(writer) << error.description;
            ASSERT_TRUE(deepColour ? writer->addImage(deep, {20, 600}) : writer->addImage(shallow, {20, 600}));
            std::string message;
            ASSERT_TRUE(writer->update(message)) << message;
            const auto stream = probeStream(movie);
            EXPECT_EQ(stream.at("pix_fmt"), c.pixFmt);
            if (*c.profile) {
                EXPECT_EQ(stream.at("profile"), c.profile);
            }
            rms[deepColour] = banding(movie);
        }
        EXPECT_GT(rms[0], 0.7);
        EXPECT_LT(rms[1], 0.45);
    }
}

// A frame of odd sides is encoded one pixel larger each way; the extra row
// and column repeat the picture's last ones in every plane (4:2:2 chroma
// has the extra row too), rather than whatever the buffer held.
TEST(Codecs, OddSidesArePaddedWithTheLastRowAndColumn)
{
    TempDir dir;
    const std::string movie = dir / "odd.mov";
    mv::MovieWriter::Error error;
    auto writer = mv::MovieWriter::create(movie, {"apch", 768, 600}, error);
    ASSERT_TRUE(writer) << error.description;
    ASSERT_TRUE(writer->addImage(bitmapOf(33, 25, [](int, int) { return Rgb{200, 120, 60}; }), {20, 600}));
    std::string message;
    ASSERT_TRUE(writer->update(message)) << message;
    const auto r = run("ffmpeg -v error -i " + quote(movie) + " -f rawvideo -pix_fmt yuv422p10le - | od -An -v -tu2 -w2");
    std::vector<int> v;
    std::istringstream in(r.out);
    for (int x; in >> x;)
        v.push_back(x);
    constexpr int w = 34, h = 26, cw = 17;
    ASSERT_EQ(v.size(), std::size_t(w * h + 2 * cw * h));
    for (const auto& [start, stride] : {std::pair{0, w}, {w * h, cw}, {w * h + cw * h, cw}}) // Y, Cb, Cr
        for (int x = 0; x < stride; ++x)
            EXPECT_NEAR(v[start + (h - 1) * stride + x], v[start + (h - 2) * stride + x], 8) << start << " " << x;
}
