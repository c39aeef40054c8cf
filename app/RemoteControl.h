#pragma once

#include "session/RecordingSession.h"

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>

// The running program's side of the command line: an object on the session bus,
// under a well-known name, through which another process starts, stops, pauses
// and resumes the recording and reads its state. Starting and stopping go
// through the dialog, so that they behave as its button and F9 do.
class RemoteControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.tesmara.ScreenRecorder")
    Q_PROPERTY(QString State READ State NOTIFY StateChanged)
public:
    static constexpr const char* kServiceName = "example.tesmara.ScreenRecorder";
    static constexpr const char* kObjectPath = "/example/tesmara/ScreenRecorder";
    static constexpr const char* kInterface = "example.tesmara.ScreenRecorder";

    struct Actions {
        // Starts a recording to output (empty: the dialog's path) that stops after
        // that many seconds (0: as the dialog says), of area ("primary", "all",
        // "monitor:NAME", "region:X,Y,WxH"; empty: as the dialog says); false when
        // none began.
        std::function<bool(const QString& output, unsigned stopAfterSeconds, const QString& area)>
            start;
        std::function<void()> stop;
    };

    RemoteControl(RecordingSession& session, Actions actions, QObject* parent = nullptr);

    // Puts the object on the session bus and takes the name; false when there is
    // no bus or another recorder holds the name.
    bool Publish();

    // "idle", "recording" or "paused".
    QString State() const;
    static QString StateName(SessionState state);

public slots:
    void Start(const QString& output, uint stopAfterSeconds, const QString& area);
    void Stop();
    void Pause();
    void Resume();

signals:
    void StateChanged(const QString& state);

private:
    // Answers the caller with an error.
    void Refuse(const QString& why);

    RecordingSession& m_session;
    Actions m_actions;
};
