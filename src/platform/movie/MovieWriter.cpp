#include "platform/movie/MovieWriter.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/system/AtomicFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace mv {
namespace {

// The H.264 and HEVC encoders hold this many frames ahead, each with several
// planes of its own (about 9 MB at 1080p): 20 frames up to 0.85 megapixels,
// fewer for larger frames (8 at 1080p, 5 from 3.4 megapixels up), so that
// the memory stays about the same at every size. Quality per bit is the same
// within measuring noise (SSIM 0.9848 against 0.9851 with 20 at 1080p, in a
// 2 % smaller file).
int lookaheadFrames(int w, int h)
{
    const double megapixels = double(w) * h / 1e6;
    return std::clamp(static_cast<int>(17.0 / std::max(megapixels, 1e-6)), 5, 20);
}

struct EncoderChoice {
    const char* encoder;
    AVPixelFormat pixelFormat;
    bool needsEvenSize; // subsampled chroma: players expect whole chroma samples
    bool hasQuality;
};

EncoderChoice encoderFor(const std::string& codecType, int depth = 8)
{
    if (depth > 8 && codecType == "hvc1")
        return {"libx265", AV_PIX_FMT_YUV420P10LE, true, true};
    if (depth > 8 && codecType == "av01")
        return {"libsvtav1", AV_PIX_FMT_YUV420P10LE, true, true};
    if (codecType == "avc1")
        return {"libx264", AV_PIX_FMT_YUV420P, true, true};
    if (codecType == "tiff")
        return {"tiff", AV_PIX_FMT_RGB24, false, false};
    if (codecType == "mp4v")
        return {"mpeg4", AV_PIX_FMT_YUV420P, true, true};
    if (codecType == "rle ")
        return {"qtrle", AV_PIX_FMT_RGB24, false, false};
    if (codecType == "hvc1")
        return {"libx265", AV_PIX_FMT_YUV420P, true, true};
    if (codecType == "apch") // 4:2:2: whole chroma samples across
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, true, true};
    if (codecType == "av01")
        return {"libsvtav1", AV_PIX_FMT_YUV420P, true, true};
    // JPEG is full range by definition; odd sizes are part of the format.
    return {"mjpeg", AV_PIX_FMT_YUVJ420P, false, true};
}

// 16-bit samples to 8 bits, dithered: each sample is rounded up where its
// fraction passes a threshold from a 64 x 64 tile. Every row of the tile
// holds each of 64 evenly spaced thresholds once, in an order of its own,
// so that a row's mean keeps the 16-bit value (a sky's bands run along the
// rows); the tile is fixed, so the same picture always gives the same bits.
struct DitherTile {
    std::uint8_t t[64][64];
    DitherTile()
    {
        std::uint32_t seed = 12345;
        for (auto& row : t) {
            for (int i = 0; i < 64; ++i)
                row[i] = static_cast<std::uint8_t>(4 * i + 2);
            for (int i = 63; i > 0; --i) { // Fisher-Yates, a fixed generator
                seed = seed * 1664525u + 1013904223u;
                std::swap(row[i], row[(seed >> 8) % (i + 1)]);
            }
        }
    }
};

const DitherTile& ditherTile()
{
    static const DitherTile tile;
    return tile;
}

// 16-bit RGBA (255 is 65535) to 8-bit.
void ditherTo8(const RgbaBitmap16& in, RgbaBitmap& out)
{
    const DitherTile& d = ditherTile();
    out.width = in.width;
    out.height = in.height;
    out.pixels.resizeForOverwrite(std::size_t(in.width) * in.height * 4);
    const auto* from = reinterpret_cast<const std::uint16_t*>(in.pixels.data());
    std::uint8_t* to = out.pixels.data();
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            // floor(v / 257 + (t + 0.5) / 256) in whole numbers.
            const std::size_t i = (std::size_t(y) * in.width + x) * 4;
            const unsigned t = (2u * d.t[y & 63][x & 63] + 1u) * 257u / 2u;
            for (int c = 0; c < 3; ++c)
                to[i + c] = static_cast<std::uint8_t>(std::min(255u, (from[i + c] * 256u + t) / (256u * 257u)));
            to[i + 3] = 255;
        }
}

// A plane of 16-bit Y'CbCr to 8 bits: an 8-bit code c is c << 8 in video
// range, 257 c in full range.
void ditherPlaneTo8(const std::uint8_t* src, int srcStride, std::uint8_t* dst, int dstStride, int w, int h,
                    bool fullRange)
{
    const DitherTile& d = ditherTile();
    for (int y = 0; y < h; ++y) {
        const auto* from = reinterpret_cast<const std::uint16_t*>(src + std::size_t(y) * srcStride);
        std::uint8_t* to = dst + std::size_t(y) * dstStride;
        const std::uint8_t* t = d.t[y & 63];
        if (fullRange)
            for (int x = 0; x < w; ++x)
                to[x] = static_cast<std::uint8_t>(
                    std::min(255u, (from[x] * 256u + (2u * t[x & 63] + 1u) * 257u / 2u) / (256u * 257u)));
        else
            for (int x = 0; x < w; ++x)
                to[x] = static_cast<std::uint8_t>(std::min(255u, (from[x] + unsigned(t[x & 63])) >> 8));
    }
}

// The quality steps: 1024 lossless, 1023 max, 768 high, 512 normal, 256 low.
int qualityStep(int quality)
{
    return quality >= 1024 ? 0 : quality >= 1023 ? 1 : quality >= 768 ? 2 : quality >= 512 ? 3 : 4;
}

// x264's constant rate factor per step. True lossless H.264 needs the
// High 4:4:4 Predictive profile, which common players do not decode, so the
// top step is visually lossless instead.
constexpr int kX264Crf[] = {4, 12, 18, 23, 28};
// x265's and SVT-AV1's rate factors for the same steps: their scales run
// higher for the same look (x265's default is 28, SVT-AV1's 35).
constexpr int kX265Crf[] = {8, 16, 22, 28, 33};
constexpr int kSvtAv1Crf[] = {10, 20, 28, 35, 45};
// Fixed quantiser for MJPEG and MPEG-4 part 2.
constexpr int kQScale[] = {1, 2, 3, 5, 10};
// ProRes: a fixed quantiser above "Normal", which is the profile's own data
// rate (0: not forced).
constexpr int kProResQuant[] = {1, 2, 4, 0, 9};

const int* qualityTable(const std::string& codecType)
{
    if (codecType == "avc1")
        return kX264Crf;
    if (codecType == "hvc1")
        return kX265Crf;
    if (codecType == "av01")
        return kSvtAv1Crf;
    if (codecType == "jpeg" || codecType == "mp4v")
        return kQScale;
    return nullptr;
}

std::string ffmpegError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

} // namespace

static std::string lowerExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool isMp4Path(const std::string& path) { return lowerExtension(path) == ".mp4"; }
bool isMovPath(const std::string& path) { return lowerExtension(path) == ".mov"; }

int qualityForEncoderSetting(const std::string& codecType, double setting)
{
    const int* table = qualityTable(codecType);
    if (!table)
        return 512;
    constexpr int kQuality[] = {1024, 1023, 768, 512, 256};
    int best = 0;
    for (int step = 1; step < 5; ++step)
        if (std::abs(table[step] - setting) < std::abs(table[best] - setting))
            best = step;
    return kQuality[best];
}

// The encoders' own limits, tried on this machine (FFmpeg 5.1, x264 164,
// x265 3.5, SVT-AV1 1.4.1) one frame at a time, sides as encoded, with
// "ffmpeg -f rawvideo -pix_fmt rgba -s WxH -i /dev/zero -frames:v 1
// -c:v ENCODER -pix_fmt FORMAT -f null -" and the options used here:
//   libx264    2 ... 16384 a side
//   libx265   16 ... 16384 and more a side; with a side below 32 it codes
//              16-pixel blocks, which its level check refuses beyond 4216
//              along the other side (8192 x 30 fails, 8192 x 32 and
//              4216 x 16 pass)
//   libsvtav1 64 ... 16384 wide, 64 ... 8704 high
//   mpeg4      1 ... 8190 a side (13-bit sizes, kept even)
//   mjpeg      1 ... 65500 a side
//   prores_ks, tiff, qtrle: 1 ... 65536 and more
// HEVC and ProRes are held to 8192, what their players take.
FrameSizeLimit frameSizeLimit(const std::string& codecType)
{
    FrameSizeLimit limit;
    int maxSide = 65535;
    if (codecType == "avc1") {
        maxSide = 16384;
    } else if (codecType == "hvc1") {
        maxSide = 8192;
        limit.minSide = 16;
        limit.narrowSide = 32;
        limit.narrowMaxSide = 4216;
    } else if (codecType == "apch") {
        maxSide = 8192;
    } else if (codecType == "av01") {
        maxSide = 16384;
        limit.minSide = 64;
    } else if (codecType == "mp4v") {
        maxSide = 8190;
    } else if (codecType == "jpeg") {
        maxSide = 65500;
    }
    limit.maxWidth = maxSide;
    limit.maxHeight = codecType == "av01" ? 8704 : maxSide;
    limit.maxPixels = std::int64_t(8192) * 4352;
    limit.evenSides = encoderFor(codecType).needsEvenSize;
    return limit;
}

// The work file as the muxer's output. A fragment is written with its
// "moof" box named "free" and renamed once all its samples are in the file,
// so that a partial file cut short by a kill (or a full disk) ends in boxes
// that readers skip, never in a cut sample.
struct WorkOutput {
    int fd = -1;
    std::int64_t pos = 0, end = 0;
    std::int64_t fragmentAt = -1; // where the fragment being written starts
    std::int64_t hiddenAt = -1;   // a fragment written under "free"

    // Libavformat's write callback; its buffer is const from FFmpeg 7 on.
    template <typename Byte>
    static int write(void* opaque, Byte* bytes, int size)
    {
        auto& out = *static_cast<WorkOutput*>(opaque);
        const std::uint8_t* data = bytes;
        std::vector<std::uint8_t> renamed;
        if (out.fragmentAt >= 0 && out.pos <= out.fragmentAt && out.fragmentAt + 8 <= out.pos + size) {
            const std::size_t type = std::size_t(out.fragmentAt - out.pos) + 4;
            if (std::memcmp(data + type, "moof", 4) == 0) {
                renamed.assign(data, data + size);
                std::memcpy(renamed.data() + type, "free", 4);
                data = renamed.data();
                out.hiddenAt = out.fragmentAt;
            }
            out.fragmentAt = -1;
        }
        for (int done = 0; done < size;) {
            const ssize_t n = ::pwrite(out.fd, data + done, std::size_t(size - done), out.pos);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return AVERROR(n < 0 ? errno : EIO);
            done += int(n);
            out.pos += n;
        }
        out.end = std::max(out.end, out.pos);
        return size;
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence)
    {
        auto& out = *static_cast<WorkOutput*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return out.end;
        case SEEK_SET: break;
        case SEEK_CUR: offset += out.pos; break;
        case SEEK_END: offset += out.end; break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        return out.pos = offset;
    }

    // Gives the fragment written since the last call its real name.
    bool reveal()
    {
        fragmentAt = -1;
        if (hiddenAt < 0)
            return true;
        const bool ok = ::pwrite(fd, "moof", 4, hiddenAt + 4) == 4;
        hiddenAt = -1;
        return ok;
    }
};

AVIOContext* openWorkOutput(WorkOutput& out)
{
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    AVIOContext* pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, &out, nullptr, WorkOutput::write,
                                                  WorkOutput::seek)
                             : nullptr;
    if (pb)
        pb->seekable = AVIO_SEEKABLE_NORMAL; // the regular scratch movie patches its sizes
    else
        av_free(buffer);
    return pb;
}

// Flushes and frees what openWorkOutput() made; false when a write failed.
bool closeWorkOutput(AVIOContext*& pb)
{
    if (!pb)
        return true;
    avio_flush(pb);
    const bool ok = !pb->error;
    av_freep(&pb->buffer);
    avio_context_free(&pb);
    return ok;
}

// How often the frames so far are made playable in the partial file.
constexpr auto kFragmentInterval = std::chrono::milliseconds(500);

struct MovieWriter::Impl {
    std::string path;
    Options options;
    AtomicFile work; // the partial file (or the unnamed scratch movie)
    WorkOutput output;
    MovieAttributes attributes;
    EncoderChoice choice{};
    const AVCodec* codec = nullptr;
    std::int32_t movieScale = 0;
    std::int32_t trackScale = 600;

    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    SwsContext* sws = nullptr;
    SwsContext* sws16 = nullptr; // from 16-bit RGBA
    RgbaBitmap dithered;         // a 16-bit picture on its way to 8-bit RGB
    AVFrame* deepFrame = nullptr; // ... or to 8-bit Y'CbCr: first at 16 bits
    int swsMatrix = SWS_CS_ITU709, fullRange = 0; // the encoder's Y'CbCr
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;

    int width = 0, height = 0; // picture size; the encoded size may be one more
    bool failed = false;
    bool finished = false;
    bool flushed = false; // the encoder was told that the stream ends
    std::int64_t nextPts = 0;
    std::int64_t frames = 0;
    std::int64_t keepFrames = 0; // 0: all
    std::map<std::int64_t, std::int64_t> pendingDurations; // by pts
    // Every packet's time and length in stream units, in order (no frame is
    // reordered: max_b_frames is 0).
    std::vector<std::pair<std::int64_t, std::int64_t>> lengths;

    // The fragments: packets go into the muxer's current fragment, which is
    // closed and written out every half second, by the writer after a
    // picture or by a helper thread, so that the partial file also keeps up
    // while the next picture takes long.
    std::mutex io;
    std::condition_variable wake;
    std::thread flusher;
    bool stopFlusher = false;
    int packetsInFragment = 0;
    std::chrono::steady_clock::time_point lastCut;

    ~Impl() { release(); }

    std::string partialName() const
    {
        const std::filesystem::path p(path);
        return (p.parent_path() / (p.filename().string() + ".partial")).string();
    }

    // Called with `io` held.
    void cutFragment()
    {
        lastCut = std::chrono::steady_clock::now();
        if (packetsInFragment == 0 || failed)
            return;
        packetsInFragment = 0;
        if (!writeFragment([this] { return av_write_frame(format, nullptr); }) || !work.publish(partialName()))
            failed = true;
    }

    // Writes what `write` gives the muxer as one fragment, named when whole.
    template <typename Write>
    bool writeFragment(Write write)
    {
        avio_flush(format->pb);
        output.fragmentAt = avio_tell(format->pb);
        const bool ok = write() >= 0;
        avio_flush(format->pb);
        return ok && !format->pb->error && output.reveal();
    }

    void startFlusher()
    {
        lastCut = std::chrono::steady_clock::now();
        flusher = std::thread([this] {
            std::unique_lock lock(io);
            while (!stopFlusher) {
                wake.wait_for(lock, kFragmentInterval / 5);
                if (!stopFlusher && std::chrono::steady_clock::now() - lastCut >= kFragmentInterval)
                    cutFragment();
            }
        });
    }

    void stopFlushing()
    {
        if (!flusher.joinable())
            return;
        {
            std::lock_guard lock(io);
            stopFlusher = true;
        }
        wake.notify_all();
        flusher.join();
    }

    // SVT-AV1 waits for ever when it is freed before the end of its
    // stream, and when a stream ends before its first picture: a black
    // picture first when it had none, then the end, and what comes out is
    // let go.
    void endSvtStream()
    {
        if (!encoder || flushed || !avcodec_is_open(encoder) || std::strcmp(choice.encoder, "libsvtav1") != 0)
            return;
        flushed = true;
        if (frames == 0) {
            AVFrame* black = av_frame_alloc();
            bool sent = false;
            if (black) {
                black->format = encoder->pix_fmt;
                black->width = encoder->width;
                black->height = encoder->height;
                sent = av_frame_get_buffer(black, 0) == 0;
                const std::ptrdiff_t linesizes[4] = {black->linesize[0], black->linesize[1], black->linesize[2],
                                                     black->linesize[3]};
                sent = sent && av_image_fill_black(black->data, linesizes, encoder->pix_fmt, encoder->color_range,
                                                   black->width, black->height) >= 0;
                sent = sent && avcodec_send_frame(encoder, black) == 0;
            }
            av_frame_free(&black);
            if (!sent)
                return; // the end of a stream without a picture would never come back
        }
        AVPacket* rest = av_packet_alloc();
        if (rest && avcodec_send_frame(encoder, nullptr) == 0)
            while (avcodec_receive_packet(encoder, rest) == 0)
                av_packet_unref(rest);
        av_packet_free(&rest);
    }

    void release()
    {
        stopFlushing();
        sws_freeContext(sws);
        sws = nullptr;
        sws_freeContext(sws16);
        sws16 = nullptr;
        av_frame_free(&deepFrame);
        av_frame_free(&frame);
        endSvtStream();
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (format) {
            closeWorkOutput(format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
    }

    bool openEncoder(int w, int h, std::int64_t firstDuration, bool deepSource)
    {
        width = w;
        height = h;
        trackScale = movieScale > 0 ? movieScale : attributes.trackTimeScale;
        encoder = avcodec_alloc_context3(codec);
        if (!encoder)
            return false;
        encoder->width = choice.needsEvenSize ? (w + 1) & ~1 : w;
        encoder->height = choice.needsEvenSize ? (h + 1) & ~1 : h;
        encoder->pix_fmt = choice.pixelFormat;
        encoder->time_base = AVRational{1, trackScale};
        av_reduce(&encoder->framerate.num, &encoder->framerate.den, trackScale, std::max<std::int64_t>(1, firstDuration),
                  1 << 30);
        encoder->max_b_frames = 0; // keeps presentation order = decoding order, durations exact
        encoder->thread_count = 0;
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        const int step = qualityStep(attributes.quality);
        const std::string name = choice.encoder;
        // Dithered 8-bit pictures: quantised as usual, the encoder smooths
        // a dark sky's dither away and the bands come back. Its adaptive
        // quantiser, biased to dark flat areas and at about twice its usual
        // strength, keeps it: a dusk sky at 1080p keeps no flat run longer
        // than 40 rows instead of 96, for 50 to 64 kB a frame instead of 3.
        const bool keepDither = deepSource && encoder->pix_fmt == AV_PIX_FMT_YUV420P;
        if (name == "libx264") {
            av_opt_set_int(encoder->priv_data, "crf", kX264Crf[step], 0);
            av_opt_set_int(encoder->priv_data, "rc-lookahead", lookaheadFrames(w, h), 0);
            if (keepDither) {
                av_opt_set_int(encoder->priv_data, "aq-mode", 3, 0);
                av_opt_set_double(encoder->priv_data, "aq-strength", 2.0, 0);
            }
            // One frame thread per core instead of x264's one and a half: the
            // render threads keep the cores busy, and each frame thread
            // holds frames of its own.
            encoder->thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        } else if (name == "libx265") {
            av_opt_set_int(encoder->priv_data, "crf", kX265Crf[step], 0);
            // No B-frames, as with x264; the same lookahead; failures
            // are reported by the caller, not printed.
            const std::string params = "bframes=0:rc-lookahead=" + std::to_string(lookaheadFrames(w, h)) +
                                       ":log-level=error" +
                                       (keepDither ? ":aq-mode=3:aq-strength=3" : "");
            av_opt_set(encoder->priv_data, "x265-params", params.c_str(), 0);
        } else if (name == "libsvtav1") {
            av_opt_set_int(encoder->priv_data, "crf", kSvtAv1Crf[step], 0);
            av_opt_set_int(encoder->priv_data, "preset", 8, 0); // near x264's medium in time per frame
            // Without its look-ahead the encoder gives its first packet
            // after 22 frames instead of 39, so the partial file trails
            // the run about as little as with H.264; it costs 1 to 3 % in
            // size at the same PSNR. Lower delays cost 5 to 18 %.
            av_opt_set(encoder->priv_data, "svtav1-params", "lookahead=0", 0);
        } else if (name == "prores_ks") {
            av_opt_set(encoder->priv_data, "profile", "hq", 0);
            av_opt_set(encoder->priv_data, "vendor", "apl0", 0); // what editing programs expect
            if (kProResQuant[step] > 0) {
                encoder->flags |= AV_CODEC_FLAG_QSCALE;
                encoder->global_quality = FF_QP2LAMBDA * kProResQuant[step];
            }
        } else if (choice.hasQuality) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            encoder->global_quality = FF_QP2LAMBDA * kQScale[step];
            encoder->qmin = 1;
            encoder->qmax = 31;
        }
        if (choice.pixelFormat == AV_PIX_FMT_YUVJ420P) {
            swsMatrix = SWS_CS_ITU601;
            fullRange = 1;
            encoder->color_range = AVCOL_RANGE_JPEG;
        } else if (choice.pixelFormat != AV_PIX_FMT_RGB24) {
            encoder->color_range = AVCOL_RANGE_MPEG;
            // A scaled JPEG goes to the 4:2:0 codecs as the decoder's own
            // Y'CbCr, with no round trip through RGB: they keep its matrix,
            // BT.601, for every frame, and say so.
            const bool jpegMatrix = choice.pixelFormat == AV_PIX_FMT_YUV420P;
            swsMatrix = jpegMatrix ? SWS_CS_SMPTE170M : SWS_CS_ITU709;
            encoder->colorspace = jpegMatrix ? AVCOL_SPC_SMPTE170M : AVCOL_SPC_BT709;
            encoder->color_primaries = AVCOL_PRI_BT709;
            encoder->color_trc = AVCOL_TRC_BT709;
        }
        if (avcodec_open2(encoder, codec, nullptr) < 0)
            return false;

        stream = avformat_new_stream(format, nullptr);
        if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder) < 0)
            return false;
        stream->time_base = encoder->time_base;
        if (name == "libx265") // the tag every common player, Apple's too, plays
            stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
        if (encoder->width == w + 1 && encoder->height == h) {
            // The padded column is not part of the picture: the track says
            // it is w wide, which players show and readers take as its size.
            stream->sample_aspect_ratio = stream->codecpar->sample_aspect_ratio = AVRational{w, w + 1};
        }
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "video_track_timescale", trackScale, 0);
        if (!this->options.unnamed) // fragments, cut by the flusher
            av_dict_set(&options, "movflags", "empty_moov+frag_custom", 0);
        const int rc = avformat_write_header(format, &options);
        av_dict_free(&options);
        if (rc < 0)
            return false;
        if (!this->options.unnamed)
            startFlusher();

        sws = sws_getContext(w, h, AV_PIX_FMT_RGBA, w, h, choice.pixelFormat, SWS_BICUBIC | SWS_ACCURATE_RND,
                             nullptr, nullptr, nullptr);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!sws || !frame || !packet)
            return false;
        if (choice.pixelFormat != AV_PIX_FMT_RGB24)
            sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(swsMatrix),
                                     fullRange, 0, 1 << 16, 1 << 16);
        if (deepSource && !openDeep())
            return false;
        frame->format = encoder->pix_fmt;
        frame->width = encoder->width;
        frame->height = encoder->height;
        // ProRes writes the colour description of each frame into the frame.
        frame->color_range = encoder->color_range;
        frame->colorspace = encoder->colorspace;
        frame->color_primaries = encoder->color_primaries;
        frame->color_trc = encoder->color_trc;
        return av_frame_get_buffer(frame, 0) == 0;
    }

    // The scaler of 16-bit pictures, made with the first of them: a movie of
    // 8-bit pictures never needs it. They go to 8-bit Y'CbCr through 16-bit
    // planes of their own, dithered here (the scaler's own ordered pattern
    // leaves each row a little off); to more bits, straight.
    bool openDeep()
    {
        if (sws16)
            return true;
        const bool ditherYuv = choice.pixelFormat == AV_PIX_FMT_YUV420P || choice.pixelFormat == AV_PIX_FMT_YUVJ420P;
        sws16 = sws_getContext(width, height, AV_PIX_FMT_RGBA64LE, width, height,
                               ditherYuv ? AV_PIX_FMT_YUV420P16LE : choice.pixelFormat, SWS_BICUBIC | SWS_ACCURATE_RND,
                               nullptr, nullptr, nullptr);
        if (!sws16)
            return false;
        if (choice.pixelFormat != AV_PIX_FMT_RGB24)
            sws_setColorspaceDetails(sws16, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(swsMatrix),
                                     fullRange, 0, 1 << 16, 1 << 16);
        if (!ditherYuv)
            return true;
        deepFrame = av_frame_alloc();
        if (!deepFrame)
            return false;
        deepFrame->format = AV_PIX_FMT_YUV420P16LE;
        deepFrame->width = width;
        deepFrame->height = height;
        return av_frame_get_buffer(deepFrame, 0) == 0;
    }

    // Repeats the last column and row of each plane into the padding of an
    // even-sized frame, which the scaler leaves as the buffer was: a 4:2:0
    // plane's subsampling covers it, but 4:2:2 chroma has every row.
    void fillPadding()
    {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(choice.pixelFormat);
        const int sample = d->comp[0].step; // bytes
        for (int p = 0; p < av_pix_fmt_count_planes(choice.pixelFormat); ++p) {
            const int sx = p ? d->log2_chroma_w : 0, sy = p ? d->log2_chroma_h : 0;
            const int w = AV_CEIL_RSHIFT(width, sx), h = AV_CEIL_RSHIFT(height, sy);
            const int ew = AV_CEIL_RSHIFT(encoder->width, sx), eh = AV_CEIL_RSHIFT(encoder->height, sy);
            std::uint8_t* plane = frame->data[p];
            const int ls = frame->linesize[p];
            for (int r = 0; r < h; ++r)
                for (int x = w; x < ew; ++x)
                    std::memcpy(plane + r * ls + x * sample, plane + r * ls + (w - 1) * sample, sample);
            for (int r = h; r < eh; ++r)
                std::memcpy(plane + r * ls, plane + (h - 1) * ls, std::size_t(ew) * sample);
        }
    }

    // One picture of width x height for `duration`, its pixels put into
    // the encoder's frame by `fill`.
    template <typename Fill>
    bool append(int pictureW, int pictureH, MovieTime duration, Fill fill, bool deepSource = false)
    {
        if (failed || finished || !format || pictureW <= 0 || pictureH <= 0)
            return false;
        const std::int32_t scale = encoder ? trackScale : (movieScale > 0 ? movieScale : attributes.trackTimeScale);
        std::int64_t units = duration.scale > 0 ? av_rescale(duration.value, scale, duration.scale) : 0;
        if (units < 1)
            units = 1;
        if (!encoder && !openEncoder(pictureW, pictureH, units, deepSource)) {
            failed = true;
            return false;
        }
        if (pictureW != width || pictureH != height)
            return false;
        std::lock_guard lock(io); // the flusher may be writing a fragment
        if (failed)
            return false;
        if (av_frame_make_writable(frame) < 0) {
            failed = true;
            return false;
        }
        fill(frame);
        if (choice.needsEvenSize)
            fillPadding();
        frame->pts = nextPts;
        pendingDurations[nextPts] = units;
        if (avcodec_send_frame(encoder, frame) < 0 || !drain()) {
            failed = true;
            return false;
        }
        nextPts += units;
        ++frames;
        // Cut here too when a fragment is due: a run that appends without
        // a pause (a picture written many times) takes this lock again at
        // once, and the flusher could wait for it for seconds.
        if (flusher.joinable() && std::chrono::steady_clock::now() - lastCut >= kFragmentInterval)
            cutFragment();
        return !failed;
    }

    bool drain()
    {
        int rc;
        while ((rc = avcodec_receive_packet(encoder, packet)) == 0) {
            if (auto it = pendingDurations.find(packet->pts); it != pendingDurations.end()) {
                packet->duration = it->second;
                pendingDurations.erase(it);
            }
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            lengths.emplace_back(packet->pts, packet->duration);
            packet->stream_index = stream->index;
            if (av_write_frame(format, packet) < 0)
                return false;
            av_packet_unref(packet);
            ++packetsInFragment;
        }
        return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
    }
};

// Copies the packets of the finished fragmented movie into `to` as one
// regular movie, with the writer's own stream description and time scale.
// An MPEG-4 file gets its index at the front, so that it plays while it
// downloads.
// The reader of fragmented movies does not give every packet its length
// back, so the lengths the writer gave (by time, in stream units) are set again.
static bool remuxRegular(const std::string& from, const char* muxer, const AVStream* written, std::int32_t trackScale,
                         const std::vector<std::pair<std::int64_t, std::int64_t>>& lengths, const std::string& to,
                         const std::vector<std::pair<std::string, std::string>>& tags, std::string& error)
{
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVPacket* packet = av_packet_alloc();
    bool ok = packet && avformat_open_input(&in, ("file:" + from).c_str(), nullptr, nullptr) == 0 &&
              in->nb_streams == 1 && avformat_alloc_output_context2(&out, nullptr, muxer, nullptr) >= 0 && out;
    AVStream* os = ok ? avformat_new_stream(out, nullptr) : nullptr;
    ok = ok && os && avcodec_parameters_copy(os->codecpar, written->codecpar) >= 0 &&
         avio_open(&out->pb, ("file:" + to).c_str(), AVIO_FLAG_WRITE) >= 0;
    if (ok) // read again to move the index to the front
        ok = (out->url = av_strdup(("file:" + to).c_str())) != nullptr;
    if (ok && in->streams[0]->codecpar->extradata_size > 0) {
        // The packets are stored in the file's own form (H.264: length
        // prefixed), which its codec header describes, not the encoder's.
        const AVCodecParameters* stored = in->streams[0]->codecpar;
        av_freep(&os->codecpar->extradata);
        os->codecpar->extradata = static_cast<std::uint8_t*>(
            av_mallocz(std::size_t(stored->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
        ok = os->codecpar->extradata != nullptr;
        if (ok) {
            std::memcpy(os->codecpar->extradata, stored->extradata, std::size_t(stored->extradata_size));
            os->codecpar->extradata_size = stored->extradata_size;
        }
    }
    if (ok) {
        os->time_base = written->time_base;
        os->sample_aspect_ratio = written->sample_aspect_ratio;
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "video_track_timescale", trackScale, 0);
        std::string flags = std::strcmp(muxer, "mp4") == 0 ? "faststart" : "";
        if (!tags.empty()) // keys of our own, kept as they are
            flags += flags.empty() ? "use_metadata_tags" : "+use_metadata_tags";
        if (!flags.empty())
            av_dict_set(&options, "movflags", flags.c_str(), 0);
        for (const auto& [key, value] : tags)
            av_dict_set(&out->metadata, key.c_str(), value.c_str(), 0);
        ok = avformat_write_header(out, &options) >= 0;
        av_dict_free(&options);
    }
    int rc = 0;
    std::size_t copied = 0; // the packets after the lengths given are left out
    while (ok && copied < lengths.size() && (rc = av_read_frame(in, packet)) >= 0) {
        ++copied;
        av_packet_rescale_ts(packet, in->streams[0]->time_base, os->time_base);
        const auto it = std::lower_bound(lengths.begin(), lengths.end(), std::pair{packet->pts, std::int64_t(0)});
        if (it != lengths.end() && it->first == packet->pts)
            packet->duration = it->second;
        packet->stream_index = 0;
        packet->pos = -1;
        ok = av_write_frame(out, packet) >= 0;
        av_packet_unref(packet);
    }
    ok = ok && (rc == AVERROR_EOF || copied == lengths.size()) && av_write_trailer(out) >= 0 && !out->pb->error;
    if (out && out->pb && avio_closep(&out->pb) < 0)
        ok = false;
    if (!ok)
        error = "The movie data could not be written.";
    avformat_free_context(out);
    avformat_close_input(&in);
    av_packet_free(&packet);
    return ok;
}

MovieWriter::MovieWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MovieWriter::~MovieWriter()
{
    // A movie that was neither finished nor discarded has no index and
    // cannot be played; do not leave it behind.
    if (impl_ && !impl_->finished && impl_->format)
        discard();
}

std::unique_ptr<MovieWriter> MovieWriter::create(const std::string& path, const MovieAttributes& attributes,
                                                 Error& error, Options options)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); }); // failures are reported by the caller
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->options = options;
    impl->attributes = attributes;
    impl->choice = encoderFor(attributes.codecType, attributes.depth);
    impl->codec = avcodec_find_encoder_by_name(impl->choice.encoder);
    if (!impl->codec) {
        error = {kEncoderUnavailable, "The encoder for the chosen codec is not available in this build."};
        return nullptr;
    }
    if (avformat_alloc_output_context2(&impl->format, nullptr, isMp4Path(path) ? "mp4" : "mov", nullptr) < 0 ||
        !impl->format) {
        error = {-1, "The movie writer could not be started."};
        return nullptr;
    }
    // The folder must take the movie; the file has no name yet.
    if (!impl->work.open(path)) {
        error = {AVERROR(errno), "The movie file could not be created (" + ffmpegError(AVERROR(errno)) + ")."};
        return nullptr;
    }
    impl->output.fd = impl->work.fd();
    if (!(impl->format->pb = openWorkOutput(impl->output))) {
        error = {AVERROR(ENOMEM), "The movie file could not be created (" + ffmpegError(AVERROR(ENOMEM)) + ")."};
        return nullptr;
    }
    return std::unique_ptr<MovieWriter>(new MovieWriter(std::move(impl)));
}

void MovieWriter::setMovieTimeScale(std::int32_t scale)
{
    if (!impl_->encoder)
        impl_->movieScale = scale;
}

bool MovieWriter::takesYuv420() const { return impl_->choice.pixelFormat == AV_PIX_FMT_YUV420P; }

bool MovieWriter::addImage(const RgbaBitmap& picture, MovieTime duration)
{
    if (picture.pixels.size() < std::size_t(std::max(picture.width, 0)) * std::max(picture.height, 0) * 4)
        return false;
    return impl_->append(picture.width, picture.height, duration, [&](AVFrame* frame) {
        const std::uint8_t* src[1] = {picture.pixels.data()};
        const int srcStride[1] = {picture.width * 4};
        sws_scale(impl_->sws, src, srcStride, 0, picture.height, frame->data, frame->linesize);
    });
}

bool MovieWriter::addImage(const RgbaBitmap16& picture, MovieTime duration)
{
    if (picture.pixels.size() < std::size_t(std::max(picture.width, 0)) * std::max(picture.height, 0) * 8)
        return false;
    if (impl_->choice.pixelFormat == AV_PIX_FMT_RGB24) {
        ditherTo8(picture, impl_->dithered);
        return addImage(impl_->dithered, duration); // lossless codecs: nothing to keep
    }
    // A movie begun with 8-bit pictures (an append) takes 16-bit ones too.
    if (impl_->encoder && !impl_->openDeep())
        return false;
    return impl_->append(picture.width, picture.height, duration, [&](AVFrame* frame) {
        const std::uint8_t* src[1] = {picture.pixels.data()};
        const int srcStride[1] = {picture.width * 8};
        AVFrame* deep = impl_->deepFrame;
        if (!deep) {
            sws_scale(impl_->sws16, src, srcStride, 0, picture.height, frame->data, frame->linesize);
            return;
        }
        sws_scale(impl_->sws16, src, srcStride, 0, picture.height, deep->data, deep->linesize);
        for (int p = 0; p < 3; ++p) {
            const int pw = p ? (picture.width + 1) / 2 : picture.width, ph = p ? (picture.height + 1) / 2 : picture.height;
            ditherPlaneTo8(deep->data[p], deep->linesize[p], frame->data[p], frame->linesize[p], pw, ph,
                           impl_->choice.pixelFormat == AV_PIX_FMT_YUVJ420P);
        }
    }, true);
}

int MovieWriter::depth() const { return av_pix_fmt_desc_get(impl_->choice.pixelFormat)->comp[0].depth; }

bool MovieWriter::addImage(const Yuv420Bitmap& picture, MovieTime duration)
{
    if (!takesYuv420() || picture.width % 2 != 0 || picture.height % 2 != 0 ||
        picture.pixels.size() < Yuv420Bitmap::bytes(picture.width, picture.height))
        return false;
    return impl_->append(picture.width, picture.height, duration, [&](AVFrame* frame) {
        for (int p = 0; p < 3; ++p)
            av_image_copy_plane(frame->data[p], frame->linesize[p], picture.plane(p), picture.stride(p),
                                picture.stride(p), p == 0 ? picture.height : picture.height / 2);
    });
}

void MovieWriter::keepFirstFrames(std::int64_t frames) { impl_->keepFrames = frames; }

bool MovieWriter::hasPicture() const { return impl_->frames > 0; }

bool MovieWriter::canUpdate() const
{
    std::lock_guard lock(impl_->io);
    return !impl_->failed && !impl_->finished && impl_->format && impl_->format->pb && !impl_->format->pb->error &&
           impl_->work.isOpen();
}

const std::string& MovieWriter::path() const { return impl_->path; }
std::string MovieWriter::partialPath() const
{
    std::lock_guard lock(impl_->io);
    return impl_->work.publishedName();
}
std::string MovieWriter::readPath() const { return impl_->work.isOpen() ? impl_->work.ioPath() : std::string(); }

std::int64_t MovieWriter::frameCount() const { return impl_->frames; }

double MovieWriter::durationSeconds() const { return double(impl_->nextPts) / impl_->trackScale; }

bool MovieWriter::update(std::string& error)
{
    Impl& m = *impl_;
    if (m.finished) {
        error = "The movie is already written.";
        return false;
    }
    if (!m.encoder || m.frames == 0) {
        error = "The movie has no frames.";
        return false;
    }
    m.stopFlushing();
    bool ok = !m.failed && avcodec_send_frame(m.encoder, nullptr) == 0 && m.drain();
    if (ok && m.keepFrames >= 1 && std::size_t(m.keepFrames) < m.lengths.size()) {
        m.lengths.resize(std::size_t(m.keepFrames));
        m.frames = m.keepFrames;
        m.nextPts = av_rescale_q(m.lengths.back().first + m.lengths.back().second, m.stream->time_base,
                                 m.encoder->time_base);
    }
    m.flushed = true;
    // The last fragment is written by the trailer.
    ok = ok && m.writeFragment([&] { return av_write_trailer(m.format); });
    ok = closeWorkOutput(m.format->pb) && ok;
    m.finished = true;
    if (!ok) {
        error = "The movie data could not be written.";
    } else if (!m.options.unnamed) {
        // The regular movie is built without a name and named when whole.
        AtomicFile movie;
        ok = movie.open(m.path) &&
             remuxRegular(m.work.ioPath(), m.format->oformat->name, m.stream, m.trackScale, m.lengths,
                             movie.ioPath(), m.options.tags, error);
        for (std::string target = m.path; ok;) {
            if (movie.commitAs(target, m.options.replace)) {
                m.path = target;
                break;
            }
            if (errno != EEXIST || (target = numberedFreePath(m.path)).empty()) {
                error = "The movie file could not be written.";
                ok = false;
            }
        }
        m.work.discard(); // the partial file is not needed any more
    }
    m.release();
    if (!ok)
        m.work.discard();
    return ok;
}

void MovieWriter::discard()
{
    impl_->finished = true;
    impl_->release();
    impl_->work.discard();
}

} // namespace mv
