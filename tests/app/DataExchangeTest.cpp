// Reading the dialog's controls back: the messages for rejected entries, what
// the members keep or take, and the frame-rate arrows built on the same reading.
#include "tests/app/DialogTestSupport.h"

#include "app/DataExchange.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"
#include "app/UpDownControl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace resources;

namespace {

const QString kNotANumber = QStringLiteral("Enter a positive integer.");
const QString kOutOfRange = QStringLiteral("Enter an integer between 0 and 32.");

// Where the user types the file's name (the file dialog's own widgets).
QLineEdit* FileNameEdit(QFileDialog& files) {
    auto* edit = files.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    EXPECT_NE(edit, nullptr);
    return edit;
}

// Runs Browse and answers its file dialog with answer once it is up.
void BrowseAnswering(CKestraboleDlg& dialog, const std::function<void(QFileDialog&)>& answer) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            answer(*files);
        }
    });
    poll.start(20);
    dialog.OnBrowse();
}

} // namespace

TEST(ParseUnsigned, TakesOneDecimalNumberBetweenBlanks) {
    unsigned value = 99;
    EXPECT_TRUE(ParseUnsigned(QStringLiteral(" 7\t"), value));
    EXPECT_EQ(value, 7u);
    EXPECT_TRUE(ParseUnsigned(QStringLiteral("4294967295"), value));
    EXPECT_EQ(value, 4294967295u);
    for (const char* text : {"", "  ", "abc", "-1", "7 7", "12a", "4294967296", "3.5"}) {
        value = 99;
        EXPECT_FALSE(ParseUnsigned(QString::fromLatin1(text), value)) << text;
        EXPECT_EQ(value, 99u) << text;
    }
}

class DataExchange : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_TRUE(m_dialog.Create());
        m_dialog.m_nFrameRate = 18;
        m_dialog.m_strPath = u"/old/clip.avi";
        ASSERT_TRUE(m_dialog.UpdateData(false));
        Type(m_dialog, kPathEdit, QStringLiteral("/new/clip.avi"));
    }
    CKestraboleDlg m_dialog;
};

TEST_F(DataExchange, TextThatIsNoNumberKeepsTheRateAndStopsTheReading) {
    Type(m_dialog, kFrameRateEdit, QStringLiteral("abc"));
    EXPECT_FALSE(m_dialog.UpdateData(true));
    EXPECT_EQ(m_messages, QStringList{kNotANumber});
    EXPECT_EQ(m_dialog.m_nFrameRate, 18u);
    // Controls after the rejected one are not read.
    EXPECT_EQ(m_dialog.m_strPath, u"/old/clip.avi");
    // The user is taken back to the entry, all of it selected for retyping.
    auto* edit = static_cast<QLineEdit*>(m_dialog.Control(kFrameRateEdit));
    EXPECT_EQ(edit->selectedText(), "abc");
}

TEST_F(DataExchange, NumberOutOfRangeIsTakenButStopsTheReading) {
    Type(m_dialog, kFrameRateEdit, QStringLiteral("40"));
    EXPECT_FALSE(m_dialog.UpdateData(true));
    EXPECT_EQ(m_messages, QStringList{kOutOfRange});
    EXPECT_EQ(m_dialog.m_nFrameRate, 40u);
    EXPECT_EQ(m_dialog.m_strPath, u"/old/clip.avi");
}

TEST_F(DataExchange, BothEndsOfTheRangeAreAcceptedAndEveryControlRead) {
    for (const char* rate : {"0", "32"}) {
        Type(m_dialog, kFrameRateEdit, QString::fromLatin1(rate));
        static_cast<QCheckBox*>(m_dialog.Control(kLeftClickBox))->setChecked(false);
        static_cast<QCheckBox*>(m_dialog.Control(kRightClickBox))->setChecked(true);
        EXPECT_TRUE(m_dialog.UpdateData(true)) << rate;
        EXPECT_EQ(m_dialog.m_nFrameRate, QString::fromLatin1(rate).toUInt());
        EXPECT_EQ(m_dialog.m_strPath, u"/new/clip.avi");
        EXPECT_EQ(m_dialog.m_bLeftClick, 0);
        EXPECT_EQ(m_dialog.m_bRightClick, 1);
    }
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
}

class FrameRateArrows : public DataExchange {
protected:
    void Press(bool up) {
        auto* spin = static_cast<CUpDownControl*>(m_dialog.Control(kFrameRateSpin));
        QTest::mouseClick(up ? spin->UpButton() : spin->DownButton(), Qt::LeftButton);
    }
    unsigned After(const char* typed, bool up) {
        Type(m_dialog, kFrameRateEdit, QString::fromLatin1(typed));
        Press(up);
        EXPECT_EQ(TextOf(m_dialog, kFrameRateEdit), QString::number(m_dialog.m_nFrameRate));
        return m_dialog.m_nFrameRate;
    }
};

TEST_F(FrameRateArrows, StepWithinTwoToThirty) {
    EXPECT_EQ(After("18", true), 19u);
    EXPECT_EQ(After("18", false), 17u);
    EXPECT_EQ(After("30", true), 30u);
    EXPECT_EQ(After("29", true), 30u);
    EXPECT_EQ(After("2", false), 2u);
    EXPECT_EQ(After("3", false), 2u);
    EXPECT_EQ(After("1", false), 2u);
    EXPECT_EQ(After("0", false), 2u);
    EXPECT_EQ(After("0", true), 1u);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join('|').toStdString();
}

TEST_F(FrameRateArrows, StepFromATypedValueOutOfRangeAfterTheMessage) {
    EXPECT_EQ(After("40", true), 30u);
    EXPECT_EQ(After("40", false), 39u);
    // The largest number there is steps up to the cap, not round to zero.
    EXPECT_EQ(After("4294967295", true), 30u);
    EXPECT_EQ(m_messages, QStringList({kOutOfRange, kOutOfRange, kOutOfRange}));
}

TEST_F(FrameRateArrows, StepFromTheLastGoodValueAfterARejectedEntry) {
    EXPECT_EQ(After("abc", true), 19u);
    EXPECT_EQ(After("x1", false), 18u);
    EXPECT_EQ(m_messages, QStringList({kNotANumber, kNotANumber}));
}

class BrowseForFile : public DataExchange {};

TEST_F(BrowseForFile, OffersAnAviNamedUntitledAndLeavesThePathWhenCancelled) {
    BrowseAnswering(m_dialog, [](QFileDialog& files) {
        EXPECT_EQ(files.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(FileNameEdit(files)->text(), "Untitled");
        EXPECT_EQ(files.nameFilters(),
                  QStringList({"AVI ( *.avi )", "MP4 ( *.mp4 )", "Matroska ( *.mkv )"}));
        EXPECT_EQ(files.selectedNameFilter(), "AVI ( *.avi )");
        EXPECT_FALSE(files.testOption(QFileDialog::DontConfirmOverwrite));
        files.reject();
    });
    EXPECT_EQ(m_dialog.m_strPath, u"/old/clip.avi");
    EXPECT_EQ(TextOf(m_dialog, kPathEdit), "/new/clip.avi");
}

TEST_F(BrowseForFile, ChosenFileReplacesThePathAndRewritesEveryControl) {
    Type(m_dialog, kFrameRateEdit, QStringLiteral("25")); // typed, not yet read back
    const QString folder = QDir::tempPath();
    BrowseAnswering(m_dialog, [&](QFileDialog& files) {
        FileNameEdit(files)->setText(folder + "/take");
        static_cast<QDialog&>(files).accept(); // as the Save button does
    });
    const QString expected = folder + "/take.avi";
    EXPECT_EQ(m_dialog.m_strPath, expected.toStdU16String());
    EXPECT_EQ(TextOf(m_dialog, kPathEdit), expected);
    EXPECT_EQ(TextOf(m_dialog, kFrameRateEdit), "18");
}

TEST_F(BrowseForFile, AnotherFileTypeTakesItsExtensionAndItsPreferredCodec) {
    const int h264 = m_dialog.m_cbCodec.findText(QStringLiteral("x264 H.264/AVC Codec"));
    if (h264 < 0)
        GTEST_SKIP() << "no libx264 in this FFmpeg";
    m_dialog.m_cbCodec.setCurrentIndex(h264 == 0 ? 1 : 0);
    const QString folder = QDir::tempPath();
    BrowseAnswering(m_dialog, [&](QFileDialog& files) {
        // The type box, as the user works it: End picks its last entry.
        auto* types = files.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        QTest::keyClick(types, Qt::Key_End);
        EXPECT_EQ(files.selectedNameFilter(), "Matroska ( *.mkv )");
        FileNameEdit(files)->setText(folder + "/take");
        static_cast<QDialog&>(files).accept();
    });
    EXPECT_EQ(m_dialog.m_strPath, (folder + "/take.mkv").toStdU16String());
    EXPECT_EQ(m_dialog.m_cbCodec.currentIndex(), h264);
}
