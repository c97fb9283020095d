// Damaged, forged and oversized pictures: each is refused or fitted the same
// way every time, with memory bounded and no access outside a buffer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/Picture.h"
#include "platform/PictureProbe.h"

using namespace mvtest;
namespace fs = std::filesystem;

namespace {

std::uint32_t crc32(const std::string& data, std::size_t from, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < from + n; ++i) {
        c ^= static_cast<std::uint8_t>(data[i]);
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void putBe32(std::string& d, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// A small real PNG whose header (with a valid checksum) claims w x h.
void forgePng(const std::string& path, std::uint32_t w, std::uint32_t h)
{
    writeImage(path, 16, 16);
    std::string d = readFile(path);
    putBe32(d, 16, w);
    putBe32(d, 20, h);
    putBe32(d, 29, crc32(d, 12, 17));
    writeFile(path, d);
}

// A small real TIFF whose width and length tags claim w x h.
void forgeTiff(const std::string& path, std::uint32_t w, std::uint32_t h)
{
    writeImage(path, 16, 16);
    std::string d = readFile(path);
    ASSERT_EQ(d.substr(0, 2), "II");
    auto u16 = [&](std::size_t at) { return std::uint8_t(d[at]) | std::uint8_t(d[at + 1]) << 8; };
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            d[at + i] = static_cast<char>(v >> (8 * i));
    };
    const std::size_t ifd = std::uint8_t(d[4]) | std::uint8_t(d[5]) << 8 | std::uint8_t(d[6]) << 16;
    for (unsigned e = 0; e < u16(ifd); ++e) {
        const std::size_t entry = ifd + 2 + 12 * e;
        if (u16(entry) == 256 || u16(entry) == 257) {
            put(entry + 2, 4, 2); // LONG
            put(entry + 4, 1, 4);
            put(entry + 8, u16(entry) == 256 ? w : h, 4);
        }
    }
    writeFile(path, d);
}

// Runs `moirevance make` with its data and preferences in `dir`; the peak
// resident size in kB goes to `peakKb`. Virtual memory is capped so that a
// fault cannot take the machine.
CommandResult make(const TempDir& dir, const std::string& args, long* peakKb = nullptr)
{
    const CommandResult r =
        run("cd " + quote(dir.path()) + " && XDG_DATA_HOME=" + quote(dir / "data") + " XDG_CONFIG_HOME=" +
            quote(dir / "config") + " /usr/bin/time -f %M -o " + quote(dir / "rss.txt") +
            " sh -c 'ulimit -v 8000000; exec \"$0\" \"$@\"' " + quote(MOIREVANCE_BIN) + " make " + args + " 2>" +
            quote(dir / "stderr.txt"));
    if (peakKb) {
        const std::string rss = readFile(dir / "rss.txt");
        *peakKb = rss.empty() ? -1 : std::stol(rss.substr(rss.find_last_of('\n', rss.size() - 2) + 1));
    }
    return r;
}

std::string verifyList(const TempDir& dir) { return readFile(dir / "data/Moirevance/Moirevance Verify List.txt"); }

} // namespace

TEST(BadPictures, ForgedHugeHeadersAreRefusedBeforeDecoding)
{
    TempDir dir;
    fs::create_directory(dir / "in");
    for (int i : {0, 1, 5, 6})
        writeImage(dir / ("in/img-" + std::to_string(i) + ".png"), 64, 48);
    forgePng(dir / "in/img-2.png", 65535, 65535);
    forgePng(dir / "in/img-3.png", 100000, 100000);
    forgeTiff(dir / "in/img-4.tif", 100000, 100000);
    for (const char* name : {"img-2.png", "img-3.png", "img-4.tif"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(mv::probePicture(dir / ("in/" + std::string(name))));
        EXPECT_FALSE(mv::Picture::open(dir / ("in/" + std::string(name))));
    }
    EXPECT_TRUE(mv::probePicture(dir / "in/img-0.png"));

    for (const char* checks : {"", "--skip-verify "}) {
        SCOPED_TRACE(checks);
        long peakKb = 0;
        const CommandResult r = make(dir, std::string(checks) + "--codec tiff -o out.mov in", &peakKb);
        EXPECT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
        const std::string movie = fs::path(r.out.substr(0, r.out.find('\n'))).string();
        EXPECT_EQ(probeStream(movie).at("nb_read_packets"), "4");
        EXPECT_GT(peakKb, 0);
        EXPECT_LT(peakKb, 300 * 1024) << "peak resident kB";
        fs::remove(movie);
    }
    const std::string lines = verifyList(dir);
    EXPECT_NE(lines.find("img-2.png (image format error, can not create an image)"), std::string::npos) << lines;
    for (const char* name : {"img-2.png", "img-3.png", "img-4.tif"})
        EXPECT_NE(lines.find(std::string("Create Movie: Can not form an image from ") + name), std::string::npos)
            << lines;
}

TEST(BadPictures, ScalingOddWidthsStaysInsideItsBuffers)
{
    if (run("command -v valgrind").status != 0)
        GTEST_SKIP() << "valgrind is not installed";
    TempDir dir;
    fs::create_directory(dir / "in");
    for (int i = 0; i < 2; ++i)
        writeImage(dir / ("in/img-" + std::to_string(i) + ".png"), 410, 120); // 205 wide at 50%
    const CommandResult r =
        run("cd " + quote(dir.path()) + " && XDG_DATA_HOME=" + quote(dir / "data") + " XDG_CONFIG_HOME=" +
            quote(dir / "config") + " valgrind -q --error-exitcode=99 " + quote(MOIREVANCE_BIN) +
            " make --codec jpeg --size 50% -o out.mov in 2>" + quote(dir / "stderr.txt"));
    EXPECT_EQ(r.status, 0) << readFile(dir / "stderr.txt");
    EXPECT_EQ(probeStream(dir / "out.mov").at("width"), "205");
}
