// Daltrop: holds the hook library's hook for the dialog window that the main program
// publishes as "HW" just before starting us, until the program ends us (SIGTERM,
// or SIGINT) or the X server goes away. No window, no output.

#include "hooklib/DaltropH.h"
#include "hooklib/UniqueFd.h"
#include "hooklib/XConnection.h"
#include "hooklib/XErrorTrap.h"
#include "settings/RegEdit.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Anything but a REG_DWORD of 4 bytes reads as 0xFFFFFFFF, which names no window.
uint32_t ReadTargetWindow() {
    return CRegEdit().ReadDword(true, u"Software\\DaltropSC", u"HW");
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
    if (!KeepToTheUsersRights())
        return EXIT_FAILURE;
    const uint32_t target = ReadTargetWindow();
    auto connection = XConnection::Open();
    if (!connection || !WindowExists(connection->display(), target))
        return EXIT_FAILURE;

    // Writing to a server that has gone must end in a lost connection, not in SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    const UniqueFd endSignals = TakeEndSignals();
    setMyHook(target);
    WaitForEnd(*connection, endSignals.get());
    clearMyHook(target);
    return EXIT_SUCCESS;
}
