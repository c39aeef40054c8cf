#pragma once

#include "tests/support/XvfbServer.h"

#include <cstdint>
#include <string>
#include <vector>

class CScreenGrabber;
struct _XDisplay; // Xlib's Display; its macros stay out of the tests

namespace grabtest {

struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Colour&) const = default;
};

// A client of an X server that puts known things on screen: filled windows, a
// solid cursor of known size and hot spot, the pointer. Its windows go with it.
class SceneClient {
public:
    // The display's name, as DISPLAY gives it; empty: none, and not ready.
    explicit SceneClient(const std::string& display);
    ~SceneClient();
    SceneClient(const SceneClient&) = delete;
    SceneClient& operator=(const SceneClient&) = delete;

    bool ready() const { return m_display != nullptr; }

    // An unmanaged window filled with colour at root position (x, y); returns
    // the pixel value the server allocated for the colour.
    unsigned long FillRect(int x, int y, int width, int height, Colour colour);
    // A window the window manager frames, placed at (x, y) as a user's program
    // places it, filled with colour; its id.
    unsigned long ManagedWindow(int x, int y, int width, int height, Colour colour);
    // A solid rectangular cursor on the root window, and so on every window that names none.
    void SetCursor(int width, int height, int hotSpotX, int hotSpotY, Colour colour);
    void MovePointer(int x, int y);

private:
    unsigned long AllocatePixel(Colour colour);

    _XDisplay* m_display = nullptr;
};

// A private Xvfb server made the current DISPLAY; the base that starts it
// comes first, so the scene client has a server to connect to.
struct CurrentXvfb {
    CurrentXvfb(const std::string& geometry, const std::vector<std::string>& options);
    testsupport::XvfbServer xvfb;
};

// A private Xvfb server made the current DISPLAY, and a scene client on it.
class GrabScene : private CurrentXvfb, public SceneClient {
public:
    explicit GrabScene(const std::string& geometry, const std::vector<std::string>& options = {});

    testsupport::XvfbServer& server() { return xvfb; }
};

// One screen pixel of the grabber's frame, read by the bitmap layout alone:
// bottom-up rows padded to 4 bytes, colour table after the header.
Colour FramePixel(const CScreenGrabber& grabber, int x, int y);
// The raw bits of one pixel (an index at 8 bits, the packed value at 16).
uint32_t FramePixelBits(const CScreenGrabber& grabber, int x, int y);

} // namespace grabtest
