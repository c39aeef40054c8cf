// The Wayland stop key against the real xdg-desktop-portal front end on a private
// session bus, with a GlobalShortcuts backend of the tests' own behind it; and what
// the dialog tells where that key or the input devices are missing.

#include "tests/app/DialogTestSupport.h"

#include "app/GlobalShortcut.h"
#include "app/HotKey.h"
#include "app/KestraboleDlg.h"
#include "app/Resources.h"
#include "tests/app/ShortcutPortalBackend.h"

#include <QDBusConnectionInterface>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
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
        for (QProcess* process : {&m_frontEnd, &m_daemon}) {
            process->terminate();
            process->waitForFinished(3000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("tesmara-backend"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tesmara-client"));
    }

    const QString& address() const { return m_address; }
    QDBusConnection Connect(const QString& name) const {
        return QDBusConnection::connectToBus(m_address, name);
    }

    // Starts the front end and waits until it serves; false when it did not.
    bool StartFrontEnd() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), m_desktop);
        environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"),
                           QString::fromUtf8(std::getenv("TESMARA_SOURCE_DIR")) +
                               QStringLiteral("/tests/app/portals"));
        m_frontEnd.setProcessEnvironment(environment);
        m_frontEnd.start(QString::fromLatin1(kFrontEnd), {});
        if (!m_frontEnd.waitForStarted())
            return false;
        QDBusConnection watcher = Connect(QStringLiteral("tesmara-client"));
        return QTest::qWaitFor(
            [&watcher] {
                return watcher.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            kPromptlyMs);
    }

private:
    QProcess m_daemon;
    QProcess m_frontEnd;
    QString m_address;
    QString m_desktop;
};

class GlobalShortcutTest : public DialogTest {
protected:
    // The bus, the backend (when withBackend) and the front end, in the order the
    // front end needs them: it looks for its backends as it starts.
    void StartPortal(bool withBackend) {
        bus = std::make_unique<PortalBus>(QStringLiteral("tesmara-test"));
        ASSERT_FALSE(bus->address().isEmpty()) << "dbus-daemon did not start";
        if (withBackend) {
            backend = std::make_unique<ShortcutPortalBackend>(
                bus->Connect(QStringLiteral("tesmara-backend")));
            ASSERT_TRUE(backend->ok());
        }
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return activated.size() == round; }, kPromptlyMs));
        EXPECT_EQ(activated.last(),
                  (QList<QVariant>{HotKey::kIdentifier, 0u, HotKey::kVirtualKeyF9}));
        shortcut->Unregister();
        EXPECT_TRUE(QTest::qWaitFor([&] { return backend->openSessions() == 0; }, kPromptlyMs));
    }

    // Asked for in both calls, as Plasma 5.27 reads the first and others the second.
    ASSERT_EQ(backend->boundWith.size(), 2);
    for (const auto& asked : {backend->createdWith.first(), backend->boundWith.first()}) {
        ASSERT_EQ(asked.size(), 1);
        EXPECT_EQ(asked[0].id, QLatin1String(GlobalShortcut::kShortcutId));
        EXPECT_EQ(asked[0].properties.value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("F9"));
        EXPECT_EQ(asked[0].properties.value(QStringLiteral("description")),
                  QStringLiteral("stop recording"));
    }
    // After the last Unregister a press reaches nobody.
    backend->Press(QLatin1String(GlobalShortcut::kShortcutId));
    ProcessEvents(300);
    EXPECT_EQ(activated.size(), 2);
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
