#include "imagelist/VerifyList.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/AtomicFile.h"
#include "platform/system/MacRoman.h"

namespace mv {

VerifyList::~VerifyList()
{
    if (handle_)
        std::fclose(handle_);
}

void VerifyList::writeVerifyFile(const std::string& line)
{
    if (onWrite_)
        onWrite_();
    if (path_.empty()) {
        failed_ = true;
        return;
    }
    std::lock_guard lock(mutex_);
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        // Created anew, with its first line, also after the user deleted it;
        // it appears with that line in place. Lines are then appended whole.
        if (handle_)
            std::fclose(handle_);
        handle_ = nullptr;
        if (!writeFileAtomically(path_, kFirstLine, false) && errno != EEXIST) {
            failed_ = true;
            return;
        }
    }
    if (!handle_) {
        handle_ = std::fopen(path_.c_str(), "ab");
        if (!handle_) {
            failed_ = true;
            return;
        }
    }
    const std::string bytes = toMacRoman(line);
    if (std::fwrite(bytes.data(), 1, bytes.size(), handle_) != bytes.size() || std::fflush(handle_) != 0)
        failed_ = true;
    ::fdatasync(fileno(handle_));
}

} // namespace mv
