#pragma once

#include <QDBusConnection>
#include <QString>

// The desktop portal's names on the session bus, shared by the screen cast and
// the stop key's global shortcut.
namespace desktopportal {

inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
inline const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// Where the portal puts the request object of a call made with this token: the
// caller's unique name without its colon, dots as underscores, then the token.
inline QString RequestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kObject + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

} // namespace desktopportal
