#pragma once

#include "recorder/output/RemuxedCopy.h"

#include <string>
#include <vector>

// Finds the recordings that a crash, a kill or a power cut cut off. An AVI file,
// left without its index, gets its index and duration in place; the original stays
// until its repaired copy has decoded completely. A file of any kind hands back
// the disk room held past its end; MP4 and Matroska files play as they are. Only
// a file that a marker of this program names and that is still the file it wrote
// is touched, and none that another instance records into.
class CAviRepair {
public:
    enum class Result {
        Repaired,
        Failed,   // the file is kept as it was
        Cancelled // given up by progress: kept as it was, and repaired at a later call
    };
    struct Outcome {
        std::string path;
        Result result = Result::Failed;
    };

    // One outcome per interrupted AVI recording; markers of recordings that still
    // run are left alone, markers of files completed or gone since are dropped.
    // progress hears of the whole work (copying and checking every file); when it
    // gives up, the file at hand and those after it are left for a later call.
    static std::vector<Outcome> RepairInterrupted(const std::string& markerFolder,
                                                  const StepProgress& progress = {});

    // True for an AVI file whose header still lacks the frame count that the
    // completion writes, at the given device and inode and not behind a link.
    static bool IsUnfinishedAvi(const std::string& path, unsigned long long device,
                                unsigned long long inode);

private:
    static Result Repair(const std::string& path, const StepProgress& progress);
};
