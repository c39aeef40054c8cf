#pragma once

#include <QAbstractNativeEventFilter>
#include <functional>

namespace clickchannel {
struct WindowMessage;
}

// Receives the window messages that other processes send to one of our windows
// (mouse presses from the helper, hide and restore requests) from Qt's X event
// stream, hands each to a handler and answers it, so that a waiting sender goes on.
class WindowMessageFilter : public QAbstractNativeEventFilter {
public:
    using Handler = std::function<long(const clickchannel::WindowMessage&)>;

    // Installs itself in the application for its lifetime.
    explicit WindowMessageFilter(Handler handler);
    ~WindowMessageFilter() override;
    WindowMessageFilter(const WindowMessageFilter&) = delete;
    WindowMessageFilter& operator=(const WindowMessageFilter&) = delete;

    // The X window whose messages are taken; 0 takes none.
    void SetWindow(unsigned long window) { m_window = window; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    Handler m_handler;
    unsigned long m_window = 0;
};
