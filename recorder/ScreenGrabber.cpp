#include "recorder/ScreenGrabber.h"

// Qt's headers (the portal source) come before X11's, whose macros would take their names.
#include "recorder/PortalFrameSource.h"

#include "recorder/CursorTracker.h"
#include "recorder/FrameBuffer.h"
#include "recorder/FrameCanvas.h"
#include "recorder/GrabberConnection.h"
#include "recorder/PixelConverter.h"
#include "recorder/PrimaryMonitor.h"
#include "recorder/ScreenCapture.h"

#include <algorithm>
#include <array>

namespace {

constexpr Rgb kLeftClickColour{250, 0, 0};
constexpr Rgb kRightClickColour{0, 250, 0};
constexpr int kMarkGrowth = 5;
constexpr int kMarkExpirySize = 25;

// Oldest first, so that a newer circle lies over an older one.
void DrawClickMarks(const std::deque<ClickMark>& marks, FrameCanvas& canvas,
                    const ScreenArea& area) {
    for (const ClickMark& mark : marks)
        canvas.DrawCircle(mark.x - area.x, mark.y - area.y, static_cast<float>(mark.size),
                          mark.left ? kLeftClickColour : kRightClickColour);
}

// Each mark grows once per grab; at most one, the oldest grown out, goes per grab.
void AgeClickMarks(std::deque<ClickMark>& marks) {
    for (ClickMark& mark : marks)
        mark.size += kMarkGrowth;
    const auto expired = std::ranges::find_if(
        marks, [](const ClickMark& mark) { return mark.size >= kMarkExpirySize; });
    if (expired != marks.end())
        marks.erase(expired);
}

// The X server's root window, read through MIT-SHM. Members are released in
// reverse order: everything that talks to the server goes before the connection.
class X11FrameSource : public FrameSource {
public:
    bool Open() override;
    bool Capture() override;
    FrameBuffer& frame() override { return m_frame; }
    ScreenArea area() const override { return m_area; }
    CaptureFailure failure() const override { return CaptureFailure::ScreenUnreadable; }

private:
    bool CaptureScreen();
    void ReadColourTable();
    void DrawCursor(FrameCanvas& canvas);

    GrabberConnection connection;
    Window root = 0;
    Colormap colormap = 0;
    ScreenArea m_area;
    ScreenCapture capture;
    PixelConverter converter;
    FrameBuffer m_frame;
    std::array<XColor, 256> colours{};
    int colourCount = 0;
    CursorTracker cursor;
};

} // namespace

bool X11FrameSource::Open() {
    if (!connection.Open())
        return false;
    Display* display = connection.display();
    root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes))
        return false;
    colormap = attributes.colormap;
    m_area = PrimaryMonitorArea(display, root);
    if (m_area.width <= 0 || !capture.Open(display, root, attributes, m_area))
        return false;
    if (!converter.Prepare(*capture.image(), *attributes.visual))
        return false;
    if (!m_frame.Allocate(m_area.width, m_area.height, converter.bitCount()))
        return false;
    colourCount = converter.bitCount() == 8 ? std::min(attributes.visual->map_entries, 256) : 0;
    for (int pixel = 0; pixel < colourCount; ++pixel)
        colours[pixel].pixel = static_cast<unsigned long>(pixel);
    cursor.Open(display, root);
    return true;
}

bool X11FrameSource::Capture() {
    if (!CaptureScreen())
        return false;
    FrameCanvas canvas(m_frame);
    DrawCursor(canvas);
    return true;
}

bool X11FrameSource::CaptureScreen() {
    if (connection.lost())
        return false;
    const XImage* image = capture.Capture();
    if (!image || connection.lost())
        return false;
    converter.Convert(*image, m_frame);
    ReadColourTable();
    return true;
}

// Index pixels mean whatever the colormap says now, so the table is read with
// every frame.
void X11FrameSource::ReadColourTable() {
    if (colourCount == 0)
        return;
    XQueryColors(connection.display(), colormap, colours.data(), colourCount);
    RgbQuad* table = m_frame.ColourTable();
    for (int index = 0; index < colourCount; ++index) {
        table[index].red = static_cast<uint8_t>(colours[index].red >> 8);
        table[index].green = static_cast<uint8_t>(colours[index].green >> 8);
        table[index].blue = static_cast<uint8_t>(colours[index].blue >> 8);
    }
}

void X11FrameSource::DrawCursor(FrameCanvas& canvas) {
    int x = 0;
    int y = 0;
    if (!QueryPointer(connection.display(), root, x, y))
        return;
    cursor.Update();
    if (cursor.empty())
        return;
    canvas.BlendImage(cursor.pixels(), cursor.width(), cursor.height(),
                      x - m_area.x - cursor.hotSpotX(), y - m_area.y - cursor.hotSpotY());
}

CScreenGrabber::CScreenGrabber() : m_backend(DetectCaptureBackend()) {}

CScreenGrabber::~CScreenGrabber() {
    Release();
}

// The portal's Open waits for answers in a local event loop, from which a stop
// may call Release: the source is then only told to give up, and goes when
// its Open returns.
bool CScreenGrabber::Setup() {
    Release();
    m_failure = CaptureFailure::NoFailure;
    std::unique_ptr<FrameSource> source;
    if (m_backend == CaptureBackend::Portal)
        source = std::make_unique<PortalFrameSource>();
    else
        source = std::make_unique<X11FrameSource>();
    m_opening = source.get();
    const bool opened = source->Open();
    m_opening = nullptr;
    if (opened && !m_abandoned) {
        m_source = std::move(source);
        return true;
    }
    m_failure = m_abandoned ? CaptureFailure::Abandoned : source->failure();
    m_abandoned = false;
    return false;
}

bool CScreenGrabber::Grab() {
    if (!m_source)
        return false;
    const bool captured = m_source->Capture();
    // A failed capture leaves the previous frame as it was, but the marks age
    // with every grab all the same.
    if (captured) {
        FrameCanvas canvas(m_source->frame());
        DrawClickMarks(m_clickMarks, canvas, m_source->area());
    } else {
        m_failure = m_source->failure();
    }
    AgeClickMarks(m_clickMarks);
    return captured;
}

void CScreenGrabber::Release() {
    if (m_opening) {
        m_abandoned = true;
        m_opening->Abandon();
    }
    m_source.reset();
}

const BitmapInfoHeader* CScreenGrabber::Header() const {
    return m_source ? m_source->frame().Header() : nullptr;
}

const uint8_t* CScreenGrabber::Pixels() const {
    return m_source ? m_source->frame().Pixels() : nullptr;
}
