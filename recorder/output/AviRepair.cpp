#include "recorder/output/AviRepair.h"

#include "hooklib/UniqueFd.h"
#include "recorder/output/LittleEndian.h"
#include "recorder/output/OutputContainer.h"
#include "recorder/output/RecordingMarker.h"
#include "recorder/output/RemuxedCopy.h"
#include "settings/FileSystem.h"
#include "settings/Utf16.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr size_t kMaxMarkerSize = 8192;
// The main header's total-frames field, written when the file is completed.
constexpr size_t kTotalFramesOffset = 48;

std::vector<std::string> MarkerFiles(const std::string& folder) {
    std::vector<std::string> markers;
    DIR* listing = opendir(folder.c_str());
    if (!listing)
        return markers;
    while (const dirent* entry = readdir(listing)) {
        if (std::strncmp(entry->d_name, "recording-", 10) == 0)
            markers.push_back(folder + "/" + entry->d_name);
    }
    closedir(listing);
    return markers;
}

// A marker whose lock is free belongs to a recording that has ended; the lock
// stays held (on the returned descriptor) while the marker is dealt with.
int LockEndedMarker(const std::string& marker) {
    const int fd = open(marker.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool ReadAll(int fd, void* data, size_t size) {
    return pread(fd, data, size, 0) == ssize_t(size);
}

// A file named by its device and inode.
using FileId = std::pair<unsigned long long, unsigned long long>;

bool ReadMarker(const std::string& marker, RecordingMarker::Contents& named) {
    const auto text = files::ReadSmallFile(marker, kMaxMarkerSize);
    return text && RecordingMarker::Parse(*text, named);
}

// Whether the file starts as a file of the kind its name gives, as every
// recording of ours does from its first write on.
bool StartsAsItsKind(int fd, const std::string& path) {
    std::array<char, 12> head{};
    if (!ReadAll(fd, head.data(), head.size()))
        return false;
    switch (ContainerForFile(FromUtf8(path))) {
    case ContainerKind::Mp4:
        return std::memcmp(head.data() + 4, "ftyp", 4) == 0;
    case ContainerKind::Matroska:
        return std::memcmp(head.data(), "\x1A\x45\xDF\xA3", 4) == 0;
    default:
        return std::memcmp(head.data(), "RIFF", 4) == 0 &&
               std::memcmp(head.data() + 8, "AVI ", 4) == 0;
    }
}

// A recording cut off by a kill keeps the disk room its writer held past the end
// of the file (AviFileOutput::Reserve). Cutting the file to its own size hands
// that back; not a byte of the file changes, nor its modification time.
void ReleaseRoomPastEnd(const RecordingMarker::Contents& named) {
    const UniqueFd fd(open(named.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat file {};
    if (!fd.valid() || fstat(fd.get(), &file) != 0 || !S_ISREG(file.st_mode) ||
        file.st_dev != named.device || file.st_ino != named.inode ||
        int64_t(file.st_blocks) * 512 - file.st_size < file.st_blksize ||
        !StartsAsItsKind(fd.get(), named.path))
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, file.st_mtim};
    if (ftruncate(fd.get(), file.st_size) == 0)
        futimens(fd.get(), times);
}

// The empty video chunks (repeats of the last picture) after the last video chunk
// with a picture in it. A reader of a file without its index takes no notice of
// them, as nothing follows: the repaired copy must be told. The chunks are walked
// one header at a time, into the RIFF and movi lists, up to the first one that
// the cut-off left incomplete.
int64_t TrailingRepeats(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat file {};
    if (!fd.valid() || fstat(fd.get(), &file) != 0)
        return 0;
    int64_t repeats = 0;
    std::array<uint8_t, 12> head{};
    for (off_t at = 0; at + 8 <= file.st_size && pread(fd.get(), head.data(), 12, at) >= 8;) {
        const uint32_t size = ReadLe32(head.data() + 4);
        const bool list =
            std::memcmp(head.data(), "RIFF", 4) == 0 || std::memcmp(head.data(), "LIST", 4) == 0;
        if (list && (std::memcmp(head.data() + 8, "AVI", 3) == 0 ||
                     std::memcmp(head.data() + 8, "movi", 4) == 0)) {
            at += 12;
            continue;
        }
        const off_t next = at + 8 + off_t(size) + off_t(size & 1);
        if (next > file.st_size)
            break;
        if (!list && head[2] == 'd' && (head[3] == 'c' || head[3] == 'b'))
            repeats = size == 0 ? repeats + 1 : 0;
        at = next;
    }
    return repeats;
}

} // namespace

std::vector<CAviRepair::Outcome> CAviRepair::RepairInterrupted(const std::string& markerFolder,
                                                               const StepProgress& progress) {
    std::vector<std::pair<std::string, UniqueFd>> ended;
    std::set<FileId> recording;
    for (const std::string& marker : MarkerFiles(markerFolder)) {
        UniqueFd lock(LockEndedMarker(marker));
        RecordingMarker::Contents named;
        if (lock.valid())
            ended.emplace_back(marker, std::move(lock));
        else if (ReadMarker(marker, named))
            recording.insert({named.device, named.inode});
    }
    // A file that another instance records into again, under its own marker, is
    // that instance's.
    std::vector<std::pair<std::string, RecordingMarker::Contents>> ours;
    size_t unfinished = 0;
    for (const auto& [marker, lock] : ended) {
        RecordingMarker::Contents named;
        if (ReadMarker(marker, named) && !recording.contains({named.device, named.inode})) {
            unfinished += IsUnfinishedAvi(named.path, named.device, named.inode);
            ours.emplace_back(marker, named);
        } else {
            unlink(marker.c_str());
        }
    }
    std::vector<Outcome> outcomes;
    for (const auto& [marker, named] : ours) {
        if (IsUnfinishedAvi(named.path, named.device, named.inode)) {
            // Each file's share of the whole work, for whoever shows it.
            const double done = double(outcomes.size()) / double(unfinished);
            const StepProgress share = [&progress, done, unfinished](double part) {
                return !progress || progress(done + part / double(unfinished));
            };
            const bool cancelled = !outcomes.empty() && outcomes.back().result == Result::Cancelled;
            outcomes.push_back(
                {named.path, cancelled ? Result::Cancelled : Repair(named.path, share)});
            if (outcomes.back().result == Result::Cancelled)
                continue; // the marker stays for a later repair
        }
        ReleaseRoomPastEnd(named);
        unlink(marker.c_str());
    }
    return outcomes;
}

bool CAviRepair::IsUnfinishedAvi(const std::string& path, unsigned long long device,
                                 unsigned long long inode) {
    struct stat file {};
    if (lstat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_dev != device ||
        file.st_ino != inode)
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    std::array<char, kTotalFramesOffset + 4> head{};
    const bool read = ReadAll(fd, head.data(), head.size());
    close(fd);
    static constexpr uint8_t kNoFrames[4] = {0, 0, 0, 0};
    return read && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "AVI LIST", 8) == 0 &&
           std::memcmp(head.data() + 20, "hdrlavih", 8) == 0 &&
           std::memcmp(head.data() + kTotalFramesOffset, kNoFrames, 4) == 0;
}

// Copying is the first half of the work, the check of every frame the second.
CAviRepair::Result CAviRepair::Repair(const std::string& path, const StepProgress& progress) {
    // The repaired copy lies beside the original until it has proven itself.
    const std::string repaired = RemuxedCopy::NewFileBeside(path);
    if (repaired.empty())
        return Result::Failed;
    bool gaveUp = false;
    const auto half = [&progress, &gaveUp](double from) {
        return [&progress, &gaveUp, from](double part) {
            gaveUp = !progress(from + part / 2);
            return !gaveUp;
        };
    };
    if (RemuxedCopy::Write(path, repaired, "avi", nullptr, TrailingRepeats(path), half(0)) &&
        RemuxedCopy::DecodesCompletely(repaired, half(0.5)) &&
        RemuxedCopy::ReplaceDurably(repaired, path))
        return Result::Repaired;
    std::remove(repaired.c_str());
    return gaveUp ? Result::Cancelled : Result::Failed;
}
