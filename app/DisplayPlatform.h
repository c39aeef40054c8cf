#pragma once

// The dialog is an X11 window in every session: the helper process sends it
// window messages as X client messages. These run before QApplication exists.

// In a Wayland session Qt is told to use its xcb platform (through XWayland),
// unless the user chose a platform. False when there is no X display at all.
bool PrepareDisplayPlatform();

// Says that the program needs an X display, on standard error and, where Qt can
// reach the Wayland compositor, in a message box; the program's exit code.
int ReportMissingXDisplay(int argc, char* argv[]);

// Qt's X11 platform aborts when its display cannot be opened; the program checks
// first. True when Qt will not use X11 here or the display opens.
bool XDisplayOpens();

// Says on standard error that the X display named by DISPLAY cannot be opened;
// the program's exit code.
int ReportUnreachableXDisplay();
