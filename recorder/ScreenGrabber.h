#pragma once

#include "recorder/capture/CaptureBackend.h"
#include "recorder/media/BitmapInfoHeader.h"
#include "recorder/media/CaptionOverlay.h"
#include "recorder/media/ClickMark.h"
#include "recorder/media/FrameBuffer.h"
#include "settings/AreaChoice.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class FrameSource;

// Captures the chosen area of the screen (the primary monitor unless told), or one picked window's
// own content, into one reusable frame buffer (header, colour table, bottom-up pixel rows), with
// the cursor and the click marks drawn in. The pictures come from the X server or, in a Wayland
// session, from the desktop portal's screen cast (the session's kind is read at construction). The
// source exists exactly while the grabber is set up. Set up, grab and release on one thread at a
// time; click marks may come from any thread, and Failure may be read from any thread.
class CScreenGrabber {
public:
    CScreenGrabber();
    ~CScreenGrabber();
    CScreenGrabber(const CScreenGrabber&) = delete;
    CScreenGrabber& operator=(const CScreenGrabber&) = delete;

    // What the next Setups take: from an X server the area itself; through the
    // portal a window, a region of a monitor, or else a monitor, each one the
    // desktop's picker chose.
    void SetArea(const AreaChoice& choice) { m_areaChoice = choice; }
    // Why the last Setup recorded the primary monitor instead of the chosen area.
    AreaFallback LastAreaFallback() const { return m_areaFallback; }

    bool Setup();
    bool Grab();
    void Release();

    // Whether a grab now could differ from the last one: something was drawn on
    // the screen, the pointer moved or changed its shape, or click marks are on
    // the frame or have just left it. True before the first grab, after a failed
    // one and where the server cannot tell what was drawn.
    bool HasChanged();

    // Valid between Setup and Release; the colour table follows the header.
    const BitmapInfoHeader* Header() const;
    const uint8_t* Pixels() const;

    // Hands the last grab's frame over for one of the same layout, which the next
    // grab overwrites whole: a frame kept for later costs no copy.
    void ExchangeFrame(FrameBuffer& other);

    // From any thread, also while another thread grabs; drawn from the next grab
    // on. The mark's position is the pointer's, on the root window.
    void AddClickMark(const ClickMark& mark);
    // Oldest first, in the frame's coordinates (AddClickMark's are placed there
    // as the next grab takes them); Grab ages and removes them. Only for the
    // thread that grabs.
    std::deque<ClickMark>& ClickMarks() { return m_clickMarks; }

    // From any thread: the key caption to show from the next grab on (see
    // CaptionOverlay), drawn after the cursor and the marks.
    void ShowCaption(CaptionPicture picture) { m_caption.Set(std::move(picture)); }

    // A press since the last Setup could not be marked: the pictures do not tell
    // where the pointer is. Kept after Release, readable from any thread.
    bool MarksUnplaceable() const { return m_marksUnplaceable; }
    // The window recorded since the last Setup was closed; its last picture
    // stayed. Kept after Release, readable from any thread.
    bool WindowClosed() const { return m_windowClosed; }

    CaptureBackend Backend() const { return m_backend; }
    // Why the last Setup or Grab failed.
    CaptureFailure Failure() const { return m_failure; }

private:
    void TakeNewClickMarks();

    CaptureBackend m_backend;
    AreaChoice m_areaChoice;
    AreaFallback m_areaFallback = AreaFallback::Kept;
    std::unique_ptr<FrameSource> m_source;
    FrameSource* m_opening = nullptr; // the source whose Open is running
    bool m_abandoned = false;
    std::atomic<CaptureFailure> m_failure{CaptureFailure::NoFailure};
    bool m_marksDrawn = false; // on the last frame
    RowBands m_overlayRows;    // where the last frame shows them or the cursor
    std::atomic<bool> m_marksUnplaceable{false};
    std::atomic<bool> m_windowClosed{false};
    std::deque<ClickMark> m_clickMarks;
    CaptionOverlay m_caption;
    std::mutex m_newMarksMutex;
    std::vector<ClickMark> m_newMarks;
};
