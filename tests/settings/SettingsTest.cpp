#include "IsolatedHome.h"

#include "settings/Settings.h"
#include "settings/Utf16.h"

#include <random>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

struct Values {
    int32_t frameRate;
    int32_t leftClick;
    int32_t rightClick;
    std::u16string codec;
    std::u16string path;
};

// Differs from every default, so that a test can tell which members a load replaced.
const Values kCustomised{25, 0, 0, u"Kept codec", u"/kept/"};
const Values kLoadDefaults{18, 1, 1, u"", u""};

void ExpectValues(const CSettings& settings, const Values& expected) {
    EXPECT_EQ(settings.frameRate, expected.frameRate);
    EXPECT_EQ(settings.leftClick, expected.leftClick);
    EXPECT_EQ(settings.rightClick, expected.rightClick);
    EXPECT_EQ(settings.codec, expected.codec);
    EXPECT_EQ(settings.path, expected.path);
}

void ExpectCustomised(const CSettings& settings) {
    ExpectValues(settings, kCustomised);
}

class Settings : public IsolatedHome {
protected:
    fs::path SettingsFile() const { return ConfigHome() / "Tesmara Screen Recorder" / "settings"; }

    static CSettings Customised() {
        CSettings settings;
        settings.frameRate = kCustomised.frameRate;
        settings.leftClick = kCustomised.leftClick;
        settings.rightClick = kCustomised.rightClick;
        settings.codec = kCustomised.codec;
        settings.path = kCustomised.path;
        return settings;
    }

    CSettings LoadedFrom(const std::string& text) {
        WriteFile(SettingsFile(), text);
        CSettings settings = Customised();
        EXPECT_NO_THROW(settings.Load());
        return settings;
    }
};

TEST_F(Settings, DefaultsStandWhenThereIsNoFile) {
    CSettings settings;
    settings.Load();
    ExpectValues(settings,
                 {18, 1, 1, u"", FromUtf8((Home() / "Documents" / "Screen Video/").string())});
    EXPECT_EQ(ToUtf8(CSettings::FilePath()), SettingsFile().string());
}

TEST_F(Settings, MissingMembersTakeTheLoadDefaults) {
    ExpectValues(LoadedFrom("{}"), kLoadDefaults);
    const CSettings chosen = LoadedFrom("{ \"microphone\" : 1, \"desktopSound\" : true }");
    EXPECT_EQ(chosen.microphone, 1);
    EXPECT_EQ(chosen.desktopSound, 1);
    // A file from before sound was recorded leaves it off.
    EXPECT_EQ(LoadedFrom("{ \"leftClick\" : 0 }").microphone, 0);
    EXPECT_EQ(LoadedFrom("{ \"leftClick\" : 0 }").desktopSound, 0);
}

// A countdown and a stop time are off unless asked for, and brought into range.
TEST_F(Settings, CountdownAndStopAfterAreOffWhenMissingAndClampedWhenOutOfRange) {
    const CSettings missing = LoadedFrom("{ \"leftClick\" : 0 }");
    EXPECT_EQ(missing.countdown, 0);
    EXPECT_EQ(missing.stopAfter, 0);
    const CSettings chosen = LoadedFrom("{ \"countdown\" : 3, \"stopAfter\" : 90 }");
    EXPECT_EQ(chosen.countdown, 3);
    EXPECT_EQ(chosen.stopAfter, 90);
    testing::internal::CaptureStderr();
    const CSettings outOfRange = LoadedFrom("{ \"countdown\" : 25, \"stopAfter\" : -4 }");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outOfRange.countdown, CSettings::kLongestCountdown);
    EXPECT_EQ(outOfRange.stopAfter, 0);
    EXPECT_NE(said.find("\"countdown\" is 25"), std::string::npos) << said;
    EXPECT_NE(said.find("\"stopAfter\" is -4"), std::string::npos) << said;
}

TEST_F(Settings, SaveWritesTheStyledLayoutWithTheFolderOfThePath) {
    CSettings settings;
    settings.path = u"/media/Vid\u00E9os/clip.avi";
    settings.Save();
    EXPECT_EQ(ReadFile(SettingsFile()), "{\n"
                                        "   \"area\" : \"primary\",\n"
                                        "   \"codec\" : \"\",\n"
                                        "   \"countdown\" : 0,\n"
                                        "   \"desktopSound\" : 0,\n"
                                        "   \"frameRate\" : 18,\n"
                                        "   \"leftClick\" : 1,\n"
                                        "   \"microphone\" : 0,\n"
                                        "   \"monitor\" : \"\",\n"
                                        "   \"path\" : \"/media/Vid=C3=A9os/\",\n"
                                        "   \"region\" : [ 0, 0, 0, 0 ],\n"
                                        "   \"rightClick\" : 1,\n"
                                        "   \"scale\" : 0,\n"
                                        "   \"showKeys\" : 0,\n"
                                        "   \"showTypedKeys\" : 0,\n"
                                        "   \"stopAfter\" : 0\n"
                                        "}\n");

    settings.leftClick = 0;
    settings.rightClick = 0;
    settings.codec = u"C:\\x=1";
    settings.path = u"/data/Videos/";
    EXPECT_EQ(settings.ToJson()["path"].asString(), "/data/");
    settings.Save();
    const std::string text = ReadFile(SettingsFile());
    EXPECT_NE(text.find("\"leftClick\" : 0,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"rightClick\" : 0,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"codec\" : \"C:\\\\x=3D1\","), std::string::npos) << text;
}

TEST_F(Settings, SaveAndLoadRoundTrip) {
    CSettings saved;
    saved.frameRate = 30;
    saved.leftClick = 0;
    saved.codec = u"Xvid MPEG-4 Codec \u00E9\u20AC=";
    saved.path = u"/home/\u00FC/Screen Video/Screen 2012-6-11 (14-38-26).avi";
    saved.Save();

    CSettings loaded;
    loaded.Load();
    ExpectValues(loaded, {30, 0, 1, saved.codec, u"/home/\u00FC/Screen Video/"});
}

TEST_F(Settings, SaveReplacesTheFileWhole) {
    fs::remove_all(ConfigHome()); // a fresh account without a config home
    CSettings settings;
    settings.Save();
    ASSERT_TRUE(fs::is_regular_file(SettingsFile()));
    EXPECT_EQ(fs::status(ConfigHome()).permissions() & fs::perms::all, fs::perms::owner_all);

    fs::permissions(SettingsFile(),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    settings.frameRate = 7;
    settings.Save();
    EXPECT_EQ(LoadedFrom(ReadFile(SettingsFile())).frameRate, 7);
    EXPECT_EQ(fs::status(SettingsFile()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(SettingsFile().parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

// Nothing but a regular file of the user's own is written: a link (here to a
// device), a folder in the file's place or a config home that is a file fail the
// save and are left as they are.
TEST_F(Settings, SaveLeavesAnythingButItsOwnFileAlone) {
    const fs::path device = Root() / "null";
    ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
    fs::create_directories(SettingsFile().parent_path());
    fs::create_symlink(device, SettingsFile());
    CSettings settings;
    EXPECT_FALSE(settings.Save());
    EXPECT_TRUE(fs::is_symlink(SettingsFile()));
    EXPECT_TRUE(fs::is_fifo(device));

    fs::remove(SettingsFile());
    fs::create_directory(SettingsFile());
    EXPECT_FALSE(settings.Save());
    EXPECT_TRUE(fs::is_directory(SettingsFile()));
    EXPECT_EQ(std::distance(fs::directory_iterator(SettingsFile().parent_path()),
                            fs::directory_iterator()),
              1);

    fs::remove_all(ConfigHome());
    WriteFile(ConfigHome(), "not a folder");
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(ReadFile(ConfigHome()), "not a folder");

    fs::remove(ConfigHome());
    EXPECT_TRUE(settings.Save());
}

TEST_F(Settings, ALineCommentEndsAtItsLine) {
    // A frame rate out of the dialog's range loads as it stands; the dialog clamps it.
    ExpectValues(LoadedFrom("{\r\n"
                            "   \"codec\" : \"x264\", // chosen by hand\r\n"
                            "   /* old: 18 */ \"frameRate\" : 99,\r\n"
                            "   \"leftClick\" : 1,\n"
                            "   \"path\" : \"/v/\",\n"
                            "   \"rightClick\" : true\n"
                            "}\n"),
                 {99, 1, 1, u"x264", u"/v/"});
}

TEST_F(Settings, MembersOfTheWrongTypeKeepTheirValues) {
    ExpectCustomised(LoadedFrom(R"({"frameRate":"20","leftClick":"yes","rightClick":[1],
                                    "codec":5,"path":{"a":1}})"));
    ExpectCustomised(LoadedFrom(R"({"frameRate":1e20,"leftClick":null,"rightClick":{},
                                    "codec":null,"path":false})"));
    EXPECT_EQ(LoadedFrom(R"({"frameRate":-2147483649})").frameRate, 25);
    ExpectCustomised(LoadedFrom(R"([18, 1, 1, "", "/"])"));
    ExpectCustomised(LoadedFrom(R"("just text")"));

    ExpectValues(LoadedFrom(R"({"frameRate":"20","leftClick":1,"rightClick":0.0,
                               "codec":"c","path":7})"),
                 {25, 1, 0, u"c", u"/kept/"});
    EXPECT_EQ(LoadedFrom(R"({"frameRate":12.9})").frameRate, 12);
}

TEST_F(Settings, BadFilesLeaveTheSettingsAlone) {
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(random());
    const std::string bad[] = {
        "",
        noise,
        "{\"codec\" : \"unterminated",
        "{\"codec\" : \"x\", \"frameRate\" : 20",
        std::string(10'000'000, ' ') + "{\"frameRate\" : 20}",
        std::string(100'000, '[') + std::string(100'000, ']'),
    };
    for (const std::string& text : bad)
        ExpectCustomised(LoadedFrom(text));

    fs::remove(SettingsFile());
    ASSERT_EQ(mkfifo(SettingsFile().c_str(), 0600), 0);
    CSettings settings = Customised();
    settings.Load(); // must not wait for a writer on the pipe
    ExpectCustomised(settings);
}

TEST_F(Settings, RawCharactersOutsideAsciiAreReadAsUtf8) {
    const CSettings settings = LoadedFrom("{\"codec\":\"\xC3\xA9=C3=A9\",\"path\":\"/v\xFF/\"}");
    EXPECT_EQ(settings.codec, u"\u00E9\u00E9");
    EXPECT_EQ(settings.path, u"/v\uFFFD/");
}

// The area to record round-trips, and the scale height; values a user wrote badly load as the
// primary screen or as a region on no screen, which the recording turns into the primary.
TEST_F(Settings, AreaRoundTripsAndBadValuesLoadHarmlessly) {
    CSettings saved;
    saved.area = {AreaKind::Monitor, "HDMI-1", {10, 20, 640, 480}};
    saved.Save();
    CSettings loaded;
    loaded.Load();
    EXPECT_EQ(loaded.area.kind, AreaKind::Monitor);
    EXPECT_EQ(loaded.area.monitor, "HDMI-1");
    EXPECT_EQ(loaded.area.region.width, 640);
    EXPECT_EQ(loaded.area.region.y, 20);

    const CSettings unknown = LoadedFrom(R"({"area":"moon","monitor":7,"region":[1,2,3]})");
    EXPECT_EQ(unknown.area.kind, AreaKind::Primary);
    EXPECT_EQ(unknown.area.monitor, "");
    EXPECT_EQ(unknown.area.region.width, 0);
    EXPECT_EQ(LoadedFrom(R"({"area":"region","region":[1,2,"3",4]})").area.region.width, 0);
    EXPECT_EQ(LoadedFrom("{}").area.kind, AreaKind::Primary);
    EXPECT_EQ(LoadedFrom(R"({"scale":1080})").scale, 1080);
    EXPECT_EQ(LoadedFrom(R"({"scale":500})").scale, 0) << "only the offered heights";
}

TEST(AreaChoiceText, CommandLineFormsParseAndOthersDoNot) {
    EXPECT_EQ(ParseAreaChoice("all")->kind, AreaKind::All);
    EXPECT_EQ(ParseAreaChoice("primary")->kind, AreaKind::Primary);
    EXPECT_EQ(ParseAreaChoice("monitor:DP-2")->monitor, "DP-2");
    EXPECT_EQ(ParseAreaChoice("window")->kind, AreaKind::Window);
    const auto region = ParseAreaChoice("region:-10,20,300x200");
    ASSERT_TRUE(region);
    EXPECT_EQ(region->region.x, -10);
    EXPECT_EQ(region->region.y, 20);
    EXPECT_EQ(region->region.width, 300);
    EXPECT_EQ(region->region.height, 200);
    for (const char* bad : {"", "screen", "all:1", "monitor:", "region", "region:1,2,3",
                            "region:1,2,0x5", "region:1,2,3x4x", "region:a,2,3x4", "window:7"})
        EXPECT_FALSE(ParseAreaChoice(bad)) << bad;
}

} // namespace
