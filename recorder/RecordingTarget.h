#pragma once

#include <cstdint>
#include <string>

// Whether a path can take a recording before one is started: the file must be a
// regular file on a disk (a named pipe, a device or a kernel file would swallow the
// frames or block whoever opens it later), and its folder must have room.
enum class RecordingTargetProblem {
    Usable,
    NotAFile,   // the path names something other than a regular file
    NotOnADisk, // the folder lies on a kernel file system (/proc, /sys)
    NoRoom,     // less free space than bytesNeeded
};

RecordingTargetProblem CheckRecordingTarget(const std::string& path, uint64_t bytesNeeded);
