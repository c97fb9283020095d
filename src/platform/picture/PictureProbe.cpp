#include "platform/picture/PictureProbe.h"

#include "platform/picture/PictureImpl.h"
#include "platform/picture/RawFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips8>

namespace mv {
namespace {

using Bytes = const std::uint8_t*;

// A read-only view of a whole file.
class MappedFile {
public:
    explicit MappedFile(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = static_cast<Bytes>(p);
                size_ = static_cast<std::size_t>(st.st_size);
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (data_)
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    Bytes data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    Bytes data_ = nullptr;
    std::size_t size_ = 0;
};

// Walks the markers to the end-of-image marker. Usually the file simply
// ends with it; the walk is for files with data appended after it.
bool jpegComplete(Bytes p, std::size_t n)
{
    if (n >= 4 && p[n - 2] == 0xFF && p[n - 1] == 0xD9)
        return true;
    std::size_t pos = 2;
    while (pos + 1 < n) {
        if (p[pos] != 0xFF)
            return false;
        while (pos + 1 < n && p[pos + 1] == 0xFF) // fill bytes
            ++pos;
        if (pos + 1 >= n)
            return false;
        const std::uint8_t marker = p[pos + 1];
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (pos + 3 >= n)
            return false;
        pos += 2 + ((std::size_t(p[pos + 2]) << 8) | p[pos + 3]);
        if (marker == 0xDA) {
            // Entropy-coded data: a marker is 0xFF followed by anything but
            // a stuffed zero or a restart marker.
            while (pos + 1 < n && !(p[pos] == 0xFF && p[pos + 1] != 0 && (p[pos + 1] < 0xD0 || p[pos + 1] > 0xD7)))
                ++pos;
        }
    }
    return false;
}

std::uint32_t be32(Bytes p) { return (std::uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool pngComplete(Bytes p, std::size_t n)
{
    static const std::uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (n >= 20 && std::memcmp(p + n - 12, iend, 12) == 0)
        return true;
    std::size_t pos = 8;
    while (pos + 8 <= n) {
        const std::uint64_t length = be32(p + pos);
        if (std::memcmp(p + pos + 4, "IEND", 4) == 0)
            return true;
        pos += 12 + length;
    }
    return false;
}

// Classic TIFF: the strips or tiles of the first directory must lie inside
// the file. Anything this reader does not follow (BigTIFF, odd tag types)
// is left to the decoder.
bool tiffComplete(Bytes p, std::size_t n)
{
    if (n < 8)
        return false;
    const bool little = p[0] == 'I';
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? p[at] | (p[at + 1] << 8) : (p[at] << 8) | p[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? std::uint32_t(p[at]) | (p[at + 1] << 8) | (p[at + 2] << 16) | (std::uint32_t(p[at + 3]) << 24)
                      : be32(p + at);
    };
    if (u16(2) != 42)
        return true;
    const std::size_t ifd = u32(4);
    if (ifd + 2 > n)
        return false;
    const std::uint32_t entries = u16(ifd);
    if (ifd + 2 + std::size_t(entries) * 12 > n)
        return false;

    struct Array {
        std::uint32_t type = 0, count = 0;
        std::size_t at = 0; // where the values are
    };
    Array offsets, counts;
    for (std::uint32_t e = 0; e < entries; ++e) {
        const std::size_t entry = ifd + 2 + std::size_t(e) * 12;
        const std::uint32_t tag = u16(entry);
        Array a{u16(entry + 2), u32(entry + 4), 0};
        static const std::uint8_t typeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        const std::size_t bytes = std::size_t(a.count) * (a.type < sizeof typeSize ? typeSize[a.type] : 8);
        a.at = bytes <= 4 ? entry + 8 : u32(entry + 8);
        if (a.at + bytes > n)
            return false;
        if (tag == 273 || tag == 324)
            offsets = a;
        else if (tag == 279 || tag == 325)
            counts = a;
    }
    auto valid = [](const Array& a) { return a.type == 3 || a.type == 4; };
    if (!valid(offsets) || !valid(counts) || offsets.count != counts.count)
        return true;
    auto value = [&](const Array& a, std::uint32_t k) -> std::uint64_t {
        return a.type == 3 ? u16(a.at + 2 * std::size_t(k)) : u32(a.at + 4 * std::size_t(k));
    };
    for (std::uint32_t k = 0; k < offsets.count; ++k)
        if (value(offsets, k) + value(counts, k) > n)
            return false;
    return true;
}

} // namespace

std::optional<PictureHeader> probePicture(const std::string& path)
{
    if (hasRawExtension(path))
        return probeRaw(path);

    PictureHeader header;
    try {
        // Opening reads the header only; the pixels stay on disk.
        vips::VImage img = openPictureHeader(path, false);
        header.width = img.width();
        header.height = img.height();
        header.deep = img.format() == VIPS_FORMAT_USHORT;
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }

    if (!pictureFileComplete(path))
        return std::nullopt;
    return header;
}

bool pictureFileComplete(const std::string& path)
{
    const MappedFile file(path);
    if (!file.data())
        return false;
    const Bytes p = file.data();
    const std::size_t n = file.size();
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return jpegComplete(p, n);
    if (n >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0)
        return pngComplete(p, n);
    if (n >= 4 && (std::memcmp(p, "II*\0", 4) == 0 || std::memcmp(p, "MM\0*", 4) == 0))
        return tiffComplete(p, n);
    return true;
}

} // namespace mv
