#include "session/GlobalShortcut.h"

#include "recorder/capture/DesktopPortal.h"
#include "session/HotKey.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <cstdio>

namespace {

using namespace desktopportal;

const QString kShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

PortalShortcutList StopShortcut() {
    return {PortalShortcut{GlobalShortcut::kShortcutId,
                           {{QStringLiteral("description"), QStringLiteral("stop recording")},
                            {QStringLiteral("preferred_trigger"), QStringLiteral("F9")}}},
            PortalShortcut{GlobalShortcut::kPauseShortcutId,
                           {{QStringLiteral("description"), QStringLiteral("pause recording")},
                            {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+F9")}}}};
}

// The modifiers HotKey reports with F9 for a shortcut; nothing for one not ours.
std::optional<unsigned> ModifiersOf(const QString& shortcut) {
    if (shortcut == QLatin1String(GlobalShortcut::kShortcutId))
        return 0u;
    if (shortcut == QLatin1String(GlobalShortcut::kPauseShortcutId))
        return HotKey::kModifierControl;
    return std::nullopt;
}

// A string as the portal's documentation has it; some versions send an object path.
QString SessionHandleOf(const QVariantMap& results) {
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.userType() == qMetaTypeId<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void RegisterPortalShortcutTypes() {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
}

GlobalShortcut::GlobalShortcut(QObject* parent) : QObject(parent) {}

GlobalShortcut::GlobalShortcut(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

// Responses come on a request object of their own per call; the path tells which.
QDBusConnection& GlobalShortcut::Bus() {
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_listening && m_bus->isConnected()) {
        RegisterPortalShortcutTypes();
        m_listening =
            Listen(kRequest, QStringLiteral("Response"), SLOT(onResponse(QDBusMessage))) &&
            Listen(kShortcutsInterface, QStringLiteral("Activated"),
                   SLOT(onActivated(QDBusMessage)));
    }
    return *m_bus;
}

// Both slots take the whole message: QtDBus refuses, without a word, a slot whose
// arguments name a type it has not met yet in this process (QDBusObjectPath before
// any path was received), and the stop key would then never be heard.
bool GlobalShortcut::Listen(const QString& interface, const QString& signal, const char* slot) {
    const QString path = interface == kRequest ? QString() : kObject;
    if (m_bus->connect(kService, path, interface, signal, this, slot))
        return true;
    std::fprintf(stderr, "%s: cannot listen to the desktop portal's %s.%s signal: %s\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(interface),
                 qPrintable(signal), qPrintable(m_bus->lastError().message()));
    return false;
}

GlobalShortcut::~GlobalShortcut() {
    Unregister();
}

void GlobalShortcut::Register() {
    Unregister();
    ++m_generation;
    if (!Bus().isConnected() || !*m_listening) {
        Fail();
        return;
    }
    m_state = State::Creating;
    const QString token = NextToken();
    m_request = IssueRequest(token);
    // Plasma 5.27 binds the shortcuts given here and ignores the list of BindShortcuts.
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("session_handle_token"), token},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(StopShortcut())}};
    Call(QStringLiteral("CreateSession"), {options});
}

void GlobalShortcut::Unregister() {
    ++m_generation;
    if (!m_session.isEmpty())
        CloseSession(m_session);
    m_session.clear();
    m_request.clear();
    m_state = State::Idle;
}

// The portal names each request's object after the caller and a token of its choice,
// so the response can be awaited before the call goes out.
QString GlobalShortcut::NextToken() {
    return QStringLiteral("tesmara%1").arg(++m_tokens);
}

// Every request this object made is remembered until its response: the Response
// signal is heard for the whole program, and the screen cast's requests are not ours.
QString GlobalShortcut::IssueRequest(const QString& token) {
    const QString path = RequestPath(*m_bus, token);
    m_issued.insert(path);
    return path;
}

// A call the portal refuses (no such interface: no backend offers it) ends the
// registration.
void GlobalShortcut::Call(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kObject, kShortcutsInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation = m_generation] {
                watcher->deleteLater();
                if (watcher->isError() && generation == m_generation)
                    Fail();
            });
}

void GlobalShortcut::onResponse(const QDBusMessage& response) {
    const QList<QVariant> arguments = response.arguments();
    if (arguments.size() < 2)
        return;
    const uint code = arguments[0].toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments[1]);
    const QString session = SessionHandleOf(results);
    if (!m_issued.remove(response.path()))
        return;
    if (response.path() != m_request) {
        // A session created for a registration that has been given up meanwhile.
        if (code == 0 && !session.isEmpty())
            CloseSession(session);
        return;
    }
    m_request.clear();
    if (code != 0 || (m_state == State::Creating && session.isEmpty())) {
        Fail();
        return;
    }
    if (m_state == State::Creating) {
        m_session = session;
        BindShortcuts();
    } else if (m_state == State::Binding) {
        m_state = State::Bound;
        emit bound();
    }
}

void GlobalShortcut::BindShortcuts() {
    m_state = State::Binding;
    const QString token = NextToken();
    m_request = IssueRequest(token);
    const QVariantMap options{{QStringLiteral("handle_token"), token}};
    Call(QStringLiteral("BindShortcuts"),
         {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(StopShortcut()),
          QString(), options});
}

// Delivered from the event loop, as HotKey does: the receiver usually unregisters.
void GlobalShortcut::onActivated(const QDBusMessage& activation) {
    const QList<QVariant> arguments = activation.arguments();
    if (arguments.size() < 2 || m_state != State::Bound ||
        arguments[0].value<QDBusObjectPath>().path() != m_session)
        return;
    const std::optional<unsigned> modifiers = ModifiersOf(arguments[1].toString());
    if (!modifiers)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation, modifiers = *modifiers] {
            if (IsBound() && generation == m_generation)
                emit activated(HotKey::kIdentifier, modifiers, HotKey::kVirtualKeyF9);
        },
        Qt::QueuedConnection);
}

// Reported from the event loop even when the bus is missing altogether, so that a
// receiver never hears of it from inside its own Register call.
void GlobalShortcut::Fail() {
    Unregister();
    QMetaObject::invokeMethod(this, &GlobalShortcut::unavailable, Qt::QueuedConnection);
}

void GlobalShortcut::CloseSession(const QString& session) {
    m_bus->asyncCall(
        QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")));
}
