#pragma once

#include "app/DialogTemplate.h"
#include "app/QvHyperLink.h"

#include <QIcon>
#include <QString>

// The program's resources: its two dialog layouts, the strings they use beside
// the layouts, the program icon and the maker's address.
namespace resources {

constexpr int kAboutDialog = 100;
constexpr int kMainDialog = 102;

// Main dialog controls.
constexpr int kCloseButton = 2;
constexpr int kStartRecordButton = 3;
constexpr int kCodecList = 1000;
constexpr int kPathEdit = 1001;
constexpr int kBrowseButton = 1002;
constexpr int kLeftClickBox = 1004;
constexpr int kRightClickBox = 1005;
constexpr int kFrameRateEdit = 1007;
constexpr int kFrameRateSpin = 1009;
constexpr int kWebLink = 1010;
constexpr int kBanner = 1013;
constexpr int kMicrophoneBox = 1014;
constexpr int kDesktopSoundBox = 1015;
constexpr int kShowKeysBox = 1040;
constexpr int kCountdownEdit = 1030;
constexpr int kStopAfterBox = 1031;
constexpr int kStopAfterMinutesEdit = 1032;
constexpr int kStopAfterSecondsEdit = 1033;
constexpr int kAreaList = 1016;
constexpr int kAreaSelectButton = 1017;
constexpr int kScaleList = 1018;
// The help line under the Start button has no id; its text finds it.
constexpr const char* kHelpLineText =
    "Click \"Start Record\" to record the movie.\r\n"
    "To stop recording press F9 or click icon on the system tray.";

// About box controls.
constexpr int kAboutCloseButton = 1;
constexpr int kAboutLink = 1011;

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

// The context-menu item that opens the about box.
QString AboutMenuText();

QString HomePage();
// Makes link open the maker's home page when clicked, in a colour that does not
// change under the pointer.
void SetUpMakerLink(CQvHyperLink& link);

// The program icon in all its sizes.
QIcon ProgramIcon();

} // namespace resources
