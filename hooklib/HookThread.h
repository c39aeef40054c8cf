#pragma once

#include "hooklib/ClickChannel.h"
#include "hooklib/ScopedWindow.h"
#include "hooklib/UniqueFd.h"

#include <X11/Xlib.h>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <future>
#include <pthread.h>
#include <thread>
#include <utility>

// What every kind of hook shares: a thread of its own that takes no signals, and the
// way it reports.
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

// A hook's thread and the way its owner stops it: the thread watches wakeFd and
// stopping(), and ends once it sees either.
class Worker {
public:
    Worker();
    ~Worker() { Stop(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs run(std::promise<bool>) on the thread and waits for what it promises:
    // whether the hook could start.
    template <typename Run> bool Start(Run run) {
        std::promise<bool> started;
        std::future<bool> answer = started.get_future();
        m_thread = StartWithSignalsBlocked(std::move(run), std::move(started));
        return answer.get();
    }
    // Tells the thread to stop and waits until it has; nothing when it never started.
    void Stop();

    bool stopping() const { return m_stopping; }
    // Readable once Stop has been called.
    int wakeFd() const { return m_wake.get(); }

private:
    UniqueFd m_wake;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// How a hook's thread reports to the window: over the thread's own connection, with
// a window of its own there (never shown) where the answers arrive. Made, used and
// ended on that thread.
class Reporter {
public:
    // The wait for an answer ends early once cancelFd is readable.
    Reporter(Display* display, Window target, int cancelFd);

    // Sends message to the window and waits (bounded) for its answer, so that
    // reports arrive one at a time and in order.
    void Report(const clickchannel::WindowMessage& message) const;

private:
    Display* m_display;
    Window m_target;
    int m_cancelFd;
    ScopedWindow m_replyWindow;
};

} // namespace hookthread
