#pragma once

#include "recorder/capture/FrameSource.h"
#include "recorder/capture/PictureHistory.h"
#include "recorder/capture/PipeWireStream.h"
#include "recorder/capture/ScreenCastPortal.h"
#include "recorder/media/FfmpegPtr.h"
#include "recorder/media/PictureFit.h"

#include <cstdint>
#include <optional>
#include <utility>

// What a portal source asks the desktop to share. Each kind keeps its own
// permission, so that choosing a window does not take the place of the monitor.
enum class PortalShare {
    Monitor,      // the whole monitor the picker chose
    Window,       // one window
    RegionMonitor // the monitor a region is cut from
};

// Where the stream's pictures land in the frame: the picture taken (a region's,
// or all of it) from (sourceX, sourceY), fitted into the frame as PictureFit
// says, or at its own size at the frame's top left.
struct PicturePlacement : PictureFit {
    int sourceX = 0;
    int sourceY = 0;

    bool operator==(const PicturePlacement&) const = default;
    bool scaled() const { return width != sourceWidth || height != sourceHeight; }
    bool fillsFrame(int frameWidth, int frameHeight) const {
        return left == 0 && top == 0 && width == frameWidth && height == frameHeight;
    }
    // A point of the picture, moved to the frame's pixels.
    void Map(int& x, int& y) const;
    // Whether a point of the frame shows the picture.
    bool Shows(int x, int y) const;
};

// A monitor or window of a Wayland session, shared through the desktop portal
// and received as a PipeWire stream; a region is cut from a monitor's stream.
// Where the compositor says what changed in its pictures, a picture that changed
// nowhere in the frame is no change, and a frame handed back is brought up to
// date only where it is behind, straight from the stream's buffer.
// The portal's restore tokens are kept in the value store, one per kind of
// share, so the compositor asks which screen or window to share only once.
class PortalFrameSource : public FrameSource {
public:
    // The whole of what is shared, as large as the stream is at the start.
    explicit PortalFrameSource(PortalShare share = PortalShare::Monitor);
    // What the choice asks for: a window, a region (in the stream's pixels) of a
    // monitor, or else the monitor the picker chooses.
    explicit PortalFrameSource(const AreaChoice& choice);

    // The next Open asks the desktop's picker even where a choice is kept; the
    // new choice is kept in its place, a declined picker leaves the old one.
    void AskPickerAgain() { m_askPicker = true; }

    bool Open() override;
    bool Capture() override;
    // A picture changed where the frame shows it, the cursor moved or changed its
    // shape, or the stream ended.
    bool HasChanged() override;
    // At the pointer of the stream's cursor metadata, in the frame's own pixels
    // (area() is the frame); without that metadata the compositor draws the
    // pointer in and no press can be placed.
    MarkPlacement PlaceClickMark(ClickMark& mark) override;
    void Abandon() override { m_portal.Abandon(); }

    FrameBuffer& frame() override { return m_frame; }
    ScreenArea area() const override { return {0, 0, m_frame.width(), m_frame.height()}; }
    CaptureFailure failure() const override { return m_failure; }
    AreaFallback areaFallback() const override { return m_fallback; }

private:
    bool Fail(CaptureFailure failure);
    std::pair<int, int> PlaceAtStart();
    bool Place(int pictureWidth, int pictureHeight);
    RowBands FrameRows(const RowBands& damage) const;
    void Draw(const StreamPicture& picture, const StreamCursor& cursor);
    void DrawPicture(const StreamPicture& picture, const RowBands& rows);
    void CopyPicture(const StreamPicture& picture, const RowBands::Band& band);
    bool ScalePicture(const StreamPicture& picture);
    void DrawCursor(const StreamCursor& cursor);

    const PortalShare m_share;
    const std::optional<AreaRegion> m_region;
    ScreenCastPortal m_portal;
    PipeWireStream m_stream;
    FrameBuffer m_frame;
    CaptureFailure m_failure = CaptureFailure::NoFailure;
    AreaFallback m_fallback = AreaFallback::Kept;
    int m_streamWidth = 0; // at the start
    int m_streamHeight = 0;
    PicturePlacement m_placement; // of the stream's size at the start
    PicturePlacement m_drawn;     // of the picture last drawn
    ffmpeg::SwsPtr m_scaler;      // for a window that grew
    PictureHistory m_pictures;    // of those drawn, with where each changed
    RowBands m_pendingRows;       // changed in the frame's pixels since the last picture drawn
    uint64_t m_cursorChangesDrawn = 0;
    bool m_cursorAsMetadata = false;
    bool m_askPicker = false;
};
