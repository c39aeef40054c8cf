#pragma once

#include "settings/AreaChoice.h"
#include "settings/AviCompressOptions.h"

#include <json/value.h>
#include <string>

// The user's choices that survive from one run to the next, kept as a small JSON
// file "<config home>/Tesmara Screen Recorder/settings".
class CSettings {
public:
    CSettings();
    virtual ~CSettings() = default;

    void Load();
    // False when the file could not be written (see files::ReplaceFile).
    bool Save();
    virtual Json::Value ToJson();

    // The settings file's full path.
    static std::u16string FilePath();

    int32_t frameRate = 18;
    int32_t leftClick = 1;
    int32_t rightClick = 1;
    std::u16string codec;
    // The output folder, ending in '/'; at Close the dialog hands back the whole file
    // path, of which Save keeps the folder.
    std::u16string path;
    AviCompressOptions compressOptions;
    // Sound to record beside the screen; off unless the user ticked it.
    int32_t microphone = 0;
    int32_t desktopSound = 0;
    // Keys pressed drawn into the video: shortcuts and special keys, and typed text
    // only with showTypedKeys (which the dialog does not offer); off unless asked for.
    int32_t showKeys = 0;
    int32_t showTypedKeys = 0;
    // Seconds shown as a countdown before the first frame; 0: none.
    int32_t countdown = 0;
    // The recorded length, pauses left out, at which a recording ends; 0: none.
    int32_t stopAfter = 0;

    static constexpr int32_t kLongestCountdown = 10;
    // 999 minutes 59 seconds, as the dialog's two fields hold.
    static constexpr int32_t kLongestStopAfter = 999 * 60 + 59;
    // What to record: the members "area", "monitor" and "region" ([x, y, width,
    // height]). An area of unknown name loads as the primary screen; whether the
    // monitor or the region is on screen is the grabber's to find. A window is
    // picked at each start: the choice is kept, never the window.
    AreaChoice area;
    // The height a taller picture is scaled down to: 1080 or 720; 0 keeps its size.
    int32_t scale = 0;
};
