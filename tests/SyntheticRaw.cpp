#include "SyntheticRaw.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

#include <vips/vips8>

#include "TestSupport.h"

namespace mvtest {
namespace {

// A little-endian TIFF directory: entries added in tag order, values that
// do not fit in the entry written after the directory.
class Directory {
public:
    void add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::vector<std::uint8_t> bytes)
    {
        entries_.push_back({tag, type, count, std::move(bytes)});
    }
    void shorts(std::uint16_t tag, std::vector<std::uint16_t> v)
    {
        std::vector<std::uint8_t> b;
        for (auto x : v)
            b.insert(b.end(), {std::uint8_t(x), std::uint8_t(x >> 8)});
        add(tag, 3, std::uint32_t(v.size()), b);
    }
    void longs(std::uint16_t tag, std::vector<std::uint32_t> v)
    {
        std::vector<std::uint8_t> b;
        for (auto x : v)
            b.insert(b.end(), {std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(x >> 16), std::uint8_t(x >> 24)});
        add(tag, 4, std::uint32_t(v.size()), b);
    }
    void text(std::uint16_t tag, const std::string& s)
    {
        std::vector<std::uint8_t> b(s.begin(), s.end());
        b.push_back(0);
        add(tag, 2, std::uint32_t(b.size()), b);
    }
    void bytes(std::uint16_t tag, std::vector<std::uint8_t> v) { add(tag, 1, std::uint32_t(v.size()), v); }
    // Rationals as numerator/denominator pairs; type 5 unsigned, 10 signed.
    void rationals(std::uint16_t tag, std::uint16_t type, const std::vector<double>& v)
    {
        std::vector<std::uint32_t> words;
        for (double x : v) {
            words.push_back(std::uint32_t(std::int32_t(std::lround(x * 10000))));
            words.push_back(10000);
        }
        longs(tag, words);
        entries_.back().type = type;
        entries_.back().count = std::uint32_t(v.size());
    }
    // The directory's bytes for a file where it starts at `at`; `next` is
    // the offset of the following directory (0: none).
    std::vector<std::uint8_t> bytesAt(std::uint32_t at, std::uint32_t next = 0) const
    {
        std::vector<std::uint8_t> dir, extra;
        auto put16 = [](std::vector<std::uint8_t>& b, std::uint32_t v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
        auto put32 = [&](std::vector<std::uint8_t>& b, std::uint32_t v) {
            put16(b, v & 0xffff);
            put16(b, v >> 16);
        };
        const std::uint32_t extraAt = at + 2 + 12 * std::uint32_t(entries_.size()) + 4;
        put16(dir, std::uint32_t(entries_.size()));
        for (const Entry& e : entries_) {
            put16(dir, e.tag);
            put16(dir, e.type);
            put32(dir, e.count);
            if (e.bytes.size() <= 4) {
                std::vector<std::uint8_t> v = e.bytes;
                v.resize(4, 0);
                dir.insert(dir.end(), v.begin(), v.end());
            } else {
                put32(dir, extraAt + std::uint32_t(extra.size()));
                extra.insert(extra.end(), e.bytes.begin(), e.bytes.end());
                if (extra.size() % 2)
                    extra.push_back(0);
            }
        }
        put32(dir, next);
        dir.insert(dir.end(), extra.begin(), extra.end());
        return dir;
    }

private:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Entry> entries_;
};

// The mosaic, little-endian: each photosite keeps one channel of the
// picture, scaled so that linear white is `white` at ev 0 and clipped there.
std::vector<std::uint8_t> mosaic(const LinearPicture& picture, double ev, int white)
{
    const int w = picture.width & ~1, h = picture.height & ~1;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t(w) * h * 2);
    const double gain = 0.5 * std::exp2(ev) * white / 65535;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int channel = (y % 2) + (x % 2); // R G / G B
            const double v = picture.rgb[(std::size_t(y) * picture.width + x) * 3 + channel];
            const auto code = std::uint16_t(std::min(double(white), std::round(v * gain)));
            bytes.insert(bytes.end(), {std::uint8_t(code), std::uint8_t(code >> 8)});
        }
    return bytes;
}

// The directory of the mosaic itself, as both formats have it.
Directory mosaicDirectory(int w, int h, int bits, std::uint32_t dataAt, std::uint32_t bytes)
{
    Directory d;
    d.longs(254, {0});
    d.longs(256, {std::uint32_t(w)});
    d.longs(257, {std::uint32_t(h)});
    d.shorts(258, {std::uint16_t(bits)});
    d.shorts(259, {1});
    d.shorts(262, {32803}); // a colour filter array
    d.longs(273, {dataAt});
    d.shorts(277, {1});
    d.longs(278, {std::uint32_t(h)});
    d.longs(279, {bytes});
    d.shorts(284, {1});
    d.shorts(33421, {2, 2});
    d.bytes(33422, {0, 1, 1, 2});
    return d;
}

// Writes the parts one after another, the TIFF header first.
void writeParts(const std::string& path, const std::vector<std::vector<std::uint8_t>>& parts)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const char header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    out.write(header, 8);
    for (const auto& part : parts)
        out.write(reinterpret_cast<const char*>(part.data()), std::streamsize(part.size()));
}

void writeExif(const std::string& path, const RawShot& shot)
{
    exif(path, "-ExposureTime=" + shot.exposureTime + " -FNumber=8 -ISO=100 -DateTimeOriginal=" + quote(shot.date) +
                   " -IFD0:Orientation#=" + std::to_string(shot.orientation));
}

// Where each part starts, the header being 8 bytes: a directory's size does
// not depend on the offsets it holds, so it is laid out once with zeros.
std::vector<std::uint32_t> offsets(const std::vector<std::size_t>& sizes)
{
    std::vector<std::uint32_t> at{8};
    for (std::size_t size : sizes)
        at.push_back(at.back() + std::uint32_t(size));
    return at;
}

} // namespace

LinearPicture linearPattern(int width, int height)
{
    LinearPicture p{width, height, {}};
    p.rgb.reserve(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = wavePattern(x, y);
            for (int code : {c.r, c.g, c.b})
                p.rgb.push_back(std::uint16_t(std::lround(toLinear(code) * 65535)));
        }
    return p;
}

void writeDng(const std::string& path, const LinearPicture& picture, const RawShot& shot)
{
    const int w = picture.width & ~1, h = picture.height & ~1;
    const std::vector<std::uint8_t> data = mosaic(picture, shot.ev, 65535);
    auto mainDir = [&](std::uint32_t exifAt, std::uint32_t dataAt) {
        Directory d = mosaicDirectory(w, h, 16, dataAt, std::uint32_t(data.size()));
        d.text(271, "Moirevance");
        d.text(272, "Test Mosaic");
        d.shorts(274, {1});
        d.longs(34665, {exifAt});
        d.bytes(50706, {1, 4, 0, 0});
        d.text(50708, "Moirevance Test Mosaic");
        d.longs(50714, {0});
        d.longs(50717, {65535});
        // XYZ (D65) to the camera's space, which is linear sRGB.
        d.rationals(50721, 10, {3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570});
        d.rationals(50728, 5, {1, 1, 1});
        d.shorts(50778, {21}); // D65
        return d;
    };
    Directory exifDir;
    exifDir.rationals(33434, 5, {0}); // exiftool writes the values
    const auto at = offsets({mainDir(0, 0).bytesAt(0).size(), exifDir.bytesAt(0).size()});
    writeParts(path, {mainDir(at[1], at[2]).bytesAt(at[0]), exifDir.bytesAt(at[1]), data});
    writeExif(path, shot);
}

void writeNef(const std::string& path, const LinearPicture& picture, const RawShot& shot)
{
    const int w = picture.width & ~1, h = picture.height & ~1;
    const std::vector<std::uint8_t> data = mosaic(picture, shot.ev, 16383);
    // The thumbnail: every 16th pixel, in sRGB codes.
    const int tw = std::max(1, w / 16), th = std::max(1, h / 16);
    std::vector<std::uint8_t> thumbnail;
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
            for (int c = 0; c < 3; ++c)
                thumbnail.push_back(std::uint8_t(
                    toSrgb(picture.rgb[(std::size_t(y) * 16 * picture.width + std::size_t(x) * 16) * 3 + c] / 65535.0)));
    auto mainDir = [&](std::uint32_t rawAt, std::uint32_t exifAt, std::uint32_t thumbAt) {
        Directory d;
        d.longs(254, {1});
        d.longs(256, {std::uint32_t(tw)});
        d.longs(257, {std::uint32_t(th)});
        d.shorts(258, {8, 8, 8});
        d.shorts(259, {1});
        d.shorts(262, {2});
        d.text(271, "NIKON CORPORATION");
        d.text(272, "NIKON MV-1");
        d.longs(273, {thumbAt});
        d.shorts(274, {1});
        d.shorts(277, {3});
        d.longs(278, {std::uint32_t(th)});
        d.longs(279, {std::uint32_t(thumbnail.size())});
        d.shorts(284, {1});
        d.longs(330, {rawAt});
        d.longs(34665, {exifAt});
        return d;
    };
    Directory exifDir;
    exifDir.rationals(33434, 5, {0});
    const auto at = offsets({mainDir(0, 0, 0).bytesAt(0).size(), mosaicDirectory(w, h, 14, 0, 0).bytesAt(0).size(),
                             exifDir.bytesAt(0).size(), thumbnail.size()});
    writeParts(path, {mainDir(at[1], at[2], at[3]).bytesAt(at[0]),
                      mosaicDirectory(w, h, 14, at[4], std::uint32_t(data.size())).bytesAt(at[1]), exifDir.bytesAt(at[2]),
                      thumbnail, data});
    writeExif(path, shot);
}

} // namespace mvtest
