#include "advert/PrivateFolder.h"

#include "settings/Utf16.h"

#include <sys/stat.h>
#include <unistd.h>

bool MakePrivateFolder(const std::u16string& path) {
    const std::string folder = ToUtf8(path);
    mkdir(folder.c_str(), 0700);
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
