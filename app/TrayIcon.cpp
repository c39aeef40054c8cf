#include "app/TrayIcon.h"

#include <QSystemTrayIcon>

namespace {

// The tooltip has always read this way; users and their scripts know it so.
const char* const kToolTip = "Tesmara Screen Recorde";

unsigned mouseMessageOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayIcon::kLeftButtonDown;
    case QSystemTrayIcon::DoubleClick:
        return TrayIcon::kLeftButtonDoubleClick;
    case QSystemTrayIcon::Context:
        return TrayIcon::kRightButtonDown;
    default:
        return TrayIcon::kMiddleButtonDown;
    }
}

} // namespace

// Queued: the receiver usually removes the icon, and the tray's own widget must not
// be destroyed under its mouse handler that reports the press.
TrayIcon::TrayIcon(QObject* parent) : QObject(parent), m_icon(std::make_unique<QSystemTrayIcon>()) {
    connect(
        m_icon.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            emit notify(kCallbackMessage, mouseMessageOf(reason));
        },
        Qt::QueuedConnection);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Prepare(const QIcon& icon) {
    m_icon->setIcon(icon);
    m_icon->setToolTip(QString::fromLatin1(kToolTip));
}

void TrayIcon::Add() {
    m_icon->show();
}

void TrayIcon::Delete() {
    m_icon->hide();
}

bool TrayIcon::IsAdded() const {
    return m_icon->isVisible();
}

bool TrayIcon::HostRunning() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QString TrayIcon::ToolTip() const {
    return m_icon->toolTip();
}
