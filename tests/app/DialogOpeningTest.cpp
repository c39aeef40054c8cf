// What the dialog shows when it opens: the output path with the time stamp, the
// frame rate taken from the settings file, the codec list and its selection.
#include "tests/app/DialogTestSupport.h"

#include "app/CodecList.h"
#include "app/ComboBoxText.h"
#include "app/KestraboleDlg.h"
#include "app/OutputPath.h"
#include "app/Resources.h"
#include "settings/RegEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpression>

using namespace resources;

namespace {

std::tm MarchSeventh2012() {
    std::tm time{};
    time.tm_year = 112;
    time.tm_mon = 2;
    time.tm_mday = 7;
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 0;
    return time;
}

QStringList Entries(const QComboBox& box) {
    QStringList entries;
    for (int i = 0; i < box.count(); ++i)
        entries << box.itemText(i);
    return entries;
}

CCodecCatalogue::Listing Listing(std::vector<std::u16string> descriptions,
                                 std::u16string preferred) {
    return CCodecCatalogue::Listing{std::move(descriptions), std::move(preferred)};
}

} // namespace

TEST(DefaultOutputPath, StampsTheNameWithoutLeadingZeros) {
    const std::tm time = MarchSeventh2012();
    EXPECT_EQ(DefaultOutputPath(u"/home/ann/Videos/", &time),
              u"/home/ann/Videos/Screen 3-7-2012 (9-5-0).avi");
    EXPECT_EQ(DefaultOutputPath(u"/home/ann/Videos", &time),
              u"/home/ann/Videos/Screen 3-7-2012 (9-5-0).avi");
    EXPECT_EQ(DefaultOutputPath(u"", &time), u"Screen 3-7-2012 (9-5-0).avi");
    EXPECT_EQ(DefaultOutputPath(u"/", &time), u"/Screen 3-7-2012 (9-5-0).avi");
    EXPECT_EQ(DefaultOutputPath(u"", nullptr), u"Screen 0-0-0 (-1--1--1).avi");
    std::tm lateEvening = MarchSeventh2012();
    lateEvening.tm_mon = 11;
    lateEvening.tm_mday = 31;
    lateEvening.tm_hour = 23;
    lateEvening.tm_min = 59;
    lateEvening.tm_sec = 58;
    EXPECT_EQ(DefaultOutputPath(u"v/", &lateEvening), u"v/Screen 12-31-2012 (23-59-58).avi");
}

TEST(CodecListRules, EntriesSortWithoutRegardToCaseAndKeepTheSelection) {
    QComboBox box;
    for (const char* text : {"mpeg", "Cinepak", "XVID", "divx", "Apple"})
        AddSortedString(box, QString::fromLatin1(text));
    EXPECT_EQ(Entries(box), QStringList({"Apple", "Cinepak", "divx", "mpeg", "XVID"}));
    EXPECT_EQ(box.currentIndex(), -1);
    box.setCurrentIndex(2);
    AddSortedString(box, QStringLiteral("Basic"));
    EXPECT_EQ(box.currentText(), "divx");
}

TEST(CodecListRules, SelectionMatchesTheBeginningFromTheSecondEntryOn) {
    QComboBox box;
    box.addItems({"DivX Pro", "divx 5", "Xvid MPEG-4 Codec"});
    box.setCurrentIndex(-1);
    // The first entry is looked at last.
    EXPECT_EQ(SelectString(box, 0, QStringLiteral("DIVX")), 1);
    EXPECT_EQ(SelectString(box, 0, QStringLiteral("divx p")), 0);
    EXPECT_EQ(SelectString(box, 0, QStringLiteral("xvid")), 2);
    EXPECT_EQ(SelectString(box, -1, QStringLiteral("divx")), 0);
    box.setCurrentIndex(2);
    EXPECT_EQ(SelectString(box, 0, QStringLiteral("Cinepak")), -1);
    EXPECT_EQ(SelectString(box, 0, QString()), -1);
    EXPECT_EQ(box.currentIndex(), 2);
}

TEST(CodecListRules, SavedCodecWinsOverThePreferredOne) {
    const auto listing =
        Listing({u"Xvid MPEG-4 Codec", u"FFmpeg MPEG-4", u"Motion JPEG"}, u"Xvid MPEG-4 Codec");
    QComboBox saved, preferred, none;
    FillCodecList(saved, listing, u"Motion JPEG");
    EXPECT_EQ(saved.currentText(), "Motion JPEG");
    EXPECT_EQ(Entries(saved), QStringList({"FFmpeg MPEG-4", "Motion JPEG", "Xvid MPEG-4 Codec"}));
    // The saved name must match word for word, case included.
    FillCodecList(preferred, listing, u"motion jpeg");
    EXPECT_EQ(preferred.currentText(), "Xvid MPEG-4 Codec");
    FillCodecList(none, Listing({u"FFmpeg MPEG-4", u"Motion JPEG"}, u""), u"Cinepak");
    EXPECT_EQ(none.currentIndex(), -1);
}

class DialogOpening : public DialogTest {};

TEST_F(DialogOpening, TakesTheSettingsAndBuildsTheDefaultPath) {
    Json::Value settings;
    settings["frameRate"] = 24;
    settings["leftClick"] = false;
    settings["rightClick"] = true;
    settings["path"] = "/data/clips/";
    WriteSettings(settings);
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(TextOf(dialog, kFrameRateEdit), "24");
    EXPECT_FALSE(static_cast<QCheckBox*>(dialog.Control(kLeftClickBox))->isChecked());
    EXPECT_TRUE(static_cast<QCheckBox*>(dialog.Control(kRightClickBox))->isChecked());
    const QRegularExpression expected(QStringLiteral(
        R"(^/data/clips/Screen [1-9]\d?-[1-9]\d?-\d{4} \(\d{1,2}-\d{1,2}-\d{1,2}\)\.avi$)"));
    EXPECT_TRUE(expected.match(TextOf(dialog, kPathEdit)).hasMatch())
        << TextOf(dialog, kPathEdit).toStdString();
    EXPECT_TRUE(dialog.Control(kCloseButton)->hasFocus() ||
                dialog.focusWidget() == dialog.Control(kCloseButton));
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(DialogOpening, FrameRateOutsideSixToThirtyOpensAsEighteen) {
    for (int saved : {5, 6, 30, 31, -1}) {
        Json::Value settings;
        settings["frameRate"] = saved;
        WriteSettings(settings);
        CKestraboleDlg dialog;
        ASSERT_TRUE(dialog.Create());
        const unsigned expected = saved >= 6 && saved <= 30 ? unsigned(saved) : 18u;
        EXPECT_EQ(dialog.m_nFrameRate, expected) << "saved " << saved;
    }
}

TEST_F(DialogOpening, ListsTheEncodersOfThisMachineAndSelectsTheSavedOne) {
    const auto listing = CCodecCatalogue::Enumerate();
    if (listing.descriptions.empty())
        GTEST_SKIP() << "no video encoder in this FFmpeg";
    Json::Value settings;
    settings["codec"] = QString::fromStdU16String(listing.descriptions.back()).toStdString();
    WriteSettings(settings);
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.m_cbCodec.count(), int(listing.descriptions.size()));
    EXPECT_EQ(dialog.m_cbCodec.currentText().toStdU16String(), listing.descriptions.back());
}

TEST_F(DialogOpening, SeedsTheHelpersKeyWithoutOverwriting) {
    const std::u16string key = u"Software\\DaltropSC";
    CRegEdit registry;
    registry.WriteString(true, key, u"1060", u"no");
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(registry.ReadString(true, key, u"1056"), u"18");
    EXPECT_EQ(registry.ReadString(true, key, u"1061"), u"yes");
    EXPECT_EQ(registry.ReadString(true, key, u"1060"), u"no");
}
