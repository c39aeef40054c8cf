#include "hooklib/HookThread.h"

#include "hooklib/ClickChannel.h"

#include <sys/eventfd.h>

namespace hookthread {

namespace {

// How long one report waits for the window's answer before the next press goes out.
constexpr int kReplyTimeoutMs = 1000;

} // namespace

Worker::Worker() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void Worker::Stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const uint64_t one = 1;
    // Only a full counter refuses the write, and then the thread is awake anyway.
    [[maybe_unused]] const ssize_t written = write(m_wake.get(), &one, sizeof one);
    m_thread.join();
}

Reporter::Reporter(Display* display, Window target, int cancelFd)
    : m_display(display), m_target(target), m_cancelFd(cancelFd),
      m_replyWindow(display, XCreateSimpleWindow(display, DefaultRootWindow(display), -1, -1, 1, 1,
                                                 0, 0, 0)) {}

void Reporter::Report(const clickchannel::WindowMessage& message) const {
    // A stop need not wait for the answer: the program stops its host from the very
    // thread that answers, as when the press itself was on its tray icon.
    clickchannel::SendAndWait(m_display, m_target, m_replyWindow.get(), message, kReplyTimeoutMs,
                              nullptr, m_cancelFd);
}

} // namespace hookthread
