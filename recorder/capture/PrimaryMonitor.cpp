#include "recorder/capture/PrimaryMonitor.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>
#include <span>

namespace {

struct FreeMonitors {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};
using MonitorList = std::unique_ptr<XRRMonitorInfo, FreeMonitors>;

ScreenArea Intersect(const ScreenArea& a, const ScreenArea& b) {
    const int left = std::max(a.x, b.x);
    const int top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top)
        return {};
    return {left, top, right - left, bottom - top};
}

bool HasMonitors(Display* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
}

ScreenArea RootArea(Display* display, Window root) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes))
        return {};
    return {0, 0, attributes.width, attributes.height};
}

} // namespace

ScreenArea PrimaryMonitorArea(Display* display, Window root) {
    const ScreenArea whole = RootArea(display, root);
    if (!HasMonitors(display))
        return whole;
    int count = 0;
    MonitorList monitors(XRRGetMonitors(display, root, True, &count));
    if (!monitors)
        return whole;
    for (const XRRMonitorInfo& monitor : std::span(monitors.get(), count)) {
        if (!monitor.primary)
            continue;
        const ScreenArea area =
            Intersect(whole, {monitor.x, monitor.y, monitor.width, monitor.height});
        return area.width > 0 ? area : whole;
    }
    return whole;
}
