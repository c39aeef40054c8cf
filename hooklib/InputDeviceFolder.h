#pragma once

#include "hooklib/InputEventStream.h"
#include "hooklib/UniqueFd.h"

#include <string>
#include <vector>

// The folder of the kernel's input devices (/dev/input) and the devices of one kind
// in it that this user may read. Only the "event" entries count, each opened
// read-only and kept only when it is of the kind: a pointer has a left or a right
// button, a keyboard has letter keys. A device that this user may not open is passed
// over, never asked for with more rights. The folder is watched, so devices that
// appear later, or become readable, are found as they come.
class InputDeviceFolder {
public:
    // Watching starts here, before the first look, so that nothing is missed between.
    InputDeviceFolder(std::string path, InputDeviceKind kind);

    // Every readable device of the kind in the folder now.
    std::vector<InputEventStream> OpenAll() const;

    // Readable when the folder has changed; -1 when it cannot be watched (missing).
    int changesFd() const { return m_watch.get(); }
    // Reads the changes: devices of the kind that appeared or became readable are
    // returned, the names of entries that went are added to gone.
    std::vector<InputEventStream> TakeChanges(std::vector<std::string>& gone);

private:
    std::string m_path;
    InputDeviceKind m_kind;
    UniqueFd m_watch;
};

// Opens path read-only as a source of input events when it is one this user may read
// that reports what the kind is read for: a device of the kind, or a FIFO that
// carries such records. The kernel is asked to hand this reader nothing else.
// Invalid otherwise.
UniqueFd OpenInputSource(const std::string& path, InputDeviceKind kind);
