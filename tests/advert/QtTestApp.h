#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

// One QApplication on the offscreen platform for the whole test program.
inline QApplication& QtTestApp() {
    static int argc = 1;
    static char name[] = "advert_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() holds or timeoutMs have passed; tells which.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
