#pragma once

#include "recorder/media/CaptionPicture.h"
#include "recorder/media/FrameBuffer.h"
#include "recorder/media/ScreenArea.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

// The key caption on the frames: centred near the bottom of the recorded area,
// shown from the moment it is set, fading out over its last 0.3 s and gone
// 1.5 s after it was set. Set from any thread; drawn by the grabbing thread.
class CaptionOverlay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kShowsFor{1500};
    static constexpr std::chrono::milliseconds kFadesFor{300};

    void Set(CaptionPicture picture, Clock::time_point now = Clock::now());

    // Draws the caption as it is at `now` and adds its place to the frame's
    // overlay rows; nothing once it is gone.
    void Draw(FrameBuffer& frame, Clock::time_point now = Clock::now());
    // Whether a frame now would show the caption otherwise than the last one drawn:
    // a new caption, one fading, or one just gone.
    bool Changing(Clock::time_point now = Clock::now());

private:
    // 1 while shown in full, down to 0 at its end.
    double OpacityAt(Clock::time_point now) const;

    std::mutex m_mutex; // for the newly set caption only
    CaptionPicture m_newPicture;
    Clock::time_point m_newSetAt;
    std::atomic<bool> m_hasNew{false}; // asked at every slot, set a few times a second

    CaptionPicture m_picture; // the grabbing thread's own from here on
    Clock::time_point m_setAt;
    double m_lastOpacity = 0.0;    // as the last frame showed it
    std::vector<uint32_t> m_faded; // the fading picture, reused from frame to frame
};
