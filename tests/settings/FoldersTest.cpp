#include "IsolatedHome.h"

#include "settings/Folders.h"
#include "settings/Utf16.h"

#include <cstdlib>
#include <unistd.h>

namespace {

using Folders = IsolatedHome;

std::string Folder(int kind) {
    return ToUtf8(GetFolder(kind));
}

TEST_F(Folders, TempFolderFallsBackFromTmpdirToRuntimeDirToTmp) {
    EXPECT_EQ(Folder(FOLDER_TEMP), (Root() / "tmp").string());
    EXPECT_EQ(GetTempFolder(), GetFolder(FOLDER_TEMP));
    setenv("TMPDIR", "", 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/4242/", 1);
    EXPECT_EQ(Folder(FOLDER_TEMP), "/run/user/4242");
    unsetenv("TMPDIR");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(Folder(FOLDER_TEMP), "/tmp");
}

TEST_F(Folders, ConfigHomeIgnoresARelativeSetting) {
    EXPECT_EQ(Folder(FOLDER_APPDATA), ConfigHome().string());
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(Folder(FOLDER_APPDATA), (Home() / ".config").string());
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Folder(FOLDER_APPDATA), (Home() / ".config").string());
}

TEST_F(Folders, DocumentsFolderComesFromUserDirs) {
    EXPECT_EQ(Folder(FOLDER_PERSONAL), (Home() / "Documents").string());

    WriteFile(ConfigHome() / "user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                               "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n");
    EXPECT_EQ(Folder(FOLDER_PERSONAL), (Home() / "Dokumente").string());

    WriteFile(ConfigHome() / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/My \\\"Docs\\\"\"\n");
    EXPECT_EQ(Folder(FOLDER_PERSONAL), "/srv/My \"Docs\"");

    WriteFile(ConfigHome() / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"Docs\"\n");
    EXPECT_EQ(Folder(FOLDER_PERSONAL), (Home() / "Documents").string());
}

TEST_F(Folders, UnknownKindIsEmpty) {
    EXPECT_EQ(GetFolder(1000), u"");
}

TEST(ModuleFolder, IsTheRunningProgramsFolderWithTrailingSlash) {
    const std::string folder = ToUtf8(GetModuleFolder());
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(access((folder + "settings_tests").c_str(), X_OK), 0) << folder;
}

TEST(DirectoryOf, KeepsEverythingBeforeTheLastComponent) {
    EXPECT_EQ(DirectoryOf(u"/video/clip.avi"), u"/video/");
    EXPECT_EQ(DirectoryOf(u"/data/Videos/"), u"/data/"); // a trailing '/' belongs to the last name
    EXPECT_EQ(DirectoryOf(u"clip.avi"), u"");
    EXPECT_EQ(DirectoryOf(u"/clip.avi"), u"/");
    EXPECT_EQ(DirectoryOf(u"a//b"), u"a//");
    EXPECT_EQ(DirectoryOf(u""), u"");
}

} // namespace
