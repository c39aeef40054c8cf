#pragma once

#include "hooklib/ClickChannel.h"
#include "hooklib/UniqueFd.h"

#include <X11/Xlib.h>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

class XConnection;

// Stands in for the dialog: a window on $DISPLAY that takes window messages, notes
// each with the time it was handled and answers it, on a thread of its own as the
// dialog's event loop would. That thread alone touches its X connection.
class ClickReceiver {
public:
    using Clock = std::chrono::steady_clock;
    struct Received {
        clickchannel::WindowMessage message;
        Clock::time_point handledAt;
    };

    ClickReceiver();
    ~ClickReceiver();
    ClickReceiver(const ClickReceiver&) = delete;
    ClickReceiver& operator=(const ClickReceiver&) = delete;

    Window window() const { return m_window; }
    // Destroys the window, as a dialog that has gone away; returns once it is gone.
    void DestroyWindow();
    // Whether messages are answered (they are at first); unanswered ones are still noted,
    // as by a dialog whose event loop is busy elsewhere.
    void SetAnswering(bool answering);

    // Waits until at least count messages have come, or timeout has passed.
    std::vector<Received> WaitFor(size_t count, std::chrono::milliseconds timeout);
    // Just the message numbers, in the order received.
    std::vector<uint32_t> Messages();
    void Clear();

private:
    enum class Request { Idle, DestroyWindow, Stop };

    void Run(std::promise<Window> created);
    void Serve(XConnection& connection);
    void Handle(XConnection& connection, const XEvent& event);
    void Ask(Request request);

    Window m_window = 0;
    UniqueFd m_wake;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Received> m_received;
    Request m_request = Request::Idle;
    bool m_answering = true;
    std::thread m_thread;
};
