#pragma once
// A captured log past 2 GiB for the tests of 64-bit file lengths: head text, then blank space really
// written (so a reader reads every byte of it), then tail text from a given offset on. Header-only.
#include <sys/statvfs.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace mstpgen {

constexpr int64_t kTwoGiB = int64_t{1} << 31;

// Whether the folder's file system has room for such a log (2.2 GB).
inline bool RoomForBigLog(const std::string& folder, uint64_t* freeBytes = nullptr)
{
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0)
        return false;
    const uint64_t room = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    if (freeBytes)
        *freeBytes = room;
    return room >= 2200000000ull;
}

// Writes head, blanks up to tailAt, then tail; false (and no file left) when it could not.
inline bool WriteBlankPaddedLog(const std::string& path, const std::string& head, int64_t tailAt,
                                const std::string& tail)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    auto put = [fd](const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = write(fd, data, size);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    };
    bool ok = put(head.data(), head.size());
    const std::string blank(size_t{1} << 20, ' ');
    for (int64_t at = static_cast<int64_t>(head.size()); ok && at < tailAt;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(blank.size()), tailAt - at));
        ok = put(blank.data(), n);
        at += static_cast<int64_t>(n);
    }
    ok = put(tail.data(), tail.size()) && ok;
    ok = close(fd) == 0 && ok;
    if (!ok)
        unlink(path.c_str());
    return ok;
}

} // namespace mstpgen
