#pragma once

#include "hooklib/ButtonHook.h"
#include "hooklib/InputDeviceFolder.h"
#include "hooklib/InputEventStream.h"
#include "hooklib/UniqueFd.h"

#include <X11/Xlib.h>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class XConnection;

// Reports left and right presses to one window as 1010 and 1011, reading them from
// the kernel's input devices. This is the hook of Wayland desktops, where no client
// sees presses outside its own windows: the devices of InputDeviceFolder are read, and
// when none of them can be read at the start, the window is told once
// (kNoPressDevices) and the hook goes on, ready for devices that come later.
// The window is still reached over X (the program's windows live in XWayland).
class PressDeviceHook : public ButtonHook {
public:
    // Null when no X server can be reached. Devices are read from the moment this
    // returns.
    static std::unique_ptr<PressDeviceHook> Start(Window target,
                                                  const std::string& folder = "/dev/input");
    ~PressDeviceHook() override;
    PressDeviceHook(const PressDeviceHook&) = delete;
    PressDeviceHook& operator=(const PressDeviceHook&) = delete;

    // Reads one more source of input event records (a device already open, or a
    // pipe carrying such records) like the folder's devices.
    void Watch(UniqueFd source);

private:
    struct Session {
        XConnection& connection;
        Window replyWindow;
        InputDeviceFolder& folder;
        std::vector<InputEventStream> sources;
    };

    PressDeviceHook(Window target, std::string folder);
    void Run(std::promise<bool> started);
    void Serve(Session& session);
    void Wait(Session& session);
    void TakeWatched(Session& session);
    void TakeFolderChanges(Session& session);
    void ReadSources(Session& session);
    void Report(Session& session, uint32_t message);

    Window m_target;
    std::string m_folder;
    UniqueFd m_wake;       // the owner stops the hook
    UniqueFd m_handedOver; // Watch added a source
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<UniqueFd> m_watched; // handed over by Watch, taken up by the thread
    std::future<bool> m_started;
    std::thread m_thread;
};
