#pragma once

#include "hooklib/ClickChannel.h"
#include "hooklib/HookThread.h"
#include "hooklib/InputDeviceFolder.h"
#include "hooklib/InputEventStream.h"
#include "hooklib/UniqueFd.h"

#include <X11/Xlib.h>
#include <future>
#include <mutex>
#include <string>
#include <vector>

class XConnection;

// A watch on the kernel's input devices of one kind, for Wayland desktops, where no
// client sees the input of others: the devices of an InputDeviceFolder are read on a
// thread of its own, and what they give is handed to the kind, which reports to one
// window. The window is reached over X (the program's windows live in XWayland),
// each report waiting (bounded) for its answer, so reports arrive one at a time and
// in the order of the input. The kinds say what they report.
class InputDeviceHook {
public:
    virtual ~InputDeviceHook() = default;
    InputDeviceHook(const InputDeviceHook&) = delete;
    InputDeviceHook& operator=(const InputDeviceHook&) = delete;

    // Reads one more source of input event records (a device already open, or a
    // pipe carrying such records) like the folder's devices.
    void Watch(UniqueFd source);

protected:
    InputDeviceHook(Window target, std::string folder, InputDeviceKind kind);
    // Opens the connection and the devices; false when no X server can be reached.
    // Devices are read from the moment this returns.
    bool Begin();
    // Stops reading, without waiting for the answer to a report in progress, and
    // closes the devices and the connection. Every kind's destructor calls it first,
    // since the reading thread calls the kind.
    void End() { m_worker.Stop(); }

    // On the reading thread, once, before anything is read: no device could be opened.
    virtual void NoDevices() {}
    // On the reading thread: each record kept, in order.
    virtual void Take(Display* display, const KeyRecord& record) = 0;
    // From the kind: sends message to the window and waits for its answer.
    void Report(clickchannel::WindowMessage message);

private:
    struct Session {
        XConnection& connection;
        InputDeviceFolder& folder;
        std::vector<InputEventStream> sources;
    };

    void Run(std::promise<bool> started);
    void Serve(Session& session);
    bool Wait(Session& session);
    void TakeWatched(Session& session);
    void TakeFolderChanges(Session& session, std::vector<KeyRecord>& records);
    void ReadSources(Session& session, std::vector<KeyRecord>& records);

    Window m_target;
    std::string m_folder;
    InputDeviceKind m_kind;
    const hookthread::Reporter* m_reporter = nullptr; // the reading thread's own
    UniqueFd m_handedOver;                            // Watch added a source
    std::mutex m_mutex;
    std::vector<UniqueFd> m_watched; // handed over by Watch, taken up by the thread
    hookthread::Worker m_worker;
};
