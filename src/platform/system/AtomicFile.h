#pragma once
// Files that appear at their name only when they are complete and on disk.
// The content is written into a file without a name in the target's folder
// (or, where the file system cannot do that, under a hidden temporary name),
// flushed, and then given its name in one step. A kill or a power cut at any
// moment leaves either nothing or the whole file at the name.
#include <string>
#include <string_view>

namespace mv {

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile(); // discards a file that was not committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts the file that will be `path`. False (with errno set) when the
    // folder cannot take a new file.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // A path that opens this very file for reading or writing while it has no
    // name of its own (for libraries that want a path).
    std::string ioPath() const;

    bool write(std::string_view bytes);

    // Flushes the file and gives it its name. Without `replace` an existing
    // file is never replaced: false with errno EEXIST. Closes the file.
    bool commit(bool replace = false);
    // Same, at another name than the one given to open() (same folder).
    bool commitAs(const std::string& path, bool replace = false);
    // Forgets the content; nothing is left in the folder (a published name
    // included).
    void discard();

    // Gives the file, while it is still being written, a visible name of its
    // own: `name`, or the first free "stem-N.ext" of it. False when none is
    // free. The name goes with discard() and with the commit of the file.
    bool publish(const std::string& name);
    const std::string& publishedName() const { return published_; }

private:
    bool linkTo(const std::string& name);
    int fd_ = -1;
    std::string path_;
    std::string tempName_;  // only where unnamed files are not supported
    std::string published_; // the visible name while it is written
};

// Writes a whole file through AtomicFile. False when it could not be written
// or, without `replace`, when a file exists at the path.
bool writeFileAtomically(const std::string& path, std::string_view bytes, bool replace);

// Makes the entries of a folder (new names, removals) durable.
bool syncFolder(const std::string& folder);

// The path itself when nothing is there, else the first free one of
// "stem-1.ext", "stem-2.ext" ...; empty when every number up to 65535 is taken.
std::string numberedFreePath(const std::string& path);

// True when something (a file, a folder, a dangling link) is at the path.
bool pathIsTaken(const std::string& path);

} // namespace mv
