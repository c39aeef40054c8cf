#include "recorder/ScreenGrabber.h"

// Qt's headers (the portal source) come before X11's, whose macros would take their names.
#include "recorder/capture/PortalFrameSource.h"

#include "recorder/capture/CompositeWindow.h"
#include "recorder/capture/CursorTracker.h"
#include "recorder/capture/GrabberConnection.h"
#include "recorder/capture/PictureHistory.h"
#include "recorder/capture/PixelConverter.h"
#include "recorder/capture/PrimaryMonitor.h"
#include "recorder/capture/ScreenCapture.h"
#include "recorder/capture/ScreenDamage.h"
#include "recorder/media/FrameBuffer.h"
#include "recorder/media/FrameCanvas.h"
#include "recorder/media/PictureFit.h"

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

// The X server's pictures, read through MIT-SHM: a rectangle of the root window,
// or one window's own content through Composite, followed wherever it moves and
// fitted into the frame when its size changes. Members are released in reverse
// order: everything that talks to the server goes before the connection.
class X11FrameSource : public FrameSource {
public:
    explicit X11FrameSource(const AreaChoice& choice) : m_choice(choice) {}
    ~X11FrameSource() override;
    bool Open() override;
    bool Capture() override;
    bool HasChanged() override;
    MarkPlacement PlaceClickMark(ClickMark& mark) override;
    FrameBuffer& frame() override { return m_frame; }
    ScreenArea area() const override { return {0, 0, m_frame.width(), m_frame.height()}; }
    CaptureFailure failure() const override { return CaptureFailure::ScreenUnreadable; }
    AreaFallback areaFallback() const override { return m_fallback; }
    bool windowClosed() const override {
        return windowRecorded && window.state() == CompositeWindow::State::Gone;
    }

private:
    bool OpenScreen();
    bool OpenWindow();
    bool OpenPictures(Drawable drawable, Window drawnOn, const XWindowAttributes& attributes,
                      const ScreenArea& drawnArea);
    bool CaptureScreen();
    bool CaptureWindow();
    bool FollowWindow();
    bool WindowReadable() const;
    const XImage* ReadPicture(RowBands& rows);
    const XImage* ReadScreen(RowBands& rows);
    void FinishFrame(RowBands rows);
    void ReadColourTable();
    void TakeEvents();
    void ReadPointer(int& x, int& y);
    void DrawCursor(FrameCanvas& canvas);

    const AreaChoice m_choice;
    AreaFallback m_fallback = AreaFallback::Kept;
    GrabberConnection connection;
    Window root = 0;
    Colormap colormap = 0;
    // What is read: a rectangle of the root window, or of the window's pixmap
    // (inside its border).
    ScreenArea captured;
    // Where the captured picture's top left is on the root window, as the pointer
    // and the presses are given; a window's is read again with the pointer.
    int originX = 0;
    int originY = 0;
    PictureFit fit; // where the captured picture lies in the frame
    ScreenCapture capture;
    PixelConverter converter;
    FrameBuffer m_frame;
    std::array<XColor, 256> colours{};
    int colourCount = 0;
    CursorTracker cursor;
    ScreenDamage damage;
    CompositeWindow window;
    bool windowRecorded = false;
    bool windowPixmapRead = false; // the window's current pixmap could be opened
    // The window's last picture at its own size, shown again while it is hidden
    // or gone; what the frame shows of it is copied or fitted from here.
    FrameBuffer windowPicture;
    // What the last frame shows, for HasChanged.
    bool changed = true;    // drawing or a new cursor shape since that grab, or none yet
    int pointerX = INT_MIN; // on the captured picture; INT_MIN: not on it
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
    window.Forget();
    damage.Forget();
    capture.Forget();
}

// A window that cannot be recorded itself gives the primary screen, as the
// area's resolution says.
bool X11FrameSource::Open() {
    if (!connection.Open())
        return false;
    root = DefaultRootWindow(connection.display());
    if (m_choice.kind == AreaKind::Window && OpenWindow())
        return true;
    window.Close();
    return OpenScreen();
}

bool X11FrameSource::OpenScreen() {
    Display* display = connection.display();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes))
        return false;
    const ResolvedArea resolved = ResolveArea(display, root, m_choice);
    captured = resolved.area;
    m_fallback = resolved.fallback;
    originX = captured.x;
    originY = captured.y;
    if (captured.width <= 0 || !OpenPictures(root, root, attributes, captured))
        return false;
    XSelectInput(display, root, StructureNotifyMask);
    return true;
}

// The recording keeps the window's size at the start, cut to even sides. The
// pixmap holds the window's border too, around its content.
bool X11FrameSource::OpenWindow() {
    if (!window.Open(connection.display(), m_choice.window))
        return false;
    window.TakeNewPixmap();
    const XWindowAttributes& attributes = window.attributes();
    const int border = attributes.border_width;
    captured = {border, border, attributes.width & ~1, attributes.height & ~1};
    if (captured.width <= 0 || captured.height <= 0 ||
        !OpenPictures(window.pixmap(), window.window(), attributes,
                      {0, 0, captured.width, captured.height}) ||
        !windowPicture.Allocate(captured.width, captured.height, converter.bitCount()))
        return false;
    windowRecorded = true;
    windowPixmapRead = true;
    return true;
}

// The frame takes the captured size; `drawnArea` is the captured rectangle in
// the coordinates of the window whose drawing is watched.
bool X11FrameSource::OpenPictures(Drawable drawable, Window drawnOn,
                                  const XWindowAttributes& attributes,
                                  const ScreenArea& drawnArea) {
    Display* display = connection.display();
    colormap = attributes.colormap;
    fit = PictureFit::Between(captured.width, captured.height, captured.width, captured.height);
    if (!capture.Open(display, drawable, attributes, captured))
        return false;
    if (!converter.Prepare(*capture.image(), *attributes.visual))
        return false;
    if (!m_frame.Allocate(captured.width, captured.height, converter.bitCount()))
        return false;
    colourCount = converter.bitCount() == 8 ? std::min(attributes.visual->map_entries, 256) : 0;
    for (int pixel = 0; pixel < colourCount; ++pixel)
        colours[pixel].pixel = static_cast<unsigned long>(pixel);
    cursor.Open(display, root);
    damage.Open(display, drawnOn, drawnArea);
    return true;
}

// The pointer query's answer follows every notice of what was drawn before it
// (the damage of the whole screen that its watch starts with included); they are
// taken before the capture, and whatever is drawn from here on is reported
// again, so no change falls between two frames.
bool X11FrameSource::Capture() {
    ReadPointer(pointerX, pointerY);
    TakeEvents();
    const bool taken = windowRecorded ? CaptureWindow() : CaptureScreen();
    changed = !taken;
    if (!taken)
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
    if (windowRecorded && !WindowReadable())
        return changed;
    return changed || !damage.active() || x != pointerX || y != pointerY;
}

bool X11FrameSource::CaptureScreen() {
    RowBands rows;
    const XImage* image = ReadPicture(rows);
    if (!image)
        return false;
    pictures.Add(rows);
    // The frame to fill is one handed over earlier, showing an older picture with
    // the cursor and circles of its time.
    converter.Convert(*image, pictures.RowsToRefresh(m_frame), m_frame);
    FinishFrame(std::move(rows));
    return true;
}

// A window that shows nothing to read (hidden, gone, or its pixmap refused)
// leaves its last picture in the frame, and the time line goes on.
bool X11FrameSource::CaptureWindow() {
    if (connection.lost())
        return false;
    RowBands rows;
    if (FollowWindow()) {
        if (const XImage* image = ReadPicture(rows)) {
            converter.Convert(*image, rows, windowPicture);
            if (!fit.fills())
                rows = RowBands::Whole(m_frame.height());
            pictures.Add(rows);
        } else {
            rows.Clear();
        }
    }
    if (fit.fills())
        CopyRows(windowPicture, pictures.RowsToRefresh(m_frame), m_frame);
    else
        DrawFitted(windowPicture, fit, m_frame);
    FinishFrame(std::move(rows));
    return true;
}

// A new pixmap (the window was resized or shown again) is read whole from here
// on, fitted into the frame unless it has the frame's size. False while the
// window shows nothing to read.
bool X11FrameSource::FollowWindow() {
    if (window.state() != CompositeWindow::State::Shown)
        return false;
    if (!window.TakeNewPixmap())
        return windowPixmapRead;
    const XWindowAttributes& attributes = window.attributes();
    const bool frameSized =
        (attributes.width & ~1) == m_frame.width() && (attributes.height & ~1) == m_frame.height();
    const int border = attributes.border_width;
    const ScreenArea area{border, border, frameSized ? m_frame.width() : attributes.width,
                          frameSized ? m_frame.height() : attributes.height};
    Display* display = connection.display();
    // A pixmap that cannot be read (the window hid again meanwhile) waits for the next one.
    windowPixmapRead = capture.Open(display, window.pixmap(), attributes, area) &&
                       windowPicture.Allocate(area.width, area.height, converter.bitCount());
    if (!windowPixmapRead)
        return false;
    captured = area;
    fit = PictureFit::Between(area.width, area.height, m_frame.width(), m_frame.height());
    damage.Open(display, window.window(), {0, 0, area.width, area.height});
    readWhole = true;
    return true;
}

bool X11FrameSource::WindowReadable() const {
    return window.state() == CompositeWindow::State::Shown && windowPixmapRead;
}

// The rows drawn on since the last capture are read, or more (see ReadScreen);
// nullptr when reading failed, and the next capture reads everything.
const XImage* X11FrameSource::ReadPicture(RowBands& rows) {
    if (connection.lost())
        return nullptr;
    rows = damage.TakeDamagedRows();
    const XImage* image = ReadScreen(rows);
    // The rows taken may be half read.
    if (!image || connection.lost()) {
        readWhole = true;
        return nullptr;
    }
    return image;
}

void X11FrameSource::FinishFrame(RowBands rows) {
    m_frame.setPicture(pictures.newest());
    m_frame.changedRows() = std::move(rows);
    m_frame.overlayRows().Clear();
    ReadColourTable();
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
        rows = RowBands::Whole(captured.height);
        return capture.Capture(rows);
    }
    if (!damage.active())
        return capture.CaptureAndCheck(rows, 0, captured.height);
    const int top = checkedRows;
    if (now - sweepStart >= kCheckInterval) {
        sweepStart = now;
        checkedRows = 0;
        return capture.CaptureAndCheck(rows, top, captured.height);
    }
    checkedRows = static_cast<int>(int64_t(captured.height) * (now - sweepStart) / kCheckInterval);
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

// The only events this connection asked for are the cursor's, the damage notices,
// the root window's changes of size and the recorded window's changes.
void X11FrameSource::TakeEvents() {
    Display* display = connection.display();
    while (!connection.lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (cursor.TakeNotice(event) || damage.TakeNotice(event))
            changed = true;
        if (window.TakeNotice(event)) {
            changed = true;
            // The server dropped the window's damage watch along with it.
            if (window.state() == CompositeWindow::State::Gone)
                damage.Forget();
        }
        // A resized screen: the next capture asks for every row, which a screen
        // smaller than the frame refuses.
        if (event.type == ConfigureNotify && event.xconfigure.window == root)
            readWhole = true;
    }
}

// A press outside the captured picture leaves no mark, not even the edge of
// one; one inside is placed where the frame shows its point.
MarkPlacement X11FrameSource::PlaceClickMark(ClickMark& mark) {
    const int x = mark.x - originX;
    const int y = mark.y - originY;
    const bool inside = (!windowRecorded || WindowReadable()) && x >= 0 && x < fit.sourceWidth &&
                        y >= 0 && y < fit.sourceHeight;
    if (!inside)
        return MarkPlacement::OffPicture;
    mark.x = fit.FrameX(x);
    mark.y = fit.FrameY(y);
    return MarkPlacement::Placed;
}

// On a window the pointer is asked about relative to it, which tells where the
// window is now as well.
void X11FrameSource::ReadPointer(int& x, int& y) {
    x = y = INT_MIN;
    if (connection.lost() || (windowRecorded && !WindowReadable()))
        return;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    const Window over = windowRecorded ? window.window() : root;
    if (!QueryPointerOver(connection.display(), over, rootX, rootY, windowX, windowY))
        return;
    if (windowRecorded) {
        originX = rootX - windowX;
        originY = rootY - windowY;
    }
    x = rootX - originX;
    y = rootY - originY;
}

void X11FrameSource::DrawCursor(FrameCanvas& canvas) {
    if (pointerX == INT_MIN)
        return;
    cursor.Update();
    if (cursor.empty())
        return;
    const int left = fit.FrameX(pointerX) - cursor.hotSpotX();
    const int top = fit.FrameY(pointerY) - cursor.hotSpotY();
    canvas.BlendImage(cursor.pixels(), cursor.width(), cursor.height(), left, top);
    m_frame.overlayRows().Add({top, top + cursor.height(), left, left + cursor.width()},
                              m_frame.height());
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
    m_windowClosed = false;
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
        if (m_source->windowClosed())
            m_windowClosed = true;
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
