#include "session/ScratchFolder.h"

#include "settings/Folders.h"
#include "settings/Utf16.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// Opens the folder itself, never what a link in its place points to, and only
// when it is the user's own directory; tightens its mode to 0700.
UniqueDir openPrivateDirectory(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    bool ours = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
    if (ours && (info.st_mode & 077) != 0)
        ours = fchmod(fd, 0700) == 0;
    DIR* dir = ours ? fdopendir(fd) : nullptr;
    if (!dir)
        close(fd);
    return UniqueDir(dir);
}

void deleteOwnRegularFiles(DIR* dir) {
    int fd = dirfd(dir);
    uid_t user = geteuid();
    while (dirent* entry = readdir(dir)) {
        struct stat info {};
        if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode) && info.st_uid == user)
            unlinkat(fd, entry->d_name, 0);
    }
}

} // namespace

std::string ScratchFolder::Path() {
    std::string temp = ToUtf8(GetTempFolder());
    if (!temp.empty() && temp.back() == '/')
        temp.pop_back();
    return temp + "/DaltropSC";
}

bool ScratchFolder::Prepare(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    UniqueDir dir = openPrivateDirectory(path);
    if (!dir)
        return false;
    deleteOwnRegularFiles(dir.get());
    return true;
}
