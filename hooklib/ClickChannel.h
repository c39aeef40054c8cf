#pragma once

#include <X11/Xlib.h>
#include <cstdint>

// Window messages between our processes, carried by X11 ClientMessage events sent
// to the receiving window: data.l = message, wParam, lParam, reply window, serial.
// The receiver answers each one with a ClientMessage to the reply window carrying
// the same serial, so that a sender can wait for it as for a synchronous send.
namespace clickchannel {

// Messages of the protocol.
constexpr uint32_t kLeftButtonDown = 1010;
constexpr uint32_t kRightButtonDown = 1011;
// From the hook on a Wayland desktop: no input device can be read, so no press will
// be reported until one can.
constexpr uint32_t kNoPressDevices = 1012;
// A key pressed while a recording shows keys: wParam is its keysym (as the
// keyboard layout in use gives it, Shift applied), lParam the modifiers held
// (KeyModifier bits). Only keys the recording may show are sent (see KeyNames.h).
constexpr uint32_t kKeyDown = 1013;
constexpr uint32_t kTrayHide = 0x402;
constexpr uint32_t kTrayRestore = 0x403;

// Name of the atom that marks our ClientMessages (type of the event).
constexpr const char* kMessageAtomName = "_TESMARA_WINDOW_MESSAGE";
constexpr const char* kReplyAtomName = "_TESMARA_WINDOW_MESSAGE_REPLY";

struct WindowMessage {
    uint32_t message = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
    Window replyWindow = 0; // 0: the sender does not wait
    uint32_t serial = 0;
};

// Sends message to target and waits up to timeoutMs for the receiver's answer.
// False when the target is gone or did not answer in time. replyWindow is a window
// of the caller's on this connection where answers arrive (0: send without waiting);
// it and a fresh serial replace those fields of message. Other events that come in
// meanwhile are kept in the queue, as are late answers to earlier messages. The wait
// also ends, with false, as soon as cancelFd (when given) becomes readable.
bool SendAndWait(Display* display, Window target, Window replyWindow, const WindowMessage& message,
                 int timeoutMs, long* result = nullptr, int cancelFd = -1);

// Reads a ClientMessage's type and data as Qt hands them over (xcb) or Xlib does.
bool Decode(Display* display, Atom type, int format, const long data[5], WindowMessage* out);

// Answers a decoded message (nothing happens when it carries no reply window). A
// sender that has gone meanwhile is no error: the answer is simply dropped.
void Reply(Display* display, const WindowMessage& message, long result);

} // namespace clickchannel
