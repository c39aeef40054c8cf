#include "recorder/ScreenGrabber.h"

// Qt's headers (the portal source) come before X11's, whose macros would take their names.
#include "recorder/capture/PortalFrameSource.h"

#include "recorder/capture/CursorTracker.h"
#include "recorder/capture/GrabberConnection.h"
#include "recorder/capture/PictureHistory.h"
#include "recorder/capture/PixelConverter.h"
#include "recorder/capture/PrimaryMonitor.h"
#include "recorder/capture/ScreenCapture.h"
#include "recorder/capture/ScreenDamage.h"
#include "recorder/media/FrameBuffer.h"
#include "recorder/media/FrameCanvas.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <utility>

namespace {

constexpr Rgb kLeftClickColour{250, 0, 0};
constexpr Rgb kRightClickColour{0, 250, 0};
constexpr int kMarkGrowth = 5;
constexpr int kMarkExpirySize = 25;
// A capture reads only the rows drawn on since the last one, and checks the whole
// screen this often: whatever drawing DAMAGE did not report stays no longer.
constexpr std::chrono::steady_clock::duration kCheckInterval = std::chrono::seconds(1);
// Oldest first, so that a newer circle lies over an older one.
void DrawClickMarks(const std::deque<ClickMark>& marks, FrameCanvas& canvas,
                    const ScreenArea& area) {
    for (const ClickMark& mark : marks)
        canvas.DrawCircle(mark.x - area.x, mark.y - area.y, static_cast<float>(mark.size),
                          mark.left ? kLeftClickColour : kRightClickColour);
}

// The part of the frame each circle covers, as DrawCircle draws it.
RowBands ClickMarkRows(const std::deque<ClickMark>& marks, const ScreenArea& area) {
    RowBands rows;
    for (const ClickMark& mark : marks) {
        const int reach = mark.size / 2 + 2;
        const int x = mark.x - area.x;
        const int y = mark.y - area.y;
        rows.Add({y - reach, y + reach + 1, x - reach, x + reach + 1}, area.height);
    }
    return rows;
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
    explicit X11FrameSource(const AreaChoice& choice) : m_choice(choice) {}
    ~X11FrameSource() override;
    bool Open() override;
    bool Capture() override;
    bool HasChanged() override;
    MarkPlacement PlaceClickMark(ClickMark& mark) override;
    FrameBuffer& frame() override { return m_frame; }
    ScreenArea area() const override { return m_area; }
    CaptureFailure failure() const override { return CaptureFailure::ScreenUnreadable; }
    AreaFallback areaFallback() const override { return m_fallback; }

private:
    bool CaptureScreen();
    const XImage* ReadScreen(RowBands& rows);
    void ReadColourTable();
    void TakeEvents();
    void ReadPointer(int& x, int& y);
    void DrawCursor(FrameCanvas& canvas);

    const AreaChoice m_choice;
    AreaFallback m_fallback = AreaFallback::Kept;
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
    ScreenDamage damage;
    // What the last frame shows, for HasChanged.
    bool changed = true;    // drawing or a new cursor shape since that grab, or none yet
    int pointerX = INT_MIN; // INT_MIN: not on this screen
    int pointerY = INT_MIN;
    bool readWhole = true; // the image is not known to match the screen anywhere
    std::chrono::steady_clock::time_point sweepStart;
    int checkedRows = 0; // of this sweep, from the top
    // Where the server wrote into the shared image for each picture.
    PictureHistory pictures;
};

} // namespace

// Once the connection is lost, Xlib must not be called on it again: from another
// thread than the one that met the loss, a call waits for ever. The server's side
// of everything went with it; only our own memory is freed.
X11FrameSource::~X11FrameSource() {
    if (!connection.lost())
        return;
    damage.Forget();
    capture.Forget();
}

bool X11FrameSource::Open() {
    if (!connection.Open())
        return false;
    Display* display = connection.display();
    root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes))
        return false;
    colormap = attributes.colormap;
    const ResolvedArea resolved = ResolveArea(display, root, m_choice);
    m_area = resolved.area;
    m_fallback = resolved.fallback;
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
    damage.Open(display, root, m_area);
    XSelectInput(display, root, StructureNotifyMask);
    return true;
}

// The pointer query's answer follows every notice of what was drawn before it
// (the damage of the whole screen that its watch starts with included); they are
// taken before the capture, and whatever is drawn from here on is reported
// again, so no change falls between two frames.
bool X11FrameSource::Capture() {
    ReadPointer(pointerX, pointerY);
    TakeEvents();
    const bool captured = CaptureScreen();
    changed = !captured;
    if (!captured)
        return false;
    FrameCanvas canvas(m_frame);
    DrawCursor(canvas);
    return true;
}

bool X11FrameSource::HasChanged() {
    int x = 0;
    int y = 0;
    ReadPointer(x, y);
    TakeEvents();
    return changed || !damage.active() || x != pointerX || y != pointerY;
}

bool X11FrameSource::CaptureScreen() {
    if (connection.lost())
        return false;
    RowBands rows = damage.TakeDamagedRows();
    const XImage* image = ReadScreen(rows);
    // The rows taken may be half read: the next capture reads everything.
    if (!image || connection.lost()) {
        readWhole = true;
        return false;
    }
    // The frame to fill is one handed over earlier, showing an older picture with
    // the cursor and circles of its time.
    const uint64_t picture = pictures.Add(rows);
    converter.Convert(*image, pictures.RowsToRefresh(m_frame), m_frame);
    m_frame.setPicture(picture);
    m_frame.changedRows() = std::move(rows);
    m_frame.overlayRows().Clear();
    ReadColourTable();
    return true;
}

// A check of what the damage notices said sweeps down the screen once a second,
// a few rows with every grab, so that no grab takes much longer than the others;
// without notices every grab checks the whole screen. Whatever the notices missed
// is in the recording within a second, and counts as changed only where it is.
const XImage* X11FrameSource::ReadScreen(RowBands& rows) {
    const auto now = std::chrono::steady_clock::now();
    if (readWhole) {
        readWhole = false;
        sweepStart = now;
        checkedRows = 0;
        rows = RowBands::Whole(m_area.height);
        return capture.Capture(rows);
    }
    if (!damage.active())
        return capture.CaptureAndCheck(rows, 0, m_area.height);
    const int top = checkedRows;
    if (now - sweepStart >= kCheckInterval) {
        sweepStart = now;
        checkedRows = 0;
        return capture.CaptureAndCheck(rows, top, m_area.height);
    }
    checkedRows = static_cast<int>(int64_t(m_area.height) * (now - sweepStart) / kCheckInterval);
    return capture.CaptureAndCheck(rows, top, std::max(top, checkedRows));
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

// The only events this connection asked for are the cursor's, the damage notices
// and the root window's changes of size.
void X11FrameSource::TakeEvents() {
    Display* display = connection.display();
    while (!connection.lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (cursor.TakeNotice(event) || damage.TakeNotice(event))
            changed = true;
        // A resized screen: the next capture asks for every row, which a screen
        // smaller than the frame refuses.
        if (event.type == ConfigureNotify)
            readWhole = true;
    }
}

// A press outside the area leaves no mark, not even the edge of one.
MarkPlacement X11FrameSource::PlaceClickMark(ClickMark& mark) {
    const bool inside = mark.x >= m_area.x && mark.x < m_area.x + m_area.width &&
                        mark.y >= m_area.y && mark.y < m_area.y + m_area.height;
    return inside ? MarkPlacement::Placed : MarkPlacement::OffPicture;
}

void X11FrameSource::ReadPointer(int& x, int& y) {
    if (connection.lost() || !QueryPointer(connection.display(), root, x, y))
        x = y = INT_MIN;
}

void X11FrameSource::DrawCursor(FrameCanvas& canvas) {
    if (pointerX == INT_MIN)
        return;
    cursor.Update();
    if (cursor.empty())
        return;
    const int left = pointerX - m_area.x - cursor.hotSpotX();
    const int top = pointerY - m_area.y - cursor.hotSpotY();
    canvas.BlendImage(cursor.pixels(), cursor.width(), cursor.height(), left, top);
    m_frame.overlayRows().Add({top, top + cursor.height(), left, left + cursor.width()},
                              m_area.height);
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
    m_marksUnplaceable = false;
    m_areaFallback = AreaFallback::Kept;
    std::unique_ptr<FrameSource> source;
    if (m_backend == CaptureBackend::Portal)
        source = std::make_unique<PortalFrameSource>(m_areaChoice);
    else
        source = std::make_unique<X11FrameSource>(m_areaChoice);
    m_opening = source.get();
    const bool opened = source->Open();
    m_opening = nullptr;
    m_areaFallback = source->areaFallback();
    if (opened && !m_abandoned) {
        m_source = std::move(source);
        m_marksDrawn = false;
        m_overlayRows.Clear();
        return true;
    }
    m_failure = m_abandoned ? CaptureFailure::Abandoned : source->failure();
    m_abandoned = false;
    return false;
}

bool CScreenGrabber::Grab() {
    if (!m_source)
        return false;
    TakeNewClickMarks();
    const bool captured = m_source->Capture();
    // A failed capture leaves the previous frame as it was, but the marks age
    // with every grab all the same.
    if (captured) {
        FrameBuffer& frame = m_source->frame();
        const ScreenArea area = m_source->area();
        FrameCanvas canvas(frame);
        DrawClickMarks(m_clickMarks, canvas, area);
        m_marksDrawn = !m_clickMarks.empty();
        frame.overlayRows().Add(ClickMarkRows(m_clickMarks, area), area.height);
        m_caption.Draw(frame);
        // Where the last frame had the cursor and circles changes as well as where they are now.
        frame.changedRows().Add(m_overlayRows, area.height);
        m_overlayRows = frame.overlayRows();
        frame.changedRows().Add(m_overlayRows, area.height);
    } else {
        m_failure = m_source->failure();
    }
    AgeClickMarks(m_clickMarks);
    return captured;
}

bool CScreenGrabber::HasChanged() {
    if (!m_source)
        return false;
    TakeNewClickMarks();
    // Asked in any case: the source takes its notices of what was drawn.
    const bool sourceChanged = m_source->HasChanged();
    return sourceChanged || m_marksDrawn || !m_clickMarks.empty() || m_caption.Changing();
}

void CScreenGrabber::ExchangeFrame(FrameBuffer& other) {
    if (m_source)
        std::swap(m_source->frame(), other);
}

void CScreenGrabber::AddClickMark(const ClickMark& mark) {
    std::lock_guard lock(m_newMarksMutex);
    m_newMarks.push_back(mark);
}

// Placed as they are taken: on a portal's stream that is where its pointer is now,
// a frame at most after the press.
void CScreenGrabber::TakeNewClickMarks() {
    std::lock_guard lock(m_newMarksMutex);
    for (ClickMark& mark : m_newMarks) {
        const MarkPlacement placement = m_source->PlaceClickMark(mark);
        if (placement == MarkPlacement::Placed)
            m_clickMarks.push_back(mark);
        else if (placement == MarkPlacement::Unknowable)
            m_marksUnplaceable = true;
    }
    m_newMarks.clear();
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
