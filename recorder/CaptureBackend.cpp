#include "recorder/CaptureBackend.h"

#include <cstdlib>
#include <string_view>

namespace {

std::string_view Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

} // namespace

CaptureBackend DetectCaptureBackend() {
    const std::string_view forced = Variable(kCaptureBackendVariable);
    if (forced == "x11")
        return CaptureBackend::X11;
    if (forced == "portal")
        return CaptureBackend::Portal;
    if (!Variable("WAYLAND_DISPLAY").empty() || Variable("XDG_SESSION_TYPE") == "wayland")
        return CaptureBackend::Portal;
    return CaptureBackend::X11;
}
