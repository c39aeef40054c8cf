#pragma once

#include "recorder/capture/CaptureBackend.h"

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <cstdint>
#include <functional>

class QEventLoop;

// What the portal's picker offers to share: its source-type bits.
enum class CastSourceType : uint { Monitor = 1, Window = 2 };

// Asks the portal, without waiting, which source types it can share; answer
// gets their bits, 0 when no portal answers. Not called once context is gone.
void AskCastSourceTypes(QObject* context, std::function<void(uint)> answer);

// A screen-cast session with the desktop portal over the session bus: one
// monitor or one window, the cursor as metadata where offered (else drawn in by
// the compositor), kept permission (a restore token) so the choice is asked once.
// Every wait for an answer runs a local event loop, so the program's windows
// keep working while the portal or its picker is busy.
class ScreenCastPortal : public QObject {
    Q_OBJECT
public:
    struct Grant {
        int remoteFd = -1; // PipeWire remote, owned by the receiver
        uint32_t node = 0;
        QString restoreToken; // empty when the portal gave none
        bool cursorAsMetadata = false;
    };

    ScreenCastPortal();
    ~ScreenCastPortal() override;

    CaptureFailure Open(CastSourceType type, const QString& restoreToken, Grant& grant);
    // Ends the session; safe to repeat.
    void Close();
    // Makes a running Open return Abandoned at its next answer.
    void Abandon();
    // The portal ended the session (revoked, or its back end went away).
    bool closedByPortal() const { return m_closedByPortal; }

private slots:
    void OnResponse(uint code, const QVariantMap& results);
    void OnSessionClosed();

private:
    CaptureFailure Check(CastSourceType type, bool& cursorAsMetadata);
    CaptureFailure Request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                           QVariantMap& results);
    QDBusMessage CallAndWait(const QDBusMessage& call);
    bool Wait(int milliseconds);

    QString m_session;
    QEventLoop* m_waiting = nullptr;
    bool m_answered = false;
    bool m_abandoned = false;
    std::atomic<bool> m_closedByPortal{false};
    uint m_responseCode = 0;
    QVariantMap m_responseResults;
};
