#include "settings/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Safe to repeat; the first call's result tells whether buffered data reached the file.
    bool Close() {
        const bool closed = m_fd < 0 || close(m_fd) == 0;
        m_fd = -1;
        return closed;
    }

private:
    int m_fd;
};

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string pattern)
        : m_path(std::move(pattern)), m_fd(mkstemp(m_path.data())), m_created(m_fd.IsOpen()) {}
    ~TemporaryFile() {
        m_fd.Close();
        if (m_created && !m_kept)
            unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    FileDescriptor& Descriptor() { return m_fd; }
    const std::string& Path() const { return m_path; }
    void Keep() { m_kept = true; }

private:
    std::string m_path;
    FileDescriptor m_fd;
    bool m_created;
    bool m_kept = false;
};

bool WriteAll(int fd, const std::string& contents) {
    size_t written = 0;
    while (written < contents.size()) {
        const ssize_t result = write(fd, contents.data() + written, contents.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += static_cast<size_t>(result);
    }
    return true;
}

// Only a regular file of the user's own, or no file yet, is replaced: a link could
// point at anything (a device, another user's file), and a rename never follows one.
bool IsOwnRegularFileOrMissing(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

// The renamed file's directory entry survives a crash only once the folder is synced.
void SyncFolder(const std::string& folder) {
    FileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen())
        fsync(dir.Get());
}

} // namespace

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& path, mode_t mode) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (mkdir(path.substr(0, slash).c_str(), mode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return (mkdir(path.c_str(), mode) == 0 || errno == EEXIST) && stat(path.c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& path, size_t maxBytes) {
    // Non-blocking, so that a named pipe in the file's place cannot hang the caller.
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.IsOpen() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<size_t>(info.st_size) > maxBytes)
        return std::nullopt;
    std::string contents(maxBytes + 1, '\0');
    size_t size = 0;
    while (size < contents.size()) {
        const ssize_t result = read(fd.Get(), contents.data() + size, contents.size() - size);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return std::nullopt;
        if (result == 0)
            break;
        size += static_cast<size_t>(result);
    }
    if (size > maxBytes)
        return std::nullopt;
    contents.resize(size);
    return contents;
}

bool ReplaceFile(const std::string& path, const std::string& contents) {
    if (!IsOwnRegularFileOrMissing(path))
        return false;
    TemporaryFile temporary(path + ".XXXXXX");
    FileDescriptor& fd = temporary.Descriptor();
    if (!fd.IsOpen())
        return false;
    struct stat previous {};
    if (stat(path.c_str(), &previous) == 0)
        fchmod(fd.Get(), previous.st_mode & 07777);
    if (!WriteAll(fd.Get(), contents) || fsync(fd.Get()) != 0 || !fd.Close())
        return false;
    if (rename(temporary.Path().c_str(), path.c_str()) != 0)
        return false;
    temporary.Keep();
    SyncFolder(FolderOf(path));
    return true;
}

} // namespace files
