#include "platform/movie/MovieReaderImpl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vips/vips8>

#include "platform/movie/MovieWriter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace mv {
namespace {

std::string ffmpegError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

bool isFullRange(const AVFrame* f)
{
    switch (f->format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P: return true;
    default: return f->color_range == AVCOL_RANGE_JPEG;
    }
}

// The quantiser FFmpeg's MJPEG encoder used: it bakes it into the luma table
// as (16 * q) >> 3 at the table's second position.
double mjpegQuantiser(const AVPacket* p)
{
    for (int i = 0; i + 6 < p->size; ++i)
        if (p->data[i] == 0xFF && p->data[i + 1] == 0xDB && (p->data[i + 4] >> 4) == 0)
            return p->data[i + 6] / 2.0;
    return -1;
}

// x264 writes its options as text into the first packet.
double x264RateFactor(const AVPacket* p)
{
    const std::string text(reinterpret_cast<const char*>(p->data), p->size);
    for (const char* key : {" crf=", " qp="}) {
        const auto at = text.find(key);
        if (at != std::string::npos)
            return std::atof(text.c_str() + at + std::strlen(key));
    }
    return -1;
}

} // namespace

MovieReader::Impl::~Impl()
{
    sws_freeContext(sws);
    av_frame_free(&rgba);
    av_frame_free(&current);
    av_frame_free(&next);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
}

bool MovieReader::Impl::readPacket(AVPacket* out)
{
    for (;;) {
        const int rc = av_read_frame(format, out);
        if (rc < 0)
            return false;
        if (out->stream_index == streamIndex)
            return true;
        av_packet_unref(out);
    }
}

bool MovieReader::Impl::seek(std::int64_t ts)
{
    if (avformat_seek_file(format, streamIndex, INT64_MIN, ts, ts, 0) < 0 &&
        avformat_seek_file(format, streamIndex, INT64_MIN, ts, INT64_MAX, 0) < 0)
        return false;
    if (decoder)
        avcodec_flush_buffers(decoder);
    hasCurrent = hasNext = false;
    endOfStream = flushed = false;
    positioned = true;
    return true;
}

bool MovieReader::Impl::openDecoder()
{
    if (decoder)
        return true;
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return false;
    decoder = avcodec_alloc_context3(codec);
    if (!decoder || avcodec_parameters_to_context(decoder, stream->codecpar) < 0)
        return false;
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = 0;
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        return false;
    current = av_frame_alloc();
    next = av_frame_alloc();
    return current && next;
}

bool MovieReader::Impl::decodeNext(AVFrame* out)
{
    for (;;) {
        int rc = avcodec_receive_frame(decoder, out);
        if (rc == 0) {
            out->pts = out->best_effort_timestamp;
            return true;
        }
        if (rc == AVERROR_EOF) {
            endOfStream = true;
            return false;
        }
        if (rc != AVERROR(EAGAIN) || flushed)
            return false;
        if (readPacket(packet)) {
            rc = avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
            (void)rc; // a damaged packet is passed over; its frame is missing
        } else {
            avcodec_send_packet(decoder, nullptr); // drain the frames still held
            flushed = true;
        }
    }
}

template <typename Bitmap> bool MovieReader::Impl::toRgba(const AVFrame* f, Bitmap& out)
{
    constexpr bool deep = std::is_same_v<Bitmap, RgbaBitmap16>;
    constexpr AVPixelFormat target = deep ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_RGBA;
    constexpr std::size_t pixel = deep ? 8 : 4;
    // The ffmpeg tool's own conversion: its frames and ours are the same
    // bytes. Full chroma interpolation was measurably further from the
    // source on sharp edges.
    sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                               target, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws)
        return false;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        // The matrix and range the stream is tagged with; untagged is BT.601.
        sws_setColorspaceDetails(sws, sws_getCoefficients(f->colorspace), isFullRange(f) ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    // The scaler writes whole SIMD blocks, past the end of a row of 4 * width
    // bytes: it gets a frame buffer with FFmpeg's alignment and padding, and
    // the rows are copied out of it.
    if (!rgba || rgba->width != f->width || rgba->height != f->height || rgba->format != target) {
        av_frame_free(&rgba);
        rgba = av_frame_alloc();
        if (!rgba)
            return false;
        rgba->format = target;
        rgba->width = f->width;
        rgba->height = f->height;
        if (av_frame_get_buffer(rgba, 0) < 0) {
            av_frame_free(&rgba);
            return false;
        }
    }
    if (sws_scale(sws, f->data, f->linesize, 0, f->height, rgba->data, rgba->linesize) != f->height)
        return false;
    const int w = f->width == stream->codecpar->width ? displayWidth() : f->width;
    const std::size_t row = std::size_t(w) * pixel;
    out.width = w;
    out.height = f->height;
    out.pixels.resizeForOverwrite(row * f->height);
    for (int y = 0; y < f->height; ++y)
        std::memcpy(out.pixels.data() + row * y, rgba->data[0] + std::ptrdiff_t(rgba->linesize[0]) * y, row);
    return true;
}

MovieReader::MovieReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieReader::~MovieReader() = default;

std::unique_ptr<MovieReader> MovieReader::open(const std::string& path, std::string* error)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); }); // a file that is no movie is told by the caller
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    if (const int rc = avformat_open_input(&impl->format, path.c_str(), nullptr, nullptr); rc < 0) {
        if (error)
            *error = ffmpegError(rc);
        return nullptr;
    }
    if (const int rc = avformat_find_stream_info(impl->format, nullptr); rc < 0) {
        if (error)
            *error = ffmpegError(rc);
        return nullptr;
    }
    for (unsigned i = 0; i < impl->format->nb_streams; ++i) {
        AVStream* s = impl->format->streams[i];
        if (impl->streamIndex < 0 && s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC) && s->codecpar->width > 0 && s->codecpar->height > 0) {
            impl->streamIndex = int(i);
            impl->stream = s;
        } else {
            s->discard = AVDISCARD_ALL; // only the video track is ever read
        }
    }
    if (!impl->stream || impl->stream->time_base.num <= 0 || impl->stream->time_base.den <= 0) {
        if (error)
            *error = "no video track";
        return nullptr;
    }
    impl->packet = av_packet_alloc();
    if (!impl->packet)
        return nullptr;
    return std::unique_ptr<MovieReader>(new MovieReader(std::move(impl)));
}

const std::string& MovieReader::path() const { return impl_->path; }
int MovieReader::Impl::displayWidth() const
{
    // A 4:2:0 movie of an odd width is encoded one column wider; its track
    // then shows the picture that much narrower.
    const int w = stream->codecpar->width;
    const AVRational sar = stream->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0 && std::int64_t(sar.num) * w == std::int64_t(sar.den) * (w - 1) &&
        (w & 1) == 0)
        return w - 1;
    return w;
}

int MovieReader::width() const { return impl_->displayWidth(); }
int MovieReader::height() const { return impl_->stream->codecpar->height; }
// Times are kept in units of 1/den; a time base such as 1001/30000 (AVI)
// becomes value * 1001 over 30000.
std::int32_t MovieReader::timeScale() const { return impl_->stream->time_base.den; }
const std::vector<MovieReader::Frame>& MovieReader::frames() const { return impl_->frames; }

bool MovieReader::scanFrames()
{
    Impl& m = *impl_;
    m.frames.clear();
    m.scanned = false;
    m.positioned = false; // the decoder must start again from a seek
    const std::int64_t startTs = m.stream->start_time != AV_NOPTS_VALUE ? m.stream->start_time : 0;
    if (!m.seek(startTs))
        return false;
    m.positioned = false;
    struct Packet {
        std::int64_t pts, duration;
    };
    std::vector<Packet> packets;
    std::int64_t end = AV_NOPTS_VALUE;
    std::int64_t videoPackets = 0;
    int rc;
    while ((rc = av_read_frame(m.format, m.packet)) >= 0) {
        videoPackets += m.packet->stream_index == m.streamIndex;
        if (m.packet->stream_index == m.streamIndex && !(m.packet->flags & AV_PKT_FLAG_DISCARD)) {
            const std::int64_t pts = m.packet->pts != AV_NOPTS_VALUE ? m.packet->pts : m.packet->dts;
            if (pts != AV_NOPTS_VALUE) {
                packets.push_back({pts, m.packet->duration});
                if (m.packet->duration > 0)
                    end = std::max(end == AV_NOPTS_VALUE ? pts : end, pts + m.packet->duration);
            }
        }
        av_packet_unref(m.packet);
    }
    // A file cut short after its index (a fast-start movie copied in part)
    // ends early without an error: the index tells what is missing.
    m.missingFrames = std::max<std::int64_t>(0, avformat_index_get_entries_count(m.stream) - videoPackets);
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pts < b.pts; });
    packets.erase(std::unique(packets.begin(), packets.end(),
                              [](const Packet& a, const Packet& b) { return a.pts == b.pts; }),
                  packets.end());
    const std::int64_t num = m.stream->time_base.num;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        std::int64_t duration;
        if (i + 1 < packets.size()) {
            duration = packets[i + 1].pts - packets[i].pts;
        } else {
            // A fragmented file can carry no length for its last packet: the
            // track's total length tells it then.
            std::int64_t last = end;
            if (m.stream->duration > 0 && m.stream->duration != AV_NOPTS_VALUE)
                last = std::max(last == AV_NOPTS_VALUE ? 0 : last, startTs + m.stream->duration);
            duration = last != AV_NOPTS_VALUE && last > packets[i].pts ? last - packets[i].pts
                       : i > 0                                          ? packets[i].pts - packets[i - 1].pts
                                                                        : 1;
        }
        m.frames.push_back({packets[i].pts * num, duration * num});
    }
    m.scanned = true;
    return rc == AVERROR_EOF && m.missingFrames == 0;
}

std::int64_t MovieReader::missingFrames() const { return impl_->missingFrames; }

template <typename Bitmap> bool MovieReader::Impl::frameAt(std::int64_t t, Bitmap& out, bool exact)
{
    Impl& m = *this;
    if (!m.openDecoder())
        return false;
    const std::int64_t ts = t / m.stream->time_base.num;
    if (!m.positioned || (m.hasCurrent && m.current->pts > ts)) {
        if (!m.seek(ts))
            return false;
    }
    for (;;) {
        if (!m.hasNext) {
            if (m.endOfStream || !m.decodeNext(m.next))
                break;
            m.hasNext = true;
        }
        if (m.next->pts > ts)
            break;
        std::swap(m.current, m.next);
        m.hasCurrent = true;
        m.hasNext = false;
    }
    // A frame that did not decode leaves the one before it as the current.
    return m.hasCurrent && m.current->pts <= ts && (!exact || m.current->pts == ts) && m.toRgba(m.current, out);
}

bool MovieReader::frameImageAtTime(std::int64_t t, RgbaBitmap& out, bool exact) { return impl_->frameAt(t, out, exact); }

bool MovieReader::frameImageAtTime(std::int64_t t, RgbaBitmap16& out, bool exact)
{
    return impl_->frameAt(t, out, exact);
}

std::string MovieReader::tag(const std::string& key) const
{
    const AVDictionaryEntry* e = av_dict_get(impl_->format->metadata, key.c_str(), nullptr, AV_DICT_MATCH_CASE);
    return e && e->value ? e->value : "";
}

int MovieReader::depth() const
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(impl_->stream->codecpar->format));
    return desc ? desc->comp[0].depth : 8;
}

std::string MovieReader::codecType() const
{
    switch (impl_->stream->codecpar->codec_id) {
    case AV_CODEC_ID_H264: return "avc1";
    case AV_CODEC_ID_MJPEG: return "jpeg";
    case AV_CODEC_ID_TIFF: return "tiff";
    case AV_CODEC_ID_MPEG4: return "mp4v";
    case AV_CODEC_ID_QTRLE: return "rle ";
    case AV_CODEC_ID_HEVC: return "hvc1";
    case AV_CODEC_ID_PRORES: return "apch";
    case AV_CODEC_ID_AV1: return "av01";
    default: return {};
    }
}

int MovieReader::estimatedQuality()
{
    Impl& m = *impl_;
    const std::string type = codecType();
    if (type != "avc1" && type != "jpeg")
        return 512;
    m.positioned = false;
    const std::int64_t startTs = m.stream->start_time != AV_NOPTS_VALUE ? m.stream->start_time : 0;
    if (!m.seek(startTs))
        return 512;
    m.positioned = false;
    double setting = -1;
    if (m.readPacket(m.packet)) {
        setting = type == "avc1" ? x264RateFactor(m.packet) : mjpegQuantiser(m.packet);
        av_packet_unref(m.packet);
    }
    return setting > 0 ? qualityForEncoderSetting(type, setting) : 512;
}

bool MovieReader::hasSameStreamFormat(const MovieReader& other) const
{
    const AVCodecParameters* a = impl_->stream->codecpar;
    const AVCodecParameters* b = other.impl_->stream->codecpar;
    // The colour description is the track's, not each packet's: movies that
    // differ in it cannot share a track as they are.
    return a->codec_id == b->codec_id && a->width == b->width && a->height == b->height &&
           a->format == b->format && a->color_space == b->color_space && a->color_range == b->color_range &&
           a->color_primaries == b->color_primaries && a->color_trc == b->color_trc &&
           a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || std::memcmp(a->extradata, b->extradata, a->extradata_size) == 0);
}

template <typename Bitmap> static bool tiffOf(const Bitmap& picture, std::string& bytes)
{
    constexpr bool deep = std::is_same_v<Bitmap, RgbaBitmap16>;
    if (picture.width <= 0 || picture.height <= 0)
        return false;
    try {
        vips::VImage rgba = vips::VImage::new_from_memory(const_cast<std::uint8_t*>(picture.pixels.data()),
                                                          picture.pixels.size(), picture.width, picture.height,
                                                          4, deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
        vips::VImage rgb = rgba.extract_band(0, vips::VImage::option()->set("n", 3))
                               .copy(vips::VImage::option()->set("interpretation", deep ? VIPS_INTERPRETATION_RGB16
                                                                                        : VIPS_INTERPRETATION_sRGB));
        VipsBlob* blob = rgb.tiffsave_buffer();
        std::size_t size = 0;
        const void* data = vips_blob_get(blob, &size);
        bytes.assign(static_cast<const char*>(data), size);
        vips_area_unref(VIPS_AREA(blob));
        return true;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
}

bool tiffData(const RgbaBitmap& picture, std::string& bytes) { return tiffOf(picture, bytes); }
bool tiffData(const RgbaBitmap16& picture, std::string& bytes) { return tiffOf(picture, bytes); }

} // namespace mv
