// The program's command line: answers that need no display, refusals with exit
// status 2, and Qt's own options passed through to Qt.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/app/RecordingHarness.h"
#include "tests/support/ExternalCommand.h"

#include <chrono>
#include <sstream>
#include <thread>

using recordingtests::binaryFolder;

namespace {

// What the built program prints on both streams, run without any display, and
// its exit status on the last line.
std::string runWithoutDisplay(const std::string& arguments) {
    return testsupport::commandOutput("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                   (binaryFolder() / "Kestrabole").string() + " " + arguments +
                   " 2>&1; echo \"exit $?\"");
}

std::optional<int> handle(std::vector<std::string> arguments, std::string* error = nullptr) {
    arguments.insert(arguments.begin(), "/usr/bin/tesmara-screen-recorder");
    std::ostringstream out, err;
    auto end = CommandLine(arguments).Handle(out, err);
    if (error)
        *error = err.str();
    return end;
}

} // namespace

TEST(CommandLine, HelpVersionAndRefusalsNeedNoDisplay) {
    std::string help = runWithoutDisplay("--help");
    EXPECT_NE(help.find("Usage: Kestrabole [OPTION]..."), std::string::npos) << help;
    EXPECT_NE(help.find("--version"), std::string::npos) << help;
    EXPECT_TRUE(help.ends_with("exit 0\n")) << help;
    EXPECT_EQ(runWithoutDisplay("-v"), "Tesmara Screen Recorder " TESMARA_VERSION "\nexit 0\n");
    EXPECT_EQ(runWithoutDisplay("-style fusion --bogus"),
              "Kestrabole: unknown option '--bogus'\n"
              "Try 'Kestrabole --help' for more information.\nexit 2\n");
    EXPECT_EQ(runWithoutDisplay("--version extra"),
              "Kestrabole: unexpected argument 'extra'\n"
              "Try 'Kestrabole --help' for more information.\nexit 2\n");
}

// Qt's X11 platform would abort; the program says which display it cannot open.
TEST(CommandLine, DisplayThatCannotBeOpenedIsSaidPlainly) {
    const std::string said = "Tesmara Screen Recorder cannot open the X display \":999\". Check "
                             "that it is running and that DISPLAY or -display names it.\nexit 1\n";
    EXPECT_EQ(runWithoutDisplay("-display :999"), said);
    EXPECT_EQ(testsupport::commandOutput("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:999 " +
                                         (binaryFolder() / "Kestrabole").string() +
                                         " 2>&1; echo \"exit $?\""),
              said);
}

TEST(CommandLine, PassesQtOptionsAndRefusesEverythingElse) {
    EXPECT_EQ(handle({"-platform", "xcb", "--style=fusion", "-reverse", "--display", ":3"}),
              std::nullopt);
    std::string error;
    EXPECT_EQ(handle({"recording.avi"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("tesmara-screen-recorder: unexpected argument 'recording.avi'"),
              std::string::npos)
        << error;
    EXPECT_EQ(handle({"-display"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("option '-display' needs a value"), std::string::npos) << error;
    EXPECT_EQ(handle({"-platform=xcb"}), CommandLine::kUsageError) << "Qt takes no '=' there";
    EXPECT_EQ(handle({"-platformx", "xcb"}), CommandLine::kUsageError);
}

// The commands for a running recorder are taken with their options; misused, they
// are refused as unknown options are.
TEST(CommandLine, TakesTheRecorderCommandsAndRefusesTheirMisuse) {
    CommandLine start({"tesmara-screen-recorder", "--start", "--output", "/tmp/a.avi",
                       "--stop-after", "90"});
    std::ostringstream out, err;
    EXPECT_EQ(start.Handle(out, err), std::nullopt);
    EXPECT_EQ(start.Remote().command, RemoteRequest::Command::Start);
    EXPECT_EQ(start.Remote().output, "/tmp/a.avi");
    EXPECT_EQ(start.Remote().stopAfterSeconds, 90u);
    std::string error;
    EXPECT_EQ(handle({"--stop", "--status"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("only one of"), std::string::npos) << error;
    EXPECT_EQ(handle({"--stop", "--output", "a.avi"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("go with --start only"), std::string::npos) << error;
    EXPECT_EQ(handle({"--start", "--stop-after", "-5"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("whole seconds from 0 to 59999, not '-5'"), std::string::npos) << error;
    EXPECT_EQ(handle({"--start", "--stop-after"}, &error), CommandLine::kUsageError);
    EXPECT_EQ(handle({"--start", "--area", "region:1,2,3"}, &error), CommandLine::kUsageError);
    EXPECT_NE(error.find("--area takes primary, all, monitor:NAME, region:X,Y,WxH or window"),
              std::string::npos)
        << error;
    const std::string help = runWithoutDisplay("--help");
    for (const char* command : {"--start", "--output FILE", "--stop-after SECONDS", "--area AREA", "--stop ",
                                "--toggle-pause", "--status"})
        EXPECT_NE(help.find(command), std::string::npos) << command;
}

// Qt shows the dialog on the server -display names; the recording, the hot key and
// the helper must use that server too.
TEST(CommandLine, DisplayOptionServesTheWholeRecording) {
    recordingtests::Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << "Xvfb, openbox and trayer are needed";
    recordingtests::ProgramRun::Options options;
    options.displayOnCommandLine = true;
    recordingtests::ProgramRun run(desktop, options);
    ASSERT_TRUE(run.start()) << "no dialog on the display named by -display";
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false)) << "the recording did not start";
    EXPECT_TRUE(run.helperRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true)) << "F9 did not stop";
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    auto probe = recordingtests::probe(files[0]);
    EXPECT_TRUE(probe.decodes && probe.hasIndex);
    EXPECT_GT(probe.slots, 5);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}
