#pragma once

#include "hooklib/ButtonHook.h"
#include "hooklib/UniqueFd.h"
#include "hooklib/XConnection.h"

#include <X11/Xlib.h>
#include <atomic>
#include <future>
#include <memory>
#include <thread>

// Watches every button press on the desktop and reports left and right presses to
// one window: 1010 for the left button, 1011 for the right. The presses come as
// XInput2 raw events on the root window, so presses that other clients grab, and
// presses on any window, are seen alike. Connection and event loop are the hook's own,
// on a thread of its own, because the host hands the library nothing but the window.
// Each report waits (bounded) for the window's answer, so reports arrive one at a
// time and in the order of the presses.
class RawButtonHook : public ButtonHook {
public:
    // Null when there is no display or the server lacks XInput2. Presses are
    // watched from the moment this returns.
    static std::unique_ptr<RawButtonHook> Start(Window target);
    // Stops watching, without waiting for the answer to a report in progress, and
    // closes the connection.
    ~RawButtonHook() override;
    RawButtonHook(const RawButtonHook&) = delete;
    RawButtonHook& operator=(const RawButtonHook&) = delete;

private:
    // What the hook's thread works with; it alone touches the connection.
    struct Session {
        XConnection& connection;
        Window replyWindow;
        int xiOpcode;
    };

    explicit RawButtonHook(Window target);
    void Run(std::promise<bool> started);
    void Watch(const Session& session);
    void Dispatch(const Session& session, XEvent& event);
    void Report(const Session& session, unsigned button);

    Window m_target;
    UniqueFd m_wake;
    std::atomic<bool> m_stopping{false};
    std::future<bool> m_started;
    std::thread m_thread;
};
