#pragma once

#include "session/GlobalShortcut.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A desktop's GlobalShortcuts backend for the real xdg-desktop-portal front end to
// talk to: it binds every shortcut asked for to its preferred trigger and fires one
// when a test presses it. Served on its own bus connection from this process, under
// the name that tests/app/portals/tesmara-test.portal gives.
class ShortcutPortalBackend : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    static constexpr const char* kServiceName = "org.freedesktop.impl.portal.desktop.tesmaratest";

    // False from ok() when the name or the object could not be taken.
    explicit ShortcutPortalBackend(QDBusConnection bus);
    bool ok() const { return m_ok; }
    uint version() const { return 1; }

    // Fires shortcutId in every open session, as its key would.
    void Press(const QString& shortcutId);

    int openSessions() const { return static_cast<int>(m_sessions.size()); }
    // What each session asked for, in the order the calls came.
    QList<PortalShortcutList> createdWith;
    QList<PortalShortcutList> boundWith;

public slots:
    uint CreateSession(const QDBusObjectPath& handle, const QDBusObjectPath& session,
                       const QString& appId, const QVariantMap& options, QVariantMap& results);
    uint BindShortcuts(const QDBusObjectPath& handle, const QDBusObjectPath& session,
                       const PortalShortcutList& shortcuts, const QString& parentWindow,
                       const QVariantMap& options, QVariantMap& results);
    uint ListShortcuts(const QDBusObjectPath& handle, const QDBusObjectPath& session,
                       QVariantMap& results);

signals:
    void Activated(const QDBusObjectPath& session, const QString& shortcutId, qulonglong timestamp,
                   const QVariantMap& options);
    void Deactivated(const QDBusObjectPath& session, const QString& shortcutId,
                     qulonglong timestamp, const QVariantMap& options);

private:
    friend class ShortcutPortalSession;
    void Forget(const QString& session);

    QDBusConnection m_bus;
    bool m_ok = false;
    QMap<QString, PortalShortcutList> m_sessions;
};
