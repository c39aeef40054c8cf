#include "recorder/capture/ScreenCastPortal.h"

#include "recorder/capture/DesktopPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <unistd.h>

namespace {

using namespace desktopportal;

const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

constexpr uint kCursorEmbedded = 2;
constexpr uint kCursorMetadata = 4;
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kResponseCancelled = 1;
// The picker may wait for a person; the calls themselves answer at once.
constexpr int kAnswerTimeout = 180000;
constexpr int kCallTimeout = 25000;

QDBusConnection Bus() {
    return QDBusConnection::sessionBus();
}

bool PortalMissing(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn"));
}

uint PropertyValue(const QDBusMessage& reply) {
    return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

// A session's or request's object is named by the token: a session just closed
// may still be there while the next one opens, so no token is used twice.
QString UniqueToken() {
    static std::atomic<unsigned> count{0};
    return QStringLiteral("tesmara%1_%2").arg(getpid()).arg(++count);
}

QDBusMessage PropertyCall(const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << kScreenCast << name;
    return call;
}

// The first stream's PipeWire node; 0 when the answer names none.
uint32_t FirstStreamNode(const QVariantMap& results) {
    const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
    uint32_t node = 0;
    streams.beginArray();
    if (!streams.atEnd()) {
        QVariantMap properties;
        streams.beginStructure();
        streams >> node >> properties;
        streams.endStructure();
    }
    return node;
}

} // namespace

void AskCastSourceTypes(QObject* context, std::function<void(uint)> answer) {
    auto* watcher = new QDBusPendingCallWatcher(
        Bus().asyncCall(PropertyCall(QStringLiteral("AvailableSourceTypes")), kCallTimeout),
        context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, answer = std::move(answer)] {
                         const QDBusMessage reply = watcher->reply();
                         answer(reply.type() == QDBusMessage::ReplyMessage ? PropertyValue(reply)
                                                                           : 0);
                         watcher->deleteLater();
                     });
}

ScreenCastPortal::ScreenCastPortal() = default;

ScreenCastPortal::~ScreenCastPortal() {
    Close();
}

CaptureFailure ScreenCastPortal::Open(CastSourceType type, const QString& restoreToken,
                                      Grant& grant) {
    Close();
    m_abandoned = m_closedByPortal = false;
    if (!Bus().isConnected())
        return CaptureFailure::NoPortal;
    CaptureFailure failure = Check(type, grant.cursorAsMetadata);
    if (failure != CaptureFailure::NoFailure)
        return failure;

    QVariantMap results;
    const QString sessionToken = UniqueToken();
    failure = Request(QStringLiteral("CreateSession"), {},
                      {{QStringLiteral("session_handle_token"), sessionToken}}, results);
    if (failure != CaptureFailure::NoFailure)
        return failure;
    m_session = results.value(QStringLiteral("session_handle")).toString();
    Bus().connect(kService, m_session, kSession, QStringLiteral("Closed"), this,
                  SLOT(OnSessionClosed()));

    QVariantMap sources{
        {QStringLiteral("types"), uint(type)},
        {QStringLiteral("multiple"), false},
        {QStringLiteral("cursor_mode"), grant.cursorAsMetadata ? kCursorMetadata : kCursorEmbedded},
        {QStringLiteral("persist_mode"), kPersistUntilRevoked},
    };
    if (!restoreToken.isEmpty())
        sources.insert(QStringLiteral("restore_token"), restoreToken);
    const QDBusObjectPath session(m_session);
    failure =
        Request(QStringLiteral("SelectSources"), {QVariant::fromValue(session)}, sources, results);
    if (failure == CaptureFailure::NoFailure)
        failure = Request(QStringLiteral("Start"), {QVariant::fromValue(session), QString()}, {},
                          results);
    if (failure != CaptureFailure::NoFailure)
        return failure;
    grant.node = FirstStreamNode(results);
    grant.restoreToken = results.value(QStringLiteral("restore_token")).toString();
    if (grant.node == 0)
        return CaptureFailure::PortalRefused;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kScreenCast,
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(session) << QVariantMap();
    const QDBusMessage reply = CallAndWait(call);
    if (m_abandoned)
        return CaptureFailure::Abandoned;
    const auto remote = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (reply.type() != QDBusMessage::ReplyMessage || !remote.isValid())
        return CaptureFailure::StreamFailed;
    grant.remoteFd = dup(remote.fileDescriptor());
    return grant.remoteFd >= 0 ? CaptureFailure::NoFailure : CaptureFailure::StreamFailed;
}

// Asks for the interface's version of the truth: can it share that kind of
// source, and can it hand the cursor over as metadata.
CaptureFailure ScreenCastPortal::Check(CastSourceType type, bool& cursorAsMetadata) {
    const QDBusMessage sources = CallAndWait(PropertyCall(QStringLiteral("AvailableSourceTypes")));
    if (m_abandoned)
        return CaptureFailure::Abandoned;
    if (PortalMissing(sources))
        return CaptureFailure::NoPortal;
    const uint types = sources.type() == QDBusMessage::ReplyMessage ? PropertyValue(sources) : 0;
    if ((types & uint(CastSourceType::Monitor)) == 0)
        return CaptureFailure::NoScreenCast;
    if ((types & uint(type)) == 0)
        return CaptureFailure::NoWindowCast;
    const QDBusMessage cursors = CallAndWait(PropertyCall(QStringLiteral("AvailableCursorModes")));
    cursorAsMetadata = cursors.type() == QDBusMessage::ReplyMessage &&
                       (PropertyValue(cursors) & kCursorMetadata) != 0;
    return m_abandoned ? CaptureFailure::Abandoned : CaptureFailure::NoFailure;
}

// One portal request: subscribe to its answer first, then call, then wait.
CaptureFailure ScreenCastPortal::Request(const QString& method, QList<QVariant> arguments,
                                         QVariantMap options, QVariantMap& results) {
    const QString token = UniqueToken();
    const QString path = RequestPath(Bus(), token);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    Bus().connect(kService, path, kRequest, QStringLiteral("Response"), this,
                  SLOT(OnResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kScreenCast, method);
    call.setArguments(arguments);
    m_answered = false;
    const QDBusMessage reply = CallAndWait(call);
    const bool answered = reply.type() == QDBusMessage::ReplyMessage && Wait(kAnswerTimeout);
    Bus().disconnect(kService, path, kRequest, QStringLiteral("Response"), this,
                     SLOT(OnResponse(uint, QVariantMap)));
    if (m_abandoned)
        return CaptureFailure::Abandoned;
    if (!answered)
        return PortalMissing(reply) ? CaptureFailure::NoPortal : CaptureFailure::PortalRefused;
    if (m_responseCode == kResponseCancelled)
        return CaptureFailure::Cancelled;
    if (m_responseCode != 0)
        return CaptureFailure::PortalRefused;
    results = m_responseResults;
    return CaptureFailure::NoFailure;
}

QDBusMessage ScreenCastPortal::CallAndWait(const QDBusMessage& call) {
    QDBusPendingCallWatcher watcher(Bus().asyncCall(call, kCallTimeout));
    QEventLoop loop;
    connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished()) {
        m_waiting = &loop;
        loop.exec();
        m_waiting = nullptr;
    }
    return watcher.reply();
}

bool ScreenCastPortal::Wait(int milliseconds) {
    if (m_answered || m_abandoned)
        return m_answered;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    loop.exec();
    m_waiting = nullptr;
    return m_answered;
}

void ScreenCastPortal::OnResponse(uint code, const QVariantMap& results) {
    m_answered = true;
    m_responseCode = code;
    m_responseResults = results;
    if (m_waiting)
        m_waiting->quit();
}

void ScreenCastPortal::OnSessionClosed() {
    m_closedByPortal = true;
}

void ScreenCastPortal::Abandon() {
    m_abandoned = true;
    if (m_waiting)
        m_waiting->quit();
}

void ScreenCastPortal::Close() {
    if (m_session.isEmpty())
        return;
    Bus().disconnect(kService, m_session, kSession, QStringLiteral("Closed"), this,
                     SLOT(OnSessionClosed()));
    Bus().asyncCall(
        QDBusMessage::createMethodCall(kService, m_session, kSession, QStringLiteral("Close")));
    m_session.clear();
}
