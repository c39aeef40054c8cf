#pragma once

// How Daltrop ends, as its exit status; the program tells the user what a
// failure means when the recording stops.
namespace hookhost {

constexpr int kExitDone = 0;
// "HW" in the value store is missing, unreadable or names no live window.
constexpr int kExitNoWindow = 3;
// The X server cannot be reached.
constexpr int kExitNoDisplay = 4;
// The environment variable through which the program names itself as the parent,
// so that the helper can tell whether it was orphaned before it could notice.
constexpr const char* kParentVariable = "DALTROP_PARENT_PID";

} // namespace hookhost
