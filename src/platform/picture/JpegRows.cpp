#include "platform/picture/JpegRows.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

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

// The file read in large pieces. The decoder's fast Huffman path needs a
// few kilobytes in the buffer ahead of it; the library's own file source
// reads 4 KB at a time and so spends most of each piece on the slow path
// (a 24-megapixel picture decodes 8 % faster from this one).
struct Source {
    jpeg_source_mgr manager{};
    std::FILE* file = nullptr;
    JOCTET buffer[1 << 17];

    static Source& of(j_decompress_ptr info) { return *reinterpret_cast<Source*>(info->src); }
    static void init(j_decompress_ptr) {}
    static boolean fill(j_decompress_ptr info)
    {
        Source& s = of(info);
        const std::size_t n = std::fread(s.buffer, 1, sizeof s.buffer, s.file);
        if (n == 0) {
            // The end of the file before the end of the picture: the library
            // warns, which fails the decode, as a cut file must.
            static const JOCTET end[2] = {0xFF, JPEG_EOI};
            WARNMS(info, JWRN_JPEG_EOF);
            s.manager.next_input_byte = end;
            s.manager.bytes_in_buffer = 2;
            return TRUE;
        }
        s.manager.next_input_byte = s.buffer;
        s.manager.bytes_in_buffer = n;
        return TRUE;
    }
    static void skip(j_decompress_ptr info, long n)
    {
        Source& s = of(info);
        while (n > long(s.manager.bytes_in_buffer)) {
            n -= long(s.manager.bytes_in_buffer);
            fill(info);
        }
        if (n > 0) {
            s.manager.next_input_byte += n;
            s.manager.bytes_in_buffer -= std::size_t(n);
        }
    }
    static void term(j_decompress_ptr) {}

    explicit Source(std::FILE* f) : file(f)
    {
        manager.init_source = init;
        manager.fill_input_buffer = fill;
        manager.skip_input_data = skip;
        manager.resync_to_restart = jpeg_resync_to_restart;
        manager.term_source = term;
    }
};

// What the decode holds, released on every way out.
struct Decode {
    jpeg_decompress_struct info{};
    Errors errors{};
    std::FILE* file = nullptr;
    std::unique_ptr<Source> source;
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

// The decode itself; false on any failure. Only plain data lives in this
// frame, so the long jump back into it skips no destructor.
// Reads the header and starts the decoder at eighths/8, as packed RGB or
// as raw planes; false (unsuited) when the file is not for that way. Called
// after the caller's setjmp, which the decoder's errors jump back to.
bool startDecoder(Decode& d, int eighths, bool planes)
{
    jpeg_read_header(&d.info, TRUE);
    const J_COLOR_SPACE space = d.info.jpeg_color_space;
    if (planes ? d.info.num_components != 3 || space != JCS_YCbCr : space == JCS_CMYK || space == JCS_YCCK)
        return false;
    d.info.scale_num = static_cast<unsigned>(eighths);
    d.info.scale_denom = 8;
    if (planes)
        d.info.raw_data_out = TRUE;
    else
        d.info.out_color_space = JCS_EXT_RGB;
    jpeg_start_decompress(&d.info);
    return true;
}

bool run(Decode& d, int eighths, const std::function<int(const std::uint8_t*, int, int)>& rows, bool& unsuited)
{
    if (setjmp(d.errors.jump))
        return false;
    if (!startDecoder(d, eighths, false)) {
        unsuited = true;
        return false;
    }
    const int width = static_cast<int>(d.info.output_width);
    const int stride = width * 3;
    d.strip = static_cast<std::uint8_t*>(std::malloc(std::size_t(stride) * kJpegStripRows));
    if (!d.strip || d.info.output_components != 3)
        return false;
    JSAMPROW pointers[kJpegStripRows];
    for (int i = 0; i < kJpegStripRows; ++i)
        pointers[i] = d.strip + std::size_t(i) * stride;
    for (int wanted = kJpegStripRows; d.info.output_scanline < d.info.output_height;) {
        const int want = std::clamp(wanted, 1, kJpegStripRows);
        int n = 0;
        while (n < want && d.info.output_scanline < d.info.output_height)
            n += static_cast<int>(jpeg_read_scanlines(&d.info, pointers + n, JDIMENSION(want - n)));
        if ((wanted = rows(d.strip, stride, n)) <= 0)
            return true; // the rest is not wanted
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

// How many times `part` halves `whole`: 0 or 1, or -1 for anything else.
int halvings(JDIMENSION whole, JDIMENSION part)
{
    return part == whole ? 0 : part == (whole + 1) / 2 ? 1 : -1;
}

bool runPlanes(Decode& d, int eighths, const std::function<bool(const JpegPlanes&)>& start,
               const std::function<int(const std::uint8_t* const*, const int*, int)>& planes, bool& unsuited)
{
    if (setjmp(d.errors.jump))
        return false;
    if (!startDecoder(d, eighths, true)) {
        unsuited = true;
        return false;
    }
    const jpeg_component_info* c = d.info.comp_info;
    const JpegPlanes layout{static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                            halvings(c[0].downsampled_width, c[1].downsampled_width),
                            halvings(c[0].downsampled_height, c[1].downsampled_height)};
    if (layout.chromaShiftX < 0 || layout.chromaShiftY < 0 || c[1].downsampled_width != c[2].downsampled_width ||
        c[1].downsampled_height != c[2].downsampled_height ||
        c[0].downsampled_width != d.info.output_width || c[0].downsampled_height != d.info.output_height) {
        unsuited = true;
        return false;
    }
    // Each read gives one row of blocks of every component; a strip holds
    // several. The rows are padded to whole blocks, and the scaler reads
    // whole SIMD words.
    const int lumaRows = d.info.max_v_samp_factor * d.info.min_DCT_scaled_size;
    const int groups = kJpegStripRows / std::max(lumaRows, 1);
    int rowsOf[3], strides[3];
    std::size_t offsets[3], size = 0;
    for (int i = 0; i < 3; ++i) {
        rowsOf[i] = c[i].v_samp_factor * c[i].DCT_scaled_size;
        strides[i] = static_cast<int>((c[i].width_in_blocks * JDIMENSION(c[i].DCT_scaled_size) + 63) / 64 * 64);
        offsets[i] = size;
        size += std::size_t(strides[i]) * rowsOf[i] * groups;
    }
    if (rowsOf[0] != lumaRows || rowsOf[1] != rowsOf[2] || rowsOf[1] > lumaRows || groups < 1 || !start(layout))
        return false;
    d.strip = static_cast<std::uint8_t*>(std::aligned_alloc(64, size + 64));
    if (!d.strip)
        return false;
    JSAMPROW pointers[3][kJpegStripRows];
    const std::uint8_t* firsts[3];
    for (int i = 0; i < 3; ++i) {
        for (int r = 0; r < rowsOf[i] * groups; ++r)
            pointers[i][r] = d.strip + offsets[i] + std::size_t(r) * strides[i];
        firsts[i] = pointers[i][0];
    }
    for (int wanted = kJpegStripRows; d.info.output_scanline < d.info.output_height;) {
        const int from = static_cast<int>(d.info.output_scanline);
        const int count = std::clamp((wanted + lumaRows - 1) / lumaRows, 1, groups);
        int read = 0;
        for (; read < count && d.info.output_scanline < d.info.output_height; ++read) {
            JSAMPARRAY arrays[3] = {pointers[0] + read * rowsOf[0], pointers[1] + read * rowsOf[1],
                                    pointers[2] + read * rowsOf[2]};
            if (jpeg_read_raw_data(&d.info, arrays, JDIMENSION(lumaRows)) == 0)
                return false;
        }
        // The last row of blocks reaches past the picture.
        if ((wanted = planes(firsts, strides, std::min(read * lumaRows, layout.height - from))) <= 0)
            return true;
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

// Opens the file and sets up the decoder's error handling for one of the
// runs above.
template <typename Run> JpegRowsResult decode(const std::string& path, int eighths, Run run)
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
    d.source = std::make_unique<Source>(d.file);
    d.info.src = &d.source->manager;
    bool unsuited = false;
    if (run(d, unsuited))
        return JpegRowsResult::Ok;
    return unsuited ? JpegRowsResult::Unsuited : JpegRowsResult::Failed;
}

} // namespace

JpegRowsResult decodeJpegRows(const std::string& path, int eighths,
                              const std::function<int(const std::uint8_t*, int, int)>& rows)
{
    return decode(path, eighths, [&](Decode& d, bool& unsuited) { return run(d, eighths, rows, unsuited); });
}

JpegRowsResult decodeJpegPlanes(const std::string& path, int eighths,
                                const std::function<bool(const JpegPlanes&)>& start,
                                const std::function<int(const std::uint8_t* const*, const int*, int)>& planes)
{
    return decode(path, eighths,
                  [&](Decode& d, bool& unsuited) { return runPlanes(d, eighths, start, planes, unsuited); });
}

} // namespace mv
