#include "platform/system/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace mv {
namespace {

std::string folderOf(const std::string& path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

} // namespace

bool pathIsTaken(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string numberedFreePath(const std::string& path)
{
    if (!pathIsTaken(path))
        return path;
    const fs::path p(path);
    const std::string stem = (p.parent_path() / p.stem()).string();
    const std::string ext = p.extension().string();
    for (unsigned n = 1; n <= 65535; ++n) {
        const std::string candidate = stem + "-" + std::to_string(n) + ext;
        if (!pathIsTaken(candidate))
            return candidate;
    }
    return {};
}

bool syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL; // some file systems cannot sync a folder
    ::close(fd);
    return ok;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& path)
{
    discard();
    path_ = path;
    const std::string folder = folderOf(path);
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // The unnamed file is named through /proc, which may be missing.
    if (fd_ >= 0 && ::access(procPath(fd_).c_str(), F_OK) == 0)
        return true;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        return false;
    }
    // No unnamed files here: a hidden name that says what it is.
    std::string pattern = (fs::path(folder) / ("." + fs::path(path).filename().string() + ".tmp-XXXXXX")).string();
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
        return false;
    ::fchmod(fd_, 0644); // as a new file under the usual umask, not mkstemp's 0600
    tempName_ = pattern;
    return true;
}

std::string AtomicFile::ioPath() const { return tempName_.empty() ? procPath(fd_) : tempName_; }

bool AtomicFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool AtomicFile::commit(bool replace) { return commitAs(path_, replace); }

bool AtomicFile::commitAs(const std::string& path, bool replace)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (::fsync(fd_) != 0)
        return false;
    bool named;
    if (tempName_.empty()) {
        if (replace) {
            // A name can only be added to an unnamed file, not moved over
            // another: add a temporary one, then move it.
            std::string temp;
            for (int attempt = 0; attempt < 100; ++attempt) {
                temp = (fs::path(folderOf(path)) /
                        ("." + fs::path(path).filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                         std::to_string(attempt)))
                           .string();
                if (::linkat(AT_FDCWD, procPath(fd_).c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    break;
                if (errno != EEXIST)
                    return false;
                temp.clear();
            }
            named = !temp.empty() && ::rename(temp.c_str(), path.c_str()) == 0;
            if (!named && !temp.empty())
                ::unlink(temp.c_str());
        } else {
            named = linkTo(path);
        }
    } else if (replace) {
        named = ::rename(tempName_.c_str(), path.c_str()) == 0;
    } else {
        // link() refuses an existing name, rename() would not.
        named = ::link(tempName_.c_str(), path.c_str()) == 0;
        if (named)
            ::unlink(tempName_.c_str());
    }
    if (!named)
        return false;
    if (!published_.empty() && published_ != path)
        ::unlink(published_.c_str());
    published_.clear();
    tempName_.clear();
    const int err = ::close(fd_);
    fd_ = -1;
    path_ = path;
    syncFolder(folderOf(path));
    return err == 0;
}

bool AtomicFile::linkTo(const std::string& name)
{
    if (tempName_.empty())
        return ::linkat(AT_FDCWD, procPath(fd_).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    return ::link(tempName_.c_str(), name.c_str()) == 0;
}

bool AtomicFile::publish(const std::string& name)
{
    if (fd_ < 0 || !published_.empty())
        return fd_ >= 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = numberedFreePath(name);
        if (candidate.empty())
            return false;
        if (linkTo(candidate)) {
            published_ = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void AtomicFile::discard()
{
    if (!published_.empty())
        ::unlink(published_.c_str());
    published_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty())
        ::unlink(tempName_.c_str());
    tempName_.clear();
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, bool replace)
{
    AtomicFile file;
    return file.open(path) && file.write(bytes) && file.commit(replace);
}

} // namespace mv
