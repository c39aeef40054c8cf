// The tray icon while recording: the recorded time in its tooltip, and while
// paused a marked picture, "Paused" and a menu entry that resumes.
#include "app/TrayIcon.h"
#include "app/Resources.h"
#include "tests/app/DialogTestSupport.h"

#include <gtest/gtest.h>

class TrayIconState : public DialogTest {};

TEST_F(TrayIconState, TooltipShowsTheRecordedTimeOrPausedAndThePictureMarksThePause) {
    TrayIcon icon;
    icon.Prepare(resources::ProgramIcon());
    const QImage plain = icon.Picture().pixmap(32).toImage();
    icon.ShowRecordedTime(65'400);
    EXPECT_EQ(icon.ToolTip(), "Tesmara Screen Recorde - 1:05");
    icon.ShowRecordedTime(3'725'000);
    EXPECT_EQ(icon.ToolTip(), "Tesmara Screen Recorde - 1:02:05");
    EXPECT_EQ(icon.MenuEntries(), QStringList({"Pause recording", "Stop recording"}));

    icon.ShowPaused(true);
    EXPECT_EQ(icon.ToolTip(), "Tesmara Screen Recorde - Paused");
    EXPECT_EQ(icon.MenuEntries(), QStringList({"Resume recording", "Stop recording"}));
    EXPECT_NE(icon.Picture().pixmap(32).toImage(), plain) << "the pause is drawn over the icon";

    icon.ShowNotRecording();
    EXPECT_EQ(icon.ToolTip(), "Tesmara Screen Recorde");
    EXPECT_EQ(icon.Picture().pixmap(32).toImage(), plain);
    EXPECT_EQ(icon.MenuEntries(), QStringList({"Pause recording", "Stop recording"}));
}
