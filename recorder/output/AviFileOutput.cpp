#include "recorder/output/AviFileOutput.h"

#include "recorder/output/FileSync.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr int kIoBufferSize = 256 * 1024;
// Room is taken in steps, so that the disk is not asked before every frame.
constexpr int64_t kReserveStep = 8 * 1024 * 1024;

bool WithinFileSizeLimit(int64_t end) {
    rlimit limit{};
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           end <= int64_t(limit.rlim_cur);
}

// For file systems that cannot set room aside: the free space they report.
bool FreeSpaceFor(int fd, int64_t bytes) {
    struct statvfs info {};
    return fstatvfs(fd, &info) != 0 || int64_t(info.f_bavail) * int64_t(info.f_frsize) >= bytes;
}

constexpr int64_t kSyncIntervalMs = 1000;

int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

AviFileOutput::~AviFileOutput() {
    Close();
}

bool AviFileOutput::Create(const std::string& path) {
    Close();
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return false;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) {
        Close();
        return false;
    }
    m_io.reset(avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, WritePacket, Seek));
    if (!m_io) {
        av_free(buffer);
        Close();
        return false;
    }
    m_io->seekable = AVIO_SEEKABLE_NORMAL;
    // The new file's name must outlive a power cut as well as its contents.
    SyncFolderOf(path);
    m_lastSync = MonotonicMilliseconds();
    return true;
}

// Never reports a failure to FFmpeg: its I/O layer would drop every later write,
// the header fix-ups inside the file included.
int AviFileOutput::WritePacket(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<AviFileOutput*>(opaque);
    if (self->m_failed) {
        int64_t inside = std::clamp<int64_t>(self->m_end - self->m_position, 0, size);
        self->WriteAt(self->m_position, data, size_t(inside));
    } else {
        self->Append(data, size_t(size));
    }
    self->m_position += size;
    return size;
}

void AviFileOutput::Append(const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t written = pwrite(m_fd, data + done, size - done, m_position + int64_t(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_failed = true;
            break;
        }
        done += size_t(written);
    }
    m_end = std::max(m_end, m_position + int64_t(done));
    const int64_t now = MonotonicMilliseconds();
    if (now - m_lastSync >= kSyncIntervalMs) {
        fdatasync(m_fd);
        m_lastSync = now;
    }
}

bool AviFileOutput::Reserve(int64_t end) {
    if (end <= m_reserved)
        return true;
    for (int64_t wanted : {end + kReserveStep, end}) {
        if (Allocate(wanted)) {
            m_reserved = wanted;
            return true;
        }
    }
    return false;
}

// Blocks past the end of the file are held without changing its size.
bool AviFileOutput::Allocate(int64_t end) const {
    if (m_fd < 0 || !WithinFileSizeLimit(end))
        return false;
    const int64_t from = m_end;
    int result = 0;
    do {
        result = fallocate(m_fd, FALLOC_FL_KEEP_SIZE, from, end - from);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;
    return errno == EOPNOTSUPP && FreeSpaceFor(m_fd, end - from);
}

int64_t AviFileOutput::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AviFileOutput*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->m_end;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->m_position;
        break;
    case SEEK_END:
        offset += self->m_end;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->m_position = offset;
    return offset;
}

bool AviFileOutput::ReadAt(int64_t offset, void* data, size_t size) const {
    return m_fd >= 0 && pread(m_fd, data, size, offset) == ssize_t(size);
}

bool AviFileOutput::WriteAt(int64_t offset, const void* data, size_t size) {
    return m_fd >= 0 && pwrite(m_fd, data, size, offset) == ssize_t(size);
}

void AviFileOutput::Close() {
    m_io.reset();
    // Hands back the room held beyond the end.
    if (m_fd >= 0 && m_reserved > m_end)
        ftruncate(m_fd, m_end);
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_position = 0;
    m_end = 0;
    m_reserved = 0;
    m_failed = false;
}
