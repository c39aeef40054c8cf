#pragma once

#include <QApplication>
#include <functional>

// The test program's QApplication on the offscreen platform. It exists from before
// the first test to after the last one, and is gone before static destruction,
// which it would not survive.
QApplication& QtTestApp();

// Runs the event loop until done() holds or timeoutMs have passed; tells which.
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 10000);
