#include "platform/Metadata.h"

#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace mv {

CaptureDate readCaptureDate(const std::string& path)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });

    CaptureDate result;
    try {
        auto image = Exiv2::ImageFactory::open(path);
        if (!image.get())
            return result;
        image->readMetadata();
        result.opened = true;
        const Exiv2::ExifData& exif = image->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        if (it != exif.end() && it->count() > 0) {
            std::string text = it->toString();
            while (!text.empty() && (text.back() == '\0' || text.back() == ' '))
                text.pop_back();
            if (!text.empty())
                result.text = text;
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

} // namespace mv
