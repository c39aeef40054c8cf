#include "app/TrayIcon.h"

#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace {

// The tooltip has always read this way; users and their scripts know it so.
const char* const kToolTip = "Tesmara Screen Recorde";

QString ToolTipWith(const QString& state) {
    return QString::fromLatin1(kToolTip) + QStringLiteral(" - ") + state;
}

// "1:05", or "1:02:05" past an hour.
QString ClockText(uint32_t milliseconds) {
    const uint32_t seconds = milliseconds / 1000;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2").arg(seconds / 60 % 60).arg(seconds % 60, 2, 10, QChar(u'0'));
    if (seconds < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2")
        .arg(seconds / 3600)
        .arg(minutesAndSeconds.rightJustified(5, u'0'));
}

// Two bars on a dark disc in the lower right quarter of each of the icon's sizes.
QIcon WithPauseMark(const QIcon& icon) {
    QIcon marked;
    for (const QSize& size : icon.availableSizes()) {
        QPixmap pixmap = icon.pixmap(size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF disc(size.width() * 0.45, size.height() * 0.45, size.width() * 0.55,
                          size.height() * 0.55);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 40, 40));
        painter.drawEllipse(disc);
        painter.setBrush(Qt::white);
        const qreal barWidth = disc.width() * 0.18;
        const qreal barHeight = disc.height() * 0.5;
        const qreal top = disc.center().y() - barHeight / 2;
        painter.drawRect(QRectF(disc.center().x() - barWidth * 1.5, top, barWidth, barHeight));
        painter.drawRect(QRectF(disc.center().x() + barWidth * 0.5, top, barWidth, barHeight));
        painter.end();
        marked.addPixmap(pixmap);
    }
    return marked;
}

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
    m_picture = icon;
    m_pausedPicture = WithPauseMark(icon);
    m_icon->setIcon(icon);
    m_icon->setToolTip(QString::fromLatin1(kToolTip));
    BuildMenu();
}

// Queued, as the presses are: the receiver usually removes the icon.
void TrayIcon::BuildMenu() {
    m_menu = std::make_unique<QMenu>();
    m_pauseAction = m_menu->addAction(tr("Pause recording"));
    connect(m_pauseAction, &QAction::triggered, this, &TrayIcon::pauseToggleChosen,
            Qt::QueuedConnection);
    connect(m_menu->addAction(tr("Stop recording")), &QAction::triggered, this,
            &TrayIcon::stopChosen, Qt::QueuedConnection);
    m_icon->setContextMenu(m_menu.get());
}

void TrayIcon::Add() {
    m_icon->show();
}

void TrayIcon::ShowNotRecording() {
    ShowPaused(false);
    m_icon->setToolTip(QString::fromLatin1(kToolTip));
}

void TrayIcon::ShowRecordedTime(uint32_t milliseconds) {
    m_icon->setToolTip(ToolTipWith(ClockText(milliseconds)));
}

void TrayIcon::ShowPaused(bool paused) {
    m_icon->setIcon(paused ? m_pausedPicture : m_picture);
    if (m_pauseAction)
        m_pauseAction->setText(paused ? tr("Resume recording") : tr("Pause recording"));
    if (paused)
        m_icon->setToolTip(ToolTipWith(tr("Paused")));
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

QIcon TrayIcon::Picture() const {
    return m_icon->icon();
}

QStringList TrayIcon::MenuEntries() const {
    QStringList entries;
    if (m_menu)
        for (const QAction* action : m_menu->actions())
            entries << action->text();
    return entries;
}
