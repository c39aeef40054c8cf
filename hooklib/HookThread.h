#pragma once

#include "hooklib/ClickChannel.h"

#include <X11/Xlib.h>
#include <csignal>
#include <cstdint>
#include <pthread.h>
#include <thread>
#include <utility>

// What every kind of hook shares: a thread of its own that takes no signals, a
// hidden window where the answers to its reports arrive, and the report itself.
namespace hookthread {

// The hook's thread takes no signals: the host's own threads decide what SIGTERM,
// SIGINT and SIGPIPE mean, and a write to a server that has gone must not end the
// process before the connection is marked lost.
template <typename... Args> std::thread StartWithSignalsBlocked(Args&&... args) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread thread(std::forward<Args>(args)...);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

// The window where answers to the hook's reports arrive; never shown.
Window CreateReplyWindow(Display* display);

// Sends message to target and waits (bounded) for its answer, so that reports
// arrive one at a time and in order. The wait ends early once cancelFd is readable.
void Report(Display* display, Window target, Window replyWindow,
            const clickchannel::WindowMessage& message, int cancelFd);

} // namespace hookthread
