#include "platform/picture/PngFile.h"

#include <cerrno>
#include <cstring>
#include <vips/vips8>

#include "platform/system/AtomicFile.h"

namespace mv {

namespace {

bool fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

bool opaque(const RgbaBitmap& bitmap, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i)
        if (bitmap.pixels[i * 4 + 3] != 255)
            return false;
    return true;
}

} // namespace

bool writePng(const RgbaBitmap& bitmap, const std::string& path, std::string* error, bool replace)
{
    if (!pictureSizeAllowed(bitmap.width, bitmap.height) || !bitmap.pixels.data())
        return fail(error, "The picture is empty.");
    const std::size_t pixels = std::size_t(bitmap.width) * std::size_t(bitmap.height);
    if (bitmap.pixels.size() < pixels * 4)
        return fail(error, "The picture is incomplete.");

    std::string bytes;
    try {
        vips::VImage image = vips::VImage::new_from_memory(const_cast<std::uint8_t*>(bitmap.pixels.data()),
                                                           pixels * 4, bitmap.width, bitmap.height, 4,
                                                           VIPS_FORMAT_UCHAR);
        // An alpha channel that is opaque everywhere only makes the file larger.
        if (opaque(bitmap, pixels))
            image = image.extract_band(0, vips::VImage::option()->set("n", 3));
        image = image.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        VipsBlob* blob = image.pngsave_buffer();
        std::size_t size = 0;
        const void* data = vips_blob_get(blob, &size);
        bytes.assign(static_cast<const char*>(data), size);
        vips_area_unref(VIPS_AREA(blob));
    } catch (const vips::VError& e) {
        vips_error_clear();
        return fail(error, std::string("The picture could not be encoded as PNG: ") + e.what());
    }

    AtomicFile file;
    if (!file.open(path) || !file.write(bytes) || !file.commit(replace))
        return fail(error, path + " cannot be written: " + std::strerror(errno));
    return true;
}

} // namespace mv
