#include "recorder/output/RecordingMarker.h"

#include "recorder/output/FileSync.h"
#include "settings/FileSystem.h"
#include "settings/XdgDirs.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

RecordingMarker::~RecordingMarker() {
    Remove();
}

RecordingMarker::RecordingMarker(RecordingMarker&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_markerPath(std::move(other.m_markerPath)) {}

RecordingMarker& RecordingMarker::operator=(RecordingMarker&& other) noexcept {
    if (this != &other) {
        Remove();
        m_fd = std::exchange(other.m_fd, -1);
        m_markerPath = std::move(other.m_markerPath);
    }
    return *this;
}

std::string RecordingMarker::Folder() {
    return xdg::DataHome() + "/tesmara/recordings";
}

bool RecordingMarker::Create(const std::string& recordingPath) {
    Remove();
    struct stat file {};
    if (stat(recordingPath.c_str(), &file) != 0 || !files::MakeFolders(Folder(), 0700))
        return false;
    std::string name = Folder() + "/recording-XXXXXX";
    m_fd = mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_markerPath = name;
    std::ostringstream text;
    std::error_code error;
    text << file.st_dev << ' ' << file.st_ino << '\n'
         << std::filesystem::absolute(recordingPath, error).string();
    const std::string contents = text.str();
    const bool written =
        flock(m_fd, LOCK_EX) == 0 &&
        write(m_fd, contents.data(), contents.size()) == ssize_t(contents.size()) &&
        fsync(m_fd) == 0 && SyncFolderOf(m_markerPath);
    if (!written)
        Remove();
    return written;
}

void RecordingMarker::Remove() {
    if (m_fd < 0)
        return;
    unlink(m_markerPath.c_str());
    close(m_fd);
    m_fd = -1;
    m_markerPath.clear();
}

bool RecordingMarker::Parse(const std::string& text, Contents& contents) {
    std::istringstream in(text);
    if (!(in >> contents.device >> contents.inode) || in.get() != '\n')
        return false;
    std::getline(in, contents.path, '\0');
    return !contents.path.empty() && contents.path.front() == '/';
}
