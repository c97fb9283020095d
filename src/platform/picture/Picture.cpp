#include "platform/picture/Picture.h"

#include "platform/picture/JpegRows.h"
#include "platform/picture/LanczosScaler.h"
#include "platform/picture/PictureImpl.h"
#include "platform/picture/PictureProbe.h"
#include "platform/picture/RawFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <malloc.h>
#include <vector>
#include <vips/vips8>

namespace mv {

using vips::VImage;

namespace {

// A scale only decides which part of the picture is decoded and how it is
// resampled, so a keyframe zoom may make the scaled picture far larger than
// memory; only the cut is ever made. Beyond this the zoom stops.
constexpr int kMaxScaledSide = 1 << 22;
// What is rendered whole: a cut, or a picture scaled without a cut.
constexpr std::int64_t kMaxRenderedPixels = std::int64_t(1) << 28;

vips::VOption* loadOptions(bool jpeg)
{
    // A truncated file must fail rather than fill its missing part with
    // grey. A JPEG whose scan ends early (a marker in the middle of its data)
    // only warns, and gets the same grey: its warnings fail too.
    return VImage::option()
        ->set("access", VIPS_ACCESS_SEQUENTIAL)
        ->set("fail_on", jpeg ? VIPS_FAIL_ON_WARNING : VIPS_FAIL_ON_TRUNCATED);
}

// Every picture becomes 8-bit sRGB without alpha, whatever it was stored as.
VImage normalized(VImage in)
{
    if (in.interpretation() != VIPS_INTERPRETATION_sRGB || in.format() != VIPS_FORMAT_UCHAR)
        in = in.colourspace(VIPS_INTERPRETATION_sRGB);
    if (in.bands() == 2 || in.bands() == 4)
        in = in.flatten(VImage::option()->set("background", std::vector<double>{0.0}));
    if (in.bands() == 1)
        in = VImage::bandjoin({in, in, in});
    if (in.bands() > 3)
        in = in.extract_band(0, VImage::option()->set("n", 3));
    if (in.format() != VIPS_FORMAT_UCHAR)
        in = in.cast(VIPS_FORMAT_UCHAR);
    return in;
}

// A picture of 16 bits a channel kept at that depth: 16-bit sRGB without
// alpha.
VImage deepNormalized(VImage in)
{
    in = in.colourspace(VIPS_INTERPRETATION_RGB16);
    if (in.bands() == 2 || in.bands() == 4)
        in = in.flatten(VImage::option()->set("background", std::vector<double>{0.0}));
    if (in.bands() > 3)
        in = in.extract_band(0, VImage::option()->set("n", 3));
    if (in.format() != VIPS_FORMAT_USHORT)
        in = in.cast(VIPS_FORMAT_USHORT);
    return in.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
}

// A mask's value is its green times its alpha, in linear light. An opaque
// grey whose sRGB level encodes that value goes through scaling and cutting
// like any picture, and the blend reads it back from the green.
VImage maskNormalized(VImage in)
{
    if (in.interpretation() != VIPS_INTERPRETATION_sRGB || in.format() != VIPS_FORMAT_UCHAR)
        in = in.colourspace(VIPS_INTERPRETATION_sRGB);
    if (in.bands() != 2 && in.bands() != 4)
        return normalized(in);
    const VImage green = in.extract_band(in.bands() == 4 ? 1 : 0).cast(VIPS_FORMAT_UCHAR);
    const VImage alpha = in.extract_band(in.bands() - 1).cast(VIPS_FORMAT_FLOAT).linear(1.0 / 255.0, 0.0);
    const VImage linear = VImage::bandjoin({green, green, green})
                              .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                              .colourspace(VIPS_INTERPRETATION_scRGB);
    return normalized((linear * alpha).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB)));
}

constexpr int kThumbnailSide = 64; // of the decoding check

VImage embedded(const VImage& img, int left, int top, int w, int h)
{
    return img.embed(-left, -top, std::max(1, w), std::max(1, h), VImage::option()->set("extend", VIPS_EXTEND_BLACK));
}

} // namespace

// Far into a picture the filter's reach around the window, scaled, would be
// larger than the window itself: the window is resampled directly from the
// few source pixels under it (x0, y0 is their place in the whole source),
// bicubic, which at such a zoom looks the same as Lanczos.
static bool zoomWindow(const VImage& region, double fx, double fy, int x0, int y0, int left, int top, int ww, int wh,
                       std::uint8_t* dst, int dstStride)
{
    // Pixel centres: output X + 0.5 = fx * (source x + 0.5).
    const VImage window = region.affine({fx, 0, 0, fy}, VImage::option()
                                                            ->set("interpolate", vips::VInterpolate::new_from_name("bicubic"))
                                                            ->set("idx", x0 + 0.5)
                                                            ->set("idy", y0 + 0.5)
                                                            ->set("odx", -0.5)
                                                            ->set("ody", -0.5)
                                                            ->set("extend", VIPS_EXTEND_COPY)
                                                            ->set("oarea", std::vector<int>{left, top, ww, wh}))
                              .cast(VIPS_FORMAT_UCHAR)
                              .bandjoin_const({255.0});
    std::size_t size = 0;
    void* pixels = window.write_to_memory(&size);
    const std::size_t row = std::size_t(ww) * 4;
    const bool ok = size == row * wh;
    for (int y = 0; ok && y < wh; ++y)
        std::memcpy(dst + std::size_t(y) * dstStride, static_cast<const std::uint8_t*>(pixels) + y * row, row);
    g_free(pixels);
    return ok;
}

// Decodes the source and scales it to w x h; the window (left, top, ww, wh)
// of the result, which must lie inside it, goes to dst as packed RGBA.
static bool scaleSource(const VImage& source, int w, int h, int left, int top, int ww, int wh, std::uint8_t* dst,
                        int dstStride)
{
    VImage src = source;
    int dw = w, dh = h, dl = left, dt = top;
    if (double(w) * h > 2.0 * double(ww) * wh) {
        // A zoom: only the part of the source under the window, with the
        // reach of the filter around it, is decoded and scaled. Its scaled
        // size is rounded to whole pixels, which may move the picture by
        // less than half a pixel.
        auto span = [](int size, int scaled, int from, int n, int& s0, int& s1, int& d0, int& dn) {
            const double f = double(scaled) / size;
            const double reach = 3.0 * std::max(1.0, 1.0 / f) + 1.0;
            s0 = std::clamp(static_cast<int>(std::floor((from + 0.5) / f - 0.5 - reach)), 0, size - 1);
            s1 = std::clamp(static_cast<int>(std::ceil((from + n - 0.5) / f - 0.5 + reach)) + 1, s0 + 1, size);
            d0 = std::min(from, static_cast<int>(std::lround(s0 * f)));
            dn = std::max(static_cast<int>(std::lround(s1 * f)) - d0, from + n - d0);
        };
        int x0, x1, y0, y1, dx, dy;
        span(source.width(), w, left, ww, x0, x1, dx, dw);
        span(source.height(), h, top, wh, y0, y1, dy, dh);
        const double fx = double(w) / source.width(), fy = double(h) / source.height();
        if (fx > 4 || fy > 4)
            return zoomWindow(source.extract_area(x0, y0, x1 - x0, y1 - y0).copy_memory(), fx, fy, x0, y0, left, top,
                              ww, wh, dst, dstStride);
        if (x0 > 0 || y0 > 0 || x1 < source.width() || y1 < source.height())
            src = source.extract_area(x0, y0, x1 - x0, y1 - y0);
        else
            dw = w, dh = h, dx = dy = 0;
        dl = left - dx;
        dt = top - dy;
    }
    // The scaler takes strips only while its filter stays short (it fails
    // beyond a reduction of about 20): a larger reduction starts with a box
    // shrink by a whole factor, leaving 8 to 16 for Lanczos.
    const double reduceX = double(src.width()) / dw, reduceY = double(src.height()) / dh;
    const int boxX = reduceX > 16 ? static_cast<int>(reduceX / 8) : 1;
    const int boxY = reduceY > 16 ? static_cast<int>(reduceY / 8) : 1;
    if (boxX > 1 || boxY > 1)
        src = src.shrink(boxX, boxY);
    LanczosScaler scaler;
    if (!scaler.start(src.width(), src.height(), dw, dh, dl, dt, ww, wh))
        return false;
    // The decoder hands over strips top to bottom; the picture is never
    // held whole.
    struct Feed {
        LanczosScaler* scaler;
        int width, nextRow;
        bool ok;
    } feed{&scaler, src.width(), 0, true};
    auto write = [](VipsRegion* region, VipsRect* area, void* a) -> int {
        auto* f = static_cast<Feed*>(a);
        // Whole rows, in order, are what the scaler can take.
        f->ok = f->ok && area->left == 0 && area->width == f->width && area->top == f->nextRow;
        f->nextRow += area->height;
        f->ok = f->ok && f->scaler->addRows(static_cast<const std::uint8_t*>(static_cast<void*>(
                                                VIPS_REGION_ADDR(region, area->left, area->top))),
                                            static_cast<int>(VIPS_REGION_LSKIP(region)), area->height);
        return f->ok ? 0 : -1;
    };
    if (vips_sink_disc(src.get_image(), write, &feed) != 0) {
        vips_error_clear();
        return false;
    }
    return feed.ok && scaler.finish(dst, dstStride);
}

// An 8-bit RGB image of its own memory with the bitmap's pixels.
static VImage imageOf(const RgbaBitmap& bitmap)
{
    return VImage::new_from_memory(const_cast<std::uint8_t*>(bitmap.pixels.data()), bitmap.pixels.size(),
                                   bitmap.width, bitmap.height, 4, VIPS_FORMAT_UCHAR)
        .extract_band(0, VImage::option()->set("n", 3))
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .copy_memory();
}

// The JPEG decoded at eighths/8 and scaled to w x h, of which the window
// goes to dst as packed RGBA. Nothing when this way does not suit the
// picture (a zoom, a CMYK file): the image library's way then does it.
static std::optional<bool> scaleJpeg(const std::string& path, int jpegW, int jpegH, int eighths, int w, int h,
                                     int left, int top, int ww, int wh, std::uint8_t* dst, int dstStride)
{
    const int sw = jpegScaledSide(jpegW, eighths), sh = jpegScaledSide(jpegH, eighths);
    if (double(w) * h > 2.0 * double(ww) * wh || sw > 16 * w || sh > 16 * h)
        return std::nullopt;
    LanczosScaler scaler;
    if (!scaler.start(sw, sh, w, h, left, top, ww, wh))
        return false;
    // The rows below the window's reach are not decoded at all.
    bool fed = true;
    const JpegRowsResult result = decodeJpegRows(path, eighths, [&](const std::uint8_t* rows, int stride, int n) {
        fed = scaler.addRows(rows, stride, n);
        return fed ? scaler.rowsWanted() : 0;
    });
    if (result == JpegRowsResult::Unsuited)
        return std::nullopt;
    return result == JpegRowsResult::Ok && fed && scaler.finish(dst, dstStride);
}

// The same from the JPEG's Y'CbCr planes, scaled as 4:2:0 (see
// renderYuv420): false when this way does not suit the picture.
template <typename Finish>
static bool scaleJpegYuv(const std::string& path, int jpegW, int jpegH, int eighths, int w, int h, int left,
                         int top, int ww, int wh, bool fullChroma, Finish finish)
{
    const int sw = jpegScaledSide(jpegW, eighths), sh = jpegScaledSide(jpegH, eighths);
    if (double(w) * h > 2.0 * double(ww) * wh || sw > 16 * w || sh > 16 * h)
        return false;
    LanczosScaler scaler;
    bool fed = true;
    const JpegRowsResult result = decodeJpegPlanes(
        path, eighths,
        [&](const JpegPlanes& p) {
            return p.width == sw && p.height == sh &&
                   scaler.startYuv(p.chromaShiftX, p.chromaShiftY, sw, sh, w, h, left, top, ww, wh, fullChroma);
        },
        [&](const std::uint8_t* const* planes, const int* strides, int n) {
            fed = scaler.addPlanes(planes, strides, n);
            return fed ? scaler.rowsWanted() : 0;
        });
    return result == JpegRowsResult::Ok && fed && finish(scaler);
}

// The deep picture scaled to scaledW x scaledH and cut, computed only where
// the cut needs it, black outside the scaled picture. Reduced by the image
// library's Lanczos; enlarged (a zoom) bicubic from the source pixels under
// the cut only, so that however far a keyframe zooms, only those are read.
VImage Picture::Impl::deepWindow() const
{
    const int w = width(), h = height();
    const int left = pendingCrop ? cropLeft : 0, top = pendingCrop ? cropTop : 0;
    const int x0 = std::max(0, left), x1 = std::min(scaledW, left + w);
    const int y0 = std::max(0, top), y1 = std::min(scaledH, top + h);
    const auto rgb16 = VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16);
    if (x0 >= x1 || y0 >= y1)
        return VImage::black(w, h, VImage::option()->set("bands", 3)).cast(VIPS_FORMAT_USHORT).copy(rgb16);
    const double fx = double(scaledW) / image.width(), fy = double(scaledH) / image.height();
    VImage part;
    if (fx <= 1 && fy <= 1) {
        part = image
                   .resize(fx, VImage::option()->set("vscale", fy)->set("kernel", VIPS_KERNEL_LANCZOS3)->set("gap", 0.0))
                   .embed(0, 0, scaledW, scaledH, VImage::option()->set("extend", VIPS_EXTEND_COPY))
                   .extract_area(x0, y0, x1 - x0, y1 - y0);
    } else {
        // Pixel centres: output X + 0.5 = fx * (source x + 0.5); the
        // interpolator reaches two pixels on either side.
        auto span = [](int from, int to, double f, int size, int& s0, int& s1) {
            s0 = std::clamp(static_cast<int>(std::floor((from + 0.5) / f - 0.5)) - 2, 0, size - 1);
            s1 = std::clamp(static_cast<int>(std::ceil((to - 0.5) / f - 0.5)) + 3, s0 + 1, size);
        };
        int sx0, sx1, sy0, sy1;
        span(x0, x1, fx, image.width(), sx0, sx1);
        span(y0, y1, fy, image.height(), sy0, sy1);
        part = image.extract_area(sx0, sy0, sx1 - sx0, sy1 - sy0)
                   .copy_memory()
                   .affine({fx, 0, 0, fy}, VImage::option()
                                               ->set("interpolate", vips::VInterpolate::new_from_name("bicubic"))
                                               ->set("idx", sx0 + 0.5)
                                               ->set("idy", sy0 + 0.5)
                                               ->set("odx", -0.5)
                                               ->set("ody", -0.5)
                                               ->set("extend", VIPS_EXTEND_COPY)
                                               ->set("oarea", std::vector<int>{x0, y0, x1 - x0, y1 - y0}));
    }
    if (part.format() != VIPS_FORMAT_USHORT)
        part = part.cast(VIPS_FORMAT_USHORT);
    if (x1 - x0 != w || y1 - y0 != h)
        part = part.embed(x0 - left, y0 - top, w, h, VImage::option()->set("extend", VIPS_EXTEND_BLACK));
    return part.copy(rgb16);
}

VImage Picture::Impl::materialized() const
{
    if (bitmap)
        return imageOf(*bitmap);
    if (deep && pendingScale)
        return deepWindow();
    if (!pendingScale)
        return pendingCrop ? embedded(image, cropLeft, cropTop, cropW, cropH) : image;
    RgbaBitmap scaled;
    if (!renderPending(scaled))
        throw vips::VError("the picture could not be scaled");
    return imageOf(scaled);
}

bool Picture::Impl::renderPending(RgbaBitmap& out) const
{
    if (!renderScaled(out))
        return false;
    if (pendingPass)
        runPixelPass(*pendingPass, out);
    return true;
}

bool Picture::Impl::renderScaled(RgbaBitmap& out) const
{
    const int w = width(), h = height();
    const int left = pendingCrop ? cropLeft : 0, top = pendingCrop ? cropTop : 0;
    if (std::int64_t(w) * h > kMaxRenderedPixels)
        return false;
    out.width = w;
    out.height = h;
    out.pixels.resizeForOverwrite(std::size_t(w) * h * 4);
    // The part of the cut that the scaled picture covers; black around it.
    const int x0 = std::max(0, left), x1 = std::min(scaledW, left + w);
    const int y0 = std::max(0, top), y1 = std::min(scaledH, top + h);
    if (x0 != left || y0 != top || x1 != left + w || y1 != top + h) {
        // One opaque black row, copied down.
        std::uint8_t* dst = out.pixels.data();
        const std::size_t row = std::size_t(w) * 4;
        for (std::size_t i = 0; i < row; i += 4) {
            dst[i] = dst[i + 1] = dst[i + 2] = 0;
            dst[i + 3] = 255;
        }
        for (int y = 1; y < h; ++y)
            std::memcpy(dst + y * row, dst, row);
    }
    if (x0 >= x1 || y0 >= y1)
        return true;
    std::uint8_t* dst = out.pixels.data() + (std::size_t(y0 - top) * w + (x0 - left)) * 4;
    if (!directJpeg.empty()) {
        const std::optional<bool> done =
            scaleJpeg(directJpeg, jpegW, jpegH, jpegEighths, scaledW, scaledH, x0, y0, x1 - x0, y1 - y0, dst, w * 4);
        if (done)
            return *done;
    }
    return scaleSource(image, scaledW, scaledH, x0, y0, x1 - x0, y1 - y0, dst, w * 4);
}

void initImageLibrary(const char* argv0)
{
    // The image library loads its optional modules as it starts (ImageMagick,
    // poppler, OpenSlide, libheif, libjxl and their libraries): 20 ms before
    // anything else can run, and parsers of many formats in the process,
    // where only its own JPEG, PNG and TIFF loaders are ever asked. It looks
    // for them under VIPSHOME, so that points nowhere while it starts; its
    // messages' translations are bound back to where they were.
    const bool withoutModules = !std::getenv("VIPSHOME");
    const std::string messages = "vips" + std::to_string(VIPS_MAJOR_VERSION) + "." + std::to_string(VIPS_MINOR_VERSION);
    const std::string messageDir = bindtextdomain(messages.c_str(), nullptr);
    if (withoutModules)
        setenv("VIPSHOME", "/nonexistent/moirevance", 1);
    const int started = VIPS_INIT(argv0 ? argv0 : "moirevance");
    if (withoutModules) {
        unsetenv("VIPSHOME");
        bindtextdomain(messages.c_str(), messageDir.c_str());
    }
    if (started != 0)
        vips_error_exit("unable to start the image library");
    // Each image is used once; caching operations would only let memory
    // grow with the length of the list.
    vips_cache_set_max(0);
    vips_cache_set_max_mem(0);
    vips_cache_set_max_files(0);
    // Every frame allocates and frees buffers of several megabytes on the
    // render threads, the image library's threads and the encoder's. With a
    // heap per thread, each kept the largest set it ever held; two heaps
    // shared by all keep 10 % less at 1080p, at no measurable cost in time.
    mallopt(M_ARENA_MAX, 2);
}

VImage openPictureHeader(const std::string& path, bool forDecoding)
{
    // Only the three loaders of the list's formats are asked. The image
    // library's own search would also ask loaders of vector, document and
    // scientific formats, which render a small file into any size, and some
    // of which are not safe to ask from several threads at once (the FITS
    // library sets up its lock without one).
    const char* p = path.c_str();
    const bool jpeg = vips_foreign_is_a("jpegload", p);
    const bool png = !jpeg && vips_foreign_is_a("pngload", p);
    if (!jpeg && !png && !vips_foreign_is_a("tiffload", p)) {
        vips_error_clear();
        throw vips::VError("not a TIFF, JPEG or PNG file");
    }
    vips::VOption* options = forDecoding ? loadOptions(jpeg) : VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL);
    VImage img = jpeg ? VImage::jpegload(p, options) : png ? VImage::pngload(p, options) : VImage::tiffload(p, options);
    if (!pictureSizeAllowed(img.width(), img.height()))
        throw vips::VError("picture too large");
    return img;
}

Picture::Picture(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

Picture makePicture(std::shared_ptr<Picture::Impl> impl) { return Picture(std::move(impl)); }

bool hasRawExtension(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string ext = path.substr(dot + 1);
    return ext == "CR2" || ext == "cr2" || ext == "NEF" || ext == "nef" || ext == "DNG" || ext == "dng";
}

std::optional<Picture> Picture::open(const std::string& path, std::string* error)
{
    return openPicture(path, error, false);
}

std::optional<Picture> Picture::openMask(const std::string& path, std::string* error)
{
    return openPicture(path, error, true);
}

std::optional<Picture> Picture::openForSize(const std::string& path, int w, int h, std::string* error,
                                            bool keepDepth)
{
    return openPicture(path, error, false, w, h, keepDepth);
}

std::optional<Picture> Picture::openEmbeddedPreview(const std::string& path, int w, int h)
{
    if (!hasRawExtension(path))
        return std::nullopt;
    const std::optional<VImage> preview = embeddedRawPreview(path, w, h);
    if (!preview)
        return std::nullopt;
    try {
        auto impl = std::make_shared<Impl>();
        impl->image = normalized(*preview);
        return Picture(std::move(impl));
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
}

std::optional<Picture> Picture::openPicture(const std::string& path, std::string* error, bool mask, int fitW,
                                            int fitH, bool keepDepth)
{
    try {
        auto impl = std::make_shared<Impl>();
        if (hasRawExtension(path)) {
            auto raw = developRaw(path, error, fitW, fitH, keepDepth);
            if (!raw)
                return std::nullopt;
            impl->deep = keepDepth;
            impl->image = keepDepth ? deepNormalized(*raw) : normalized(*raw);
        } else {
            // A cut file is refused before decoding: how far a decoder gets
            // into one, and whether it notices, can change from run to run.
            if (!pictureFileComplete(path)) {
                if (error)
                    *error = "the file is cut short";
                return std::nullopt;
            }
            VImage img = openPictureHeader(path, true);
            if (vips_image_get_typeof(img.get_image(), "vips-loader") &&
                std::strncmp(img.get_string("vips-loader"), "jpegload", 8) == 0)
                impl->jpegPath = path;
            impl->deep = keepDepth && !mask && img.format() == VIPS_FORMAT_USHORT;
            impl->image = impl->deep ? deepNormalized(img) : mask ? maskNormalized(img) : normalized(img);
        }
        return Picture(std::move(impl));
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return std::nullopt;
    }
}

bool Picture::decodes(const std::string& path)
{
    // A raw file at half size still passes all its data through the decoder.
    const std::optional<Picture> picture = openForSize(path, kThumbnailSide, kThumbnailSide);
    if (!picture)
        return false;
    // Scaled down to a thumbnail, every row still passes through the
    // decoder; a JPEG is decoded at an eighth of its size, which reads all
    // of its data as well.
    const double scale = std::min(1.0, double(kThumbnailSide) / std::max(picture->width(), picture->height()));
    RgbaBitmap thumbnail;
    return picture->scaled(scale).render(thumbnail);
}

int Picture::width() const { return impl_->width(); }
int Picture::height() const { return impl_->height(); }

Picture Picture::scaled(double scale, double aspect) const
{
    const int w0 = width(), h0 = height();
    // Keyframe zooms come from files too: a size no frame could have is
    // held to the largest one rather than overflowing.
    auto side = [](double v) {
        return std::isfinite(v) ? static_cast<int>(std::clamp(std::round(v), 1.0, double(kMaxScaledSide))) : 1;
    };
    const int targetW = side(w0 * scale * aspect);
    const int targetH = side(h0 * scale);
    if (targetW == w0 && targetH == h0)
        return *this;

    VImage img = impl_->materialized();
    if (impl_->deep) {
        // Scaled with the cut that follows, like a JPEG (deepWindow).
        auto impl = std::make_shared<Impl>();
        impl->deep = true;
        impl->image = img;
        impl->pendingScale = true;
        impl->scaledW = targetW;
        impl->scaledH = targetH;
        return Picture(std::move(impl));
    }
    if (impl_->linear) {
        // Only a picture of another size than the first reaches this after
        // its adjustments; the image library's own Lanczos does it.
        auto impl = std::make_shared<Impl>();
        impl->linear = true;
        impl->image = img.resize(double(targetW) / img.width(), VImage::option()
                                                                    ->set("vscale", double(targetH) / img.height())
                                                                    ->set("kernel", VIPS_KERNEL_LANCZOS3)
                                                                    ->set("gap", 0.0));
        if (impl->image.width() != targetW || impl->image.height() != targetH)
            impl->image = impl->image.embed(0, 0, targetW, targetH, VImage::option()->set("extend", VIPS_EXTEND_COPY));
        return Picture(std::move(impl));
    }
    if (!impl_->jpegPath.empty()) {
        // Let the JPEG decoder halve the picture while at least a factor of
        // two remains; Lanczos does the rest.
        const double reduction = 1.0 / std::max(scale, scale * aspect);
        int shrink = 1;
        while (shrink < 8 && reduction / shrink >= 2.0)
            shrink *= 2;
        if (shrink > 1) {
            try {
                img = normalized(VImage::jpegload(impl_->jpegPath.c_str(), loadOptions(true)->set("shrink", shrink)));
            } catch (const vips::VError&) {
                vips_error_clear();
            }
        }
    }
    auto impl = std::make_shared<Impl>();
    impl->image = img;
    if (img.width() != targetW || img.height() != targetH) {
        impl->pendingScale = true;
        impl->scaledW = targetW;
        impl->scaledH = targetH;
        if (!impl_->jpegPath.empty()) {
            impl->directJpeg = impl_->jpegPath;
            impl->jpegW = w0;
            impl->jpegH = h0;
            impl->jpegEighths = jpegEighthsCovering(w0, h0, targetW, targetH);
        }
    }
    return Picture(std::move(impl));
}

Picture Picture::cropped(int x, int y, int w, int h) const
{
    w = std::clamp(w, 1, kMaxPictureSide);
    h = std::clamp(h, 1, kMaxPictureSide);
    auto impl = std::make_shared<Impl>();
    const int top = height() - y - h; // y-up to y-down
    if (impl_->pendingScale && !impl_->pendingCrop && !impl_->pendingPass) {
        *impl = *impl_;
        impl->jpegPath.clear();
        impl->pendingCrop = true;
        impl->cropLeft = x;
        impl->cropTop = top;
        impl->cropW = std::max(1, w);
        impl->cropH = std::max(1, h);
    } else {
        impl->image = embedded(impl_->materialized(), x, top, w, h);
        impl->linear = impl_->linear;
        impl->deep = impl_->deep;
    }
    return Picture(std::move(impl));
}

std::optional<Picture> Picture::decoded(std::string* error) const
{
    try {
        auto impl = std::make_shared<Impl>();
        impl->image = impl_->materialized().copy_memory();
        impl->linear = impl_->linear;
        impl->deep = impl_->deep;
        return Picture(std::move(impl));
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return std::nullopt;
    }
}

bool Picture::renderYuv420(Yuv420Bitmap& out) const
{
    const Impl& m = *impl_;
    if (m.bitmap || !m.pendingScale || m.directJpeg.empty())
        return false;
    const int left = m.pendingCrop ? m.cropLeft : 0, top = m.pendingCrop ? m.cropTop : 0;
    const int w = m.width(), h = m.height();
    if (left < 0 || top < 0 || left + w > m.scaledW || top + h > m.scaledH || w % 2 != 0 || h % 2 != 0)
        return false; // black borders: the RGB way draws them
    if (m.pendingPass) {
        // The pass needs each pixel's own colour: chroma is scaled to 4:4:4,
        // and each pixel goes through RGB and the pass into 4:2:0. (Chroma
        // scaled to 4:2:0 first would cost some levels of luma wherever
        // colour changes from pixel to pixel.)
        return scaleJpegYuv(m.directJpeg, m.jpegW, m.jpegH, m.jpegEighths, m.scaledW, m.scaledH, left, top, w, h,
                            true, [&](LanczosScaler& scaler) {
                                const std::uint8_t* planes[3];
                                int strides[3];
                                if (!scaler.windowPlanes(planes, strides))
                                    return false;
                                pixelPassToYuv420(*m.pendingPass, planes, strides, w, h, out);
                                return true;
                            });
    }
    return scaleJpegYuv(m.directJpeg, m.jpegW, m.jpegH, m.jpegEighths, m.scaledW, m.scaledH, left, top, w, h, false,
                        [&](LanczosScaler& scaler) {
                            out.resize(w, h);
                            std::uint8_t* const planes[3] = {out.plane(0), out.plane(1), out.plane(2)};
                            const int strides[3] = {out.stride(0), out.stride(1), out.stride(2)};
                            return scaler.finishYuv(planes, strides);
                        });
}

// Computes an RGBA image into a bitmap of `pixelBytes` a pixel.
template <typename Bitmap> static bool computeInto(const VImage& rgba, Bitmap& out, std::size_t pixelBytes)
{
    std::size_t size = 0;
    void* data = rgba.write_to_memory(&size);
    out.width = rgba.width();
    out.height = rgba.height();
    out.pixels.resizeForOverwrite(size);
    std::memcpy(out.pixels.data(), data, size);
    g_free(data);
    return size == std::size_t(out.width) * out.height * pixelBytes;
}

bool Picture::render(RgbaBitmap& out, std::string* error) const
{
    try {
        if (impl_->bitmap) {
            const RgbaBitmap& b = *impl_->bitmap;
            out.width = b.width;
            out.height = b.height;
            out.pixels.resizeForOverwrite(b.pixels.size());
            std::memcpy(out.pixels.data(), b.pixels.data(), b.pixels.size());
            return true;
        }
        if (impl_->pendingScale && !impl_->deep)
            return impl_->renderPending(out);
        VImage rgb = impl_->linear || impl_->deep ? impl_->materialized().colourspace(VIPS_INTERPRETATION_sRGB)
                                                  : impl_->image;
        if (rgb.format() != VIPS_FORMAT_UCHAR)
            rgb = rgb.cast(VIPS_FORMAT_UCHAR);
        return computeInto(rgb.bandjoin_const({255.0}), out, 4);
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return false;
    }
}

bool Picture::render(RgbaBitmap16& out, std::string* error) const
{
    try {
        if (!impl_->linear && !impl_->deep) {
            // 8-bit pixels widened: 255 becomes 65535.
            RgbaBitmap narrow;
            if (!render(narrow, error))
                return false;
            out.width = narrow.width;
            out.height = narrow.height;
            const std::size_t n = std::size_t(narrow.width) * narrow.height * 4;
            out.pixels.resizeForOverwrite(n * 2);
            auto* to = reinterpret_cast<std::uint16_t*>(out.pixels.data());
            for (std::size_t i = 0; i < n; ++i)
                to[i] = static_cast<std::uint16_t>(narrow.pixels[i] * 257);
            return true;
        }
        VImage rgb = impl_->linear ? impl_->image.colourspace(VIPS_INTERPRETATION_RGB16) : impl_->materialized();
        if (rgb.format() != VIPS_FORMAT_USHORT)
            rgb = rgb.cast(VIPS_FORMAT_USHORT);
        return computeInto(rgb.bandjoin_const({65535.0}), out, 8);
    } catch (const vips::VError& e) {
        if (error)
            *error = e.what();
        vips_error_clear();
        return false;
    }
}

} // namespace mv
