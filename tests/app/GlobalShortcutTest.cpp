// The Wayland stop key against the real xdg-desktop-portal front end on a private
// session bus, with a GlobalShortcuts backend of the tests' own or KDE's behind it;
// and what the dialog tells where that key or the input devices are missing.

#include "tests/app/DialogTestSupport.h"

#include "app/KestraboleDlg.h"
#include "app/Resources.h"
#include "session/GlobalShortcut.h"
#include "session/HotKey.h"
#include "tests/app/ShortcutPortalBackend.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <list>
#include <memory>

namespace {

constexpr int kPromptlyMs = 10000;
const char* const kFrontEnd = "/usr/libexec/xdg-desktop-portal";

// A session bus of its own with the portal front end on it; desktop picks the
// backends (XDG_CURRENT_DESKTOP) among those of tests/app/portals.
class PortalBus {
public:
    explicit PortalBus(const QString& desktop) {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted() || !m_daemon.waitForReadyRead(kPromptlyMs))
            return;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_desktop = desktop;
    }
    ~PortalBus() {
        Stop(m_frontEnd);
        for (auto program = m_desktopPrograms.rbegin(); program != m_desktopPrograms.rend();
             ++program)
            Stop(*program);
        Stop(m_daemon);
        QDBusConnection::disconnectFromBus(QStringLiteral("tesmara-backend"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tesmara-client"));
    }

    const QString& address() const { return m_address; }
    QDBusConnection Connect(const QString& name) const {
        return QDBusConnection::connectToBus(m_address, name);
    }

    // Starts the front end and waits until it serves; false when it did not.
    bool StartFrontEnd() {
        m_frontEnd.setProcessEnvironment(Environment());
        m_frontEnd.start(QString::fromLatin1(kFrontEnd), {});
        return m_frontEnd.waitForStarted() &&
               WaitForName(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    // Starts a program of the desktop's own, which the front end expects to find on
    // the bus under busName; empty when it serves, otherwise what went wrong.
    QString StartDesktopProgram(const QString& program, const QString& busName) {
        QProcess& process = m_desktopPrograms.emplace_back();
        process.setProcessEnvironment(Environment());
        process.start(program, {});
        if (!process.waitForStarted())
            return QStringLiteral("the program %1 did not start (%2); scripts/install-deps "
                                  "installs it")
                .arg(program, process.errorString());
        if (!WaitForName(busName))
            return QStringLiteral("%1 did not take %2 on the bus").arg(program, busName);
        return {};
    }

private:
    // Qt programs draw nowhere and keep their runtime files in a folder of the test's.
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), m_desktop);
        environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"),
                           QString::fromUtf8(std::getenv("TESMARA_SOURCE_DIR")) +
                               QStringLiteral("/tests/app/portals"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir.path());
        return environment;
    }

    bool WaitForName(const QString& busName) const {
        QDBusConnection watcher = Connect(QStringLiteral("tesmara-client"));
        return QTest::qWaitFor([&] { return watcher.interface()->isServiceRegistered(busName); },
                               kPromptlyMs);
    }

    static void Stop(QProcess& process) {
        process.terminate();
        process.waitForFinished(3000);
    }

    QProcess m_daemon;
    std::list<QProcess> m_desktopPrograms;
    QProcess m_frontEnd;
    QString m_address;
    QString m_desktop;
    QTemporaryDir m_runtimeDir;
};

// Presses a shortcut as KDE's key daemon does when its key goes down, in every
// component that holds it: the portal makes one per session.
void PressInKGlobalAccel(const QDBusConnection& bus, const QString& shortcutId) {
    const QString daemon = QStringLiteral("org.kde.kglobalaccel");
    const QDBusReply<QList<QDBusObjectPath>> components = bus.call(QDBusMessage::createMethodCall(
        daemon, QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
        QStringLiteral("allComponents")));
    ASSERT_TRUE(components.isValid()) << components.error().message().toStdString();
    for (const QDBusObjectPath& component : components.value()) {
        QDBusMessage press = QDBusMessage::createMethodCall(
            daemon, component.path(), QStringLiteral("org.kde.kglobalaccel.Component"),
            QStringLiteral("invokeShortcut"));
        press << shortcutId;
        const QDBusMessage reply = bus.call(press);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }
}

class GlobalShortcutTest : public DialogTest {
protected:
    // The bus, the backend (when withBackend) and the front end, in the order the
    // front end needs them: it looks for its backends as it starts.
    void StartPortal(bool withBackend) {
        ASSERT_NO_FATAL_FAILURE(StartBus(QStringLiteral("tesmara-test")));
        if (withBackend) {
            backend = std::make_unique<ShortcutPortalBackend>(
                bus->Connect(QStringLiteral("tesmara-backend")));
            ASSERT_TRUE(backend->ok());
        }
        ASSERT_NO_FATAL_FAILURE(StartFrontEnd());
    }

    // KDE's backend binds shortcuts in kglobalaccel5, so that starts first.
    void StartKdePortal() {
        ASSERT_NO_FATAL_FAILURE(StartBus(QStringLiteral("KDE")));
        for (const auto& [program, busName] :
             {std::pair(QStringLiteral("kglobalaccel5"), QStringLiteral("org.kde.kglobalaccel")),
              std::pair(QStringLiteral("/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde"),
                        QStringLiteral("org.freedesktop.impl.portal.desktop.kde"))}) {
            const QString problem = bus->StartDesktopProgram(program, busName);
            ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        }
        ASSERT_NO_FATAL_FAILURE(StartFrontEnd());
    }

    void StartBus(const QString& desktop) {
        bus = std::make_unique<PortalBus>(desktop);
        ASSERT_FALSE(bus->address().isEmpty()) << "dbus-daemon did not start";
    }

    void StartFrontEnd() {
        ASSERT_TRUE(bus->StartFrontEnd()) << kFrontEnd << " did not start";
        shortcut = std::make_unique<GlobalShortcut>(bus->Connect(QStringLiteral("tesmara-client")));
    }

    void TearDown() override {
        shortcut.reset();
        backend.reset();
        bus.reset();
        DialogTest::TearDown();
    }

    std::unique_ptr<PortalBus> bus;
    std::unique_ptr<ShortcutPortalBackend> backend;
    std::unique_ptr<GlobalShortcut> shortcut;
};

TEST_F(GlobalShortcutTest, BindsStopOnF9StopsLikeF9AndBindsAgainInANewSession) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(true));
    QSignalSpy bound(shortcut.get(), &GlobalShortcut::bound);
    QSignalSpy activated(shortcut.get(), &GlobalShortcut::activated);

    for (int round = 1; round <= 2; ++round) {
        shortcut->Register();
        ASSERT_TRUE(QTest::qWaitFor([&] { return bound.size() == round; }, kPromptlyMs));
        backend->Press(QLatin1String(GlobalShortcut::kShortcutId));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return activated.size() == 2 * round - 1; }, kPromptlyMs));
        EXPECT_EQ(activated.last(),
                  (QList<QVariant>{HotKey::kIdentifier, 0u, HotKey::kVirtualKeyF9}));
        backend->Press(QLatin1String(GlobalShortcut::kPauseShortcutId));
        ASSERT_TRUE(QTest::qWaitFor([&] { return activated.size() == 2 * round; }, kPromptlyMs));
        EXPECT_EQ(activated.last(), (QList<QVariant>{HotKey::kIdentifier, HotKey::kModifierControl,
                                                     HotKey::kVirtualKeyF9}))
            << "the pause shortcut comes as Ctrl+F9";
        shortcut->Unregister();
        EXPECT_TRUE(QTest::qWaitFor([&] { return backend->openSessions() == 0; }, kPromptlyMs));
    }

    // Asked for in both calls, as Plasma 5.27 reads the first and others the second.
    ASSERT_EQ(backend->boundWith.size(), 2);
    for (const auto& asked : {backend->createdWith.first(), backend->boundWith.first()}) {
        ASSERT_EQ(asked.size(), 2);
        EXPECT_EQ(asked[1].id, QLatin1String(GlobalShortcut::kPauseShortcutId));
        EXPECT_EQ(asked[0].id, QLatin1String(GlobalShortcut::kShortcutId));
        EXPECT_EQ(asked[0].properties.value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("F9"));
        EXPECT_EQ(asked[0].properties.value(QStringLiteral("description")),
                  QStringLiteral("stop recording"));
    }
    // After the last Unregister a press reaches nobody.
    backend->Press(QLatin1String(GlobalShortcut::kShortcutId));
    ProcessEvents(300);
    EXPECT_EQ(activated.size(), 4);
}

TEST_F(GlobalShortcutTest, OnKdesBackendStopsLikeF9AndBindsAgainInANewSession) {
    ASSERT_NO_FATAL_FAILURE(StartKdePortal());
    const QDBusConnection client = bus->Connect(QStringLiteral("tesmara-client"));
    QSignalSpy bound(shortcut.get(), &GlobalShortcut::bound);
    QSignalSpy activated(shortcut.get(), &GlobalShortcut::activated);

    for (int round = 1; round <= 2; ++round) {
        shortcut->Register();
        ASSERT_TRUE(QTest::qWaitFor([&] { return bound.size() == round; }, kPromptlyMs));
        ASSERT_NO_FATAL_FAILURE(
            PressInKGlobalAccel(client, QLatin1String(GlobalShortcut::kShortcutId)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return activated.size() == round; }, kPromptlyMs));
        EXPECT_EQ(activated.last(),
                  (QList<QVariant>{HotKey::kIdentifier, 0u, HotKey::kVirtualKeyF9}));
        shortcut->Unregister();
    }
}

TEST_F(GlobalShortcutTest, WithoutABackendOrABusReportsUnavailable) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(false));
    QSignalSpy unavailable(shortcut.get(), &GlobalShortcut::unavailable);
    shortcut->Register();
    EXPECT_TRUE(QTest::qWaitFor([&] { return unavailable.size() == 1; }, kPromptlyMs));

    GlobalShortcut withoutBus(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent"), QStringLiteral("none")));
    QSignalSpy noBus(&withoutBus, &GlobalShortcut::unavailable);
    withoutBus.Register();
    EXPECT_TRUE(QTest::qWaitFor([&] { return noBus.size() == 1; }, kPromptlyMs));
    EXPECT_FALSE(withoutBus.IsBound());
}

} // namespace

namespace {

QString HelpLine(const CKestraboleDlg& dialog) {
    const auto& items = resources::MainDialogTemplate().items;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].text == QLatin1String(resources::kHelpLineText))
            return static_cast<QLabel*>(dialog.Controls()[i])->text();
    return {};
}

} // namespace

using DialogOnWayland = DialogTest;

TEST_F(DialogOnWayland, SaysOncePerRunThatTheTrayStopsAndThatPressesNeedTheInputGroup) {
    CKestraboleDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const QString original = HelpLine(dialog);
    ASSERT_TRUE(original.contains(QLatin1String("press F9")));

    for (int start = 0; start < 2; ++start) {
        dialog.OnStopShortcutUnavailable();
        EXPECT_EQ(dialog.OnNoPressDevices(), 0);
        ProcessEvents();
        EXPECT_EQ(m_messages.size(), start) << "said when the dialog comes back";
        dialog.OnHotKey(0, 0, HotKey::kVirtualKeyF9);
        ProcessEvents();
    }
    EXPECT_FALSE(HelpLine(dialog).contains(QLatin1String("press F9")));
    EXPECT_TRUE(HelpLine(dialog).contains(QLatin1String("system tray")));
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains(QLatin1String("\"input\" group")));
}
