#pragma once

// The dialog is an X11 window in every session: the helper process sends it
// window messages as X client messages. These run before QApplication exists.

// In a Wayland session Qt is told to use its xcb platform (through XWayland),
// unless the user chose a platform. False when there is no X display at all.
bool PrepareDisplayPlatform();

// Says that the program needs an X display, on standard error and, where Qt can
// reach the Wayland compositor, in a message box; the program's exit code.
int ReportMissingXDisplay(int argc, char* argv[]);
