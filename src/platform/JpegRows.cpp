#include "platform/JpegRows.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace mv {

int jpegEighthsCovering(int w, int h, int needW, int needH)
{
    // Only the halvings: libjpeg-turbo decodes them with SIMD code, the
    // other eighths with plain C, which costs more than it saves (a 24-MP
    // picture for 1080p: 95 ms at 3/8 against 85 ms at 1/2; for 4K, 165 ms
    // at 3/4 against 105 ms whole).
    int eighths = 1;
    while (eighths < 8 && (jpegScaledSide(w, eighths) < needW || jpegScaledSide(h, eighths) < needH))
        eighths *= 2;
    return eighths;
}

namespace {

// Errors and warnings leave the decoder through a long jump; nothing
// between setjmp and the jump owns memory that a destructor would free.
struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void fail(j_common_ptr info) { std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1); }

void message(j_common_ptr info, int level)
{
    if (level < 0) // a warning: damaged data
        fail(info);
}

void silent(j_common_ptr) {}

// What the decode holds, released on every way out.
struct Decode {
    jpeg_decompress_struct info{};
    Errors errors{};
    std::FILE* file = nullptr;
    std::uint8_t* strip = nullptr;
    bool created = false;

    ~Decode()
    {
        if (created)
            jpeg_destroy_decompress(&info);
        std::free(strip);
        if (file)
            std::fclose(file);
    }
};

constexpr int kStripRows = 16;

// The decode itself; false on any failure. Only plain data lives in this
// frame, so the long jump back into it skips no destructor.
bool run(Decode& d, int eighths, const std::function<bool(const std::uint8_t*, int, int)>& rows, bool& notRgb)
{
    if (setjmp(d.errors.jump))
        return false;
    jpeg_read_header(&d.info, TRUE);
    if (d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK) {
        notRgb = true;
        return false;
    }
    d.info.scale_num = static_cast<unsigned>(eighths);
    d.info.scale_denom = 8;
    d.info.out_color_space = JCS_EXT_RGB;
    jpeg_start_decompress(&d.info);
    const int width = static_cast<int>(d.info.output_width);
    const int stride = width * 3;
    d.strip = static_cast<std::uint8_t*>(std::malloc(std::size_t(stride) * kStripRows));
    if (!d.strip || d.info.output_components != 3)
        return false;
    JSAMPROW pointers[kStripRows];
    for (int i = 0; i < kStripRows; ++i)
        pointers[i] = d.strip + std::size_t(i) * stride;
    while (d.info.output_scanline < d.info.output_height) {
        int n = 0;
        while (n < kStripRows && d.info.output_scanline < d.info.output_height)
            n += static_cast<int>(jpeg_read_scanlines(&d.info, pointers + n, JDIMENSION(kStripRows - n)));
        if (!rows(d.strip, stride, n))
            return true; // the rest is not wanted
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

} // namespace

JpegRowsResult decodeJpegRows(const std::string& path, int eighths,
                              const std::function<bool(const std::uint8_t*, int, int)>& rows)
{
    Decode d;
    d.file = std::fopen(path.c_str(), "rb");
    if (!d.file || eighths < 1 || eighths > 8)
        return JpegRowsResult::Failed;
    d.info.err = jpeg_std_error(&d.errors.manager);
    d.errors.manager.error_exit = fail;
    d.errors.manager.emit_message = message;
    d.errors.manager.output_message = silent;
    if (setjmp(d.errors.jump))
        return JpegRowsResult::Failed;
    jpeg_create_decompress(&d.info);
    d.created = true;
    jpeg_stdio_src(&d.info, d.file);
    bool notRgb = false;
    if (run(d, eighths, rows, notRgb))
        return JpegRowsResult::Ok;
    return notRgb ? JpegRowsResult::NotRgb : JpegRowsResult::Failed;
}

} // namespace mv
