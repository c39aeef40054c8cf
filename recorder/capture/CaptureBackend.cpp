#include "recorder/capture/CaptureBackend.h"

#include "hooklib/DesktopSession.h"

CaptureBackend DetectCaptureBackend() {
    return IsWaylandSession() ? CaptureBackend::Portal : CaptureBackend::X11;
}
