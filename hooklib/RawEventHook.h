#pragma once

#include "hooklib/ClickChannel.h"
#include "hooklib/HookThread.h"
#include "hooklib/XConnection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <future>

// A watch on the desktop's raw input: XInput2 raw events on the root window, which
// reach every client whatever grabs others hold, on a connection and a thread of
// its own, since the host hands it nothing but the window to report to. Each report
// waits (bounded) for the window's answer, so reports arrive one at a time and in
// the order of the input. The kinds say what they select and what they report.
class RawEventHook {
public:
    virtual ~RawEventHook();
    RawEventHook(const RawEventHook&) = delete;
    RawEventHook& operator=(const RawEventHook&) = delete;

protected:
    explicit RawEventHook(Window target);
    // Opens the connection and starts watching; false when there is no display or
    // the server lacks XInput2. Input is watched from the moment this returns.
    bool Begin();
    // Stops watching, without waiting for the answer to a report in progress, and
    // closes the connection. Every kind's destructor calls it first, since the
    // watching thread calls the kind.
    void End();

    // On the watching thread: the raw events to select on the root window.
    virtual void Select(Display* display) = 0;
    // On the watching thread: one raw event of the kinds selected.
    virtual void Dispatch(Display* display, int eventType, const XIRawEvent& event) = 0;
    // From Dispatch: sends message to the window and waits for its answer.
    void Report(clickchannel::WindowMessage message);

private:
    void Run(std::promise<bool> started);
    void Watch(XConnection& connection, int xiOpcode);
    void DispatchEvent(Display* display, int xiOpcode, XEvent& event);

    Window m_target;
    const hookthread::Reporter* m_reporter = nullptr; // the watching thread's own
    hookthread::Worker m_worker;
};
