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
    return {.sourceX = x,
            .sourceY = y,
            .sourceWidth = width,
            .sourceHeight = height,
            .width = width,
            .height = height};
}

PicturePlacement FittedPlacement(int pictureWidth, int pictureHeight, int frameWidth,
                                 int frameHeight) {
    const PictureFit fit = PictureFit::Between(pictureWidth, pictureHeight, frameWidth, frameHeight);
    return {.sourceWidth = pictureWidth,
            .sourceHeight = pictureHeight,
            .left = fit.left,
            .top = fit.top,
            .width = fit.width,
            .height = fit.height};
}

void ClearRows(FrameBuffer& frame, int top, int bottom, int left, int right) {
    for (int y = std::max(0, top); y < std::min(bottom, frame.height()); ++y)
        std::memset(frame.ScreenRow(y) + size_t(left) * 4, 0, size_t(right - left) * 4);
}

// Black wherever the picture does not go.
void ClearAround(FrameBuffer& frame, const PicturePlacement& drawn) {
    const int bottom = drawn.top + drawn.height;
    ClearRows(frame, 0, drawn.top, 0, frame.width());
    ClearRows(frame, bottom, frame.height(), 0, frame.width());
    ClearRows(frame, drawn.top, bottom, 0, drawn.left);
    ClearRows(frame, drawn.top, bottom, drawn.left + drawn.width, frame.width());
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
        QString::fromStdU16String(store.ReadString(true, kTokenKey, tokenName));
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
        m_fallback = AreaFallback::RegionOffScreen;
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
// window that changed size is fitted into the frame.
bool PortalFrameSource::Place(int pictureWidth, int pictureHeight) {
    if (pictureWidth == m_streamWidth && pictureHeight == m_streamHeight)
        m_drawn = m_placement;
    else if (m_share == PortalShare::Window)
        m_drawn = FittedPlacement(pictureWidth, pictureHeight, m_frame.width(), m_frame.height());
    else
        return false;
    return true;
}

bool PortalFrameSource::Capture() {
    if (m_stream.ended() || m_portal.closedByPortal()) {
        m_failure = CaptureFailure::StreamEnded;
        return false;
    }
    bool placed = true;
    m_capturedSerial = m_stream.serial();
    m_stream.Read([&](const StreamPicture& picture, const StreamCursor& cursor) {
        if (!picture.pixels)
            return;
        placed = Place(picture.width, picture.height);
        if (!placed)
            return;
        DrawPicture(picture);
        DrawCursor(cursor);
        // A stream's buffer does not say what changed in it.
        m_frame.changedRows() = RowBands::Whole(m_frame.height());
        m_frame.overlayRows().Clear();
    });
    return placed;
}

MarkPlacement PortalFrameSource::PlaceClickMark(ClickMark& mark) {
    if (!m_cursorAsMetadata)
        return MarkPlacement::Unknowable;
    bool onPicture = false;
    m_stream.Read([&](const StreamPicture&, const StreamCursor& cursor) {
        mark.x = cursor.x;
        mark.y = cursor.y;
        m_drawn.Map(mark.x, mark.y);
        onPicture = cursor.visible && m_drawn.Shows(mark.x, mark.y);
    });
    return onPicture ? MarkPlacement::Placed : MarkPlacement::OffPicture;
}

bool PortalFrameSource::HasChanged() {
    return m_stream.serial() != m_capturedSerial || m_stream.ended() || m_portal.closedByPortal();
}

void PortalFrameSource::DrawPicture(const StreamPicture& picture) {
    if (!m_drawn.fillsFrame(m_frame.width(), m_frame.height()))
        ClearAround(m_frame, m_drawn);
    if (!m_drawn.scaled())
        CopyPicture(picture);
    else if (!ScalePicture(picture))
        ClearRows(m_frame, 0, m_frame.height(), 0, m_frame.width());
}

// The stream's rows come top-down; the frame keeps them bottom-up as B, G, R, x.
void PortalFrameSource::CopyPicture(const StreamPicture& picture) {
    const uint8_t* corner = picture.pixels + size_t(m_drawn.sourceY) * size_t(picture.stride) +
                            size_t(m_drawn.sourceX) * 4;
    for (int y = 0; y < m_drawn.height; ++y)
        CopyRow(corner + size_t(y) * size_t(picture.stride),
                m_frame.ScreenRow(m_drawn.top + y) + size_t(m_drawn.left) * 4, m_drawn.width,
                picture.redFirst);
}

// Scaled into a top-down picture of its own, then put in the frame's rows.
bool PortalFrameSource::ScalePicture(const StreamPicture& picture) {
    m_scaler.reset(sws_getCachedContext(
        m_scaler.release(), m_drawn.sourceWidth, m_drawn.sourceHeight,
        picture.redFirst ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_BGR0, m_drawn.width, m_drawn.height,
        AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler)
        return false;
    const int rowBytes = m_drawn.width * 4;
    m_scaled.resize(size_t(rowBytes) * size_t(m_drawn.height));
    const uint8_t* source[] = {picture.pixels};
    const int sourceStride[] = {picture.stride};
    uint8_t* target[] = {m_scaled.data()};
    const int targetStride[] = {rowBytes};
    sws_scale(m_scaler.get(), source, sourceStride, 0, m_drawn.sourceHeight, target, targetStride);
    for (int y = 0; y < m_drawn.height; ++y)
        std::memcpy(m_frame.ScreenRow(m_drawn.top + y) + size_t(m_drawn.left) * 4,
                    m_scaled.data() + size_t(y) * size_t(rowBytes), size_t(rowBytes));
    return true;
}

// At its own size where the picture has the pointer, clipped to the frame.
void PortalFrameSource::DrawCursor(const StreamCursor& cursor) {
    if (!cursor.visible || cursor.pixels.empty())
        return;
    int x = cursor.x;
    int y = cursor.y;
    m_drawn.Map(x, y);
    FrameCanvas canvas(m_frame);
    canvas.BlendImage(cursor.pixels.data(), cursor.width, cursor.height, x - cursor.hotSpotX,
                      y - cursor.hotSpotY);
}
