#pragma once

#include "recorder/media/CaptionPicture.h"

#include <QString>
#include <chrono>
#include <cstdint>

// The caption of the keys pressed, as a recording shows it: the last combination,
// counted when it is pressed again while it still shows ("Ctrl+Z x3"), or a run
// of typed text; white on a rounded, half-transparent box, its size following the
// recording's height. Nothing of it is kept anywhere but in the picture.
class KeyCaption {
public:
    using Clock = std::chrono::steady_clock;
    // How long a caption shows after the last key; the grabber fades it out by then.
    static constexpr std::chrono::milliseconds kShowsFor{1500};

    // A key as the helper reports it (see keynames); the picture to show now.
    CaptionPicture Press(unsigned long keysym, uint32_t modifiers, int frameHeight,
                         Clock::time_point now = Clock::now());
    const QString& Text() const { return m_text; }

private:
    static CaptionPicture Draw(const QString& text, int frameHeight);

    QString m_text;
    QString m_combination; // the last one pressed, while it shows
    int m_count = 0;
    bool m_typing = false; // the caption is a run of typed text
    Clock::time_point m_lastPress;
};
