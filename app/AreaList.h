#pragma once

#include "settings/AreaChoice.h"

class QComboBox;

// Fills the "Record:" list: the primary screen, all screens, one entry per
// monitor ("Monitor HDMI-1 (1920x1080)"), a window, a region. The saved choice is selected;
// a saved monitor that is not connected keeps an entry of its own, so that the
// start can say it is missing. Through the desktop portal the desktop's own
// picker chooses the monitor or the window: the list offers a monitor, a window
// and a region, and a saved choice of monitor from an X11 session stays as it was.
void FillAreaList(QComboBox& box, const AreaChoice& saved, bool portal);

// Takes the entry of that kind out (a portal that cannot share windows); when it
// was selected, the first entry is.
void RemoveAreaKind(QComboBox& box, AreaKind kind);

// The selected entry as a choice; the region is the one given.
AreaChoice ListedArea(const QComboBox& box, const AreaRegion& region);

// "Original size", "1080p", "720p", the saved height selected.
void FillScaleList(QComboBox& box, int savedHeight);
// The height of the selected entry; 0 for the original size.
int ListedScaleHeight(const QComboBox& box);

// Selects the primary screen (after a start that found the chosen area missing)
// or the region (after one was picked).
void SelectAreaKind(QComboBox& box, AreaKind kind);
