#pragma once

#include <cstdint>
#include <string>

// Whether a path can take a recording before one is started: the file must be a
// regular file on a disk (a named pipe, a device or a kernel file would swallow the
// frames or block whoever opens it later), and its folder must have room.
enum class RecordingTargetProblem {
    Usable,
    NotAFile,    // the path names something other than a regular file
    NotOnADisk,  // the folder lies on a kernel file system (/proc, /sys)
    NoRoom,      // less free space than bytesNeeded
    NamesFolder, // the path ends in '/', so it has no file name
    NameTooLong, // a part of the path is longer than file systems take
};

// What the path itself allows, before any folder is made or room asked for.
// The folder's file system decides whether it is a disk, not where a link in it
// leads: /proc/self/fd/1 lies in /proc even when it leads to a file on a disk.
RecordingTargetProblem CheckRecordingName(const std::string& path);

// The name, then whether the folder has bytesNeeded free.
RecordingTargetProblem CheckRecordingTarget(const std::string& path, uint64_t bytesNeeded);
