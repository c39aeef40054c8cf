// The whole program under a real X server with a window manager and a tray,
// driven by xdotool as a user would drive it; recordings checked with FFmpeg.
#include <gtest/gtest.h>

#include "hooklib/ClickChannel.h"
#include "tests/app/RecordingHarness.h"
#include "tests/support/ExternalCommand.h"
#include "tests/support/Players.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using recordingtests::Desktop;
using recordingtests::ProgramRun;

namespace {

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// At 18 frames per second a recording of about `seconds` seconds (plus the time
// the stop takes to arrive) spans this many frame slots.
void expectRecordingOf(const fs::path& file, double seconds, int frameRate = 18) {
    auto probe = recordingtests::probe(file);
    EXPECT_TRUE(probe.decodes) << file;
    EXPECT_TRUE(probe.hasIndex) << file;
    EXPECT_EQ(probe.width, 1280);
    EXPECT_EQ(probe.height, 720);
    EXPECT_EQ(probe.frameRate, std::to_string(frameRate) + "/1");
    const int slots = probe.slots;
    EXPECT_LT(probe.lastPosition, slots);
    EXPECT_GE(slots, static_cast<int>(seconds * frameRate * 0.85)) << file;
    EXPECT_LE(slots, static_cast<int>((seconds + 1.5) * frameRate)) << file;
    // The desk is mostly still: unchanged slots are repeats, empty in the file.
    EXPECT_GE(probe.packets, 1) << file;
}

// Processor time in clock ticks of the whole process and of its first thread,
// which runs the dialog.
struct ProcessorTimes {
    long process = 0;
    long dialogThread = 0;
};

long ticksFromStat(const fs::path& stat) {
    std::ifstream in(stat);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    // Behind the name: state is field 3; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            user = std::stol(field);
        if (number == 15)
            system = std::stol(field);
    }
    return user + system;
}

// The disk room a file holds past its size rounded up to a few blocks of its file
// system; 0 when it holds no more than that.
long long heldBeyondEnd(const fs::path& file) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0)
        return -1;
    const long long slack = 4LL * info.st_blksize;
    return std::max(0LL, static_cast<long long>(info.st_blocks) * 512 - info.st_size - slack);
}

// The slots of the last recording, as the program logs them at the stop: its
// frames, repeats and gaps; 0 when it logged none.
int slotsLogged(const std::string& log) {
    const std::regex counts("recorded (\\d+) frames, (\\d+) repeats, (\\d+) gaps");
    int slots = 0;
    for (auto found = std::sregex_iterator(log.begin(), log.end(), counts);
         found != std::sregex_iterator(); ++found)
        slots = std::stoi((*found)[1]) + std::stoi((*found)[2]) + std::stoi((*found)[3]);
    return slots;
}

ProcessorTimes processorTimes(pid_t pid) {
    const fs::path proc = "/proc/" + std::to_string(pid);
    return {ticksFromStat(proc / "stat"),
            ticksFromStat(proc / "task" / std::to_string(pid) / "stat")};
}

} // namespace

class RecordingEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_desktop = std::make_unique<Desktop>(); }
    static void TearDownTestSuite() { s_desktop.reset(); }
    void SetUp() override {
        ASSERT_TRUE(s_desktop->ready()) << "Xvfb, openbox and trayer must run";
    }

    // Starts the program and a recording; the dialog must have gone to the tray.
    static void startRecording(ProgramRun& run) {
        ASSERT_TRUE(run.start());
        run.pressStartRecord();
        ASSERT_TRUE(run.waitDialogVisible(false)) << "Start Record must hide the dialog";
    }

    static std::unique_ptr<Desktop> s_desktop;
};
std::unique_ptr<Desktop> RecordingEndToEnd::s_desktop;

// The same recording into each file type, named by its extension: AVI with the
// preferred codec, MP4 and Matroska with x264.
class RecordingPerFileType : public RecordingEndToEnd,
                             public ::testing::WithParamInterface<std::string> {
protected:
    static ProgramRun::Options optionsForFileType() {
        ProgramRun::Options options;
        if (GetParam() != "avi")
            options.codec = "x264 H.264/AVC Codec";
        return options;
    }

    // Starts the program and a recording into this file of the test's type.
    static void startRecordingInto(ProgramRun& run, const fs::path& file) {
        ASSERT_TRUE(run.start());
        run.typePath(file.string());
        run.pressStartRecord();
        ASSERT_TRUE(run.waitDialogVisible(false)) << "Start Record must hide the dialog";
    }

    static fs::path fileOfType(const ProgramRun& run, const std::string& name) {
        return run.outputFolder() / (name + "." + GetParam());
    }
};

TEST_F(RecordingEndToEnd, F9StopsOnlyWithoutModifiersAndOpensTheCompletedFile) {
    ProgramRun run(*s_desktop);
    startRecording(run);
    EXPECT_TRUE(run.helperRunning()) << "the helper watches presses while recording";
    EXPECT_EQ(run.publishedWindow(), run.dialog());
    pause(500);
    // A press anywhere reaches the dialog through the helper and is marked.
    s_desktop->run("xdotool mousemove 300 500 click 1 mousemove 1000 200");
    pause(500);
    run.keys("shift+F9 alt+F9 ctrl+shift+F9");
    pause(500);
    EXPECT_EQ(run.visibleProgramWindows(), 0) << "F9 with a modifier must not stop";
    run.keys("Num_Lock");
    pause(1300);
    run.keys("F9 Num_Lock");
    ASSERT_TRUE(run.waitDialogVisible(true)) << "F9 with NumLock on must stop";
    EXPECT_FALSE(run.helperRunning());
    EXPECT_EQ(run.publishedWindow(), 0xFFFFFFFFu) << "the stop removes the helper's key";

    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    expectRecordingOf(files[0], 3.0);
    EXPECT_GT(recordingtests::redPixelsAround(files[0], 300, 500), 20)
        << "the left press is marked";
    EXPECT_EQ(recordingtests::redPixelsAround(files[0], 1000, 200), 0);
    EXPECT_EQ(run.opened(), std::vector<std::string>{files[0].string()});
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// F9 used to wait behind the frame in progress, as the dialog's thread grabbed
// and encoded every frame: on a busy machine for seconds. That thread now does no
// work per frame, whatever the recording costs.
TEST_F(RecordingEndToEnd, DialogThreadDoesNoFrameWorkWhileRecording) {
    ProgramRun::Options options;
    options.frameRate = 30;
    ProgramRun run(*s_desktop, options);
    startRecording(run);
    const ProcessorTimes before = processorTimes(run.pid());
    // A new background each step: every frame changes everywhere, so that each is
    // grabbed and converted whole, not only where the pointer moved.
    s_desktop->run("sh -c 'for x in $(seq 100 20 900); do xdotool mousemove $x 300;"
                   " xsetroot -solid \"#$(printf %02x $((x % 256)))4080\"; sleep 0.05; done'");
    const ProcessorTimes after = processorTimes(run.pid());
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    const long recording = after.process - before.process;
    const long dialogThread = after.dialogThread - before.dialogThread;
    EXPECT_GE(recording, 20) << "frames were grabbed and encoded meanwhile";
    EXPECT_LT(dialogThread * 10, recording) << dialogThread << " of " << recording << " ticks";
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

TEST_F(RecordingEndToEnd, TrayIconClickStopsAndBringsTheDialogBack) {
    ProgramRun run(*s_desktop);
    startRecording(run);
    pause(1500);
    ASSERT_TRUE(run.trayIconShown());
    run.clickTrayIcon(2);
    pause(700);
    EXPECT_EQ(run.visibleProgramWindows(), 0) << "the middle button does nothing";
    run.chooseInTrayMenu(1);
    ASSERT_TRUE(run.waitDialogVisible(true)) << "the right button's menu stops";
    EXPECT_FALSE(run.trayIconShown());
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    expectRecordingOf(files[0], 2.2);
    EXPECT_EQ(run.opened().size(), 1u);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0) << "the program must survive its icon's removal";
}

TEST_F(RecordingEndToEnd, CloseDuringRecordingCompletesTheFileAndOpensNothing) {
    ProgramRun run(*s_desktop);
    startRecording(run);
    pause(800);
    // Another process may ask the dialog back while the recording goes on.
    ASSERT_TRUE(run.sendWindowMessage(clickchannel::kTrayRestore));
    ASSERT_TRUE(run.waitDialogVisible(true));
    EXPECT_FALSE(run.trayIconShown());
    run.pressStartRecord();
    pause(800);
    EXPECT_EQ(run.visibleProgramWindows(), 1) << "no second start under a running recording";
    s_desktop->run("xdotool windowactivate --sync " + std::to_string(run.dialog()) +
                   " key --clearmodifiers alt+F4");
    EXPECT_EQ(run.waitExit(), 0);
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    expectRecordingOf(files[0], 1.6);
    EXPECT_TRUE(run.opened().empty()) << "closing must not open the file";
    EXPECT_EQ(run.publishedWindow(), run.dialog()) << "closing leaves the helper's key";
}

TEST_F(RecordingEndToEnd, TerminationSignalCompletesTheRecordingBeforeTheEnd) {
    ProgramRun run(*s_desktop);
    startRecording(run);
    pause(1500);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0) << "the program must end by itself, not die of the signal";
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    expectRecordingOf(files[0], 1.5);
    EXPECT_TRUE(run.opened().empty());
}

// The X server goes away under a recording (a crash, the end of the session): the
// file is completed as a stop completes it, then the program ends and says where
// the file is. The desktop is this test's own, since its server dies.
TEST(RecordingEndToEndDisplayLost, CompletesTheFileThenEndsSayingWhereItIs) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << "Xvfb, openbox and trayer must run";
    ProgramRun run(desktop);
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(3000);
    desktop.loseServer();
    const int status = run.waitExit();
    EXPECT_GT(status, 0) << "a recording cut off by a lost display is no success";
    EXPECT_LT(status, 128) << "the program must end by itself, not die of a signal";
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    const auto probe = recordingtests::probe(files[0]);
    EXPECT_TRUE(probe.hasIndex) << "completed without a second start";
    EXPECT_TRUE(probe.decodes);
    EXPECT_NEAR(probe.duration, 3.0, 1.0);
    EXPECT_NE(run.errorOutput().find(files[0].string()), std::string::npos) << run.errorOutput();
}

TEST_F(RecordingEndToEnd, FailedStartSaysWhyAndLeavesNothingHidden) {
    ProgramRun::Options options;
    char pattern[] = "/tmp/tesmara-notafolder-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    options.folder = std::string(pattern) + "/"; // a file where the folder should be
    ProgramRun run(*s_desktop, options);
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    pause(1500);
    EXPECT_EQ(run.visibleProgramWindows(), 1) << "the dialog must come back";
    EXPECT_TRUE(run.waitMessageBox()) << "and say why";
    EXPECT_FALSE(run.trayIconShown());
    EXPECT_FALSE(run.helperRunning());
    EXPECT_TRUE(run.opened().empty());
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0) << "a signal ends the program even behind a message box";
    fs::remove(pattern);
}

// Two recordings in a row with the default path keep two files, the second named
// anew even within the second the first ended in.
TEST_F(RecordingEndToEnd, RelativeFolderLandsUnderTheProgramFolderAndEachRecordingKeepsItsFile) {
    // A copy of the deliverables, so that the program's folder is one of our own.
    char pattern[] = "/tmp/tesmara-install-XXXXXX";
    fs::path install = mkdtemp(pattern);
    for (const char* name : {"Kestrabole", "Daltrop", "libDaltropH.so", "default-advert.jpg"})
        if (fs::exists(recordingtests::binaryFolder() / name))
            fs::copy_file(recordingtests::binaryFolder() / name, install / name);
    fs::path elsewhere = install / "cwd";
    fs::create_directory(elsewhere);

    ProgramRun::Options options;
    options.folder = "clips/";
    options.program = install / "Kestrabole";
    options.workingDirectory = elsewhere;
    ProgramRun run(*s_desktop, options);
    startRecording(run);
    pause(1000);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(install / "clips"))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_FALSE(fs::exists(elsewhere / "clips"));
    const auto firstSize = fs::file_size(files[0]);

    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false)) << "no question: the new default names no file";
    pause(2500);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    EXPECT_EQ(fs::file_size(files[0]), firstSize) << "the first recording is kept as it was";
    // The player is started once the dialog is back.
    for (int i = 0; i < 50 && run.opened().size() < 2; ++i)
        pause(100);
    const std::vector<std::string> opened = run.opened();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], files[0].string());
    EXPECT_EQ(fs::path(opened[1]).parent_path(), install / "clips");
    EXPECT_NE(opened[1], opened[0]);
    expectRecordingOf(opened[1], 2.5);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
    fs::remove_all(install);
}

// An MP4 recording is rewritten with its index in front after the stop, beside
// the dialog, and the player gets it once that is done.
TEST_F(RecordingEndToEnd, Mp4IsCompletedBesideTheDialogThenOpened) {
    ProgramRun::Options options;
    options.codec = "x264 H.264/AVC Codec";
    ProgramRun run(*s_desktop, options);
    ASSERT_TRUE(run.start());
    const fs::path file = run.outputFolder() / "take.mp4";
    run.typePath(file.string());
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(2000);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    for (int i = 0; i < 100 && run.opened().empty(); ++i)
        pause(100);
    ASSERT_EQ(run.opened(), std::vector<std::string>{file.string()});
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "the index in front";
    EXPECT_EQ(bytes.find("moof"), std::string::npos) << "no fragments left";
    const auto probe = recordingtests::probe(file);
    EXPECT_TRUE(probe.decodes);
    EXPECT_NEAR(probe.duration, 2.0, 1.0);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// A file the user did not pick in Browse's save dialog is replaced only after
// "Replace"; Esc takes the start back with the file untouched.
TEST_F(RecordingEndToEnd, AnExistingFileIsReplacedOnlyWhenTheUserSaysSo) {
    ProgramRun run(*s_desktop);
    ASSERT_TRUE(run.start());
    const fs::path file = run.outputFolder() / "exists.avi";
    std::ofstream(file) << "twelve bytes";
    run.typePath(file.string());
    run.pressStartRecord();
    pause(1000);
    ASSERT_TRUE(run.waitMessageBox()) << "the start asks first";
    EXPECT_NE(run.errorOutput().find("already exists. Replace it"), std::string::npos);
    run.keys("Escape");
    pause(800);
    EXPECT_FALSE(run.messageBoxShown());
    EXPECT_EQ(run.visibleProgramWindows(), 1) << "the dialog stays";
    EXPECT_FALSE(run.helperRunning()) << "and nothing records";
    EXPECT_EQ(fs::file_size(file), 12u);

    run.pressStartRecord();
    pause(1000);
    ASSERT_TRUE(run.waitMessageBox()) << "asked again: Esc confirmed nothing";
    run.keys("alt+r");
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(1500);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    expectRecordingOf(file, 1.5);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// Each path that cannot name a recording is refused with what is wrong with the
// name, before any folder is made for it.
TEST_F(RecordingEndToEnd, UnusablePathsAreRefusedSayingWhatIsWrongWithTheName) {
    ProgramRun run(*s_desktop);
    ASSERT_TRUE(run.start());
    const std::pair<std::string, std::string> refused[] = {
        {"/proc/self/fd/1", "is not on a disk"},
        {(run.outputFolder() / "dir.mp4/").string(), "so it names a folder, not a file"},
        {(run.outputFolder() / (std::string(252, 'n') + ".avi")).string(),
         "is longer than the file system allows"}};
    for (const auto& [path, reason] : refused) {
        SCOPED_TRACE(path);
        run.typePath(path);
        run.pressStartRecord();
        pause(800);
        ASSERT_TRUE(run.waitMessageBox());
        EXPECT_NE(run.errorOutput().find(reason), std::string::npos) << run.errorOutput();
        run.keys("Return");
        pause(500);
        EXPECT_EQ(run.visibleProgramWindows(), 1);
    }
    EXPECT_EQ(run.errorOutput().find("codec"), std::string::npos) << run.errorOutput();
    EXPECT_FALSE(fs::exists(run.outputFolder() / "dir.mp4"));
    EXPECT_TRUE(run.recordings().empty());
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

TEST_F(RecordingEndToEnd, RejectedFrameRateEntryStopsTheStartAndPressesStillMark) {
    ProgramRun run(*s_desktop);
    ASSERT_TRUE(run.start());
    run.typeFrameRate("abc");
    run.pressStartRecord();
    pause(800);
    ASSERT_TRUE(run.waitMessageBox()) << "the start reads the entry back and rejects it";
    run.keys("Return");
    pause(800);
    EXPECT_EQ(run.visibleProgramWindows(), 1) << "the dialog stays";
    EXPECT_FALSE(run.helperRunning()) << "and nothing records";
    EXPECT_TRUE(run.recordings().empty());

    run.typeFrameRate("18");
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    s_desktop->run("xdotool mousemove 400 300 click 1 sleep 0.3 click 1");
    pause(700);
    EXPECT_FALSE(run.messageBoxShown());
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(recordingtests::redPixelsAround(files[0], 400, 300), 20);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// The file may grow only so far, as on a disk that fills: the recording stops by
// itself, the dialog comes back and says so, and the file kept is whole.
TEST_F(RecordingEndToEnd, FullDiskStopsTheRecordingAndKeepsAWholeFile) {
    ProgramRun::Options options;
    options.fileSizeLimit = 160 * 1024;
    ProgramRun run(*s_desktop, options);
    startRecording(run);
    // A still desk costs next to nothing; a pointer that keeps moving fills the disk.
    // The mover ends with the program, so that it moves nothing on a later test's desk.
    s_desktop->run("sh -c 'for i in $(seq 150); do kill -0 " + std::to_string(run.pid()) +
                   " || break; xdotool mousemove $((100 + i * 6)) $((100 + i * 3)); sleep 0.1;"
                   " done' >/dev/null 2>&1 &");
    ASSERT_TRUE(run.waitDialogVisible(true, 30)) << "the full disk must bring the dialog back";
    pause(800);
    EXPECT_TRUE(run.waitMessageBox()) << "and say so";
    EXPECT_FALSE(run.trayIconShown());
    EXPECT_FALSE(run.helperRunning());
    auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_LE(fs::file_size(files[0]), options.fileSizeLimit);
    auto probe = recordingtests::probe(files[0]);
    EXPECT_TRUE(probe.decodes);
    EXPECT_TRUE(probe.hasIndex);
    EXPECT_GE(probe.packets, 1);
    EXPECT_EQ(run.opened(), std::vector<std::string>{files[0].string()});
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// An unchanged slot is neither grabbed nor encoded, in every file type, yet the
// still desk lasts to the stop. FFmpeg's readers skip an AVI file's empty chunks,
// and so every tool built on FFmpeg: the desk must still convert to its whole
// length, and a seek into it, in FFmpeg or in a player, must find a picture.
class StillDesk : public RecordingPerFileType {};

TEST_P(StillDesk, IsMostlyLeftOutYetLastsToTheStopAndShowsAPictureAnywhere) {
    ProgramRun run(*s_desktop, optionsForFileType());
    const fs::path file = fileOfType(run, "still");
    ASSERT_NO_FATAL_FAILURE(startRecordingInto(run, file));
    pause(3000);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    // An MP4 file is opened once it is completed.
    for (int i = 0; i < 100 && run.opened().empty(); ++i)
        pause(100);
    ASSERT_EQ(run.opened(), std::vector<std::string>{file.string()});
    const int slots = slotsLogged(run.errorOutput());
    const auto recording = recordingtests::probe(file);
    EXPECT_GT(slots, 2 * recording.packets) << "the desk must be still: mostly repeats";
    EXPECT_NEAR(recording.duration, slots / 18.0, 1.0 / 18) << "the file lasts to the stop";
    const std::string source = "'" + file.string() + "'";
    const fs::path converted = run.home() / "converted.mp4";
    testsupport::commandOutput("ffmpeg -v error -i " + source + " '" + converted.string() + "'");
    EXPECT_LE(std::abs(recordingtests::probe(converted).duration - recording.duration), 1.0 / 18)
        << "the converted recording lasts as long as the recording, within a frame";
    const double middle = recording.duration / 2;
    const fs::path picture = run.home() / "middle.png";
    testsupport::commandOutput("ffmpeg -v error -ss " + std::to_string(middle) + " -i " + source +
                               " -frames:v 1 '" + picture.string() + "'");
    EXPECT_TRUE(fs::exists(picture)) << "no picture in the middle of the recording";
    const testsupport::PlayerVerdict gstreamer = testsupport::PlayWithGStreamer(file);
    EXPECT_TRUE(gstreamer.played) << gstreamer.log;
    // A still screen's pictures come every 0.3 s in AVI, every 0.4 s in the others.
    testsupport::ExpectAPictureSoonAfterASeek(file, middle, GetParam() == "avi" ? 0.3 : 0.4);
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(RecordingEndToEnd, StillDesk, ::testing::Values("avi", "mkv", "mp4"),
                         [](const auto& info) { return info.param; });

TEST_F(RecordingEndToEnd, HideRequestFromAnotherProcessThenTrayClickRecordsNothing) {
    ProgramRun run(*s_desktop);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.sendWindowMessage(clickchannel::kTrayHide));
    ASSERT_TRUE(run.waitDialogVisible(false));
    EXPECT_TRUE(run.trayIconShown());
    EXPECT_FALSE(run.helperRunning()) << "hiding is not recording";
    run.clickTrayIcon(1);
    ASSERT_TRUE(run.waitDialogVisible(true));
    EXPECT_FALSE(run.trayIconShown());
    EXPECT_TRUE(run.recordings().empty());
    EXPECT_TRUE(run.opened().empty()) << "a stop that recorded nothing opens nothing";
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitExit(), 0);
}

// A kill at any moment costs at most the last second: Matroska and MP4 files play
// as they lie, an AVI file once the next start has repaired it. That start also
// hands back the disk room the writer held ahead of the file.
class KilledRecording : public RecordingPerFileType {};

TEST_P(KilledRecording, PlaysToWithinASecondOfTheKillAndHoldsNoRoomAfterTheNextStart) {
    ProgramRun run(*s_desktop, optionsForFileType());
    const fs::path file = fileOfType(run, "take");
    ASSERT_NO_FATAL_FAILURE(startRecordingInto(run, file));
    const auto started = std::chrono::steady_clock::now();
    pause(4000);
    run.signal(SIGKILL);
    const std::chrono::duration<double> recorded = std::chrono::steady_clock::now() - started;
    run.waitExit();
    ASSERT_TRUE(run.start());
    if (GetParam() == "avi") {
        EXPECT_TRUE(run.waitMessageBox()) << "the repair says where the recording is";
    }
    for (int i = 0; i < 50 && heldBeyondEnd(file) > 0; ++i)
        pause(100);
    EXPECT_EQ(heldBeyondEnd(file), 0) << "bytes on disk past the end of " << file;
    const auto probe = recordingtests::probe(file);
    EXPECT_TRUE(probe.decodes);
    EXPECT_NEAR(probe.duration, recorded.count(), 1.0);
    // An AVI file keeps a still end as repeats, counted in its declared length.
    const int lastSlot = GetParam() == "avi" ? probe.slots - 1 : probe.lastPosition;
    EXPECT_GE(lastSlot, static_cast<int>((recorded.count() - 1.0) * 18));
}

INSTANTIATE_TEST_SUITE_P(RecordingEndToEnd, KilledRecording, ::testing::Values("avi", "mp4", "mkv"),
                         [](const auto& info) { return info.param; });

// The file ends at the set length of recorded time, to the frame: a pause with
// Ctrl+F9 does not count. The dialog comes back and opens it as after F9.
TEST_F(RecordingEndToEnd, StopAfterEndsTheRecordingAtItsRecordedLength) {
    ProgramRun::Options options;
    options.stopAfter = 5;
    ProgramRun run(*s_desktop, options);
    startRecording(run);
    pause(2000);
    run.keys("ctrl+F9");
    pause(2000);
    run.keys("ctrl+F9");
    pause(2000);
    EXPECT_EQ(run.visibleProgramWindows(), 0) << "the paused time is not counted";
    ASSERT_TRUE(run.waitDialogVisible(true, 3));
    EXPECT_FALSE(run.trayIconShown());
    ASSERT_EQ(run.recordings().size(), 1u);
    const recordingtests::Probe probe = recordingtests::probe(run.recordings().front());
    EXPECT_TRUE(probe.hasIndex);
    EXPECT_NEAR(probe.slots, 5 * 18, 1);
    EXPECT_EQ(run.opened().size(), 1u);
}

// A three-second countdown shows its number on screen, yet no frame shows it and
// the first frame comes after it; Esc during a second countdown calls the start
// off and writes nothing.
TEST_F(RecordingEndToEnd, CountdownPrecedesTheFirstFrameAndEscCallsItOff) {
    ProgramRun::Options options;
    options.countdown = 3;
    ProgramRun run(*s_desktop, options);
    ASSERT_TRUE(run.start());
    const auto countdownShown = [&] {
        return !s_desktop->output("xdotool search --onlyvisible --name ' countdown$'").empty();
    };
    recordingtests::StripeClock clock(s_desktop->server().display());
    const int pressed = clock.shownNow();
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(1000);
    EXPECT_TRUE(countdownShown());
    pause(3500);
    EXPECT_FALSE(countdownShown());
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    ASSERT_EQ(run.recordings().size(), 1u);
    const auto frames = recordingtests::clockFrames(run.recordings().front());
    ASSERT_GE(frames.size(), 10u);
    EXPECT_GE(frames.front().shownMilliseconds, pressed + 3000) << "a frame before the end";
    for (const recordingtests::ClockFrame& frame : frames) {
        const auto [red, green, blue] = frame.centre;
        EXPECT_TRUE(std::max({red, green, blue}) < 30 || std::min({red, green, blue}) > 225)
            << "the countdown shows in frame " << frame.position;
    }

    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(1000);
    run.keys("Escape");
    EXPECT_TRUE(run.waitDialogVisible(true, 2));
    EXPECT_FALSE(countdownShown());
    pause(3000);
    EXPECT_FALSE(run.trayIconShown()) << "nothing started";
    EXPECT_EQ(run.recordings().size(), 1u);
}

// Commands from another process drive the running recorder over the session bus:
// --start records into the named file, --toggle-pause pauses and resumes, --status
// tells each state and --stop saves the file. With no recorder, or nothing to
// stop, a command says why and fails.
TEST_F(RecordingEndToEnd, CommandsFromAnotherProcessDriveTheRecorderOverTheSessionBus) {
    recordingtests::SessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ProgramRun::Options options;
    options.sessionBus = bus.address();
    ProgramRun run(*s_desktop, options);
    const testsupport::CommandResult noRecorder = run.command("--stop");
    EXPECT_EQ(noRecorder.status, 1);
    EXPECT_NE(noRecorder.output.find("no recorder is running"), std::string::npos)
        << noRecorder.output;
    ASSERT_TRUE(run.start());
    EXPECT_EQ(run.command("--status").output, "idle\n");
    const fs::path file = run.outputFolder() / "commanded.avi";
    EXPECT_EQ(run.command("--start --output " + file.string()).status, 0);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.waitDialogVisible(false));
    EXPECT_EQ(run.command("--status").output, "recording\n");
    pause(1500);
    EXPECT_EQ(run.command("--toggle-pause").status, 0);
    EXPECT_EQ(run.command("--status").output, "paused\n");
    pause(1500);
    EXPECT_EQ(run.command("--toggle-pause").status, 0);
    EXPECT_EQ(run.command("--status").output, "recording\n");
    pause(1500);
    EXPECT_EQ(run.command("--stop").status, 0);
    const std::chrono::duration<double> ran = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(run.waitDialogVisible(true));
    ASSERT_EQ(run.recordings(), std::vector<fs::path>{file});
    const recordingtests::Probe probe = recordingtests::probe(file);
    EXPECT_TRUE(probe.hasIndex);
    EXPECT_GT(probe.slots / 18.0, 2.9) << "the two recorded stretches";
    EXPECT_LT(probe.slots / 18.0, ran.count() - 1.2) << "the pause is left out";
    const testsupport::CommandResult nothing = run.command("--stop");
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.output.find("Nothing is being recorded"), std::string::npos)
        << nothing.output;
}

// --start with no recorder running becomes one, which records at once, here
// for the two seconds and of the area the command line asked.
TEST_F(RecordingEndToEnd, StartCommandWithNoRecorderRunningStartsOneThatRecords) {
    recordingtests::SessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ProgramRun::Options options;
    options.sessionBus = bus.address();
    options.arguments = {"--start", "--stop-after", "2", "--area", "region:100,100,320x240"};
    ProgramRun run(*s_desktop, options);
    ASSERT_TRUE(run.launch());
    for (int i = 0; i < 100 && run.opened().empty(); ++i)
        pause(100);
    ASSERT_EQ(run.recordings().size(), 1u);
    EXPECT_EQ(run.opened().size(), 1u) << "stopped by itself and opened";
    const auto probe = recordingtests::probe(run.recordings().front());
    EXPECT_NEAR(probe.slots, 2 * 18, 1);
    EXPECT_EQ(probe.width, 320) << "the area the command named";
    EXPECT_EQ(probe.height, 240);
    EXPECT_TRUE(run.waitDialogVisible(true));
}
