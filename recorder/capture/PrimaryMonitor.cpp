#include "recorder/capture/PrimaryMonitor.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>
#include <span>
#include <string>

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

struct FreeName {
    void operator()(char* name) const { XFree(name); }
};

std::string AtomName(Display* display, Atom atom) {
    const std::unique_ptr<char, FreeName> name(atom ? XGetAtomName(display, atom) : nullptr);
    return name ? std::string(name.get()) : std::string();
}

// Without a monitor list the screen is one monitor.
MonitorList GetMonitors(Display* display, Window root, int& count) {
    count = 0;
    if (!HasMonitors(display))
        return nullptr;
    MonitorList monitors(XRRGetMonitors(display, root, True, &count));
    if (!monitors)
        count = 0;
    return monitors;
}

// Chroma planes at half size need whole pixel pairs.
ScreenArea EvenSized(ScreenArea area) {
    area.width &= ~1;
    area.height &= ~1;
    return area;
}

ScreenArea ChosenArea(Display* display, Window root, const AreaChoice& choice) {
    const ScreenArea whole = RootArea(display, root);
    switch (choice.kind) {
    case AreaKind::All:
        return whole;
    case AreaKind::Monitor:
        for (const NamedMonitor& monitor : ListMonitors(display, root))
            if (monitor.name == choice.monitor)
                return monitor.area;
        return {};
    case AreaKind::Region:
        return Intersect(
            whole, {choice.region.x, choice.region.y, choice.region.width, choice.region.height});
    default:
        return PrimaryMonitorArea(display, root);
    }
}

} // namespace

ScreenArea PrimaryMonitorArea(Display* display, Window root) {
    const ScreenArea whole = RootArea(display, root);
    int count = 0;
    const MonitorList monitors = GetMonitors(display, root, count);
    for (const XRRMonitorInfo& monitor : std::span(monitors.get(), count)) {
        if (!monitor.primary)
            continue;
        const ScreenArea area =
            Intersect(whole, {monitor.x, monitor.y, monitor.width, monitor.height});
        return area.width > 0 ? area : whole;
    }
    return whole;
}

std::vector<NamedMonitor> ListMonitors(Display* display, Window root) {
    const ScreenArea whole = RootArea(display, root);
    int count = 0;
    const MonitorList monitors = GetMonitors(display, root, count);
    std::vector<NamedMonitor> listed;
    for (const XRRMonitorInfo& monitor : std::span(monitors.get(), size_t(count))) {
        const ScreenArea area =
            Intersect(whole, {monitor.x, monitor.y, monitor.width, monitor.height});
        if (area.width > 0)
            listed.push_back({AtomName(display, monitor.name), area});
    }
    return listed;
}

ResolvedArea ResolveArea(Display* display, Window root, const AreaChoice& choice) {
    if (choice.kind == AreaKind::Primary)
        return {PrimaryMonitorArea(display, root)};
    // A window is read from its own pixmap; it comes here when that cannot be had.
    if (choice.kind == AreaKind::Window)
        return {PrimaryMonitorArea(display, root), AreaFallback::WindowUnavailable};
    const ScreenArea chosen = EvenSized(ChosenArea(display, root, choice));
    if (chosen.width > 0 && chosen.height > 0)
        return {chosen};
    return {PrimaryMonitorArea(display, root), choice.kind == AreaKind::Monitor
                                                   ? AreaFallback::UnknownMonitor
                                                   : AreaFallback::RegionOffScreen};
}
