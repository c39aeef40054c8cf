#include "app/WindowMessageFilter.h"

#include "session/ApplicationDisplay.h"

#include <QCoreApplication>
#include <xcb/xcb.h>

#include "hooklib/ClickChannel.h"

WindowMessageFilter::WindowMessageFilter(Handler handler) : m_handler(std::move(handler)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowMessageFilter::~WindowMessageFilter() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool WindowMessageFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_window == 0 || eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
    Display* display = ApplicationDisplay();
    if (client->window != m_window || !display)
        return false;
    long data[5];
    for (int i = 0; i < 5; ++i)
        data[i] = static_cast<long>(client->data.data32[i]);
    clickchannel::WindowMessage decoded;
    if (!clickchannel::Decode(display, client->type, client->format, data, &decoded))
        return false;
    long answer = m_handler(decoded);
    clickchannel::Reply(display, decoded, answer);
    XFlush(display);
    return true;
}
