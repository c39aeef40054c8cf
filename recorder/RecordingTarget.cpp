#include "recorder/RecordingTarget.h"

#include "settings/FileSystem.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace {

bool IsKernelFileSystem(const struct statfs& info) {
    return info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC || info.f_blocks == 0;
}

} // namespace

RecordingTargetProblem CheckRecordingTarget(const std::string& path, uint64_t bytesNeeded) {
    struct stat file {};
    const bool exists = stat(path.c_str(), &file) == 0;
    if (exists && !S_ISREG(file.st_mode))
        return RecordingTargetProblem::NotAFile;
    // A missing folder or one that cannot be looked at is left to the writer,
    // whose refusal says so.
    struct statfs disk {};
    if (statfs(exists ? path.c_str() : files::FolderOf(path).c_str(), &disk) != 0)
        return RecordingTargetProblem::Usable;
    if (IsKernelFileSystem(disk))
        return RecordingTargetProblem::NotOnADisk;
    // An existing file is emptied first, so its blocks count as room.
    const uint64_t freeBytes = uint64_t(disk.f_bavail) * uint64_t(disk.f_bsize) +
                               (exists ? uint64_t(file.st_blocks) * 512u : 0u);
    return freeBytes < bytesNeeded ? RecordingTargetProblem::NoRoom : RecordingTargetProblem::Usable;
}
