#pragma once

#include <cstdlib>
#include <string_view>

// Whether the program runs on a Wayland desktop. Our windows are X windows either
// way (through XWayland there); what differs is where the screen's pictures come
// from and how presses and the stop key reach us, since a Wayland compositor shows
// no client the screen or the input of other clients. TESMARA_SESSION=x11 or
// TESMARA_SESSION=wayland decides; otherwise a session that names a Wayland display
// (WAYLAND_DISPLAY) or calls itself one (XDG_SESSION_TYPE=wayland) is a Wayland
// session. Header-only, so that the program and the helper share it without a library.
inline bool IsWaylandSession() {
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::string_view(value) : std::string_view();
    };
    const std::string_view forced = variable("TESMARA_SESSION");
    if (forced == "wayland" || forced == "x11")
        return forced == "wayland";
    return !variable("WAYLAND_DISPLAY").empty() || variable("XDG_SESSION_TYPE") == "wayland";
}
