#include "app/Resources.h"

// The icons are compiled into this static library; a library's resources are
// registered only when asked for by name.
static void RegisterIconResources() {
    Q_INIT_RESOURCE(resources);
}

namespace resources {

namespace {

constexpr const char* kWebHostName = "www.tesmara.example";

DialogTemplate MakeMainDialogTemplate() {
    using enum ControlClass;
    const unsigned text = kLeftText | kGroup;
    return DialogTemplate{
        kMainDialog,
        "Tesmara Screen Recorder",
        QSize(297, 379),
        8,
        {
            {kCloseButton, Button, kPushButton | kTabStop, "Close", QRect(240, 358, 50, 14)},
            {kCodecList, ComboBox, kDropDownList | kSort | kVScroll | kTabStop, "",
             QRect(66, 127, 224, 30)},
            {-1, Static, text, "File Path:", QRect(23, 218, 31, 8)},
            {kPathEdit, Edit, kBorder | kAutoHScroll | kTabStop, "", QRect(59, 215, 189, 14)},
            {kBrowseButton, Button, kPushButton | kTabStop, "Browse", QRect(250, 214, 40, 14)},
            {-1, Static, text, "Mouse and keyboard:", QRect(7, 7, 80, 8)},
            {-1, Static, kEtchedHorz, "", QRect(90, 11, 200, 1)},
            {kLeftClickBox, Button, kAutoCheckBox | kTabStop, "Show Left Button Clicks",
             QRect(23, 21, 260, 10)},
            {kRightClickBox, Button, kAutoCheckBox | kTabStop, "Show Right Button Clicks",
             QRect(23, 36, 260, 10)},
            {kShowKeysBox, Button, kAutoCheckBox | kTabStop, "Show keys pressed",
             QRect(23, 50, 260, 10)},
            {-1, Static, text, "Sound:", QRect(7, 61, 23, 8)},
            {-1, Static, kEtchedHorz, "", QRect(34, 65, 256, 1)},
            {kMicrophoneBox, Button, kAutoCheckBox | kTabStop, "Record microphone",
             QRect(23, 75, 260, 10)},
            {kDesktopSoundBox, Button, kAutoCheckBox | kTabStop, "Record desktop sound",
             QRect(23, 90, 260, 10)},
            {-1, Static, text, "Video:", QRect(7, 115, 21, 8)},
            {-1, Static, kEtchedHorz, "", QRect(32, 119, 258, 1)},
            {-1, Static, text, "Codec:", QRect(23, 129, 24, 8)},
            {-1, Static, text, "Frame rate:", QRect(23, 146, 39, 8)},
            {kFrameRateEdit, Edit, kBorder | kAutoHScroll | kTabStop, "", QRect(66, 144, 40, 14)},
            {kFrameRateSpin, UpDown, kArrowKeys, "", QRect(106, 144, 10, 14)},
            {-1, Static, text, "Delay:", QRect(150, 146, 22, 8)},
            {kCountdownEdit, Edit, kBorder | kAutoHScroll | kTabStop, "", QRect(176, 144, 20, 14)},
            {-1, Static, text, "s", QRect(199, 146, 8, 8)},
            {-1, Static, text, "Record:", QRect(23, 163, 39, 8)},
            {kAreaList, ComboBox, kDropDownList | kVScroll | kTabStop, "", QRect(66, 161, 110, 60)},
            {kAreaSelectButton, Button, kPushButton | kTabStop, "Select...",
             QRect(180, 160, 45, 14)},
            {-1, Static, text, "Scale to:", QRect(23, 180, 39, 8)},
            {kScaleList, ComboBox, kDropDownList | kVScroll | kTabStop, "", QRect(66, 178, 70, 40)},
            {kStopAfterBox, Button, kAutoCheckBox | kTabStop,
             "Stop after:", QRect(150, 180, 48, 10)},
            {kStopAfterMinutesEdit, Edit, kBorder | kAutoHScroll | kTabStop, "",
             QRect(200, 178, 24, 14)},
            {-1, Static, text, "min", QRect(227, 180, 14, 8)},
            {kStopAfterSecondsEdit, Edit, kBorder | kAutoHScroll | kTabStop, "",
             QRect(244, 178, 20, 14)},
            {-1, Static, text, "s", QRect(267, 180, 8, 8)},
            {-1, Static, text, "Result:", QRect(7, 201, 24, 8)},
            {-1, Static, kEtchedHorz, "", QRect(34, 206, 256, 1)},
            {-1, Static, kCenterText | kGroup, kHelpLineText, QRect(7, 272, 283, 19)},
            {kStartRecordButton, Button, kPushButton | kTabStop, "Start Record",
             QRect(113, 244, 70, 14)},
            {kWebLink, Static, text, kWebHostName, QRect(7, 364, 83, 8)},
            {-1, Static, kEtchedHorz, "", QRect(44, 300, 246, 1)},
            {-1, Static, kEtchedHorz, "", QRect(8, 351, 282, 1)},
            {kBanner, Static, text, "", QRect(7, 306, 283, 40)},
            {-1, Static, text, "Advertise:", QRect(7, 296, 34, 8)},
        },
    };
}

DialogTemplate MakeAboutDialogTemplate() {
    using enum ControlClass;
    return DialogTemplate{
        kAboutDialog,
        "About Tesmara Screen Recorder",
        QSize(191, 86),
        8,
        {
            {-1, Static, kIcon, "", QRect(14, 14, 20, 20)},
            {-1, Static, kNoPrefix | kGroup,
             QStringLiteral("Tesmara Screen Recorder %1").arg(TESMARA_VERSION),
             QRect(41, 15, 114, 8)},
            {-1, Static, kGroup, "Free screen recorder by Tesmara", QRect(41, 28, 114, 8)},
            {kAboutCloseButton, Button, kDefPushButton | kGroup | kTabStop, "Close",
             QRect(134, 65, 50, 14)},
            {kAboutLink, Static, kNoPrefix | kGroup, kWebHostName, QRect(41, 41, 87, 8)},
            {-1, Static, kEtchedHorz, "", QRect(7, 60, 177, 1)},
        },
    };
}

} // namespace

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate dialogTemplate = MakeMainDialogTemplate();
    return dialogTemplate;
}

const DialogTemplate& AboutDialogTemplate() {
    static const DialogTemplate dialogTemplate = MakeAboutDialogTemplate();
    return dialogTemplate;
}

QString AboutMenuText() {
    return QStringLiteral("&About Tesmara Screen Recorder...");
}

QString HomePage() {
    return QStringLiteral("http://www.tesmara.example/");
}

void SetUpMakerLink(CQvHyperLink& link) {
    link.m_bUrlMode = true;
    link.m_strUrl = HomePage();
    link.m_bTrackHover = false;
}

QIcon ProgramIcon() {
    static const bool registered = (RegisterIconResources(), true);
    Q_UNUSED(registered);
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/kestrabole-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace resources
