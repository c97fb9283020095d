#include "platform/picture/Metadata.h"

#include <cmath>
#include <cstdint>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace mv {
namespace {

void muteExiv2()
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

std::optional<std::string> trimmedText(const Exiv2::ExifData& exif, const char* key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0)
        return std::nullopt;
    std::string text = it->toString();
    while (!text.empty() && (text.back() == '\0' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return text;
}

bool hasGroup(const Exiv2::ExifData& exif, const char* group)
{
    for (const auto& datum : exif)
        if (datum.groupName() == group)
            return true;
    return false;
}

// Degrees, minutes and seconds as up to three rationals. They are summed as
// one exact fraction and divided once, so that the result is the double
// nearest the position, as if it had been written as a decimal number: 151
// 11' 60" gives 151.2 itself, not a neighbour of it.
std::optional<double> decimalDegrees(const Exiv2::ExifData& exif, const char* key, double limit)
{
    using Wide = unsigned __int128;
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end() || it->count() == 0)
        return std::nullopt;
    const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&it->value());
    const std::uint32_t scale[3] = {1, 60, 3600};
    Wide num = 0, den = 1;
    for (long k = 0; k < std::min<long>(it->count(), 3); ++k) {
        std::uint64_t n, d;
        if (unsignedValue) {
            n = unsignedValue->value_.at(k).first;
            d = unsignedValue->value_.at(k).second;
        } else {
            const Exiv2::Rational r = it->toRational(k);
            if (r.first < 0 || r.second < 0)
                return std::nullopt;
            n = static_cast<std::uint64_t>(r.first);
            d = static_cast<std::uint64_t>(r.second);
        }
        if (d == 0)
            return std::nullopt;
        const Wide part = Wide(d) * scale[k];
        num = num * part + Wide(n) * den;
        den *= part;
        Wide a = num, b = den; // reduce, so that the next step cannot overflow
        while (b != 0) {
            const Wide t = a % b;
            a = b;
            b = t;
        }
        if (a > 1) {
            num /= a;
            den /= a;
        }
    }
    constexpr Wide exact = Wide(1) << 53;
    const double value = num < exact && den < exact
                             ? double(std::uint64_t(num)) / double(std::uint64_t(den))
                             : static_cast<double>(static_cast<long double>(num) / static_cast<long double>(den));
    if (!std::isfinite(value) || value > limit)
        return std::nullopt;
    return value;
}

// A positive number from the tag the library finds for a camera setting
// (the EXIF tag, else the maker's own).
std::optional<double> positive(const Exiv2::ExifData& exif, Exiv2::ExifData::const_iterator it)
{
    if (it == exif.end() || it->count() == 0)
        return std::nullopt;
    const Exiv2::Rational r = it->toRational(0);
    if (r.first <= 0 || r.second <= 0)
        return std::nullopt;
    return double(r.first) / double(r.second);
}

} // namespace

CaptureDate readCaptureDate(const std::string& path)
{
    const ImageMetadata m = readImageMetadata(path);
    return CaptureDate{m.opened, m.captureDate};
}

ImageMetadata readImageMetadata(const std::string& path)
{
    muteExiv2();
    ImageMetadata result;
    try {
        auto image = Exiv2::ImageFactory::open(path);
        if (!image.get())
            return result;
        image->readMetadata();
        result.opened = true;
        const Exiv2::ExifData& exif = image->exifData();
        result.hasExif = hasGroup(exif, "Photo");
        result.captureDate = trimmedText(exif, "Exif.Photo.DateTimeOriginal");
        result.exposureTime = positive(exif, Exiv2::exposureTime(exif));
        result.fNumber = positive(exif, Exiv2::fNumber(exif));
        result.isoSpeed = positive(exif, Exiv2::isoSpeed(exif));
        result.hasGPS = hasGroup(exif, "GPSInfo");
        if (result.hasGPS) {
            result.latitude = decimalDegrees(exif, "Exif.GPSInfo.GPSLatitude", 90.0);
            result.longitude = decimalDegrees(exif, "Exif.GPSInfo.GPSLongitude", 180.0);
            result.latitudeRef = trimmedText(exif, "Exif.GPSInfo.GPSLatitudeRef").value_or("");
            result.longitudeRef = trimmedText(exif, "Exif.GPSInfo.GPSLongitudeRef").value_or("");
        }
    } catch (const Exiv2::AnyError&) {
    } catch (const std::exception&) {
    }
    return result;
}

timespec fileCreationTime(const std::string& path)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
        const auto& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
        return timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)};
    }
    return timespec{0, 0};
}

std::optional<time_t> fileSystemDate(const std::string& path)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0)
        return std::nullopt;
    if (sx.stx_mask & STATX_BTIME)
        return static_cast<time_t>(sx.stx_btime.tv_sec);
    if (sx.stx_mask & STATX_MTIME)
        return static_cast<time_t>(sx.stx_mtime.tv_sec);
    return std::nullopt;
}

} // namespace mv
