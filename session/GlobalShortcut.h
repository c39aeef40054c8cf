#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <optional>

// One shortcut as the desktop portal's GlobalShortcuts interface lists them: an id
// and its properties (description, preferred_trigger, trigger_description).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;
Q_DECLARE_METATYPE(PortalShortcut)
Q_DECLARE_METATYPE(PortalShortcutList)
class QDBusArgument;
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// The recording's keys on a Wayland desktop, where no client may grab a key for
// itself: the desktop portal's GlobalShortcuts interface binds two shortcuts, "stop
// recording" asking for F9 and "pause recording" asking for Ctrl+F9 (the desktop
// may let the user pick other keys). Their activations are reported as HotKey
// reports F9 and Ctrl+F9. Everything goes through the session
// bus without blocking the event loop: the outcome of a registration comes later, as
// bound() or, where no portal backend offers global shortcuts, unavailable().
class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kShortcutId = "stop-recording";
    static constexpr const char* kPauseShortcutId = "pause-recording";

    // On the session bus, which is first reached at the first Register.
    explicit GlobalShortcut(QObject* parent = nullptr);
    explicit GlobalShortcut(QDBusConnection bus, QObject* parent = nullptr);
    ~GlobalShortcut() override;

    // Binds the shortcut in a portal session of its own; a registered one is closed
    // first.
    void Register();
    // Closes the session; activations still on their way are dropped. Safe to repeat.
    void Unregister();

    bool IsBound() const { return m_state == State::Bound; }

signals:
    // identifier, modifier keys and virtual key, as HotKey reports F9.
    void activated(unsigned identifier, unsigned modifiers, unsigned virtualKey);
    void bound();
    void unavailable();

private slots:
    void onResponse(const QDBusMessage& response);
    void onActivated(const QDBusMessage& activation);

private:
    enum class State { Idle, Creating, Binding, Bound };

    QDBusConnection& Bus();
    // Subscribes slot to the portal's signal; false, said on the standard error,
    // when the bus refused.
    bool Listen(const QString& interface, const QString& signal, const char* slot);
    QString NextToken();
    QString IssueRequest(const QString& token);
    void Call(const QString& method, const QVariantList& arguments);
    void BindShortcuts();
    void Fail();
    void CloseSession(const QString& session);

    std::optional<QDBusConnection> m_bus;
    std::optional<bool> m_listening; // whether the portal's signals reach us, once asked
    State m_state = State::Idle;
    unsigned m_generation = 0;
    unsigned m_tokens = 0;
    QString m_request;      // the portal request whose response is awaited
    QSet<QString> m_issued; // every request made and not yet answered
    QString m_session;
};

// The shortcut list's D-Bus form, a(sa{sv}); registered once before first use.
void RegisterPortalShortcutTypes();
