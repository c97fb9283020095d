// Appending movies into one .mov: packets are copied where the streams agree
// and encoded again where they do not, into a single video track.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numeric>
#include <unordered_map>

#include "platform/system/AtomicFile.h"
#include "platform/movie/MovieReaderImpl.h"
#include "platform/movie/MovieWriter.h"

namespace fs = std::filesystem;

namespace mv {
namespace {

// One time scale in which every frame time of every movie is a whole
// number; the first movie's when the common multiple does not fit.
std::int32_t commonTimeScale(const std::vector<MovieReader*>& movies)
{
    std::int64_t scale = movies[0]->timeScale();
    for (const MovieReader* m : movies) {
        const std::int64_t l = std::lcm(scale, std::int64_t(m->timeScale()));
        if (l <= INT32_MAX)
            scale = l;
    }
    return std::int32_t(scale);
}

} // namespace

struct AppendWriter {
    // Frames encoded and packets copied, against all there is to do: every
    // frame copied, and every frame encoded unless all are copied as they are.
    // What is reported never goes back (a second try encodes again).
    struct Ticker {
        std::function<void(double)> report;
        std::uint64_t done = 0, total = 1;
        double shown = 0;
        void tick()
        {
            const double part = std::min(1.0, double(++done) / double(total));
            if (report && part >= shown + 0.001) // a tenth of a percent
                report(shown = part);
        }
    };

    // Encodes every frame of the movies, in order, into one new movie without
    // a name in the folder of `path`; it lasts as long as `writer`.
    static AppendStatus encode(const std::vector<MovieReader*>& movies, const std::string& path,
                               const MovieAttributes& attributes, std::string& error,
                               std::unique_ptr<MovieWriter>& writer, Ticker& ticker)
    {
        MovieWriter::Error openError;
        MovieWriter::Options options;
        options.unnamed = true;
        writer = MovieWriter::create(path, attributes, openError, options);
        if (!writer) {
            error = openError.description;
            return AppendStatus::WriteFailed;
        }
        // A movie of more than 8 bits is read at 16: the encoder keeps its
        // depth, or dithers it to 8 bits.
        RgbaBitmap picture;
        RgbaBitmap16 deepPicture;
        for (MovieReader* m : movies) {
            const bool deep = m->depth() > 8;
            for (const MovieReader::Frame& f : m->frames()) {
                if (deep ? !m->frameImageAtTime(f.start, deepPicture, true)
                         : !m->frameImageAtTime(f.start, picture, true)) {
                    error = "a frame of " + m->path() + " could not be decoded";
                    return AppendStatus::SourceFailed;
                }
                const MovieTime duration{f.duration, m->timeScale()};
                if (deep ? !writer->addImage(deepPicture, duration) : !writer->addImage(picture, duration)) {
                    error = "the movie encoder has rejected a frame";
                    return AppendStatus::WriteFailed;
                }
                ticker.tick();
            }
        }
        return writer->update(error) ? AppendStatus::Ok : AppendStatus::WriteFailed;
    }

    // Copies the packets of the segments one after another into `path`, each
    // segment starting where the previous one ended.
    // The movie is built without a name and named when it is whole; `path`
    // becomes the next numbered name when a file has appeared there meanwhile.
    static AppendStatus remux(const std::vector<MovieReader*>& segments, std::string& path, std::int32_t scale,
                              std::string& error, Ticker& ticker)
    {
        AVFormatContext* out = nullptr;
        if (avformat_alloc_output_context2(&out, nullptr, isMp4Path(path) ? "mp4" : "mov", nullptr) < 0 || !out) {
            error = "the movie writer could not be started";
            return AppendStatus::WriteFailed;
        }
        AtomicFile file;
        AppendStatus status = AppendStatus::WriteFailed;
        bool opened = false;
        AVPacket* packet = av_packet_alloc();
        AVStream* os = avformat_new_stream(out, nullptr);
        if (packet && os && avcodec_parameters_copy(os->codecpar, segments[0]->impl_->stream->codecpar) >= 0 &&
            file.open(path) && avio_open(&out->pb, ("file:" + file.ioPath()).c_str(), AVIO_FLAG_WRITE) >= 0) {
            opened = true;
            out->url = av_strdup(("file:" + file.ioPath()).c_str()); // read again to move the index to the front
            // The muxer's own tag for the codec; HEVC keeps the one every player takes.
            os->codecpar->codec_tag = os->codecpar->codec_id == AV_CODEC_ID_HEVC ? MKTAG('h', 'v', 'c', '1') : 0;
            // The shape of the pixels, which tells a padded column of an odd width.
            os->sample_aspect_ratio = os->codecpar->sample_aspect_ratio =
                segments[0]->impl_->stream->sample_aspect_ratio;
            os->time_base = AVRational{1, scale};
            AVDictionary* options = nullptr;
            av_dict_set_int(&options, "video_track_timescale", scale, 0);
            if (isMp4Path(path))
                av_dict_set(&options, "movflags", "faststart", 0);
            const int rc = avformat_write_header(out, &options);
            av_dict_free(&options);
            status = rc < 0 ? AppendStatus::WriteFailed : copySegments(segments, out, os, packet, scale, error, ticker);
            if (status == AppendStatus::Ok && (av_write_trailer(out) < 0 || out->pb->error))
                status = AppendStatus::WriteFailed;
        }
        if (opened && avio_closep(&out->pb) < 0 && status == AppendStatus::Ok)
            status = AppendStatus::WriteFailed;
        for (std::string target = path; status == AppendStatus::Ok;) {
            if (file.commitAs(target)) {
                path = target;
                break;
            }
            if (errno != EEXIST || (target = numberedFreePath(path)).empty())
                status = AppendStatus::WriteFailed;
        }
        av_packet_free(&packet);
        avformat_free_context(out);
        if (status == AppendStatus::WriteFailed && error.empty())
            error = "the appended movie could not be written";
        return status;
    }

    static AppendStatus copySegments(const std::vector<MovieReader*>& segments, AVFormatContext* out, AVStream* os,
                                     AVPacket* packet, std::int32_t scale, std::string& error, Ticker& ticker)
    {
        std::int64_t offset = 0;
        std::int64_t lastDts = INT64_MIN;
        for (MovieReader* segment : segments) {
            MovieReader::Impl& m = *segment->impl_;
            const auto& frames = m.frames;
            if (frames.empty())
                continue;
            const std::int64_t num = m.stream->time_base.num, den = m.stream->time_base.den;
            const std::int64_t start = frames.front().start;
            const std::int64_t end = frames.back().start + frames.back().duration;
            std::unordered_map<std::int64_t, std::int64_t> durations; // frame start -> length, 1/den units
            for (const auto& f : frames)
                durations.emplace(f.start, f.duration);
            auto toOut = [&](std::int64_t t) { return offset + av_rescale(t - start, scale, den); };

            m.positioned = false; // the reader must seek again before it decodes
            if (!m.seek(m.stream->start_time != AV_NOPTS_VALUE ? m.stream->start_time : 0)) {
                error = "could not read " + m.path;
                return AppendStatus::SourceFailed;
            }
            m.positioned = false;
            int rc;
            while ((rc = av_read_frame(m.format, packet)) >= 0) {
                if (packet->stream_index != m.streamIndex || (packet->flags & AV_PKT_FLAG_DISCARD)) {
                    av_packet_unref(packet);
                    continue;
                }
                const std::int64_t pts = (packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) * num;
                const std::int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts * num : pts;
                const auto d = durations.find(pts);
                const std::int64_t length = d != durations.end() ? d->second : packet->duration * num;
                packet->pts = toOut(pts);
                packet->duration = toOut(pts + length) - packet->pts;
                packet->dts = toOut(dts);
                if (packet->dts <= lastDts) // reordered streams whose decoding runs ahead of the previous end
                    packet->dts = lastDts + 1;
                if (packet->pts < packet->dts)
                    packet->pts = packet->dts;
                lastDts = packet->dts;
                packet->stream_index = os->index;
                packet->pos = -1;
                if (av_write_frame(out, packet) < 0) {
                    av_packet_unref(packet);
                    return AppendStatus::WriteFailed;
                }
                av_packet_unref(packet);
                ticker.tick();
            }
            if (rc != AVERROR_EOF) {
                error = "could not read " + m.path;
                return AppendStatus::SourceFailed;
            }
            offset = toOut(end);
        }
        return AppendStatus::Ok;
    }

    static AppendOutcome write(const std::vector<MovieReader*>& movies, const std::string& path,
                               std::function<void(double)> progress)
    {
        AppendOutcome result;
        if (movies.empty()) {
            result.status = AppendStatus::SourceFailed;
            return result;
        }
        MovieReader& first = *movies[0];
        result.timeScale = commonTimeScale(movies);
        result.path = path;
        // Movies made on the way: unnamed files beside the output, which
        // vanish with their writers, however the program ends.
        std::vector<std::unique_ptr<MovieWriter>> scratch;
        std::vector<std::unique_ptr<MovieReader>> encoded;
        std::vector<MovieReader*> segments;

        auto openEncoded = [&](std::unique_ptr<MovieWriter> writer) -> MovieReader* {
            auto reader = MovieReader::open("file:" + writer->readPath());
            if (!reader || !reader->scanFrames())
                return nullptr;
            scratch.push_back(std::move(writer));
            encoded.push_back(std::move(reader));
            return encoded.back().get();
        };

        bool copyAll = true;
        Ticker ticker{std::move(progress)};
        ticker.total = 0;
        for (MovieReader* m : movies) {
            copyAll = copyAll && m->hasSameStreamFormat(first);
            ticker.total += m->frames().size();
        }
        ticker.total = std::max<std::uint64_t>(1, copyAll ? ticker.total : 2 * ticker.total);
        if (copyAll) {
            segments = movies;
            result.copiedMovies = int(movies.size());
        } else {
            MovieAttributes attributes;
            attributes.codecType = first.codecType().empty() ? "jpeg" : first.codecType();
            attributes.quality = first.estimatedQuality();
            attributes.trackTimeScale = result.timeScale;
            attributes.depth = first.depth() > 8 ? 10 : 8; // the first movie's

            // First try: the first movie's packets stay as they are and each
            // other movie is encoded on its own, so that it starts with a key
            // frame. That holds only when the encoder's stream format equals
            // the first movie's (a track has one codec header).
            bool mixed = !first.codecType().empty();
            segments.push_back(&first);
            for (std::size_t i = 1; mixed && i < movies.size(); ++i) {
                if (movies[i]->hasSameStreamFormat(first)) {
                    segments.push_back(movies[i]);
                    continue;
                }
                std::unique_ptr<MovieWriter> writer;
                result.status = encode({movies[i]}, path, attributes, result.error, writer, ticker);
                if (result.status != AppendStatus::Ok)
                    return result;
                MovieReader* part = openEncoded(std::move(writer));
                if (!part) {
                    result.status = AppendStatus::WriteFailed;
                    return result;
                }
                mixed = part->hasSameStreamFormat(first);
                segments.push_back(part);
            }
            if (mixed) {
                result.encodedMovies = int(encoded.size());
                result.copiedMovies = int(segments.size() - encoded.size());
            } else {
                // Otherwise every movie goes through one encoder.
                encoded.clear();
                scratch.clear();
                segments.clear();
                std::unique_ptr<MovieWriter> writer;
                result.status = encode(movies, path, attributes, result.error, writer, ticker);
                if (result.status != AppendStatus::Ok)
                    return result;
                MovieReader* all = openEncoded(std::move(writer));
                if (!all) {
                    result.status = AppendStatus::WriteFailed;
                    return result;
                }
                segments.push_back(all);
                result.encodedMovies = int(movies.size());
                result.copiedMovies = 0;
            }
        }
        // The copy is the last half of the work when anything was encoded.
        ticker.done = copyAll ? 0 : ticker.total / 2;
        result.status = remux(segments, result.path, result.timeScale, result.error, ticker);
        return result;
    }
};

AppendOutcome writeAppendedMovie(const std::vector<MovieReader*>& movies, const std::string& path,
                                 std::function<void(double)> progress)
{
    return AppendWriter::write(movies, path, std::move(progress));
}

} // namespace mv
