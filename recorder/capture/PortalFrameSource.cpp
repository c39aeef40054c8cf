#include "recorder/capture/PortalFrameSource.h"

#include "recorder/media/FrameCanvas.h"
#include "settings/RegEdit.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFormatTimeout = 5000;
// A compositor sends a picture only when the screen changes; a still screen
// may make the first one wait, and the frame stays black until it comes.
constexpr int kFirstPictureTimeout = 1000;

} // namespace

const std::u16string PortalFrameSource::kTokenKey = u"Software\\Tesmara\\ScreenCast";
const std::u16string PortalFrameSource::kTokenName = u"RestoreToken";

bool PortalFrameSource::Open() {
    CRegEdit store;
    const QString storedToken =
        QString::fromStdU16String(store.ReadString(true, kTokenKey, kTokenName));
    ScreenCastPortal::Grant grant;
    const CaptureFailure failure = m_portal.Open(storedToken, grant);
    if (failure != CaptureFailure::NoFailure)
        return Fail(failure);
    m_cursorAsMetadata = grant.cursorAsMetadata;
    if (!grant.restoreToken.isEmpty())
        store.WriteString(true, kTokenKey, kTokenName, grant.restoreToken.toStdU16String());
    if (!m_stream.Open(grant.remoteFd, grant.node) || !m_stream.WaitForFormat(kFormatTimeout))
        return Fail(CaptureFailure::StreamFailed);
    if (!m_frame.Allocate(m_stream.width(), m_stream.height(), 32))
        return Fail(CaptureFailure::StreamFailed);
    m_stream.WaitForPicture(kFirstPictureTimeout);
    return true;
}

bool PortalFrameSource::Fail(CaptureFailure failure) {
    m_failure = failure;
    m_stream.Close();
    m_portal.Close();
    return false;
}

// A picture of another size than the recording's is refused, as the X11
// capture refuses a screen that changed size, and the last frame stays.
bool PortalFrameSource::Capture() {
    if (m_stream.ended() || m_portal.closedByPortal()) {
        m_failure = CaptureFailure::StreamEnded;
        return false;
    }
    bool sameSize = true;
    m_capturedSerial = m_stream.serial();
    m_stream.Read([&](const StreamPicture& picture, const StreamCursor& cursor) {
        if (!picture.pixels)
            return;
        sameSize = picture.width == m_frame.width() && picture.height == m_frame.height();
        if (!sameSize)
            return;
        CopyPicture(picture);
        DrawCursor(cursor);
        // A stream's buffer does not say what changed in it.
        m_frame.changedRows() = RowBands::Whole(m_frame.height());
        m_frame.overlayRows().Clear();
    });
    return sameSize;
}

MarkPlacement PortalFrameSource::PlaceClickMark(ClickMark& mark) {
    if (!m_cursorAsMetadata)
        return MarkPlacement::Unknowable;
    bool onPicture = false;
    m_stream.Read([&](const StreamPicture&, const StreamCursor& cursor) {
        onPicture = cursor.visible;
        mark.x = cursor.x;
        mark.y = cursor.y;
    });
    return onPicture ? MarkPlacement::Placed : MarkPlacement::OffPicture;
}

bool PortalFrameSource::HasChanged() {
    return m_stream.serial() != m_capturedSerial || m_stream.ended() || m_portal.closedByPortal();
}

// The stream's rows come top-down; the frame keeps them bottom-up as B, G, R, x.
void PortalFrameSource::CopyPicture(const StreamPicture& picture) {
    const size_t rowBytes = size_t(picture.width) * 4;
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* source = picture.pixels + size_t(y) * size_t(picture.stride);
        uint8_t* target = m_frame.ScreenRow(y);
        if (!picture.redFirst) {
            std::memcpy(target, source, rowBytes);
            continue;
        }
        for (size_t x = 0; x < rowBytes; x += 4) {
            target[x] = source[x + 2];
            target[x + 1] = source[x + 1];
            target[x + 2] = source[x];
            target[x + 3] = source[x + 3];
        }
    }
}

void PortalFrameSource::DrawCursor(const StreamCursor& cursor) {
    if (!cursor.visible || cursor.pixels.empty())
        return;
    FrameCanvas canvas(m_frame);
    canvas.BlendImage(cursor.pixels.data(), cursor.width, cursor.height, cursor.x - cursor.hotSpotX,
                      cursor.y - cursor.hotSpotY);
}
