#pragma once

#include "recorder/BitmapInfoHeader.h"
#include "recorder/CaptureBackend.h"
#include "recorder/ClickMark.h"

#include <cstdint>
#include <deque>
#include <memory>

class FrameSource;

// Captures the primary monitor into one reusable frame buffer (header, colour
// table, bottom-up pixel rows), with the cursor and the click marks drawn in.
// The pictures come from the X server or, in a Wayland session, from the
// desktop portal's screen cast (the session's kind is read at construction).
// The source exists exactly while the grabber is set up.
class CScreenGrabber {
public:
    CScreenGrabber();
    ~CScreenGrabber();
    CScreenGrabber(const CScreenGrabber&) = delete;
    CScreenGrabber& operator=(const CScreenGrabber&) = delete;

    bool Setup();
    bool Grab();
    void Release();

    // Valid between Setup and Release; the colour table follows the header.
    const BitmapInfoHeader* Header() const;
    const uint8_t* Pixels() const;

    // Oldest first; the recording appends, Grab ages and removes.
    std::deque<ClickMark>& ClickMarks() { return m_clickMarks; }

    CaptureBackend Backend() const { return m_backend; }
    // Why the last Setup or Grab failed.
    CaptureFailure Failure() const { return m_failure; }

private:
    CaptureBackend m_backend;
    std::unique_ptr<FrameSource> m_source;
    FrameSource* m_opening = nullptr; // the source whose Open is running
    bool m_abandoned = false;
    CaptureFailure m_failure = CaptureFailure::NoFailure;
    std::deque<ClickMark> m_clickMarks;
};
