// A start that cannot record says why: the dialog on the offscreen platform, the
// grabber on a real X server.
#include "tests/app/DialogTestSupport.h"

#include "app/KestraboleApp.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"
#include "tests/support/XvfbServer.h"

#include <QDir>
#include <cstdlib>
#include <optional>
#include <string>

class RecordingStart : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_TRUE(m_server.running());
        const char* display = std::getenv("DISPLAY");
        m_savedDisplay = display ? std::optional<std::string>(display) : std::nullopt;
        m_server.makeCurrent();
    }

    void TearDown() override {
        if (m_savedDisplay)
            setenv("DISPLAY", m_savedDisplay->c_str(), 1);
        else
            unsetenv("DISPLAY");
        DialogTest::TearDown();
    }

    testsupport::XvfbServer m_server;
    std::optional<std::string> m_savedDisplay;
};

TEST_F(RecordingStart, EmptyPathAsksForOneAndStaysEmpty) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    ASSERT_GE(dialog.m_cbCodec.currentIndex(), 0) << "an encoder must be available";
    dialog.show();
    Type(dialog, resources::kPathEdit, QString());
    dialog.StartRecording();
    EXPECT_EQ(m_messages.join(u'\n').toStdString(), "Enter the path of the file to record to.");
    EXPECT_TRUE(dialog.m_strPath.empty()) << "not turned into the program's folder";
    EXPECT_FALSE(dialog.isHidden());
    EXPECT_FALSE(app.m_aviWriter.IsOpen());
}

// Each codec that a file type cannot hold is refused before anything starts, and
// the message names one it can.
TEST_F(RecordingStart, CodecTheFileTypeCannotHoldIsRefusedNamingOneItCan) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    const std::pair<const char*, const char*> refused[] = {{"MP4", "Huffyuv Lossless Codec"},
                                                           {"MP4", "FFV1 Lossless Codec"},
                                                           {"MP4", "Ut Video Lossless Codec"},
                                                           {"MKV", "Huffyuv Lossless Codec"},
                                                           {"MKV", "Ut Video Lossless Codec"}};
    ASSERT_GE(dialog.m_cbCodec.findText(QStringLiteral("x264 H.264/AVC Codec")), 0);
    for (const auto& [type, codec] : refused) {
        const int index = dialog.m_cbCodec.findText(QString::fromLatin1(codec));
        if (index < 0)
            continue; // not in this FFmpeg
        dialog.m_cbCodec.setCurrentIndex(index);
        Type(dialog, resources::kPathEdit, QDir::tempPath() + "/take." + type);
        m_messages.clear();
        dialog.StartRecording();
        EXPECT_EQ(m_messages.join(u'\n').toStdString(),
                  std::string("An ") + type + " file cannot hold the codec \"" + codec +
                      "\". Choose \"x264 H.264/AVC Codec\" in the codec list, or a file "
                      "ending in .avi.");
        EXPECT_FALSE(dialog.isHidden());
        EXPECT_FALSE(app.m_aviWriter.IsOpen());
    }
}
