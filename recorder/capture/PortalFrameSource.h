#pragma once

#include "recorder/capture/FrameSource.h"
#include "recorder/capture/PipeWireStream.h"
#include "recorder/capture/ScreenCastPortal.h"

#include <cstdint>
#include <string>

// The screen of a Wayland session, shared through the desktop portal and
// received as a PipeWire stream. The portal's restore token is kept in the
// value store, so the compositor asks which screen to share only once.
class PortalFrameSource : public FrameSource {
public:
    static const std::u16string kTokenKey;
    static const std::u16string kTokenName;

    bool Open() override;
    bool Capture() override;
    // A new picture or cursor from the stream, or its end.
    bool HasChanged() override;
    // At the pointer of the stream's cursor metadata; without that metadata the
    // compositor draws the pointer in and no press can be placed.
    MarkPlacement PlaceClickMark(ClickMark& mark) override;
    void Abandon() override { m_portal.Abandon(); }

    FrameBuffer& frame() override { return m_frame; }
    ScreenArea area() const override { return {0, 0, m_frame.width(), m_frame.height()}; }
    CaptureFailure failure() const override { return m_failure; }

private:
    bool Fail(CaptureFailure failure);
    void CopyPicture(const StreamPicture& picture);
    void DrawCursor(const StreamCursor& cursor);

    ScreenCastPortal m_portal;
    PipeWireStream m_stream;
    FrameBuffer m_frame;
    CaptureFailure m_failure = CaptureFailure::NoFailure;
    uint64_t m_capturedSerial = 0; // the stream's count at the last capture
    bool m_cursorAsMetadata = false;
};
