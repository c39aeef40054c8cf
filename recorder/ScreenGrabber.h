#pragma once

#include "recorder/BitmapInfoHeader.h"
#include "recorder/ClickMark.h"
#include "recorder/FrameBuffer.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// Captures the primary monitor into one reusable frame buffer (header, colour
// table, bottom-up pixel rows), with the cursor and the click marks drawn in.
// Implementation-private X11 state lives behind the pointer; it exists exactly
// while the grabber is set up. Set up, grab and release on one thread at a time;
// click marks may come from any thread.
class CScreenGrabber {
public:
    CScreenGrabber();
    ~CScreenGrabber();
    CScreenGrabber(const CScreenGrabber&) = delete;
    CScreenGrabber& operator=(const CScreenGrabber&) = delete;

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

    // From any thread, also while another thread grabs; drawn from the next grab on.
    void AddClickMark(const ClickMark& mark);
    // Oldest first; Grab ages and removes them. Only for the thread that grabs.
    std::deque<ClickMark>& ClickMarks() { return m_clickMarks; }

private:
    struct State;
    void TakeNewClickMarks();

    std::unique_ptr<State> m_state;
    std::deque<ClickMark> m_clickMarks;
    std::mutex m_newMarksMutex;
    std::vector<ClickMark> m_newMarks;
};
