#pragma once
// Writing a movie: one video track in a QuickTime (.mov) or MPEG-4 (.mp4)
// file, pictures appended in order, each with its own duration.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/picture/Picture.h"

namespace mv {

// A time value over a time scale (value / scale seconds).
struct MovieTime {
    std::int64_t value = 0;
    std::int32_t scale = 600;
};

// How every picture of one movie is encoded.
struct MovieAttributes {
    // "avc1", "jpeg", "tiff", "mp4v", "rle ", "hvc1" (HEVC), "apch" (ProRes
    // 422 HQ) or "av01" (AV1)
    std::string codecType = "jpeg";
    int quality = 512;              // 1024 lossless ... 256 low
    int trackTimeScale = 600;
    // Bits a sample: 10 asks HEVC and AV1 for Main 10. ProRes is always 10
    // bits and the other codecs 8, whatever this says.
    int depth = 8;
};

// Whether the movie at `path` is an MPEG-4 file: its name ends in ".mp4"
// (any case). Every other name is a QuickTime movie. isMovPath: its name
// ends in ".mov".
bool isMp4Path(const std::string& path);
bool isMovPath(const std::string& path);

// Error code of a movie that cannot be opened because the encoder for its
// codec is missing from this build.
constexpr int kEncoderUnavailable = -2012;

// The quality step (1024 ... 256) whose encoder setting is nearest to
// `setting`: x264's rate factor for "avc1", the quantiser for "jpeg" and
// "mp4v". 512 for the lossless codecs, which have no setting.
int qualityForEncoderSetting(const std::string& codecType, double setting);

// The frame sizes that the encoder of `codecType` takes, as it encodes them:
// a 4:2:0 or 4:2:2 codec encodes an odd side one pixel larger (evenSides).
// Every codec is also held to maxPixels, the largest frame of H.264 (level
// 6.2, 8192 x 4352), so that the frames in flight stay within a few hundred
// megabytes, and to what the movie file can describe (kMovieMaxSide).
struct FrameSizeLimit {
    int minSide = 1;
    int maxWidth = 0, maxHeight = 0;
    std::int64_t maxPixels = 0;
    bool evenSides = false;
    // A frame with a side below narrowSide has at most narrowMaxSide pixels
    // along the other (0: no such rule).
    int narrowSide = 0, narrowMaxSide = 0;
};
FrameSizeLimit frameSizeLimit(const std::string& codecType);

// The track header of a QuickTime or MPEG-4 file holds the frame size as
// signed 16.16 fixed point: FFmpeg reads a side of 32768 or more as negative
// (a 4 x 65000 track gets the aspect ratio -8125:67).
constexpr int kMovieMaxSide = 32767;

class MovieWriter {
public:
    struct Error {
        int code = 0;
        std::string description;
    };

    struct Options {
        // The movie replaces a file at the path (the user agreed to it);
        // otherwise an existing file is never touched.
        bool replace = false;
        // A scratch movie that never gets a name: it is read back through
        // readPath() and vanishes with the writer, also after a crash.
        bool unnamed = false;
        // Key and value texts written into the finished movie's metadata.
        std::vector<std::pair<std::string, std::string>> tags;
    };

    // Starts the movie that will be `path`. Nothing is at the path until
    // update() has finished the movie: while it is written, the frames so
    // far go to "<name>.partial" beside it, as a fragmented movie that
    // plays up to the last half second or so, whatever stops the program.
    static std::unique_ptr<MovieWriter> create(const std::string& path, const MovieAttributes& attributes,
                                               Error& error, Options options);
    static std::unique_ptr<MovieWriter> create(const std::string& path, const MovieAttributes& attributes,
                                               Error& error)
    {
        return create(path, attributes, error, Options{});
    }
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // The movie's own time scale; when set before the first picture, the
    // track uses it instead of the attributes' one.
    void setMovieTimeScale(std::int32_t scale);

    // Appends one picture for the given duration. The first picture fixes the
    // frame size. False when the picture was not taken; also after update().
    bool addImage(const RgbaBitmap& picture, MovieTime duration);
    // The same for a picture already in the encoder's 4:2:0, which only the
    // codecs that takesYuv420() take.
    bool addImage(const Yuv420Bitmap& picture, MovieTime duration);
    bool takesYuv420() const;
    int depth() const; // bits a sample the movie is written with
    // The same at 16 bits a channel: a codec of 10 bits keeps 10 of them;
    // on the way to 8 bits they are dithered (an ordered 8 x 8 pattern), so
    // that a smooth gradient does not come out as flat bands.
    bool addImage(const RgbaBitmap16& picture, MovieTime duration);

    bool hasPicture() const;   // at least one picture was taken
    bool canUpdate() const;    // the file can still be written
    std::int64_t frameCount() const;
    double durationSeconds() const;

    // The movie that update() writes ends after its first `frames` frames
    // (a run stopped at a picture behind the ones it had written).
    void keepFirstFrames(std::int64_t frames);

    // Finishes the file: flushes the encoder, writes the movie as one
    // regular movie under its name, flushed to disk, and removes the partial
    // file. True when the file is complete and playable. When a file has
    // appeared at the path meanwhile, the movie takes the next numbered name.
    bool update(std::string& error);

    // Closes without finishing and removes every file of the movie.
    void discard();

    // Where the movie is (or will be); see update().
    const std::string& path() const;
    // The partial file while it has a name, else empty.
    std::string partialPath() const;
    // A path that reads the finished unnamed movie.
    std::string readPath() const;

private:
    struct Impl;
    explicit MovieWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace mv
