#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a recording takes from the screen.
enum class AreaKind { Primary, All, Monitor, Region, Window };

// A rectangle of the root window in screen pixels, as the user chose it.
struct AreaRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct AreaChoice {
    AreaKind kind = AreaKind::Primary;
    std::string monitor; // the RandR monitor's name, for AreaKind::Monitor
    AreaRegion region;   // for AreaKind::Region
    // The X window picked for AreaKind::Window; 0: none yet. Picked anew for each
    // recording, as a window's id does not outlive the window, so never saved.
    uint32_t window = 0;
};

// Why a chosen area could not be recorded, and the primary screen was instead.
enum class AreaFallback {
    Kept,            // the chosen area was recorded
    UnknownMonitor,  // no monitor of that name now
    RegionOffScreen, // the region lies on no part of the screen, or is empty
    // through the portal: the region lies on no part of the monitor shared for it,
    // which is recorded whole
    RegionOffSharedMonitor,
    // the picked window is gone, or the server cannot show its own content (no Composite)
    WindowUnavailable,
};

// The names the settings file and the command line use: "primary", "all",
// "monitor", "region", "window".
const char* AreaKindName(AreaKind kind);
std::optional<AreaKind> AreaKindNamed(std::string_view name);

// "primary", "all", "monitor:NAME", "region:X,Y,WxH" or "window" (the window is
// picked at the start); nothing for anything else.
std::optional<AreaChoice> ParseAreaChoice(std::string_view text);
