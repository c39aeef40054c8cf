#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// What the program under test does after a step (a message box after the dialog
// comes back, a line in its log) happens some time later, longer on a busy machine:
// checks the condition five times a second until it holds or the seconds are up.
template <typename Condition> bool waitFor(Condition condition, int seconds) {
    for (int i = 0; i < seconds * 5; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return condition();
}

} // namespace testsupport
