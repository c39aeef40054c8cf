#include "recorder/ScreenGrabber.h"

#include "recorder/CursorTracker.h"
#include "recorder/FrameBuffer.h"
#include "recorder/FrameCanvas.h"
#include "recorder/GrabberConnection.h"
#include "recorder/PixelConverter.h"
#include "recorder/PrimaryMonitor.h"
#include "recorder/ScreenCapture.h"
#include "recorder/ScreenDamage.h"

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

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

} // namespace

// Members are released in reverse order: everything that talks to the server
// goes before the connection.
struct CScreenGrabber::State {
    GrabberConnection connection;
    Window root = 0;
    Colormap colormap = 0;
    ScreenArea area;
    ScreenCapture capture;
    PixelConverter converter;
    FrameBuffer frame;
    std::array<XColor, 256> colours{};
    int colourCount = 0;
    CursorTracker cursor;
    ScreenDamage damage;
    // What the last frame shows, for HasChanged.
    bool changed = true;    // drawing or a new cursor shape since that grab, or none yet
    int pointerX = INT_MIN; // INT_MIN: not on this screen
    int pointerY = INT_MIN;
    bool marksDrawn = false;

    ~State();
    bool Open();
    bool CaptureScreen();
    void ReadColourTable();
    void TakeEvents();
    void ReadPointer(int& x, int& y);
    void DrawCursor(FrameCanvas& canvas);
};

// Once the connection is lost, Xlib must not be called on it again: from another
// thread than the one that met the loss, a call waits for ever. The server's side
// of everything went with it; only our own memory is freed.
CScreenGrabber::State::~State() {
    if (!connection.lost())
        return;
    damage.Forget();
    capture.Forget();
}

bool CScreenGrabber::State::Open() {
    if (!connection.Open())
        return false;
    Display* display = connection.display();
    root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes))
        return false;
    colormap = attributes.colormap;
    area = PrimaryMonitorArea(display, root);
    if (area.width <= 0 || !capture.Open(display, root, attributes, area))
        return false;
    if (!converter.Prepare(*capture.image(), *attributes.visual))
        return false;
    if (!frame.Allocate(area.width, area.height, converter.bitCount()))
        return false;
    colourCount = converter.bitCount() == 8 ? std::min(attributes.visual->map_entries, 256) : 0;
    for (int pixel = 0; pixel < colourCount; ++pixel)
        colours[pixel].pixel = static_cast<unsigned long>(pixel);
    cursor.Open(display, root);
    damage.Open(display, root);
    return true;
}

bool CScreenGrabber::State::CaptureScreen() {
    if (connection.lost())
        return false;
    const XImage* image = capture.Capture();
    if (!image || connection.lost())
        return false;
    converter.Convert(*image, frame);
    ReadColourTable();
    return true;
}

// Index pixels mean whatever the colormap says now, so the table is read with
// every frame.
void CScreenGrabber::State::ReadColourTable() {
    if (colourCount == 0)
        return;
    XQueryColors(connection.display(), colormap, colours.data(), colourCount);
    RgbQuad* table = frame.ColourTable();
    for (int index = 0; index < colourCount; ++index) {
        table[index].red = static_cast<uint8_t>(colours[index].red >> 8);
        table[index].green = static_cast<uint8_t>(colours[index].green >> 8);
        table[index].blue = static_cast<uint8_t>(colours[index].blue >> 8);
    }
}

// The only events this connection asked for are the cursor's and the damage notices.
void CScreenGrabber::State::TakeEvents() {
    Display* display = connection.display();
    while (!connection.lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (cursor.TakeNotice(event) || damage.TakeNotice(event))
            changed = true;
    }
}

void CScreenGrabber::State::ReadPointer(int& x, int& y) {
    if (connection.lost() || !QueryPointer(connection.display(), root, x, y))
        x = y = INT_MIN;
}

void CScreenGrabber::State::DrawCursor(FrameCanvas& canvas) {
    if (pointerX == INT_MIN)
        return;
    cursor.Update();
    if (cursor.empty())
        return;
    canvas.BlendImage(cursor.pixels(), cursor.width(), cursor.height(),
                      pointerX - area.x - cursor.hotSpotX(), pointerY - area.y - cursor.hotSpotY());
}

CScreenGrabber::CScreenGrabber() = default;

CScreenGrabber::~CScreenGrabber() {
    Release();
}

bool CScreenGrabber::Setup() {
    Release();
    m_state = std::make_unique<State>();
    if (m_state->Open())
        return true;
    Release();
    return false;
}

bool CScreenGrabber::Grab() {
    if (!m_state)
        return false;
    State& state = *m_state;
    TakeNewClickMarks();
    // The pointer query's answer follows every notice of what was drawn before it
    // (the damage of the whole screen that its watch starts with included); they
    // are taken before the capture, and whatever is drawn from here on is
    // reported again, so no change falls between two frames.
    state.ReadPointer(state.pointerX, state.pointerY);
    state.TakeEvents();
    const bool captured = state.CaptureScreen();
    state.changed = !captured;
    // A failed capture leaves the previous frame as it was, but the marks age
    // with every grab all the same.
    if (captured) {
        FrameCanvas canvas(state.frame);
        state.DrawCursor(canvas);
        DrawClickMarks(m_clickMarks, canvas, state.area);
        state.marksDrawn = !m_clickMarks.empty();
    }
    AgeClickMarks(m_clickMarks);
    return captured;
}

bool CScreenGrabber::HasChanged() {
    if (!m_state)
        return false;
    State& state = *m_state;
    TakeNewClickMarks();
    // The pointer query's answer comes after every notice the server sent before
    // it, so whatever was drawn before this call is among the events taken next.
    int x = 0;
    int y = 0;
    state.ReadPointer(x, y);
    state.TakeEvents();
    return state.changed || !state.damage.active() || state.marksDrawn || !m_clickMarks.empty() ||
           x != state.pointerX || y != state.pointerY;
}

void CScreenGrabber::ExchangeFrame(FrameBuffer& other) {
    if (m_state)
        std::swap(m_state->frame, other);
}

void CScreenGrabber::AddClickMark(const ClickMark& mark) {
    std::lock_guard lock(m_newMarksMutex);
    m_newMarks.push_back(mark);
}

void CScreenGrabber::TakeNewClickMarks() {
    std::lock_guard lock(m_newMarksMutex);
    m_clickMarks.insert(m_clickMarks.end(), m_newMarks.begin(), m_newMarks.end());
    m_newMarks.clear();
}

void CScreenGrabber::Release() {
    m_state.reset();
}

const BitmapInfoHeader* CScreenGrabber::Header() const {
    return m_state ? m_state->frame.Header() : nullptr;
}

const uint8_t* CScreenGrabber::Pixels() const {
    return m_state ? m_state->frame.Pixels() : nullptr;
}
