#include "platform/Picture.h"

#include <cmath>
#include <cstring>
#include <libraw/libraw.h>
#include <vips/vips8>

namespace mv {

using vips::VImage;

struct Picture::Impl {
    VImage image;
    // Kept while the picture is exactly what was loaded from a JPEG file, so
    // that scaled() can let the decoder shrink it.
    std::string jpegPath;
};

namespace {

bool hasRawExtension(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string ext = path.substr(dot + 1);
    return ext == "CR2" || ext == "cr2" || ext == "NEF" || ext == "nef";
}

vips::VOption* loadOptions()
{
    // A truncated file must fail rather than fill its missing part with grey.
    return VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
}

// Every picture becomes 8-bit sRGB without alpha, whatever it was stored as.
VImage normalized(VImage in)
{
    if (in.interpretation() != VIPS_INTERPRETATION_sRGB || in.format() != VIPS_FORMAT_UCHAR)
        in = in.colourspace(VIPS_INTERPRETATION_sRGB);
    if (in.bands() == 2 || in.bands() == 4)
        in = in.flatten(VImage::option()->set("background", std::vector<double>{0.0}));
    if (in.bands() == 1)
        in = in.bandjoin({in, in});
    if (in.bands() > 3)
        in = in.extract_band(0, VImage::option()->set("n", 3));
    if (in.format() != VIPS_FORMAT_UCHAR)
        in = in.cast(VIPS_FORMAT_UCHAR);
    return in;
}

std::optional<VImage> loadRaw(const std::string& path, std::string* error)
{
    auto raw = std::make_unique<LibRaw>();
    raw->imgdata.params.output_bps = 8;
    raw->imgdata.params.use_camera_wb = 1;
    int rc = raw->open_file(path.c_str());
    if (rc == LIBRAW_SUCCESS)
        rc = raw->unpack();
    if (rc == LIBRAW_SUCCESS)
        rc = raw->dcraw_process();
    libraw_processed_image_t* mem = rc == LIBRAW_SUCCESS ? raw->dcraw_make_mem_image(&rc) : nullptr;
    if (!mem || mem->type != LIBRAW_IMAGE_BITMAP || mem->bits != 8 || (mem->colors != 3 && mem->colors != 1)) {
        if (error)
            *error = std::string("raw decoding failed: ") + libraw_strerror(rc);
        if (mem)
            LibRaw::dcraw_clear_mem(mem);
        return std::nullopt;
    }
    VImage img = VImage::new_from_memory(mem->data, mem->data_size, mem->width, mem->height, mem->colors,
                                         VIPS_FORMAT_UCHAR)
                     .copy_memory();
    LibRaw::dcraw_clear_mem(mem);
    return img;
}

} // namespace

void initImageLibrary(const char* argv0)
{
    if (VIPS_INIT(argv0 ? argv0 : "moirevance") != 0)
        vips_error_exit("unable to start the image library");
    // Each image is used once; caching operations would only let memory
    // grow with the length of the list.
    vips_cache_set_max(0);
}

Picture::Picture(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

std::optional<Picture> Picture::open(const std::string& path, std::string* error)
{
    try {
        auto impl = std::make_shared<Impl>();
        if (hasRawExtension(path)) {
            auto raw = loadRaw(path, error);
            if (!raw)
                return std::nullopt;
            impl->image = normalized(*raw);
        } else {
            VImage img = VImage::new_from_file(path.c_str(), loadOptions());
            if (vips_image_get_typeof(img.get_image(), "vips-loader") &&
                std::strncmp(img.get_string("vips-loader"), "jpegload", 8) == 0)
                impl->jpegPath = path;
            impl->image = normalized(img);
        }
        return Picture(std::move(impl));
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return std::nullopt;
    }
}

int Picture::width() const { return impl_->image.width(); }
int Picture::height() const { return impl_->image.height(); }

Picture Picture::scaled(double scale, double aspect) const
{
    const int w0 = width(), h0 = height();
    const int targetW = std::max(1, static_cast<int>(std::lround(w0 * scale * aspect)));
    const int targetH = std::max(1, static_cast<int>(std::lround(h0 * scale)));
    if (targetW == w0 && targetH == h0)
        return *this;

    VImage img = impl_->image;
    if (!impl_->jpegPath.empty()) {
        // Let the JPEG decoder halve the picture while at least a factor of
        // two remains; Lanczos does the rest.
        const double reduction = 1.0 / std::max(scale, scale * aspect);
        int shrink = 1;
        while (shrink < 8 && reduction / shrink >= 2.0)
            shrink *= 2;
        if (shrink > 1) {
            try {
                img = normalized(VImage::jpegload(impl_->jpegPath.c_str(), loadOptions()->set("shrink", shrink)));
            } catch (const vips::VError&) {
                vips_error_clear();
                img = impl_->image;
            }
        }
    }
    auto impl = std::make_shared<Impl>();
    if (img.width() != targetW || img.height() != targetH) {
        const double hscale = double(targetW) / img.width();
        const double vscale = double(targetH) / img.height();
        img = img.resize(hscale, VImage::option()
                                     ->set("vscale", vscale)
                                     ->set("kernel", VIPS_KERNEL_LANCZOS3)
                                     ->set("gap", 0.0));
        // Rounding inside the resize may leave a pixel over or short.
        if (img.width() != targetW || img.height() != targetH)
            img = img.embed(0, 0, targetW, targetH, VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    impl->image = img;
    return Picture(std::move(impl));
}

Picture Picture::cropped(int x, int y, int w, int h) const
{
    auto impl = std::make_shared<Impl>();
    const int top = height() - y - h; // y-up to y-down
    impl->image = impl_->image.embed(-x, -top, std::max(1, w), std::max(1, h),
                                     VImage::option()->set("extend", VIPS_EXTEND_BLACK));
    return Picture(std::move(impl));
}

bool Picture::render(RgbaBitmap& out, std::string* error) const
{
    try {
        VImage rgba = impl_->image.bandjoin_const({255.0});
        std::size_t size = 0;
        void* data = rgba.write_to_memory(&size);
        out.width = rgba.width();
        out.height = rgba.height();
        out.pixels.resize(size);
        std::memcpy(out.pixels.data(), data, size);
        g_free(data);
        return size == std::size_t(out.width) * out.height * 4;
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return false;
    }
}

} // namespace mv
