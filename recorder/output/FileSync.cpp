#include "recorder/output/FileSync.h"

#include "settings/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

bool SyncOpened(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

} // namespace

bool SyncFile(const std::string& path) {
    return SyncOpened(path, O_RDONLY);
}

bool SyncFolderOf(const std::string& path) {
    return SyncOpened(files::FolderOf(path), O_RDONLY | O_DIRECTORY);
}
