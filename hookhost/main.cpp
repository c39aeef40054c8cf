// Daltrop: holds the hook library's hook for the dialog window that the main program
// publishes as "HW" just before starting us, until the program ends us (SIGTERM,
// or SIGINT), the program itself ends or the X server goes away. No window, no
// output; the exit status says why it could not start (HookHostExit.h).

#include "hooklib/DaltropH.h"
#include "hooklib/DesktopSession.h"
#include "hooklib/HookHostExit.h"
#include "hooklib/KeyDeviceHook.h"
#include "hooklib/RawKeyHook.h"
#include "hooklib/UniqueFd.h"
#include "hooklib/XConnection.h"
#include "hooklib/XErrorTrap.h"
#include "settings/RegEdit.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Anything but a REG_DWORD of 4 bytes reads as 0xFFFFFFFF, which names no window.
uint32_t ReadTargetWindow() {
    return CRegEdit().ReadDword(true, u"Software\\DaltropSC", u"HW");
}

// What the recording shows of the keyboard; a missing value shows nothing.
keynames::KeyShowing ReadKeyShowing() {
    const uint32_t value = CRegEdit().ReadDword(true, u"Software\\DaltropSC", u"Keys");
    if (value == uint32_t(keynames::KeyShowing::Shortcuts) ||
        value == uint32_t(keynames::KeyShowing::Everything))
        return keynames::KeyShowing(value);
    return keynames::KeyShowing::Off;
}

// Keys are read only while a recording shows them. A Wayland compositor shows no X
// client the keys pressed outside its own windows, so there the keyboards are read.
std::unique_ptr<KeyHook> StartKeyHook(uint32_t target) {
    const keynames::KeyShowing showing = ReadKeyShowing();
    if (IsWaylandSession())
        return KeyDeviceHook::Start(target, showing);
    return RawKeyHook::Start(target, showing);
}

bool WindowExists(Display* display, uint32_t window) {
    XErrorTrap trap(display);
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 && !trap.Failed();
}

// The end signals wait on a descriptor instead of ending the process at once, so
// that the hook is removed in order. Blocked before the hook's thread exists, they
// stay blocked there too.
UniqueFd TakeEndSignals() {
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &endSignals, nullptr);
    return UniqueFd(signalfd(-1, &endSignals, SFD_CLOEXEC));
}

// The message loop: returns on an end signal or when the server closes the connection.
// The server's notices to every client (mapping changes) are of no interest here.
void WaitForEnd(const XConnection& connection, int endSignals) {
    Display* display = connection.display();
    for (;;) {
        while (XPending(display) > 0) {
            XEvent notice;
            XNextEvent(display, &notice);
        }
        if (connection.lost())
            return;
        pollfd waits[2] = {{endSignals, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
        if (waits[0].revents & POLLIN)
            return;
    }
}

// A killed program cannot end us, and its window id may soon belong to another
// client: the kernel sends SIGTERM when the parent ends. A parent that ended
// before this was set has already handed us to another process.
bool FollowParent() {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const char* parent = std::getenv(hookhost::kParentVariable);
    return !parent || std::to_string(getppid()) == parent;
}

// The helper reads input devices on some desktops, so it must never do that with
// more rights than its user has: rights that a set-id installation would lend it are
// given up for good, for this process and whatever it might start. False when they
// cannot be.
bool KeepToTheUsersRights() {
    const gid_t group = getgid();
    const uid_t user = getuid();
    if (setresgid(group, group, group) != 0 || setresuid(user, user, user) != 0)
        return false;
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

} // namespace

int main() {
    // Rights first: a change of credentials would clear the parent-death signal.
    if (!KeepToTheUsersRights())
        return EXIT_FAILURE;
    if (!FollowParent())
        return hookhost::kExitDone;
    const uint32_t target = ReadTargetWindow();
    auto connection = XConnection::Open();
    if (!connection)
        return hookhost::kExitNoDisplay;
    if (!WindowExists(connection->display(), target))
        return hookhost::kExitNoWindow;

    // Writing to a server that has gone must end in a lost connection, not in SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    const UniqueFd endSignals = TakeEndSignals();
    setMyHook(target);
    const auto keys = StartKeyHook(target);
    WaitForEnd(*connection, endSignals.get());
    clearMyHook(target);
    return hookhost::kExitDone;
}
