#include "session/ApplicationDisplay.h"

#include <QGuiApplication>

_XDisplay* ApplicationDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}
