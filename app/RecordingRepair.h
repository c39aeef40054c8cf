#pragma once

#include "recorder/output/AviRepair.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

class QProgressDialog;
class QThread;
class QWidget;

// Repairs the recordings a crash cut off on a thread of its own, since a long one
// takes minutes: the dialog keeps answering, and a progress box the user may
// cancel shows after half a second. A cancelled repair leaves the file as it was,
// for the next start.
class RecordingRepair : public QObject {
    Q_OBJECT
public:
    RecordingRepair();
    // Gives up a repair still running and waits for its thread.
    ~RecordingRepair() override;

    // Repairs what markerFolder names; the box, when it shows, is over parent.
    void Start(const std::string& markerFolder, QWidget* parent, const QString& boxText);
    bool Running() const { return m_thread != nullptr; }

signals:
    void finished(const std::vector<CAviRepair::Outcome>& outcomes);

private:
    // Shared with the repair's thread.
    struct Work {
        std::atomic<int> permille{0};
        std::atomic<bool> cancelled{false};
        std::vector<CAviRepair::Outcome> outcomes;
    };

    void Finish();

    std::shared_ptr<Work> m_work;
    QThread* m_thread = nullptr;
    QProgressDialog* m_box = nullptr;
};
