#include "tests/recorder/GrabScene.h"

#include "recorder/ScreenGrabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace grabtest {

namespace {

XColor ToXColor(Colour colour) {
    XColor x{};
    x.red = static_cast<unsigned short>(colour.red * 257);
    x.green = static_cast<unsigned short>(colour.green * 257);
    x.blue = static_cast<unsigned short>(colour.blue * 257);
    x.flags = DoRed | DoGreen | DoBlue;
    return x;
}

// Filled by the server from its background: its client draws nothing.
Window CreateFilled(Display* display, int x, int y, int width, int height, unsigned long pixel,
                    bool managed) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = managed ? False : True;
    attributes.background_pixel = pixel;
    return XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                         static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                         CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
}

const uint8_t* PixelAddress(const CScreenGrabber& grabber, int x, int y) {
    const BitmapInfoHeader& header = *grabber.Header();
    const size_t stride = ((header.biBitCount * static_cast<size_t>(header.biWidth) + 31) / 32) * 4;
    const size_t row = static_cast<size_t>(header.biHeight - 1 - y);
    return grabber.Pixels() + row * stride + static_cast<size_t>(x) * header.biBitCount / 8;
}

} // namespace

SceneClient::SceneClient(const std::string& display)
    : m_display(display.empty() ? nullptr : XOpenDisplay(display.c_str())) {}

SceneClient::~SceneClient() {
    if (m_display)
        XCloseDisplay(m_display);
}

CurrentXvfb::CurrentXvfb(const std::string& geometry, const std::vector<std::string>& options)
    : xvfb(geometry, options) {
    if (xvfb.running())
        xvfb.makeCurrent();
}

GrabScene::GrabScene(const std::string& geometry, const std::vector<std::string>& options)
    : CurrentXvfb(geometry, options), SceneClient(xvfb.running() ? xvfb.display() : std::string()) {
}

unsigned long SceneClient::AllocatePixel(Colour colour) {
    XColor pixel = ToXColor(colour);
    XAllocColor(m_display, DefaultColormap(m_display, DefaultScreen(m_display)), &pixel);
    return pixel.pixel;
}

unsigned long SceneClient::FillRect(int x, int y, int width, int height, Colour colour) {
    const unsigned long pixel = AllocatePixel(colour);
    XMapRaised(m_display, CreateFilled(m_display, x, y, width, height, pixel, false));
    XSync(m_display, False);
    return pixel;
}

unsigned long SceneClient::ManagedWindow(int x, int y, int width, int height, Colour colour) {
    const Window window = CreateFilled(m_display, x, y, width, height, AllocatePixel(colour), true);
    XSizeHints hints{};
    hints.flags = USPosition;
    hints.x = x;
    hints.y = y;
    XSetWMNormalHints(m_display, window, &hints);
    XMapWindow(m_display, window);
    XSync(m_display, False);
    return window;
}

void SceneClient::SetCursor(int width, int height, int hotSpotX, int hotSpotY, Colour colour) {
    const Window root = DefaultRootWindow(m_display);
    const std::vector<char> bits(static_cast<size_t>((width + 7) / 8 * height),
                                 static_cast<char>(0xFF));
    Pixmap shape = XCreateBitmapFromData(m_display, root, bits.data(), static_cast<unsigned>(width),
                                         static_cast<unsigned>(height));
    XColor solid = ToXColor(colour);
    Cursor cursor =
        XCreatePixmapCursor(m_display, shape, shape, &solid, &solid,
                            static_cast<unsigned>(hotSpotX), static_cast<unsigned>(hotSpotY));
    XDefineCursor(m_display, root, cursor);
    XFreeCursor(m_display, cursor);
    XFreePixmap(m_display, shape);
    XSync(m_display, False);
}

void SceneClient::MovePointer(int x, int y) {
    XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
    XSync(m_display, False);
}

uint32_t FramePixelBits(const CScreenGrabber& grabber, int x, int y) {
    const uint8_t* at = PixelAddress(grabber, x, y);
    uint32_t bits = 0;
    for (int i = grabber.Header()->biBitCount / 8 - 1; i >= 0; --i)
        bits = (bits << 8) | at[i];
    return bits;
}

Colour FramePixel(const CScreenGrabber& grabber, int x, int y) {
    const uint8_t* at = PixelAddress(grabber, x, y);
    const uint32_t bits = FramePixelBits(grabber, x, y);
    switch (grabber.Header()->biBitCount) {
    case 8: {
        const uint8_t* entry = reinterpret_cast<const uint8_t*>(grabber.Header() + 1) + 4 * bits;
        return {entry[2], entry[1], entry[0]};
    }
    case 16: {
        const auto five = [](uint32_t v) { return static_cast<uint8_t>(v << 3 | v >> 2); };
        return {five(bits >> 10 & 31), five(bits >> 5 & 31), five(bits & 31)};
    }
    default:
        return {at[2], at[1], at[0]};
    }
}

} // namespace grabtest
