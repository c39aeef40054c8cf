#include "ChildProcess.h"
#include "IsolatedHome.h"

#include "settings/RegEdit.h"
#include "settings/Utf16.h"
#include "settings/ValueStore.h"

#include <grp.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

const std::u16string kKey = u"Software\\DaltropSC";
constexpr uint32_t kNoDword = 0xFFFFFFFF;

class RegEdit : public IsolatedHome {
protected:
    fs::path StoreFile() const { return DataHome() / "tesmara" / "registry.sqlite"; }

    static void WriteRaw(const std::u16string& name, uint32_t type, const std::string& data) {
        auto store = ValueStore::Open(true, ValueStore::Mode::Create);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->Write(kKey, name, {type, data}));
    }

    CRegEdit reg;
};

std::string Utf16Bytes(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(RegEdit, WritesCreateTheKeyAndNamesIgnoreCase) {
    EXPECT_EQ(reg.ReadString(true, kKey, u"1056"), u"");
    EXPECT_FALSE(fs::exists(StoreFile())) << "a read must not create the store";

    reg.WriteString(true, kKey, u"Name", u"value \u00E9\u20AC");
    reg.WriteDword(true, u"software\\GNU\\XviD", u"display_status", 0);
    EXPECT_EQ(reg.ReadString(true, u"SOFTWARE\\daltropsc", u"nAME"), u"value \u00E9\u20AC");
    EXPECT_EQ(reg.ReadDword(true, u"Software\\gnu\\xvid", u"DISPLAY_STATUS"), 0u);
    EXPECT_EQ(fs::status(StoreFile().parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all);

    reg.WriteString(true, kKey, u"NAME", u"second");
    EXPECT_EQ(reg.ReadString(true, kKey, u"name"), u"second");
    reg.WriteString(true, u"Software\\\u00C4rger", u"\u00E9t\u00E9", u"x");
    EXPECT_EQ(reg.ReadString(true, u"software\\\u00E4RGER", u"\u00C9T\u00C9"), u"x");
}

TEST_F(RegEdit, TypesAreKeptApart) {
    reg.WriteString(true, kKey, u"text", u"42");
    reg.WriteDword(true, kKey, u"number", 0xDEADBEEF);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"number"), 0xDEADBEEFu);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"text"), kNoDword);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"missing"), kNoDword);
    EXPECT_EQ(reg.ReadString(true, kKey, u"number"), u"");

    // An expandable string reads back as it stands.
    WriteRaw(u"expand", REG_EXPAND_SZ, Utf16Bytes(u"$HOME/x") + std::string(2, '\0'));
    EXPECT_EQ(reg.ReadString(true, kKey, u"expand"), u"$HOME/x");
    EXPECT_EQ(reg.ReadDword(true, kKey, u"expand"), kNoDword);
}

TEST_F(RegEdit, OnlyWellFormedStringsOfUpTo1023UnitsRead) {
    const std::u16string longest(1023, u'a');
    reg.WriteString(true, kKey, u"fits", longest);
    reg.WriteString(true, kKey, u"too long", longest + u'a');
    EXPECT_EQ(reg.ReadString(true, kKey, u"fits"), longest);
    EXPECT_EQ(reg.ReadString(true, kKey, u"too long"), u"");

    reg.WriteString(true, kKey, u"embedded", std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(reg.ReadString(true, kKey, u"embedded"), u"ab");

    WriteRaw(u"unterminated", REG_SZ, Utf16Bytes(u"abc"));
    WriteRaw(u"odd", REG_SZ, Utf16Bytes(u"abc") + std::string(3, '\0'));
    WriteRaw(u"empty", REG_SZ, "");
    WriteRaw(u"short dword", REG_DWORD, "abc");
    EXPECT_EQ(reg.ReadString(true, kKey, u"unterminated"), u"");
    EXPECT_EQ(reg.ReadString(true, kKey, u"odd"), u"");
    EXPECT_EQ(reg.ReadString(true, kKey, u"empty"), u"");
    EXPECT_EQ(reg.ReadDword(true, kKey, u"short dword"), kNoDword);
}

TEST_F(RegEdit, WriteStringIfEmptyReplacesOnlyWhatDoesNotReadAsText) {
    reg.WriteString(true, kKey, u"kept", u" ");
    reg.WriteString(true, kKey, u"empty", u"");
    reg.WriteDword(true, kKey, u"dword", 7);
    reg.WriteString(true, kKey, u"long", std::u16string(2000, u'x'));
    for (const char16_t* name : {u"kept", u"empty", u"dword", u"long", u"missing"})
        reg.WriteStringIfEmpty(true, kKey, name, u"seed");
    EXPECT_EQ(reg.ReadString(true, kKey, u"kept"), u" ");
    for (const char16_t* name : {u"empty", u"dword", u"long", u"missing"})
        EXPECT_EQ(reg.ReadString(true, kKey, name), u"seed") << ToUtf8(name);
}

TEST_F(RegEdit, DeleteKeyRemovesOnlyALeafKeyThatExists) {
    reg.WriteString(true, kKey, u"1060", u"yes");
    reg.WriteString(true, u"Software\\Other", u"v", u"stays");

    reg.DeleteKey(true, u"", u"Software"); // has sub-keys
    reg.DeleteKey(true, u"Software", u"Missing");
    reg.DeleteKey(true, u"Nowhere", u"DaltropSC");
    reg.DeleteKey(true, u"Software", u"");
    EXPECT_EQ(reg.ReadString(true, kKey, u"1060"), u"yes");

    reg.DeleteKey(true, u"SOFTWARE", u"daltropsc");
    EXPECT_EQ(reg.ReadString(true, kKey, u"1060"), u"");
    EXPECT_EQ(reg.ReadString(true, u"Software\\Other", u"v"), u"stays");

    reg.DeleteKey(true, u"Software", u"Other");
    reg.DeleteKey(true, u"", u"Software"); // a leaf now
    reg.WriteString(true, u"Software\\Other", u"w", u"new");
    EXPECT_EQ(reg.ReadString(true, u"Software\\Other", u"v"), u"") << "values went with their key";
}

TEST_F(RegEdit, MalformedKeyPathsAreRefused) {
    for (const char16_t* key : {u"\\Software", u"Software\\", u"Software\\\\DaltropSC"}) {
        reg.WriteString(true, key, u"v", u"x");
        EXPECT_EQ(reg.ReadString(true, key, u"v"), u"") << ToUtf8(key);
    }
    reg.WriteString(true, u"", u"at the root", u"x");
    EXPECT_EQ(reg.ReadString(true, u"", u"AT THE ROOT"), u"x");
}

TEST_F(RegEdit, SharedKeyLifecycle) {
    const auto seed = [this] {
        reg.WriteStringIfEmpty(true, kKey, u"HW", u"");
        reg.WriteStringIfEmpty(true, kKey, u"1056", u"18");
        reg.WriteStringIfEmpty(true, kKey, u"1054", u"");
        reg.WriteStringIfEmpty(true, kKey, u"1060", u"yes");
        reg.WriteStringIfEmpty(true, kKey, u"1061", u"yes");
    };
    seed();
    reg.WriteStringIfEmpty(true, kKey, u"HW", u"");
    reg.WriteDword(true, kKey, u"HW", 0x2A00007);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"HW"), 0x2A00007u);

    reg.DeleteKey(true, u"Software", u"DaltropSC");
    EXPECT_EQ(reg.ReadString(true, kKey, u"1056"), u"");
    EXPECT_EQ(reg.ReadDword(true, kKey, u"HW"), kNoDword);

    reg.WriteDword(true, kKey, u"HW", 99); // a run that ended by closing the dialog
    seed();
    EXPECT_EQ(reg.ReadDword(true, kKey, u"HW"), kNoDword);
    EXPECT_EQ(reg.ReadString(true, kKey, u"1056"), u"18");
    EXPECT_EQ(reg.ReadString(true, kKey, u"1061"), u"yes");
}

// A damaged store (here a database header over garbage) reads as empty and is left
// alone by reads; the next write keeps it under another name and makes a fresh
// one. A folder in the store's place is left as it is.
TEST_F(RegEdit, ADamagedStoreIsSetAsideAtTheNextWrite) {
    fs::create_directories(StoreFile().parent_path());
    const std::string damaged = "SQLite format 3" + std::string(8192, '\x5A');
    WriteFile(StoreFile(), damaged);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"d"), kNoDword);
    EXPECT_EQ(ReadFile(StoreFile()), damaged);

    reg.WriteDword(true, kKey, u"d", 1234);
    EXPECT_EQ(reg.ReadDword(true, kKey, u"d"), 1234u);
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(StoreFile().parent_path()))
        if (entry.path().filename().string().rfind("registry.sqlite.damaged-", 0) == 0)
            aside.push_back(entry.path());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(aside[0]), damaged);

    fs::remove(StoreFile());
    fs::create_directory(StoreFile());
    reg.WriteString(true, kKey, u"v", u"x");
    EXPECT_EQ(reg.ReadString(true, kKey, u"v"), u"");
    EXPECT_TRUE(fs::is_directory(StoreFile()));
}

// File permissions do not bind root, so as root the check runs in a child that
// gives root up for an ordinary account.
template <typename Check> bool AsOrdinaryUser(const fs::path& root, Check check) {
    if (geteuid() != 0)
        return check();
    constexpr uid_t kNobody = 65534;
    chown(root.c_str(), kNobody, kNobody);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        chown(entry.path().c_str(), kNobody, kNobody);
    const pid_t child = SpawnChild([&] {
        const bool dropped =
            setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
        return dropped && check() ? 0 : 1;
    });
    return WaitForExit(child) == 0;
}

TEST_F(RegEdit, AReadOnlyStoreStillReads) {
    reg.WriteString(true, kKey, u"v", u"before");
    EXPECT_TRUE(AsOrdinaryUser(Root(), [&] {
        chmod(StoreFile().c_str(), 0444);
        chmod(StoreFile().parent_path().c_str(), 0555);
        reg.WriteString(true, kKey, u"v", u"after");
        reg.WriteDword(true, kKey, u"d", 1);
        reg.DeleteKey(true, u"Software", u"DaltropSC");
        return reg.ReadString(true, kKey, u"v") == u"before" &&
               reg.ReadDword(true, kKey, u"d") == 0xFFFFFFFF;
    }));
}

} // namespace
