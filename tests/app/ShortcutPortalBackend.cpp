#include "tests/app/ShortcutPortalBackend.h"

#include <QDBusMetaType>
#include <QDateTime>

// The backend's side of one portal session: the front end closes it here.
class ShortcutPortalSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.Session")
public:
    ShortcutPortalSession(ShortcutPortalBackend& backend, QString path)
        : QObject(&backend), m_backend(backend), m_path(std::move(path)) {}

public slots:
    void Close() {
        m_backend.Forget(m_path);
        deleteLater();
    }

signals:
    void Closed();

private:
    ShortcutPortalBackend& m_backend;
    QString m_path;
};

namespace {

const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");

PortalShortcutList ShortcutsOf(const QVariantMap& options) {
    const QVariant value = options.value(QStringLiteral("shortcuts"));
    return qdbus_cast<PortalShortcutList>(value);
}

} // namespace

ShortcutPortalBackend::ShortcutPortalBackend(QDBusConnection bus) : m_bus(std::move(bus)) {
    RegisterPortalShortcutTypes();
    m_ok =
        m_bus.registerObject(kObjectPath, this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                 QDBusConnection::ExportAllProperties) &&
        m_bus.registerService(QLatin1String(kServiceName));
}

void ShortcutPortalBackend::Press(const QString& shortcutId) {
    const auto now = static_cast<qulonglong>(QDateTime::currentMSecsSinceEpoch());
    for (const QString& session : m_sessions.keys()) {
        emit Activated(QDBusObjectPath(session), shortcutId, now, {});
        emit Deactivated(QDBusObjectPath(session), shortcutId, now, {});
    }
}

uint ShortcutPortalBackend::CreateSession(const QDBusObjectPath&, const QDBusObjectPath& session,
                                          const QString&, const QVariantMap& options,
                                          QVariantMap& results) {
    auto* object = new ShortcutPortalSession(*this, session.path());
    m_bus.registerObject(session.path(), object, QDBusConnection::ExportAllSlots);
    m_sessions.insert(session.path(), {});
    createdWith.append(ShortcutsOf(options));
    results.insert(QStringLiteral("session_handle"), session.path());
    return 0;
}

uint ShortcutPortalBackend::BindShortcuts(const QDBusObjectPath&, const QDBusObjectPath& session,
                                          const PortalShortcutList& shortcuts, const QString&,
                                          const QVariantMap&, QVariantMap& results) {
    PortalShortcutList granted;
    for (const PortalShortcut& shortcut : shortcuts) {
        QVariantMap properties = shortcut.properties;
        properties.insert(QStringLiteral("trigger_description"),
                          shortcut.properties.value(QStringLiteral("preferred_trigger")));
        granted.append({shortcut.id, properties});
    }
    m_sessions[session.path()] = granted;
    boundWith.append(shortcuts);
    results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(granted));
    return 0;
}

uint ShortcutPortalBackend::ListShortcuts(const QDBusObjectPath&, const QDBusObjectPath& session,
                                          QVariantMap& results) {
    results.insert(QStringLiteral("shortcuts"),
                   QVariant::fromValue(m_sessions.value(session.path())));
    return 0;
}

void ShortcutPortalBackend::Forget(const QString& session) {
    m_bus.unregisterObject(session);
    m_sessions.remove(session);
}

#include "ShortcutPortalBackend.moc"
