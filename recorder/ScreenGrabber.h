#pragma once

#include "recorder/BitmapInfoHeader.h"
#include "recorder/ClickMark.h"

#include <cstdint>
#include <deque>
#include <memory>

// Captures the primary monitor into one reusable frame buffer (header, colour
// table, bottom-up pixel rows), with the cursor and the click marks drawn in.
// Implementation-private X11 state lives behind the pointer; it exists exactly
// while the grabber is set up.
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

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::deque<ClickMark> m_clickMarks;
};
