// A corpus of damaged and odd inputs, made here, run through the command
// line as a person would meet them: whatever the input, no crash, the
// problem named, memory bounded, and a playable movie of exactly the
// readable images (or no file at all and exit status 1).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vips/vips8>

#include "TestSupport.h"
#include "imagelist/FileSort.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

constexpr int W = 64, H = 48;

// A distinct pattern per image, so that a frame shows whose it is.
Pattern patternOf(int i)
{
    return [i](int x, int y) { return wavePattern(x + 37 * i, y + 11 * i); };
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Corpus : ::testing::Test {
    TempDir dir;
    int made = 0;

    Corpus() { fs::create_directories(dir / "in"); }

    // A good image with its own pattern; the name decides the format.
    std::string good(const std::string& name)
    {
        const std::string path = dir / ("in/" + name);
        writeImage(path, W, H, patternOf(made++));
        return path;
    }

    struct Outcome {
        int status = -1;
        long peakKiB = 0;
        std::string err;
    };
    // `moirevance make` on the files, with the TIFF codec so that frames
    // compare exactly; memory capped and its peak measured.
    Outcome make(const std::vector<std::string>& files, const std::string& movie)
    {
        std::string args = "make --codec tiff --size 100% --fps 10 -o " + quote(movie);
        for (const auto& f : files)
            args += " " + quote(f);
        Outcome o;
        o.status = moirevance(dir, args + " >/dev/null", measured(dir)).status;
        o.err = readFile(dir / "stderr.txt");
        o.peakKiB = peakKb(dir);
        return o;
    }

    // The movie holds exactly the given images' frames, in order, each with
    // its own content (not black or grey padding, not another image's).
    void expectFramesOf(const std::string& movie, const std::vector<std::string>& images)
    {
        const auto frames = decodeFrames(movie, W, H);
        ASSERT_EQ(frames.size(), images.size());
        for (std::size_t i = 0; i < images.size(); ++i)
            EXPECT_LT(meanAbsDiff(frames[i], pixelsOf(images[i])), 3) << "frame " << i << " is not " << images[i];
    }

    // The picture as 8-bit sRGB, whatever its bands and depth.
    static std::vector<std::uint8_t> pixelsOf(const std::string& path)
    {
        vips::VImage img = vips::VImage::new_from_file(path.c_str()).colourspace(VIPS_INTERPRETATION_sRGB);
        if (img.width() != W || img.height() != H) // a 1 x 1 picture covers the frame in its colour
            img = img.resize(double(W) / img.width(), vips::VImage::option()->set("vscale", double(H) / img.height()));
        if (img.bands() == 4)
            img = img.flatten();
        img = img.cast(VIPS_FORMAT_UCHAR);
        std::size_t size = 0;
        void* data = img.write_to_memory(&size);
        std::vector<std::uint8_t> out(static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
        g_free(data);
        return out;
    }
};

} // namespace

TEST_F(Corpus, DamagedImagesAmongGoodOnesAreSkippedAndNamed)
{
    std::map<std::string, std::string> whole; // a good picture's bytes per format
    for (const std::string ext : {"jpg", "png", "tif"}) {
        writeImage(dir / ("src." + ext), W, H, patternOf(99));
        whole[ext] = readFile(dir / ("src." + ext));
    }
    struct Case {
        std::string name, bytes, line; // line: what the Verify List says of it
    };
    const std::string text = "This is a shopping list, not a picture.\n";
    std::vector<Case> cases{{"zero.jpg", "", "zero.jpg (file size error: 0 Bytes)"},
                            {"text.jpg", text, "text.jpg ("},
                            {"text.NEF", text, "text.NEF ("},
                            {"jpeg.NEF", whole["jpg"], "jpeg.NEF ("}};
    // The real camera file with its raw data's header forged to claim a
    // sensor of 65000 x 65000, or its raw data wiped after the scan's header
    // (LibRaw only warns).
    if (const std::string cr2 = realCr2(); !cr2.empty()) {
        whole["CR2"] = readFile(cr2);
        std::string huge = whole["CR2"], wiped = whole["CR2"];
        const auto sof = huge.find("\xff\xc3");
        ASSERT_NE(sof, std::string::npos);
        huge.replace(sof + 5, 4, "\xfd\xe8\xfd\xe8");
        cases.push_back({"huge.CR2", huge, "huge.CR2"});
        const auto scan = wiped.find("\xff\xda", sof);
        ASSERT_NE(scan, std::string::npos);
        std::fill(wiped.begin() + std::ptrdiff_t(scan) + 20, wiped.end(), '\0');
        cases.push_back({"wiped.CR2", wiped, "wiped.CR2 ("});
    }
    for (int percent : {10, 50, 99})
        for (const auto& [ext, bytes] : whole) {
            const std::string name = "cut" + std::to_string(percent) + "." + ext;
            cases.push_back({name, bytes.substr(0, bytes.size() * percent / 100), name + " ("});
        }

    const std::string first = good("a.jpg"), second = good("b.png"), last = good("z.tif");
    const std::string movie = dir / "out.mov";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bad = dir / ("in/m-" + c.name);
        writeBytes(bad, c.bytes);
        const Outcome o = make({first, second, bad, last}, movie);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_LT(o.peakKiB, 400 * 1024) << "peak memory";
        EXPECT_THAT(readFile(dir / "data/Moirevance/Moirevance Verify List.txt"), HasSubstr("m-" + c.line));
        expectFramesOf(movie, {first, second, last});
        fs::remove(movie);
        fs::remove(bad);
    }
}

TEST_F(Corpus, OddButValidImagesAllBecomeFrames)
{
    std::vector<std::string> images{good("first.png")};
    auto add = [&](const std::string& name, vips::VImage (*shape)(vips::VImage)) {
        const std::string rgb = good(name + ".tmp.png");
        const std::string path = dir / ("in/" + name);
        shape(vips::VImage::new_from_file(rgb.c_str())).write_to_file(path.c_str());
        fs::remove(rgb);
        images.push_back(path);
    };
    add("rgb16.png", [](vips::VImage i) {
        return (i.cast(VIPS_FORMAT_USHORT) * 257)
            .cast(VIPS_FORMAT_USHORT)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    });
    add("rgba.png", [](vips::VImage i) { return i.bandjoin_const({255}); });
    add("grey.png", [](vips::VImage i) { return i.colourspace(VIPS_INTERPRETATION_B_W); });
    add("grey.tif", [](vips::VImage i) { return i.colourspace(VIPS_INTERPRETATION_B_W); });
    add("cmyk.jpg", [](vips::VImage i) { return i.colourspace(VIPS_INTERPRETATION_CMYK); });
    writeImage(dir / "in/one-pixel.png", 1, 1, [](int, int) { return Rgb{200, 120, 40}; });
    images.push_back(dir / "in/one-pixel.png");
    // Names as cameras, scripts and other systems leave them.
    for (const std::string name : {"with space.jpg", "quote'and\"double.png", "new\nline.jpg", "latin1-\xE9t\xE9.png"})
        images.push_back(good(name));
    const std::string movie = dir / "odd.mov";
    const Outcome o = make(images, movie);
    ASSERT_EQ(o.status, 0) << o.err;
    mv::alphaSort(images); // the frame order
    expectFramesOf(movie, images);
}

// The movie tools given a movie without video (text and cut-off movies have
// their own tests): a clear failure, no file left behind, and never a change
// to an input.
TEST_F(Corpus, MovieToolsRefuseBadMoviesAndNeverTouchTheirInputs)
{
    const std::string movie = dir / "good.mov", audio = dir / "audio.mov";
    ASSERT_EQ(make({good("1.png"), good("2.png"), good("3.png")}, movie).status, 0);
    const std::string movieBytes = readFile(movie);
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i sine=duration=1 -c:a aac " + quote(audio)).status, 0);
    fs::create_directories(dir / "frames");
    fs::create_directories(dir / "tmp");
    const auto tool = [&](const std::string& args, int status) {
        EXPECT_EQ(moirevance(dir, args, "TMPDIR=" + quote(dir / "tmp") + " ").status, status)
            << readFile(dir / "stderr.txt");
    };
    tool("append -o " + quote(dir / "joined.mov") + " " + quote(movie) + " " + quote(audio), 1);
    EXPECT_FALSE(fs::exists(dir / "joined.mov"));
    tool("frames " + quote(audio) + " " + quote(dir / "frames/F"), 1);
    EXPECT_TRUE(fs::is_empty(dir / "frames"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));

    // An output named like an input gets a new name; the input stays as it was.
    tool("append -o " + quote(movie) + " " + quote(movie) + " " + quote(movie), 0);
    EXPECT_EQ(readFile(movie), movieBytes);
    EXPECT_EQ(probeStream(dir / "good-1.mov").at("nb_frames"), "6");
}
