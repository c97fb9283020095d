#pragma once
// The Verify List: a Mac OS Roman text file in the data folder that collects,
// across runs, one line per problem found in a list or while writing a movie.
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace mv {

class VerifyList {
public:
    static constexpr const char* kFirstLine = "*** Moirevance Image Verification List ***\n";

    // An empty path writes nothing (the data folder could not be used).
    explicit VerifyList(std::string path = {}) : path_(std::move(path)) {}
    ~VerifyList();
    VerifyList(const VerifyList&) = delete;
    VerifyList& operator=(const VerifyList&) = delete;

    const std::string& path() const { return path_; }
    // A line could not be written (or there is no file to write to): the
    // messages then must not send the user to the file.
    bool hasFailed() const { return failed_; }

    // Called at every write, before anything else (the main window enables
    // its Verify List command).
    void setOnWrite(std::function<void()> f) { onWrite_ = std::move(f); }

    // Appends one line (which carries its own line feed). Safe to call from
    // the movie worker while the main thread holds the list.
    void writeVerifyFile(const std::string& line);

private:
    std::string path_;
    std::FILE* handle_ = nullptr;
    std::atomic<bool> failed_{false};
    std::function<void()> onWrite_;
    std::mutex mutex_;
};

} // namespace mv
