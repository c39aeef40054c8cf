#include "hooklib/DaltropH.h"

#include "hooklib/DesktopSession.h"
#include "hooklib/ErrorBox.h"
#include "hooklib/PressDeviceHook.h"
#include "hooklib/RawButtonHook.h"

#include <memory>
#include <mutex>

#define DALTROPH_EXPORT __attribute__((visibility("default")))

namespace {

// The library's state, one per process. The target window doubles as the mark that
// a hook is active. Being a static object, it also removes a hook still active when
// the process ends.
struct HookState {
    std::mutex mutex;
    uint32_t target = 0;
    std::unique_ptr<ButtonHook> hook;
};

HookState state;

// A Wayland compositor shows X clients presses on their own windows only, so there
// the presses are read from the input devices instead.
std::unique_ptr<ButtonHook> StartHook(uint32_t window) {
    if (IsWaylandSession())
        return PressDeviceHook::Start(window);
    return RawButtonHook::Start(window);
}

} // namespace

extern "C" DALTROPH_EXPORT int setMyHook(uint32_t window) {
    std::lock_guard lock(state.mutex);
    // Window 0 would leave the hook running without marking it active.
    if (state.target != 0 || window == 0)
        return 0;
    state.hook = StartHook(window);
    if (!state.hook) {
        ErrorBox::Show("Error: _hook");
        return 0;
    }
    state.target = window;
    return 1;
}

extern "C" DALTROPH_EXPORT int clearMyHook(uint32_t window) {
    std::lock_guard lock(state.mutex);
    if (window == 0 || window != state.target)
        return 0;
    state.hook.reset();
    state.target = 0;
    return 1;
}
