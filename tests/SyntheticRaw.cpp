#include "SyntheticRaw.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

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

} // namespace

void writeDng(const std::string& path, const RawShot& shot)
{
    const int w = shot.width, h = shot.height;
    // The mosaic: each photosite keeps one channel of the test pattern in
    // linear light, a stop below white so that +1 EV still fits.
    std::vector<std::uint8_t> mosaic;
    mosaic.reserve(std::size_t(w) * h * 2);
    const double gain = 0.5 * std::exp2(shot.ev) * 65535;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = wavePattern(x, y);
            const int channel = (y % 2) + (x % 2); // R G / G B
            const int code = channel == 0 ? c.r : channel == 1 ? c.g : c.b;
            const auto v = std::uint16_t(std::min(65535.0, std::round(toLinear(code) * gain)));
            mosaic.insert(mosaic.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
        }

    Directory exifDir;
    exifDir.rationals(33434, 5, {0}); // exiftool writes the time below
    exifDir.text(36867, shot.date);
    auto mainDir = [&](std::uint32_t exifAt, std::uint32_t dataAt) {
        Directory d;
        d.longs(254, {0});
        d.longs(256, {std::uint32_t(w)});
        d.longs(257, {std::uint32_t(h)});
        d.shorts(258, {16});
        d.shorts(259, {1});
        d.shorts(262, {32803}); // a colour filter array
        d.text(271, "Moirevance");
        d.text(272, "Test Mosaic");
        d.longs(273, {dataAt});
        d.shorts(277, {1});
        d.longs(278, {std::uint32_t(h)});
        d.longs(279, {std::uint32_t(mosaic.size())});
        d.shorts(284, {1});
        d.shorts(33421, {2, 2});
        d.bytes(33422, {0, 1, 1, 2});
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
    // Header, main directory, EXIF directory, mosaic: the directories'
    // sizes do not depend on the offsets they hold.
    const std::uint32_t mainAt = 8;
    const std::uint32_t exifAt = mainAt + std::uint32_t(mainDir(0, 0).bytesAt(mainAt).size());
    const std::uint32_t dataAt = exifAt + std::uint32_t(exifDir.bytesAt(exifAt).size());

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const char header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    out.write(header, 8);
    for (const auto& part : {mainDir(exifAt, dataAt).bytesAt(mainAt), exifDir.bytesAt(exifAt), mosaic})
        out.write(reinterpret_cast<const char*>(part.data()), std::streamsize(part.size()));
    out.close();
    exif(path, "-ExposureTime=" + shot.exposureTime + " -FNumber=8 -ISO=100");
}

} // namespace mvtest
