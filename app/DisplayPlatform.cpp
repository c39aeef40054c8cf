#include "app/DisplayPlatform.h"

#include "app/UserMessage.h"
#include "recorder/capture/CaptureBackend.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// X11's headers come after Qt's, whose names their macros would take.
#include <X11/Xlib.h>

namespace {

constexpr const char* kPlatformVariable = "QT_QPA_PLATFORM";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool WaylandPluginInstalled() {
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libqwayland-generic.so"));
}

} // namespace

bool PrepareDisplayPlatform() {
    if (Set(kPlatformVariable))
        return true;
    if (!Set("DISPLAY"))
        return false;
    if (DetectCaptureBackend() == CaptureBackend::Portal)
        setenv(kPlatformVariable, "xcb", 1);
    return true;
}

int ReportMissingXDisplay(int argc, char* argv[]) {
    const QString text = QApplication::translate(
        "DisplayPlatform",
        "Tesmara Screen Recorder needs an X display, and none is set (DISPLAY is empty). "
        "In a Wayland session, turn on XWayland in the compositor's settings and start "
        "the recorder again.");
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (!Set("WAYLAND_DISPLAY") || !WaylandPluginInstalled())
        return 1;
    setenv(kPlatformVariable, "wayland", 1);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrabole"));
    ShowUserMessage(nullptr, text);
    return 1;
}

bool XDisplayOpens() {
    const char* platform = std::getenv(kPlatformVariable);
    if (platform && *platform && !std::string_view(platform).starts_with("xcb"))
        return true;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

int ReportUnreachableXDisplay() {
    const char* display = std::getenv("DISPLAY");
    const QString text =
        QApplication::translate("DisplayPlatform",
                                "Tesmara Screen Recorder cannot open the X display \"%1\". Check "
                                "that it is running and that DISPLAY or -display names it.")
            .arg(QString::fromLocal8Bit(display ? display : ""));
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return 1;
}
