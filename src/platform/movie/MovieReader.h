#pragma once
// Reading movies: the frame size, the start time of every frame, the picture
// shown at a time, and writing several movies one after another into one
// self-contained .mov file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/picture/Picture.h"

namespace mv {

class MovieReader {
public:
    // One frame of the video track, in units of timeScale().
    struct Frame {
        std::int64_t start = 0;
        std::int64_t duration = 0;
    };

    // Opens the first video track of a movie file. Nothing when the file is
    // not a movie or has no video track.
    static std::unique_ptr<MovieReader> open(const std::string& path, std::string* error = nullptr);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    const std::string& path() const;
    int width() const;
    int height() const;
    std::int32_t timeScale() const;

    // Lists the frames in presentation order from the packets, without
    // decoding. False when the file cannot be read to its end, or holds fewer
    // frames than its index lists (a cut-off file); frames() then holds the
    // frames that are there.
    bool scanFrames();
    const std::vector<Frame>& frames() const;
    // Frames the movie's index lists that the file does not hold.
    std::int64_t missingFrames() const;

    // The picture shown at time t (units of timeScale()), as opaque RGBA.
    // Requests in time order decode every frame once. With `exact`, only the
    // frame that starts at t will do: false when it cannot be decoded.
    bool frameImageAtTime(std::int64_t t, RgbaBitmap& out, bool exact = false);
    bool frameImageAtTime(std::int64_t t, RgbaBitmap16& out, bool exact = false);
    // A text of the movie's metadata; empty when it has none by that key.
    std::string tag(const std::string& key) const;
    // Bits a sample of the movie's pictures (8 for most, 10 for ProRes and
    // for HEVC and AV1 Main 10).
    int depth() const;

    // The four-character code of the codec as the movie writer names it
    // ("avc1", "jpeg", "tiff", "mp4v", "rle ", "hvc1", "apch", "av01"), empty
    // for other codecs.
    std::string codecType() const;
    // The writer's quality step (1024 ... 256) that this movie was most
    // likely encoded with; 512 when the stream does not tell.
    int estimatedQuality();

    // The packets of both movies can stand in one track: same codec, frame
    // size, pixel format, colour description and codec header.
    bool hasSameStreamFormat(const MovieReader& other) const;

    struct Impl;

private:
    explicit MovieReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend struct AppendWriter;
};

// The TIFF file form of a picture (8-bit or 16-bit RGB, uncompressed).
bool tiffData(const RgbaBitmap& picture, std::string& bytes);
bool tiffData(const RgbaBitmap16& picture, std::string& bytes);

enum class AppendStatus { Ok, SourceFailed, WriteFailed };

struct AppendOutcome {
    AppendStatus status = AppendStatus::Ok;
    std::string error;
    int copiedMovies = 0;  // movies whose packets were copied unchanged
    int encodedMovies = 0; // movies decoded and encoded again
    std::int32_t timeScale = 0;
    std::string path; // where the movie was written
};

// Writes the movies (scanned, each with frames, all of one frame size) one
// after another into one .mov file at path. Packets are copied when the
// stream formats agree; otherwise movies are encoded again in the first
// movie's codec and quality. Every frame keeps its duration. Nothing is at
// path until the movie is whole; a file that appears there meanwhile is kept
// and the movie takes the next numbered name. On failure no file is left.
// `progress` hears the part done now and then, 0 to 1.
AppendOutcome writeAppendedMovie(const std::vector<MovieReader*>& movies, const std::string& path,
                                 std::function<void(double)> progress = {});

} // namespace mv
