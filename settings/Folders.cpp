#include "settings/Folders.h"

#include "settings/Utf16.h"
#include "settings/XdgDirs.h"

#include <climits>
#include <unistd.h>

std::u16string GetFolder(int kind) {
    switch (kind) {
    case FOLDER_TEMP:
        return FromUtf8(xdg::TempDir());
    case FOLDER_PERSONAL:
        return FromUtf8(xdg::DocumentsDir());
    case FOLDER_APPDATA:
        return FromUtf8(xdg::ConfigHome());
    default:
        return {};
    }
}

std::u16string GetTempFolder() {
    return GetFolder(FOLDER_TEMP);
}

std::u16string GetModuleFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) == sizeof buffer)
        return {};
    return DirectoryOf(FromUtf8(std::string_view(buffer, static_cast<size_t>(length))));
}

std::u16string DirectoryOf(const std::u16string& path) {
    // The last component starts after the last '/' that is followed by something
    // other than another '/', so "a/b/" splits as "a/" and "b/".
    size_t start = 0;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        if (path[i] == u'/' && path[i + 1] != u'/')
            start = i + 1;
    }
    return path.substr(0, start);
}
