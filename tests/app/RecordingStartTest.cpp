// A start that cannot record says why: the dialog on the offscreen platform, the
// grabber on a real X server.
#include "tests/app/DialogTestSupport.h"

#include "app/KestraboleApp.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"
#include "recorder/output/RecordingTarget.h"
#include "tests/support/XvfbServer.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

// Notes what the dialog asks the desktop to open instead of starting a player.
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedFiles() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QStringList files;

public slots:
    void open(const QUrl& url) { files << url.toLocalFile(); }
};

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

    // Starts with the given path; the start must have been refused and taken back.
    void ExpectRefusedStart(CKestraboleDlg& dialog, const QString& path) {
        m_messages.clear();
        Type(dialog, resources::kPathEdit, path);
        dialog.StartRecording();
        EXPECT_EQ(m_messages.size(), 1) << path.toStdString();
        EXPECT_FALSE(dialog.isHidden());
        EXPECT_FALSE(CKestraboleApp::Instance()->m_aviWriter.IsOpen());
        EXPECT_LE(dialog.m_session.Helper().Pid(), 0);
    }

    static fs::path Scratch() { return fs::temp_directory_path(); }

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

TEST_F(RecordingStart, RejectedFrameRateStopsTheStart) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    Type(dialog, resources::kFrameRateEdit, QString(1000, u'9'));
    ExpectRefusedStart(dialog, QString::fromStdString((Scratch() / "rate.avi").string()));
    EXPECT_FALSE(fs::exists(Scratch() / "rate.avi"));
}

// A pipe would block the player it is handed to, a kernel file swallows frames,
// and a full disk keeps nothing: each is refused before anything is hidden.
TEST_F(RecordingStart, PathsThatCannotHoldARecordingAreRefused) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    const fs::path pipe = Scratch() / "pipe.avi";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const fs::path& path : {pipe, fs::path("/proc/self/mem"), Scratch()})
        ExpectRefusedStart(dialog, QString::fromStdString(path.string()));
    EXPECT_TRUE(fs::is_fifo(pipe));

    EXPECT_EQ(CheckRecordingTarget((Scratch() / "new.avi").string(), uint64_t(1) << 62),
              RecordingTargetProblem::NoRoom);
    EXPECT_EQ(CheckRecordingTarget((Scratch() / "new.avi").string(), 1u << 20),
              RecordingTargetProblem::Usable);
}

TEST_F(RecordingStart, LongPathsAreShortenedInTheMiddleOfMessages) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    const QString path =
        QStringLiteral("/proc/") + QString(5000, u'x') + QStringLiteral("/end.avi");
    ExpectRefusedStart(dialog, path);
    ASSERT_EQ(m_messages.size(), 1);
    const QString& message = m_messages[0];
    EXPECT_LT(message.size(), 300) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("/proc/xxx"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("xxx\u2026xxx"))) << message.toStdString();
}

// Here no notification area runs and no helper lies beside the test program.
TEST_F(RecordingStart, WithoutATrayF9IsNamedOnceAndAMissingHelperIsReportedAtTheStop) {
    CKestraboleApp app;
    CKestraboleDlg dialog;
    OpenedFiles opened;
    ASSERT_TRUE(dialog.Create());
    dialog.show();
    const fs::path file = Scratch() / "clip.avi";
    Type(dialog, resources::kPathEdit, QString::fromStdString(file.string()));
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        fs::remove(file); // an existing file would be asked about first
        m_messages.clear();
        dialog.StartRecording();
        ASSERT_TRUE(dialog.isHidden());
        EXPECT_EQ(m_messages.size(), start == 0 ? 1 : 0);
        if (start == 0 && !m_messages.isEmpty()) {
            EXPECT_TRUE(m_messages[0].contains(QStringLiteral("F9")))
                << m_messages[0].toStdString();
        }
        ProcessEvents(400);
        m_messages.clear();
        dialog.OnHotKey(0, 0, HotKey::kVirtualKeyF9);
        EXPECT_TRUE(m_messages.isEmpty()) << "said once the dialog is back";
        ProcessEvents();
        ASSERT_FALSE(dialog.isHidden());
        ASSERT_EQ(m_messages.size(), 1);
        EXPECT_TRUE(m_messages[0].contains(QStringLiteral("\"Daltrop\" stopped working because "
                                                          "it could not be started (No such file")))
            << m_messages[0].toStdString();
    }
    EXPECT_EQ(opened.files, QStringList(2, QString::fromStdString(file.string())));
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

#include "RecordingStartTest.moc"
