#pragma once
// The FFmpeg side of MovieReader, shared by the reader and the appender.
#include "platform/movie/MovieReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace mv {

struct MovieReader::Impl {
    std::string path;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    int streamIndex = -1;
    AVPacket* packet = nullptr;

    std::vector<Frame> frames;
    std::int64_t missingFrames = 0;
    bool scanned = false;

    // Decoding: `current` is the last frame decoded at or before the time
    // asked for, `next` the one decoded after it (kept for the next request).
    AVCodecContext* decoder = nullptr;
    AVFrame* current = nullptr;
    AVFrame* next = nullptr;
    bool hasCurrent = false, hasNext = false;
    bool positioned = false; // a seek was made and frames are read in order since
    bool endOfStream = false, flushed = false;
    SwsContext* sws = nullptr;
    AVFrame* rgba = nullptr; // the scaler's padded output

    ~Impl();
    bool openDecoder();
    // Moves the demuxer to the keyframe at or before t and empties the decoder.
    bool seek(std::int64_t t);
    // Reads the next packet of the video track; false at the end or on error.
    bool readPacket(AVPacket* out);
    // Decodes the next frame in presentation order into `out`.
    bool decodeNext(AVFrame* out);
    template <typename Bitmap> bool toRgba(const AVFrame* frame, Bitmap& out);
    template <typename Bitmap> bool frameAt(std::int64_t t, Bitmap& out, bool exact);
    int displayWidth() const;
};

} // namespace mv
