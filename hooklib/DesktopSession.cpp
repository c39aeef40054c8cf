#include "hooklib/DesktopSession.h"

#include <cstdlib>
#include <string_view>

namespace {

std::string_view Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

bool IsWaylandSession() {
    const std::string_view forced = Variable("TESMARA_SESSION");
    if (forced == "wayland" || forced == "x11")
        return forced == "wayland";
    return !Variable("WAYLAND_DISPLAY").empty() || Variable("XDG_SESSION_TYPE") == "wayland";
}
