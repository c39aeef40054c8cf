#include "app/RemoteCommand.h"

#include "app/RemoteControl.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

namespace {

using Command = RemoteRequest::Command;

const QString kConnectionName = QStringLiteral("tesmara-command");

// The connection ends with the command, before the application object does, so
// that a --start that finds no recorder can go on to become one.
class CommandConnection {
public:
    CommandConnection()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName)) {}
    ~CommandConnection() { QDBusConnection::disconnectFromBus(kConnectionName); }
    QDBusConnection& bus() { return m_bus; }

private:
    QDBusConnection m_bus;
};

int Fail(std::ostream& err, const std::string& programName, const QString& why) {
    err << programName << ": " << why.toStdString() << "\n";
    return 1;
}

// Why the recorder refused the command; nothing when it did it.
std::optional<QString> Ask(const RemoteRequest& request, QDBusInterface& recorder,
                           std::ostream& out) {
    const QString state = recorder.property("State").toString();
    QDBusMessage reply;
    switch (request.command) {
    case Command::Status:
        out << state.toStdString() << "\n";
        return {};
    case Command::Start:
        reply = recorder.call(QStringLiteral("Start"), QString::fromStdString(request.output),
                              request.stopAfterSeconds, QString::fromStdString(request.area));
        break;
    case Command::Stop:
        reply = recorder.call(QStringLiteral("Stop"));
        break;
    case Command::TogglePause:
        reply = recorder.call(state == QLatin1String("paused") ? QStringLiteral("Resume")
                                                               : QStringLiteral("Pause"));
        break;
    case Command::None:
        return {};
    }
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorMessage();
    return {};
}

} // namespace

std::optional<int> SendRemoteCommand(const RemoteRequest& request, const std::string& programName,
                                     std::ostream& out, std::ostream& err) {
    int argc = 1;
    char name[] = "tesmara-command";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    CommandConnection connection;
    QDBusConnection& bus = connection.bus();
    if (!bus.isConnected())
        return Fail(err, programName,
                    QStringLiteral("no session bus to reach the recorder: ") +
                        bus.lastError().message());
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(RemoteControl::kServiceName))) {
        if (request.command == Command::Start)
            return std::nullopt;
        return Fail(err, programName, QStringLiteral("no recorder is running in this session"));
    }
    QDBusInterface recorder(QString::fromLatin1(RemoteControl::kServiceName),
                            QString::fromLatin1(RemoteControl::kObjectPath),
                            QString::fromLatin1(RemoteControl::kInterface), bus);
    if (const std::optional<QString> why = Ask(request, recorder, out))
        return Fail(err, programName, *why);
    return 0;
}
