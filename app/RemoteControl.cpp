#include "app/RemoteControl.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

RemoteControl::RemoteControl(RecordingSession& session, Actions actions, QObject* parent)
    : QObject(parent), m_session(session), m_actions(std::move(actions)) {
    connect(&m_session, &RecordingSession::stateChanged, this,
            [this](SessionState state) { emit StateChanged(StateName(state)); });
}

bool RemoteControl::Publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties))
        return false;
    if (bus.registerService(QString::fromLatin1(kServiceName)))
        return true;
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    return false;
}

QString RemoteControl::StateName(SessionState state) {
    switch (state) {
    case SessionState::Recording:
        return QStringLiteral("recording");
    case SessionState::Paused:
        return QStringLiteral("paused");
    case SessionState::Idle:
        break;
    }
    return QStringLiteral("idle");
}

QString RemoteControl::State() const {
    return StateName(m_session.State());
}

void RemoteControl::Start(const QString& output, uint stopAfterSeconds, const QString& area) {
    if (m_session.State() != SessionState::Idle) {
        Refuse(QStringLiteral("A recording is already running."));
        return;
    }
    if (!m_actions.start(output, stopAfterSeconds, area))
        Refuse(QStringLiteral("The recording did not start; the recorder's window says why."));
}

void RemoteControl::Stop() {
    if (m_session.State() == SessionState::Idle) {
        Refuse(QStringLiteral("Nothing is being recorded."));
        return;
    }
    m_actions.stop();
}

void RemoteControl::Pause() {
    if (m_session.State() != SessionState::Recording) {
        Refuse(QStringLiteral("No recording is running to pause."));
        return;
    }
    m_session.Pause();
}

void RemoteControl::Resume() {
    if (m_session.State() != SessionState::Paused) {
        Refuse(QStringLiteral("No recording is paused."));
        return;
    }
    m_session.Resume();
}

void RemoteControl::Refuse(const QString& why) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::Failed, why);
}
