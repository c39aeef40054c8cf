#include "recorder/output/RecordingTarget.h"

#include "settings/FileSystem.h"

#include <climits>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace {

bool IsKernelFileSystem(const struct statfs& info) {
    return info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC || info.f_blocks == 0;
}

// Every file system Linux mounts for users takes names of at most NAME_MAX bytes.
bool HasOverlongPart(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return true;
    for (size_t start = 0;;) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        if (end - start > NAME_MAX)
            return true;
        if (slash == std::string::npos)
            return false;
        start = slash + 1;
    }
}

} // namespace

RecordingTargetProblem CheckRecordingName(const std::string& path) {
    if (!path.empty() && path.back() == '/')
        return RecordingTargetProblem::NamesFolder;
    if (HasOverlongPart(path))
        return RecordingTargetProblem::NameTooLong;
    // A missing folder or one that cannot be looked at is left to the writer,
    // whose refusal says so.
    struct statfs disk {};
    if (statfs(files::FolderOf(path).c_str(), &disk) == 0 && IsKernelFileSystem(disk))
        return RecordingTargetProblem::NotOnADisk;
    struct stat file {};
    if (stat(path.c_str(), &file) == 0 && !S_ISREG(file.st_mode))
        return RecordingTargetProblem::NotAFile;
    return RecordingTargetProblem::Usable;
}

RecordingTargetProblem CheckRecordingTarget(const std::string& path, uint64_t bytesNeeded) {
    if (const RecordingTargetProblem problem = CheckRecordingName(path);
        problem != RecordingTargetProblem::Usable)
        return problem;
    struct statfs disk {};
    if (statfs(files::FolderOf(path).c_str(), &disk) != 0)
        return RecordingTargetProblem::Usable;
    // An existing file is emptied first, so its blocks count as room.
    struct stat file {};
    const bool exists = stat(path.c_str(), &file) == 0;
    const uint64_t freeBytes = uint64_t(disk.f_bavail) * uint64_t(disk.f_bsize) +
                               (exists ? uint64_t(file.st_blocks) * 512u : 0u);
    return freeBytes < bytesNeeded ? RecordingTargetProblem::NoRoom
                                   : RecordingTargetProblem::Usable;
}
