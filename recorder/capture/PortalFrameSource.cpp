#include "recorder/capture/PortalFrameSource.h"

#include "recorder/media/FrameCanvas.h"
#include "recorder/media/PictureFit.h"
#include "settings/RegEdit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kFormatTimeout = 5000;
// A compositor sends a picture only when the screen changes; a still screen
// may make the first one wait, and the frame stays black until it comes.
constexpr int kFirstPictureTimeout = 1000;

const std::u16string kTokenKey = u"Software\\Tesmara\\ScreenCast";

// The monitor's token keeps the name it had when it was the only one, so a
// permission given before windows and regions could be chosen still holds.
std::u16string TokenName(PortalShare share) {
    switch (share) {
    case PortalShare::Window:
        return u"WindowRestoreToken";
    case PortalShare::RegionMonitor:
        return u"RegionRestoreToken";
    default:
        return u"RestoreToken";
    }
}

PortalShare ShareFor(AreaKind kind) {
    switch (kind) {
    case AreaKind::Window:
        return PortalShare::Window;
    case AreaKind::Region:
        return PortalShare::RegionMonitor;
    default:
        return PortalShare::Monitor;
    }
}

// Chroma planes at half size need whole pixel pairs.
int Even(int length) {
    return std::max(2, length & ~1);
}

// The top-left part of a picture, at most as large as the frame, at the frame's top left.
PicturePlacement TopLeftPart(int x, int y, int width, int height, int frameWidth, int frameHeight) {
    width = std::min(width, frameWidth);
    height = std::min(height, frameHeight);
    return {{.sourceWidth = width, .sourceHeight = height, .width = width, .height = height},
            x,
            y};
}

PicturePlacement FittedPlacement(int pictureWidth, int pictureHeight, int frameWidth,
                                 int frameHeight) {
    return {PictureFit::Between(pictureWidth, pictureHeight, frameWidth, frameHeight)};
}

void ClearRows(FrameBuffer& frame, int top, int bottom, int left, int right) {
    right = std::min(right, frame.width());
    if (left >= right)
        return;
    for (int y = std::max(0, top); y < std::min(bottom, frame.height()); ++y)
        std::memset(frame.ScreenRow(y) + size_t(left) * 4, 0, size_t(right - left) * 4);
}

// Black wherever the picture does not go, within the band.
void ClearAround(FrameBuffer& frame, const PicturePlacement& drawn, const RowBands::Band& band) {
    const int top = std::max(band.top, drawn.top);
    const int bottom = std::min(band.bottom, drawn.top + drawn.height);
    ClearRows(frame, band.top, std::min(band.bottom, drawn.top), band.left, band.right);
    ClearRows(frame, std::max(band.top, drawn.top + drawn.height), band.bottom, band.left,
              band.right);
    ClearRows(frame, top, bottom, band.left, std::min(band.right, drawn.left));
    ClearRows(frame, top, bottom, std::max(band.left, drawn.left + drawn.width), band.right);
}

// One row of 4-byte pixels into the frame's B, G, R, x order.
void CopyRow(const uint8_t* source, uint8_t* target, int width, bool redFirst) {
    const size_t bytes = size_t(width) * 4;
    if (!redFirst) {
        std::memcpy(target, source, bytes);
        return;
    }
    for (size_t x = 0; x < bytes; x += 4) {
        target[x] = source[x + 2];
        target[x + 1] = source[x + 1];
        target[x + 2] = source[x];
        target[x + 3] = source[x + 3];
    }
}

} // namespace

void PicturePlacement::Map(int& x, int& y) const {
    x = left + int(std::floor((x - sourceX) * double(width) / sourceWidth));
    y = top + int(std::floor((y - sourceY) * double(height) / sourceHeight));
}

bool PicturePlacement::Shows(int x, int y) const {
    return x >= left && y >= top && x < left + width && y < top + height;
}

PortalFrameSource::PortalFrameSource(PortalShare share) : m_share(share) {}

PortalFrameSource::PortalFrameSource(const AreaChoice& choice)
    : m_share(ShareFor(choice.kind)),
      m_region(choice.kind == AreaKind::Region ? std::optional(choice.region) : std::nullopt) {}

bool PortalFrameSource::Open() {
    CRegEdit store;
    const std::u16string tokenName = TokenName(m_share);
    const QString storedToken =
        m_askPicker ? QString()
                    : QString::fromStdU16String(store.ReadString(true, kTokenKey, tokenName));
    const CastSourceType type =
        m_share == PortalShare::Window ? CastSourceType::Window : CastSourceType::Monitor;
    ScreenCastPortal::Grant grant;
    const CaptureFailure failure = m_portal.Open(type, storedToken, grant);
    if (failure != CaptureFailure::NoFailure)
        return Fail(failure);
    m_cursorAsMetadata = grant.cursorAsMetadata;
    if (!grant.restoreToken.isEmpty())
        store.WriteString(true, kTokenKey, tokenName, grant.restoreToken.toStdU16String());
    if (!m_stream.Open(grant.remoteFd, grant.node) || !m_stream.WaitForFormat(kFormatTimeout))
        return Fail(CaptureFailure::StreamFailed);
    m_streamWidth = m_stream.width();
    m_streamHeight = m_stream.height();
    const auto [width, height] = PlaceAtStart();
    m_drawn = m_placement;
    if (!m_frame.Allocate(width, height, 32))
        return Fail(CaptureFailure::StreamFailed);
    m_stream.WaitForPicture(kFirstPictureTimeout);
    return true;
}

// The frame's size, and where the stream's pictures of its size at the start go
// in it: the whole stream for a monitor, as it always was; a window cut to even
// sizes; a region's part of the monitor, cut to even sizes. A region off the
// monitor gives the whole of it, as the primary screen is on X11.
std::pair<int, int> PortalFrameSource::PlaceAtStart() {
    int width = m_streamWidth;
    int height = m_streamHeight;
    if (m_share == PortalShare::Window) {
        width = Even(width);
        height = Even(height);
    }
    m_placement = TopLeftPart(0, 0, m_streamWidth, m_streamHeight, width, height);
    if (!m_region)
        return {width, height};
    const int left = std::max(0, m_region->x);
    const int top = std::max(0, m_region->y);
    const int right = std::min(width, m_region->x + m_region->width);
    const int bottom = std::min(height, m_region->y + m_region->height);
    if (right - left < 2 || bottom - top < 2) {
        m_fallback = AreaFallback::RegionOffSharedMonitor;
        return {width, height};
    }
    width = (right - left) & ~1;
    height = (bottom - top) & ~1;
    m_placement = TopLeftPart(left, top, width, height, width, height);
    return {width, height};
}

bool PortalFrameSource::Fail(CaptureFailure failure) {
    m_failure = failure;
    m_stream.Close();
    m_portal.Close();
    return false;
}

// A monitor's picture of another size than at the start is refused, as the X11
// capture refuses a screen that changed size, and the last frame stays; a
// window that changed size is fitted into the frame, which then changes all over.
bool PortalFrameSource::Place(int pictureWidth, int pictureHeight) {
    PicturePlacement placement = m_placement;
    if (pictureWidth != m_streamWidth || pictureHeight != m_streamHeight) {
        if (m_share != PortalShare::Window)
            return false;
        placement = FittedPlacement(pictureWidth, pictureHeight, m_frame.width(), m_frame.height());
    }
    if (!(placement == m_drawn))
        m_pendingRows = RowBands::Whole(m_frame.height());
    m_drawn = placement;
    return true;
}

// The stream's damage in the frame's pixels: only the part the frame shows, and
// all of the picture's place where it is scaled.
RowBands PortalFrameSource::FrameRows(const RowBands& damage) const {
    RowBands rows;
    const int shiftX = m_drawn.left - m_drawn.sourceX;
    const int shiftY = m_drawn.top - m_drawn.sourceY;
    for (const RowBands::Band& band : damage.bands()) {
        const int top = std::max(band.top, m_drawn.sourceY);
        const int bottom = std::min(band.bottom, m_drawn.sourceY + m_drawn.sourceHeight);
        const int left = std::max(band.left, m_drawn.sourceX);
        const int right = std::min(band.right, m_drawn.sourceX + m_drawn.sourceWidth);
        if (top >= bottom || left >= right)
            continue;
        if (m_drawn.scaled()) {
            rows.Add({m_drawn.top, m_drawn.top + m_drawn.height, m_drawn.left,
                      m_drawn.left + m_drawn.width},
                     m_frame.height());
            break;
        }
        rows.Add({top + shiftY, bottom + shiftY, left + shiftX, right + shiftX}, m_frame.height());
    }
    return rows;
}

// Before the first picture the frame stays black; a stream between two sizes,
// with no picture for a moment, leaves the last frame as it was.
bool PortalFrameSource::Capture() {
    if (m_stream.ended() || m_portal.closedByPortal()) {
        m_failure = CaptureFailure::StreamEnded;
        return false;
    }
    bool drawn = false;
    m_stream.Read([&](const StreamPicture& picture, const StreamCursor& cursor) {
        drawn = picture.pixels && Place(picture.width, picture.height);
        m_pendingRows.Add(FrameRows(picture.damage), m_frame.height());
        if (drawn)
            Draw(picture, cursor);
    });
    return drawn || m_pictures.empty();
}

// The frame is one handed back earlier: only where it is behind the newest
// picture is drawn again.
void PortalFrameSource::Draw(const StreamPicture& picture, const StreamCursor& cursor) {
    const uint64_t number = m_pictures.Add(m_pendingRows);
    DrawPicture(picture, m_pictures.RowsToRefresh(m_frame));
    m_frame.setPicture(number);
    m_frame.changedRows() = std::exchange(m_pendingRows, RowBands{});
    m_frame.overlayRows().Clear();
    DrawCursor(cursor);
    m_cursorChangesDrawn = cursor.changes;
}

MarkPlacement PortalFrameSource::PlaceClickMark(ClickMark& mark) {
    if (!m_cursorAsMetadata)
        return MarkPlacement::Unknowable;
    bool onPicture = false;
    m_stream.ReadCursor([&](const StreamCursor& cursor) {
        mark.x = cursor.x;
        mark.y = cursor.y;
        m_drawn.Map(mark.x, mark.y);
        onPicture = cursor.visible && m_drawn.Shows(mark.x, mark.y);
    });
    return onPicture ? MarkPlacement::Placed : MarkPlacement::OffPicture;
}

// A producer that sends pictures only when the screen changes may keep even the
// first one back on a still screen: until one comes, the black frame is repeated.
bool PortalFrameSource::HasChanged() {
    m_pendingRows.Add(FrameRows(m_stream.TakeDamage()), m_frame.height());
    if (m_pictures.empty() && !m_stream.hasPicture())
        return m_stream.ended() || m_portal.closedByPortal();
    return !m_pendingRows.empty() || m_stream.cursorChanges() != m_cursorChangesDrawn ||
           m_stream.ended() || m_portal.closedByPortal();
}

// A scaled picture is drawn whole, as it is rare: a window that grew.
void PortalFrameSource::DrawPicture(const StreamPicture& picture, const RowBands& rows) {
    if (m_drawn.scaled()) {
        ClearAround(m_frame, m_drawn, {0, m_frame.height()});
        if (!ScalePicture(picture))
            ClearRows(m_frame, 0, m_frame.height(), 0, m_frame.width());
        return;
    }
    const bool fills = m_drawn.fillsFrame(m_frame.width(), m_frame.height());
    for (const RowBands::Band& band : rows.bands()) {
        if (!fills)
            ClearAround(m_frame, m_drawn, band);
        CopyPicture(picture, band);
    }
}

// The band's part of the picture: the stream's rows come top-down, the frame
// keeps them bottom-up as B, G, R, x.
void PortalFrameSource::CopyPicture(const StreamPicture& picture, const RowBands::Band& band) {
    const int top = std::max(band.top, m_drawn.top);
    const int bottom = std::min(band.bottom, m_drawn.top + m_drawn.height);
    const int left = std::max(band.left, m_drawn.left);
    const int right = std::min(band.right, m_drawn.left + m_drawn.width);
    if (left >= right)
        return;
    const uint8_t* corner = picture.pixels +
                            size_t(top - m_drawn.top + m_drawn.sourceY) * size_t(picture.stride) +
                            size_t(left - m_drawn.left + m_drawn.sourceX) * 4;
    for (int y = top; y < bottom; ++y)
        CopyRow(corner + size_t(y - top) * size_t(picture.stride),
                m_frame.ScreenRow(y) + size_t(left) * 4, right - left, picture.redFirst);
}

// Scaled straight into the frame's rows: a negative stride turns them bottom-up.
bool PortalFrameSource::ScalePicture(const StreamPicture& picture) {
    m_scaler.reset(sws_getCachedContext(
        m_scaler.release(), m_drawn.sourceWidth, m_drawn.sourceHeight,
        picture.redFirst ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_BGR0, m_drawn.width, m_drawn.height,
        AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler)
        return false;
    const uint8_t* source[] = {picture.pixels};
    const int sourceStride[] = {picture.stride};
    uint8_t* target[] = {m_frame.ScreenRow(m_drawn.top) + size_t(m_drawn.left) * 4};
    const int targetStride[] = {-int(m_frame.stride())};
    sws_scale(m_scaler.get(), source, sourceStride, 0, m_drawn.sourceHeight, target, targetStride);
    return true;
}

// At its own size where the picture has the pointer, clipped to the frame.
void PortalFrameSource::DrawCursor(const StreamCursor& cursor) {
    if (!cursor.visible || cursor.pixels.empty())
        return;
    int x = cursor.x;
    int y = cursor.y;
    m_drawn.Map(x, y);
    const int left = x - cursor.hotSpotX;
    const int top = y - cursor.hotSpotY;
    FrameCanvas canvas(m_frame);
    canvas.BlendImage(cursor.pixels.data(), cursor.width, cursor.height, left, top);
    m_frame.overlayRows().Add({top, top + cursor.height, left, left + cursor.width},
                              m_frame.height());
}
