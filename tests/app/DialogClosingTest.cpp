// How the dialog ends: Close, the close box and Enter on the Close button save
// the settings file and end the run; Esc and Enter elsewhere do nothing; F1 and
// the context menu open the about box.
#include "tests/app/DialogTestSupport.h"

#include "app/AboutDlg.h"
#include "app/KestraboleApp.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

using namespace resources;

namespace {

// Shows the dialog as the active window so that keys reach it as a user's would.
void ShowActive(CKestraboleDlg& dialog) {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

// Runs action while a modal window is open and closes that window; the class
// name of the modal window that was open, or empty when none came up.
QString ModalClassDuring(const std::function<void()>& action) {
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            seen = QString::fromLatin1(modal->metaObject()->className());
            modal->close();
        } else if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            seen = QStringLiteral("QMenu");
            // The popup offers one item; choosing it opens the about box. Chosen
            // from a call of its own, so that this poll goes on while the box is open.
            QTimer::singleShot(0, popup, [popup] {
                popup->setActiveAction(popup->actions().value(0));
                QTest::keyClick(popup, Qt::Key_Return);
            });
        }
    });
    poll.start(20);
    QTimer::singleShot(5000, [&] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    action();
    return seen;
}

} // namespace

class DialogClosing : public DialogTest {};

TEST_F(DialogClosing, CloseButtonSavesTheControlsAndEndsTheRun) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.m_cbCodec.addItem(QStringLiteral("Test Codec"));
    dialog.m_cbCodec.setCurrentIndex(dialog.m_cbCodec.count() - 1);
    Type(dialog, kFrameRateEdit, QStringLiteral("25"));
    Type(dialog, kPathEdit, QStringLiteral("/srv/clips/talk.avi"));
    static_cast<QCheckBox*>(dialog.Control(kLeftClickBox))->setChecked(false);
    static_cast<QCheckBox*>(dialog.Control(kRightClickBox))->setChecked(true);
    QTimer::singleShot(0, [&] { QTest::mouseClick(dialog.Control(kCloseButton), Qt::LeftButton); });
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_TRUE(dialog.m_bClosing);
    const Json::Value saved = ReadSettings();
    EXPECT_EQ(saved["frameRate"].asInt(), 25);
    EXPECT_FALSE(saved["leftClick"].asBool());
    EXPECT_TRUE(saved["rightClick"].asBool());
    EXPECT_EQ(saved["codec"].asString(), "Test Codec");
    EXPECT_EQ(saved["path"].asString(), "/srv/clips/");
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(DialogClosing, WithNoCodecSelectedSavesAnEmptyCodecAndCloses) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.m_cbCodec.setCurrentIndex(-1);
    dialog.OnCloseButton();
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(ReadSettings()["codec"].asString(), "");
}

TEST_F(DialogClosing, RejectedFrameRateIsReportedAndTheCloseGoesOn) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    Type(dialog, kFrameRateEdit, QStringLiteral("40"));
    dialog.OnCloseButton();
    EXPECT_EQ(m_messages, QStringList{"Enter an integer between 0 and 32."});
    EXPECT_EQ(ReadSettings()["frameRate"].asInt(), 40);
    // The next opening does not take it.
    CKestraboleDlg next;
    ASSERT_TRUE(next.Create());
    EXPECT_EQ(next.m_nFrameRate, 18u);
}

TEST_F(DialogClosing, SettingsThatCannotBeSavedAreReportedOnceAndLeftAlone) {
    const std::filesystem::path elsewhere = SettingsFile().parent_path() / "elsewhere";
    std::filesystem::create_directories(SettingsFile().parent_path());
    std::filesystem::create_symlink(elsewhere, SettingsFile());
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.OnCloseButton();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains(QString::fromStdString(SettingsFile().string())))
        << m_messages[0].toStdString();
    EXPECT_TRUE(std::filesystem::is_symlink(SettingsFile()));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    EXPECT_TRUE(dialog.isHidden()) << "the close goes on";
}

TEST_F(DialogClosing, CloseBoxSavesLikeTheCloseButton) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    ShowActive(dialog);
    Type(dialog, kFrameRateEdit, QStringLiteral("12"));
    EXPECT_TRUE(dialog.close());
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_EQ(ReadSettings()["frameRate"].asInt(), 12);
}

TEST_F(DialogClosing, CloseRequestWhileHiddenEndsTheRun) {
    CKestraboleDlg dialog;
    QTimer::singleShot(0, &dialog, [&dialog] {
        dialog.hide(); // as behind the tray icon while recording
        dialog.close();
    });
    QTimer::singleShot(3000, &dialog, [&dialog] { dialog.done(42); });
    EXPECT_EQ(dialog.DoModal(), QDialog::Rejected);
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

TEST_F(DialogClosing, EscAndEnterOutsideAPushButtonLeaveTheDialogOpen) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    ShowActive(dialog);
    for (int id : {kFrameRateEdit, kPathEdit, kLeftClickBox, kCodecList}) {
        dialog.Control(id)->setFocus();
        QTest::keyClick(dialog.Control(id), Qt::Key_Return);
        QTest::keyClick(dialog.Control(id), Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(dialog.Control(id), Qt::Key_Escape);
        ProcessEvents(20);
        EXPECT_TRUE(dialog.isVisible()) << "control " << id;
    }
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
    // Enter presses a focused push button.
    dialog.Control(kCloseButton)->setFocus();
    QTest::keyClick(dialog.Control(kCloseButton), Qt::Key_Return);
    EXPECT_TRUE(dialog.isHidden());
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

TEST_F(DialogClosing, F1AndTheContextMenuOpenTheAboutBox) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    ShowActive(dialog);
    EXPECT_EQ(ModalClassDuring([&] { QTest::keyClick(&dialog, Qt::Key_F1); }), "CAboutDlg");
    EXPECT_EQ(ModalClassDuring([&] {
                  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                          dialog.mapToGlobal(QPoint(5, 5)));
                  QApplication::sendEvent(&dialog, &event);
              }),
              "CAboutDlg");
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(DialogClosing, ApplicationRunsTheDialogOnceAndEndsWithIt) {
    CKestraboleApp app;
    EXPECT_EQ(CKestraboleApp::Instance(), &app);
    QWidget* seenMainWindow = nullptr;
    QTimer::singleShot(0, [&] {
        seenMainWindow = CKestraboleApp::MainWindow();
        auto* dialog = qobject_cast<CKestraboleDlg*>(seenMainWindow);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        static_cast<QPushButton*>(dialog->Control(kCloseButton))->click();
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_NE(seenMainWindow, nullptr);
    EXPECT_EQ(CKestraboleApp::MainWindow(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_FALSE(app.m_aviWriter.IsOpen());
}
