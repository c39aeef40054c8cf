#include "recorder/media/CaptionOverlay.h"

#include "recorder/media/FrameCanvas.h"

#include <algorithm>
#include <utility>

namespace {

// Premultiplied pixels scaled as a whole by opacity, into faded.
void Fade(const std::vector<uint32_t>& pixels, double opacity, std::vector<uint32_t>& faded) {
    const auto scale = static_cast<uint32_t>(opacity * 256.0);
    faded.resize(pixels.size());
    std::transform(pixels.begin(), pixels.end(), faded.begin(), [scale](uint32_t pixel) {
        uint32_t result = 0;
        for (int shift = 0; shift < 32; shift += 8)
            result |= ((((pixel >> shift) & 0xFF) * scale) >> 8) << shift;
        return result;
    });
}

} // namespace

void CaptionOverlay::Set(CaptionPicture picture, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    m_newPicture = std::move(picture);
    m_newSetAt = now;
    m_hasNew = true;
}

double CaptionOverlay::OpacityAt(Clock::time_point now) const {
    if (m_picture.empty())
        return 0.0;
    const auto left = m_setAt + kShowsFor - now;
    if (left <= Clock::duration::zero())
        return 0.0;
    return std::min(1.0,
                    std::chrono::duration<double>(left) / std::chrono::duration<double>(kFadesFor));
}

bool CaptionOverlay::Changing(Clock::time_point now) {
    return m_hasNew || OpacityAt(now) != m_lastOpacity;
}

void CaptionOverlay::Draw(FrameBuffer& frame, Clock::time_point now) {
    {
        std::lock_guard lock(m_mutex);
        if (m_hasNew) {
            m_picture = std::move(m_newPicture);
            m_setAt = m_newSetAt;
            m_hasNew = false;
        }
    }
    m_lastOpacity = OpacityAt(now);
    if (m_lastOpacity <= 0.0) {
        m_picture = {};
        return;
    }
    // A twentieth of the height above the bottom edge, clear of a player's controls.
    const int left = (frame.width() - m_picture.width) / 2;
    const int top = frame.height() - m_picture.height - frame.height() / 20;
    const bool fading = m_lastOpacity < 1.0;
    if (fading)
        Fade(m_picture.pixels, m_lastOpacity, m_faded);
    FrameCanvas(frame).BlendImage(fading ? m_faded.data() : m_picture.pixels.data(),
                                  m_picture.width, m_picture.height, left, top);
    frame.overlayRows().Add({top, top + m_picture.height, left, left + m_picture.width},
                            frame.height());
}
