#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, the end of a session) into a
// Qt signal delivered by the event loop, so that a running recording can still be
// completed before the program ends. Only the first of several instances alive at
// once receives; the previous dispositions come back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    int m_readFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
